// velmoran-pack archive: a folder tree as an archive file.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>

#include "archive_writer.h"
#include "cli.h"
#include "signing.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack archive FOLDER -o OUTPUT [OPTIONS]\n"
    "\n"
    "Writes the files and folders below FOLDER (not FOLDER itself) as an archive\n"
    "that the launcher extracts. Entries are written in name order, each folder\n"
    "before its contents. Empty files are recorded but not created on extraction.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   the archive to write\n"
    "  --lzma              compress it (LZMA alone, 8 MiB dictionary), as the\n"
    "                      launcher file's -archive.p2.l2 entries must be\n"
    "  --pack200 GLOB      files whose relative path matches GLOB (fnmatch, '*'\n"
    "                      crosses '/') are already pack200-packed: they are\n"
    "                      stored as such and unpacked on extraction (repeatable)\n"
    "  --sign KEY          close it with a signature block made with the private\n"
    "                      key from 'velmoran-pack keygen'; the signature covers\n"
    "                      the uncompressed archive bytes before the block\n";

// Hashes the archive bytes as they are written and signs the digest.
class KeySigner : public Signer {
 public:
  explicit KeySigner(std::string keyFile) : keyFile_(std::move(keyFile)) {
    // Signing a digest first proves the key usable before any work is done.
    signDigestHex(keyFile_, Digest{});
    if (!initHash(md_)) fail("the mixed hash cannot be set up");
  }
  void update(std::span<const unsigned char> bytes) override {
    if (!updateHash(md_, bytes.data(), static_cast<int>(bytes.size()))) fail("hashing the archive failed");
  }
  std::string finishHex() override {
    const std::optional<Digest> digest = doFinal(md_);
    if (!digest) fail("hashing the archive failed");
    return signDigestHex(keyFile_, *digest);
  }

 private:
  std::string keyFile_;
  hash_state md_{};
};

struct Options {
  std::string folder, output, signingKey;
  bool lzma = false;
  ArchiveOptions archive;
};

Options parse(const std::vector<std::string>& argv) {
  Options o;
  Args a(argv);
  while (!a.done()) {
    if (a.option("-o") || a.option("--output")) o.output = a.value();
    else if (a.flag("--lzma")) o.lzma = true;
    else if (a.option("--pack200")) o.archive.pack200Globs.push_back(a.value());
    else if (a.option("--sign")) o.signingKey = a.value();
    else if (o.folder.empty()) o.folder = a.positional();
    else fail("unexpected argument '" + a.peek() + "' (try --help)");
  }
  if (o.folder.empty()) fail("no folder given");
  if (o.output.empty()) fail("no output file given (-o FILE)");
  return o;
}

int runArchive(const std::vector<std::string>& argv) {
  Options o = parse(argv);
  std::optional<KeySigner> signer;
  if (!o.signingKey.empty()) o.archive.signer = &signer.emplace(o.signingKey);
  std::unique_ptr<ByteSink> sink = std::make_unique<FileSink>(o.output);
  ArchiveStats stats;
  try {
    if (o.lzma) sink = std::make_unique<LzmaSink>(std::move(sink));
    stats = writeArchive(o.folder, *sink, o.archive, o.output);
  } catch (const UsageError&) {
    // A cut-off archive must not stay behind where a finished one is expected.
    // Only a regular file is removed: the output may be a device such as /dev/null.
    sink.reset();
    struct stat st {};
    if (stat(o.output.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(o.output.c_str());
    throw;
  }
  std::printf("Wrote %s: %" PRId64 " entries, %" PRId64 " archive bytes%s%s\n", o.output.c_str(), stats.entries,
              stats.bytes, o.lzma ? ", LZMA-compressed" : "", stats.signedArchive ? ", signed" : "");
  if (stats.emptyFiles > 0) {
    std::fprintf(stderr, "note: %" PRId64 " empty file(s) will not be created on extraction\n", stats.emptyFiles);
  }
  return 0;
}

const CommandRegistration registration{{20, "archive", "write a folder tree as an archive file", kHelp, runArchive}};

}  // namespace
}  // namespace velmoran::pack
