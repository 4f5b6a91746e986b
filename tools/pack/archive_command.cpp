// velmoran-pack archive: a folder tree as an archive file.
#include <cinttypes>
#include <cstdio>

#include "archive_writer.h"
#include "cli.h"
#include "commands.h"
#include "signing.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack archive FOLDER -o OUTPUT [OPTIONS]\n"
    "\n"
    "Writes the files and folders below FOLDER (not FOLDER itself) as an archive\n"
    "that the launcher extracts into a version folder: give it to 'launcher' as\n"
    "--updater-archive, --jre-archive or --app-archive (compressed with --lzma).\n"
    "Entries are written in name order, each folder before its contents. Empty\n"
    "files are recorded but not created on extraction. A link to a file is stored\n"
    "as that file.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   the archive to write\n"
    "  --lzma              compress it (LZMA alone, 8 MiB dictionary), as every\n"
    "                      archive inside a launcher file must be\n"
    "  --pack200 GLOB      files whose relative path matches GLOB (shell pattern,\n"
    "                      '*' also matches '/') are jars already packed with\n"
    "                      pack200: they are stored as such and unpacked on\n"
    "                      extraction (repeatable)\n"
    "  --sign KEY          end it with a signature made with the private key from\n"
    "                      'velmoran-pack keygen'; the launcher then checks it\n"
    "                      with the public key given to 'launcher --public-key'\n";

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
    else usage("unexpected argument '" + a.peek() + "' (try --help)");
  }
  if (o.folder.empty()) usage("no folder given");
  if (o.output.empty()) usage("no output file given (-o FILE)");
  return o;
}

int runArchive(const std::vector<std::string>& argv) {
  Options o = parse(argv);
  std::optional<KeySigner> signer;
  if (!o.signingKey.empty()) o.archive.signer = &signer.emplace(readWholeFile(o.signingKey), KeySigner::Salt::kRandom);
  const ArchiveStats stats = writeArchiveFile(
      {o.folder, o.output, o.lzma ? std::optional(LzmaSink::kDefaultPreset) : std::nullopt, o.archive, o.output, {}});
  std::printf("Wrote %s: %" PRId64 " entries, %" PRId64 " archive bytes%s%s\n", o.output.c_str(), stats.entries,
              stats.bytes, o.lzma ? ", LZMA-compressed" : "", stats.signedArchive ? ", signed" : "");
  if (stats.emptyFiles > 0) {
    std::fprintf(stderr, "note: %" PRId64 " empty file(s) will not be created on extraction\n", stats.emptyFiles);
  }
  return 0;
}

}  // namespace

constinit const Command kArchiveCommand{"archive", "write a folder tree as an archive file", kHelp, runArchive};

}  // namespace velmoran::pack
