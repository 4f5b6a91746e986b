#include "archive/extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "archive/lzma.h"
#include "archive/lzma_stream.h"
#include "archive/signature.h"
#include "install/fileops.h"
#include "launch/spawner.h"
#include "util/exit.h"
#include "util/fields.h"
#include "util/file.h"
#include "util/log.h"
#include "util/encoding.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr std::size_t kArchiveBufferSize = 1000000;
constexpr std::size_t kHashBufferSize = 50000;
constexpr std::string_view kSpecialBlockPrefix = "vlArcSpBlock_";
constexpr std::string_view kSignatureBlockName = "DigitalSignature1";
constexpr const char* kStars = "***********************************************************************\n";

// Entry data is copied through this one buffer, so no allocation depends on
// the size of a file. Nested archives are extracted only once the outer
// entry's copy is done, so it is never in use twice.
unsigned char archive_buffer[kArchiveBufferSize];

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Entry paths come from the archive: one that is absolute or climbs out with
// ".." would write outside the destination.
void refuseUnsafePath(const std::string& path) {
  bool unsafe = !path.empty() && path.front() == '/';
  for (std::size_t start = 0; !unsafe && start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    unsafe = path.compare(start, end - start, "..") == 0;
    start = end + 1;
  }
  if (!unsafe) return;
  logError("[ExtractArchiveFile] Refusing the entry %s: its path leads outside the destination\n", path.c_str());
  endRun(1);
}

// Archives hold no links, so a link on an entry's way below the destination
// was put there by someone else; following it would write outside the
// destination. It is removed and the entry takes its place.
void dropLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return;
  if (unlink(path.c_str()) == 0) return;
  logError("[ExtractArchiveFile] Unable to remove the link %s: %s\n", path.c_str(), std::strerror(errno));
  endRun(1);
}

void createParentFolders(const std::string& destination, const std::string& path) {
  for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
    const std::string folder = setPath(destination, path.substr(0, at));
    dropLink(folder);
    makeDir(folder);
  }
}

// A header field ended by the end of the input (or a read error) instead of
// its NUL: the entry is cut short, and reading on would skip or misplace it.
void refuseCutHeader(FILE* stream, const std::string& path) {
  if (!std::feof(stream) && !std::ferror(stream)) return;
  logError("[ExtractArchiveFile] The archive ends inside the header of the entry %s; nothing more is extracted\n",
           path.c_str());
  endRun(1);
}

// A partly written file must never pass for an extracted one.
[[noreturn]] void abandonFile(FilePtr& out, const std::string& outPath) {
  const int error = errno;
  out.reset();
  std::remove(outPath.c_str());
  logError("[ExtractArchiveFile] Unable to write %s: %s\n", outPath.c_str(), std::strerror(error));
  endRun(1);
}

void writeEntryData(FILE* stream, const std::string& outPath, const std::string& path, int64_t length) {
  dropLink(outPath);
  FilePtr out = openFile(outPath.c_str(), "wb");
  logMessage("\t[ExtractArchiveFile] Extracting to %s\n", outPath.c_str());
  if (!out) {
    logMessage("\t[ExtractArchiveFile] *************************** Unable to extract archive file %s (%ld), "
               "unable to open file for writing\n",
               path.c_str(), static_cast<long>(length));
    endRun(1);
  }
  int64_t copied = 0;
  while (copied < length) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(length - copied, kArchiveBufferSize));
    const std::size_t got = std::fread(archive_buffer, 1, want, stream);
    if (got == 0) {
      const bool unreadable = std::ferror(stream) != 0;
      out.reset();
      std::remove(outPath.c_str());
      logError("[ExtractArchiveFile] The archive ends after %" PRId64 " of the %" PRId64 " bytes of %s%s; "
               "nothing more is extracted\n",
               copied, length, path.c_str(), unreadable ? " (read error)" : "");
      endRun(1);
    }
    if (std::fwrite(archive_buffer, 1, got, out.get()) != got) abandonFile(out, outPath);
    copied += static_cast<int64_t>(got);
  }
  if (std::fflush(out.get()) != 0) abandonFile(out, outPath);
  if (std::fclose(out.release()) != 0) abandonFile(out, outPath);
}

