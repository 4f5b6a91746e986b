#include "archive/signature_check.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "archive/container.h"
#include "archive/lzma_stream.h"
#include "platform/fileops.h"
#include "util/encoding.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr std::size_t kHashBufferSize = 50000;
constexpr const char* kStars = "***********************************************************************\n";

}  // namespace

std::optional<std::string> SignedFile::signatureToCheck(const SignatureState& state) {
  file_ = openForReading(path_);
  if (!file_) {
    logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", path_.c_str());
    return std::nullopt;
  }
  FILE* in = file_.get();
  fseeko(in, static_cast<off_t>(state.signedLength), SEEK_SET);
  const SignatureBlockReread block = rereadSignatureBlock(in);
  if (block.name != kSignatureBlockName) {
    logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (asb name mismatch)\n");
  }
  if (block.fields.signedLength != state.signedLength) {
    logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (len mismatch)\n");
  }
  if (block.fields.hex != state.signature.value_or("")) {
    logMessage("[ExtractArchive] Archive INVALID.  Archive signature did not match place in file (sig mismatch)\n");
  }
  return block.fields.hex;
}

bool SignedFile::rewind() { return std::fflush(file_.get()) == 0 && fseeko(file_.get(), 0, SEEK_SET) == 0; }

std::optional<Digest> SignedFile::digest(int64_t signedLength) {
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

std::optional<Digest> SignedStream::digest(int64_t signedLength) { return stream_.digestUpTo(signedLength); }

namespace {

bool signatureHolds(const SignatureState& state, SignedBytes& bytes, const rsa_key* key) {
  const std::optional<std::string> text = bytes.signatureToCheck(state);
  if (!text) return false;
  if (state.signedLength != state.blockOffset) {
    // Bytes between the signed range and the block would be extracted unsigned.
    logMessage("[ExtractArchive] Archive INVALID.  The signature covers %" PRId64
               " bytes but its block starts at %" PRId64 "\n",
               state.signedLength, state.blockOffset);
    return false;
  }
  if (key == nullptr) {
    logMessage("[ExtractArchive] No public key to check the signature with.\n");
    return false;
  }
  std::vector<unsigned char> signature(text->size() / 2 + 2);
  const int count = hexToBytes(signature.data(), static_cast<int>(signature.size()), text->c_str());
  logMessage("[ExtractArchive] Produced a signature of length %d\n", count);
  logMessage("[ExtractArchive] Starting hash...\n");
  logMessage("[ExtractArchive] Seeking to start of data...\n");
  logMessage(bytes.rewind() ? "[ExtractArhive] At start of file.\n" : "[ExtractArchive] fseek() Error?!\n");
  const std::optional<Digest> digest = bytes.digest(state.signedLength);
  logMessage("[ExtractArchive] Completed hash\n");
  if (!digest) {
    logMessage("[ExtractArchive] The signed bytes could not be read whole.\n");
    return false;
  }
  logMessage("[ExtractArchive] Produced hash: %s\n", bytesToHex(digest->data(), 32).c_str());
  return verifySignature(signature.data(), count, digest->data(), key);
}

}  // namespace

bool checkSignature(const SignatureState& state, SignedBytes& bytes, const std::string& destination,
                    const rsa_key* key) {
  logMessage("[ExtractArchive] Pre-Alloc\n");
  logMessage("[ExtractArchive] Post-Alloc\n");
  if (signatureHolds(state, bytes, key)) {
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

bool verifyArchiveFile(const std::string& archivePath, const rsa_key* key) {
  logMessage("[ExtractArchive] Checking the signature of %s before extracting it\n", archivePath.c_str());
  SignatureState state;
  {
    FilePtr in = openForReading(archivePath);
    struct stat info {};
    if (!in || fstat(fileno(in.get()), &info) != 0) {
      logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", archivePath.c_str());
      return false;
    }
    // Only the headers are read; the data is skipped, within the file.
    for (;;) {
      const EntryHeader entry = readEntryHeader(in.get());
      if (entry.end || entry.cut != CutField::kNone || entry.overlong) break;
      if (entry.signature) {
        state.signedLength = entry.signature->signedLength;
        state.signature = entry.signature->hex;
        state.blockOffset = entry.offset;
        break;
      }
      if (entry.isFolder()) continue;
      const off_t at = ftello(in.get());
      if (entry.length < 0 || at < 0 || entry.length > info.st_size - at) break;
      if (fseeko(in.get(), static_cast<off_t>(entry.length), SEEK_CUR) != 0) break;
    }
  }
  if (!state.signature) {
    logMessage("[ExtractArchive] %s carries no signature block\n", archivePath.c_str());
    return false;
  }
  SignedFile bytes(archivePath);
  const bool holds = signatureHolds(state, bytes, key);
  logMessage(holds ? "[ExtractArchive] Archive signature verified.\n"
                   : "[ExtractArchive] ERROR - unable to verify signature of hash of archive.\n");
  return holds;
}

}  // namespace velmoran
