#include "archive/extract.h"

#include <cinttypes>
#include <cstring>

#include "archive/container.h"
#include "archive/entry_output.h"
#include "archive/signature_check.h"
#include "archive/stages.h"
#include "install/fileops.h"
#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void refuseUnsafePath(const std::string& path) {
  if (!isUnsafeEntryPath(path)) return;
  logError("[ExtractArchiveFile] Refusing the entry %s: its path leads outside the destination\n", path.c_str());
  endRun(1);
}

// A header cut short by the end of the input (or a read error): reading on
// would skip or misplace the entry. A read error (an LZMA stream that cannot
// be decoded, which has logged why) is named as such, not as an end.
void refuseCutHeader(bool cut, const std::string& path, FILE* stream) {
  if (!cut) return;
  if (std::ferror(stream) != 0 && path.empty()) {
    logError("[ExtractArchiveFile] The archive could not be read on where its next entry starts; nothing more is "
             "extracted\n");
  } else if (std::ferror(stream) != 0) {
    logError("[ExtractArchiveFile] The archive could not be read on inside the header of the entry %s; nothing "
             "more is extracted\n",
             path.c_str());
  } else {
    logError("[ExtractArchiveFile] The archive ends inside the header of the entry %s; nothing more is extracted\n",
             path.c_str());
  }
  endRun(1);
}

}  // namespace

void unpackWaitingEntries(const std::optional<std::string>& unpack200, std::vector<PackedEntry>& packed) {
  for (const PackedEntry& entry : packed) unpackPacked(unpack200, entry.packed, entry.finalPath);
  packed.clear();
}

bool skipArchiveEntry(FILE* stream) {
  const EntryHeader entry = readEntryHeader(stream);
  if (entry.end || entry.cut != CutField::kNone || entry.length < 0) return false;
  if (entry.isFolder() || entry.signature || entry.length == 0) return true;
  // A seek may pass the end of the input; reading the entry's last byte tells.
  return fseeko(stream, static_cast<off_t>(entry.length - 1), SEEK_CUR) == 0 && std::getc(stream) != EOF;
}

bool extractArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                    const std::string& destination, const rsa_key* key, std::vector<PackedEntry>* outer) {
  logMessage("[ExtractArchive] Extracting archive %s into %s\n", archivePath.c_str(), destination.c_str());
  SignatureState state;
  {
    FilePtr in = openForReading(archivePath);
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
  if (!accepted) return false;
  if (outer != nullptr) {
    outer->insert(outer->end(), state.packed.begin(), state.packed.end());
  } else {
    unpackWaitingEntries(unpack200, state.packed);
  }
  return true;
}

void extractEntries(const std::optional<std::string>& unpack200, const std::string& destination, FILE* stream,
                    SignatureState& signature, const rsa_key* key) {
  while (extractArchiveFileCheckSignature(std::nullopt, unpack200, destination, stream, signature, key) == 0) {
  }
}

int extractArchiveFileCheckSignature(const std::optional<std::string>& lzma,
                                     const std::optional<std::string>& unpack200, const std::string& destination,
                                     FILE* stream, SignatureState& signature, const rsa_key* key) {
  if (signature.signedLength != -1) return -1;
  const EntryHeader entry = readEntryHeader(stream);
  if (entry.end) {
    refuseCutHeader(entry.cut != CutField::kNone, "", stream);
    return -1;
  }
  std::string path = entry.path;
  toNativePath(path);
  logMessage("[ExtractArchiveFile] Extracting %s (::%ld)\n", path.c_str(), entry.type);
  refuseCutHeader(entry.cut == CutField::kTypeOrPath, path, stream);
  refuseUnsafePath(path);

  const std::string finalPath = setPath(destination, path);
  std::string outPath = entry.type == kEntryPack200 ? setPath(finalPath + ".p2") : finalPath;
  createParentFolders(destination, path);

  if (entry.isFolder()) {
    dropLink(outPath);
    makeDir(outPath);
    logMessage("\t[ExtractArchiveFile] Created folder %s\n", outPath.c_str());
    return 0;
  }
  refuseCutHeader(entry.cut == CutField::kLength, path, stream);
  if (entry.length == 0) {
    std::printf("[ExtractArchiveFile] Skipping empty file");
    std::fflush(stdout);
    return 0;
  }
  if (entry.isSpecialBlock()) {
    logMessage("[ExtractArchiveFile] Found special block %s\n", path.c_str());
    if (entry.signature) {
      logMessage("[ExtractArchiveFile] Found signature block %s\n", path.c_str() + kSpecialBlockPrefix.size());
      signature.signedLength = entry.signature->signedLength;
      signature.signature = entry.signature->hex;
      signature.blockOffset = entry.offset;
      return -1;
    }
  }
  if (entry.length < 0) {
    logError("[ExtractArchiveFile] The entry %s has a negative length (%" PRId64 ")\n", path.c_str(), entry.length);
    endRun(1);
  }

  if (lzma && entry.type != kEntryPack200 && endsWith(outPath, ".p2.l2")) {
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
    if (!extractCompressedArchive(unpack200, archivePath, destination, stream, entry.length, key, signature.packed)) {
      signature.nestedRejected = true;
    }
    logMessage("\t[ExtractArchiveFile] Finished un-archiving\n");
    return 0;
  }

  writeEntryData(stream, outPath, path, entry.length);
  if (entry.type == kEntryPack200) {
    signature.packed.push_back({outPath, finalPath});
    return 0;
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
    if (!extractArchive(unpack200, outPath, destination, key, &signature.packed)) signature.nestedRejected = true;
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
  if (own.nestedRejected) return false;
  unpackWaitingEntries(unpack200, own.packed);
  return true;
}

}  // namespace velmoran