// Turns the packed file into finalPath. A stale finalPath is removed first,
// so only what unpack200 writes now can pass the check.
void unpackPacked(const std::optional<std::string>& unpack200, const std::string& packed,
                  const std::string& finalPath) {
  std::remove(finalPath.c_str());
  int result = -1;
  if (unpack200) {
    SpawnerPtr spawner = createSpawner();
    setSpawnerExe(*spawner, *unpack200);
    addSpawnerArg(*spawner, packed);
    addSpawnerArg(*spawner, finalPath);
    result = runSpawnerAndWait(*spawner);
    deleteSpawner(spawner);
  } else {
    logMessage("\t[ExtractArchiveFile] No unpack200 to unpack %s with\n", packed.c_str());
  }
  if (result != 0 || !doesFileExist(finalPath)) {
    if (result > 0) std::remove(finalPath.c_str());
    logMessage("\t[ExtractArchiveFile] ERROR: unpack200 (%s) does not exist!\n", finalPath.c_str());
    endRun(101);
  }
  std::remove(packed.c_str());
}

void decompressFile(const std::string& compressed, const std::string& decompressed) {
  std::optional<std::string> error;
  {
    FilePtr in = openFile(compressed.c_str(), "rb");
    dropLink(decompressed);
    FilePtr out = in ? openFile(decompressed.c_str(), "wb") : nullptr;
    if (!in || !out) {
      error = std::strerror(errno);
    } else {
      error = decodeLzmaAloneFile(in.get(), out.get());
      if (!error && std::fclose(out.release()) != 0) error = std::strerror(errno);
    }
  }
  std::remove(compressed.c_str());
  if (!error) return;
  std::remove(decompressed.c_str());
  logError("[ExtractArchiveFile] Unable to decompress %s: %s\n", compressed.c_str(), error->c_str());
  endRun(1);
}

// Where the bytes covered by a signature can be read again.
class SignedBytes {
 public:
  virtual ~SignedBytes() = default;
  // The signature text to check against the digest.
  virtual std::string signatureToCheck(const SignatureState& state) = 0;
  virtual bool rewind() = 0;
  virtual std::optional<Digest> digest(int64_t signedLength) = 0;
};

class SignedFile : public SignedBytes {
 public:
  explicit SignedFile(const std::string& path) : path_(path) {}

  std::string signatureToCheck(const SignatureState& state) override {
    file_ = openFile(path_.c_str(), "rb");
    if (!file_) {
      logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", path_.c_str());
      endRun(1);
    }
    // The block is read again where the signed length says it starts.
    FILE* in = file_.get();
    fseeko(in, static_cast<off_t>(state.signedLength), SEEK_SET);
    readString(in, "Signature Check File Type");
    const std::string name = readString(in, "Signature Check ASB name");
    readInt(in, "ASB Length");
    const int64_t signedLength = readInt(in, "Signature Length");
    std::string text = readString(in, "Signature Hex", 4096);
    if (name != std::string(kSpecialBlockPrefix) + std::string(kSignatureBlockName)) {
      logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (asb name mismatch)\n");
    }
    if (signedLength != state.signedLength) {
      logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (len mismatch)\n");
    }
    if (text != state.signature.value_or("")) {
      logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (sig mismatch)\n");
    }
    return text;
  }

  bool rewind() override { return std::fflush(file_.get()) == 0 && fseeko(file_.get(), 0, SEEK_SET) == 0; }

  std::optional<Digest> digest(int64_t signedLength) override {
    hash_state md;
    if (!initHash(md)) return std::nullopt;
    std::vector<unsigned char> buffer(kHashBufferSize);
    for (int64_t left = signedLength; left > 0;) {
      const auto want = static_cast<std::size_t>(std::min<int64_t>(left, kHashBufferSize));
      const std::size_t got = std::fread(buffer.data(), 1, want, file_.get());
      if (got == 0) return std::nullopt;
      if (!updateHash(md, buffer.data(), static_cast<int>(got))) return std::nullopt;
      left -= static_cast<int64_t>(got);
    }
    file_.reset();
    return doFinal(md);
  }

 private:
  std::string path_;
  FilePtr file_;
};

class SignedStream : public SignedBytes {
 public:
  explicit SignedStream(LzmaEntryStream& stream) : stream_(stream) {}
  std::string signatureToCheck(const SignatureState& state) override { return state.signature.value_or(""); }
  bool rewind() override { return true; }
  std::optional<Digest> digest(int64_t signedLength) override { return stream_.digestUpTo(signedLength); }

 private:
  LzmaEntryStream& stream_;
};

// Decides a signed archive whose entries are written. A rejected archive's
// destination is emptied.
bool checkSignature(const SignatureState& state, SignedBytes& bytes, const std::string& destination,
                    const rsa_key* key) {
  logMessage("[ExtractArchive] Pre-Alloc\n");
  logMessage("[ExtractArchive] Post-Alloc\n");
  const std::string text = bytes.signatureToCheck(state);
  bool verified = false;
  if (state.signedLength != state.blockOffset) {
    // Bytes between the signed range and the block would be extracted unsigned.
    logMessage("[ExtractArchive] Archive INVALID.  The signature covers %" PRId64
               " bytes but its block starts at %" PRId64 "\n",
               state.signedLength, state.blockOffset);
  } else if (key == nullptr) {
    logMessage("[ExtractArchive] No public key to check the signature with.\n");
  } else {
    std::vector<unsigned char> signature(text.size() / 2 + 2);
    const int count = hexToBytes(signature.data(), static_cast<int>(signature.size()), text.c_str());
    logMessage("[ExtractArchive] Produced a signature of length %d\n", count);
    logMessage("[ExtractArchive] Starting hash...\n");
    logMessage("[ExtractArchive] Seeking to start of data...\n");
    logMessage(bytes.rewind() ? "[ExtractArhive] At start of file.\n" : "[ExtractArchive] fseek() Error?!\n");
    const std::optional<Digest> digest = bytes.digest(state.signedLength);
    logMessage("[ExtractArchive] Completed hash\n");
    if (digest) {
      logMessage("[ExtractArchive] Produced hash: %s\n", bytesToHex(digest->data(), 32).c_str());
      verified = verifySignature(signature.data(), count, digest->data(), key);
    } else {
      logMessage("[ExtractArchive] The signed bytes could not be read whole.\n");
    }
  }
  if (verified) {
    logMessage("[ExtractArchive] Archive signature verified.\n");
    return true;
  }
  logMessage("%s", kStars);
  logMessage("[ExtractArchive] ERROR - unable to verify signature of hash of archive.\n");
  logMessage("[ExtractArchive] Velmoran will disregard this update.\n");
  deleteFolder(destination);
  logMessage("%s", kStars);
  return false;
}

void extractEntries(const std::optional<std::string>& unpack200, const std::string& destination, FILE* stream,
                    SignatureState& state, const rsa_key* key) {
  while (extractArchiveFileCheckSignature(std::nullopt, unpack200, destination, stream, state, key) == 0) {
  }
}

// A compressed archive in the wrapper tail, decoded while it is extracted.
// The entry's name is only used in the records: no file of it is written.
bool extractCompressedArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                              const std::string& destination, FILE* stream, int64_t length, const rsa_key* key) {
  logMessage("[ExtractArchive] Extracting archive %s into %s\n", archivePath.c_str(), destination.c_str());
  LzmaEntryStream decoded(stream, length, key != nullptr);
  if (decoded.stream() == nullptr) {
    logError("[ExtractArchive] Unable to decompress %s: %s\n", archivePath.c_str(), std::strerror(errno));
    endRun(1);
  }
  SignatureState state;
  extractEntries(unpack200, destination, decoded.stream(), state, key);
  if (!decoded.finish()) {
    logError("[ExtractArchive] %s could not be decompressed whole; nothing more is extracted\n", archivePath.c_str());
    endRun(1);
  }
  logMessage("[ExtractArchive] Done extracting archive.\n");
  if (!state.signature) return true;
  SignedStream bytes(decoded);
  return checkSignature(state, bytes, destination, key);
}

}  // namespace

bool extractArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                    const std::string& destination, const rsa_key* key) {
  logMessage("[ExtractArchive] Extracting archive %s into %s\n", archivePath.c_str(), destination.c_str());
  SignatureState state;
  {
    FilePtr in = openFile(archivePath.c_str(), "rb");
    if (!in) {
      logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", archivePath.c_str());
      endRun(1);
    }
    extractEntries(unpack200, destination, in.get(), state, key);
    logMessage("[ExtractArchive] Done extracting archive.\n");
  }
  bool accepted = true;
  // A block was read, whatever signed length it claims (-1 included).
  if (state.signature) {
    SignedFile bytes(archivePath);
    accepted = checkSignature(state, bytes, destination, key);
  }
  std::remove(archivePath.c_str());
  return accepted;
}

int extractArchiveFileCheckSignature(const std::optional<std::string>& lzma,
                                     const std::optional<std::string>& unpack200, const std::string& destination,
                                     FILE* stream, SignatureState& signature, const rsa_key* key) {
  if (signature.signedLength != -1) return -1;
  const int64_t entryAt = ftello(stream);
  const std::string typeText = readString(stream, "Archive File Type");
  if (typeText.empty()) {
    if (std::ferror(stream)) refuseCutHeader(stream, "");
    return -1;
  }
  const long type = std::strtol(typeText.c_str(), nullptr, 10);
  std::string path = readString(stream, "Archive File Path");
  toNativePath(path);
  logMessage("[ExtractArchiveFile] Extracting %s (::%ld)\n", path.c_str(), type);
  refuseCutHeader(stream, path);
  refuseUnsafePath(path);

  const std::string finalPath = setPath(destination, path);
  std::string outPath = type == 2 ? setPath(finalPath + ".p2") : finalPath;
  createParentFolders(destination, path);

  if (type == 1) {
    dropLink(outPath);
    makeDir(outPath);
    logMessage("\t[ExtractArchiveFile] Created folder %s\n", outPath.c_str());
    return 0;
  }
  const int64_t length = readInt(stream, "Archive File Length");
  refuseCutHeader(stream, path);
  if (length == 0) {
    std::printf("[ExtractArchiveFile] Skipping empty file");
    std::fflush(stdout);
    return 0;
  }
  if (path.starts_with(kSpecialBlockPrefix)) {
    logMessage("[ExtractArchiveFile] Found special block %s\n", path.c_str());
    if (std::string_view(path).substr(kSpecialBlockPrefix.size()) == kSignatureBlockName) {
      logMessage("[ExtractArchiveFile] Found signature block %s\n", path.c_str() + kSpecialBlockPrefix.size());
      signature.signedLength = readInt(stream, "Signature Length");
      signature.signature = readString(stream, "Signature Hex", 8192);
      signature.blockOffset = entryAt;
      return -1;
    }
  }
  if (length < 0) {
    logError("[ExtractArchiveFile] The entry %s has a negative length (%" PRId64 ")\n", path.c_str(), length);
    endRun(1);
  }

  if (lzma && type != 2 && endsWith(outPath, ".p2.l2")) {
    // Decoded and extracted in one pass; neither the compressed nor the
    // decompressed archive is left in the destination.
    const std::string archivePath = outPath.substr(0, outPath.size() - 3);
    std::remove(outPath.c_str());
    std::remove(archivePath.c_str());
    logMessage("\t[ExtractArchiveFile] Extracting to %s\n", outPath.c_str());
    logMessage("\t[ExtractArchiveFile] Requires un-LZMA\n");
    logMessage("\t[ExtractArchiveFile] Created outpath %s and spawning\n", archivePath.c_str());
    logMessage("\t[ExtractArchiveFile] Finished decompressing\n");
    logMessage("\t[ExtractArchiveFile] Starting un-p2Archiving\n");
    if (!extractCompressedArchive(unpack200, archivePath, destination, stream, length, key)) {
      signature.nestedRejected = true;
    }
    logMessage("\t[ExtractArchiveFile] Finished un-archiving\n");
    return 0;
  }

  writeEntryData(stream, outPath, path, length);
  chmodR755(outPath);
  if (type == 2) {
    unpackPacked(unpack200, outPath, finalPath);
    outPath = finalPath;
  }
  if (!lzma) return 0;
  if (outPath.size() <= 3) {
    logMessage("\t[ExtractArchiveFile] Path to file too short to check for LZMA\n");
    return 0;
  }
  if (endsWith(outPath, ".l2")) {
    logMessage("\t[ExtractArchiveFile] Requires un-LZMA\n");
    const std::string decompressed = outPath.substr(0, outPath.size() - 3);
    logMessage("\t[ExtractArchiveFile] Created outpath %s and spawning\n", decompressed.c_str());
    decompressFile(outPath, decompressed);
    outPath = decompressed;
    logMessage("\t[ExtractArchiveFile] Finished decompressing\n");
  }
  if (endsWith(outPath, ".p2")) {
    logMessage("\t[ExtractArchiveFile] Starting un-p2Archiving\n");
    if (!extractArchive(unpack200, outPath, destination, key)) signature.nestedRejected = true;
    logMessage("\t[ExtractArchiveFile] Finished un-archiving\n");
  }
  return 0;
}

bool extractArchiveFileIgnoreSignature(const std::optional<std::string>& lzma,
                                       const std::optional<std::string>& unpack200, const std::string& destination,
                                       FILE* stream, const rsa_key* key) {
  // The wrapper tail holds no signature block; one found here is read past.
  SignatureState own;
  extractArchiveFileCheckSignature(lzma, unpack200, destination, stream, own, key);
  return !own.nestedRejected;
}

}  // namespace velmoran
