#include "archive/extract.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstring>

#include "archive/container.h"
#include "archive/entry_output.h"
#include "archive/lzma_stream.h"
#include "archive/signature_check.h"
#include "archive/stages.h"
#include "platform/fileops.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

Status refuseUnsafePath(const std::string& path) {
  if (!isUnsafeEntryPath(path)) return Status::success();
  logError("[ExtractArchiveFile] Refusing the entry %s: its path leads outside the destination\n", path.c_str());
  return Status::failure();
}

// A header cut short by the end of the input (or a read error): reading on
// would skip or misplace the entry. A read error (an LZMA stream that cannot
// be decoded, which has logged why) is named as such, not as an end.
Status refuseCutHeader(bool cut, const std::string& path, FILE* stream) {
  if (!cut) return Status::success();
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
  return Status::failure();
}

// Where an entry goes, once its header is known to be whole and safe.
struct EntryTarget {
  std::string path;       // the entry's own path, native separators
  std::string finalPath;  // below the destination
  std::string outPath;    // what is written: finalPath, or finalPath.p2 for a pack200 entry
};

Result<EntryTarget> targetOf(const EntryHeader& entry, const std::string& destination, FILE* stream) {
  EntryTarget t;
  t.path = entry.path;
  toNativePath(t.path);
  logMessage("[ExtractArchiveFile] Extracting %s (::%ld)\n", t.path.c_str(), entry.type);
  if (const Status whole = refuseCutHeader(entry.cut == CutField::kTypeOrPath, t.path, stream); !whole.ok()) {
    return whole;
  }
  if (const Status safe = refuseUnsafePath(t.path); !safe.ok()) return safe;
  t.finalPath = setPath(destination, t.path);
  t.outPath = entry.type == kEntryPack200 ? t.finalPath + ".p2" : t.finalPath;
  if (!pathFits(t.outPath)) return Status::failure();
  if (const Status made = createParentFolders(destination, t.path); !made.ok()) return made;
  return t;
}

// The next length bytes of the stream hold an LZMA-compressed archive: it is
// decoded and extracted in one pass, so no file of it is written (archivePath
// only names it in the records). False when its signature check failed;
// otherwise its pack200 entries join outer, for the decision of the archive
// that holds it.
Result<bool> extractCompressedArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                                      const std::string& destination, FILE* stream, int64_t length, const rsa_key* key,
                                      std::vector<PackedEntry>& outer) {
  logMessage("[ExtractArchive] Extracting archive %s into %s\n", archivePath.c_str(), destination.c_str());
  LzmaEntryStream decoded(stream, length, key != nullptr);
  if (decoded.stream() == nullptr) {
    logError("[ExtractArchive] Unable to decompress %s: %s\n", archivePath.c_str(), std::strerror(errno));
    return Status::failure();
  }
  SignatureState state;
  if (const Status extracted = extractEntries(unpack200, destination, decoded.stream(), state, key); !extracted.ok()) {
    return extracted;
  }
  if (!decoded.finish()) {
    logError("[ExtractArchive] %s could not be decompressed whole; nothing more is extracted\n", archivePath.c_str());
    return Status::failure();
  }
  logMessage("[ExtractArchive] Done extracting archive.\n");
  if (state.signature) {
    SignedStream bytes(decoded);
    if (!checkSignature(state, bytes, destination, key)) return false;
  }
  outer.insert(outer.end(), state.packed.begin(), state.packed.end());
  return true;
}

// A tail entry that is an LZMA-compressed archive: decoded and extracted in
// one pass, so neither the compressed nor the decompressed archive is left
// in the destination.
Status extractCompressedEntry(const EntryTarget& t, const std::optional<std::string>& unpack200,
                              const std::string& destination, FILE* stream, int64_t length,
                              SignatureState& signature, const rsa_key* key) {
  const std::string archivePath = t.outPath.substr(0, t.outPath.size() - 3);
  std::remove(t.outPath.c_str());
  std::remove(archivePath.c_str());
  logMessage("\t[ExtractArchiveFile] Extracting to %s\n", t.outPath.c_str());
  logMessage("\t[ExtractArchiveFile] Requires un-LZMA\n");
  logMessage("\t[ExtractArchiveFile] Created outpath %s and spawning\n", archivePath.c_str());
  logMessage("\t[ExtractArchiveFile] Finished decompressing\n");
  logMessage("\t[ExtractArchiveFile] Starting un-p2Archiving\n");
  const Result<bool> accepted =
      extractCompressedArchive(unpack200, archivePath, destination, stream, length, key, signature.packed);
  if (!accepted.ok()) return accepted.status();
  if (!*accepted) signature.nestedRejected = true;
  logMessage("\t[ExtractArchiveFile] Finished un-archiving\n");
  return Status::success();
}

// A tail entry written as a file: one ending in ".l2" is decompressed, and
// then one ending in ".p2" is extracted as an archive.
Status runTailStages(std::string outPath, const std::optional<std::string>& unpack200,
                     const std::string& destination, SignatureState& signature, const rsa_key* key) {
  if (outPath.size() <= 3) {
    logMessage("\t[ExtractArchiveFile] Path to file too short to check for LZMA\n");
    return Status::success();
  }
  if (endsWith(outPath, ".l2")) {
    logMessage("\t[ExtractArchiveFile] Requires un-LZMA\n");
    const std::string decompressed = outPath.substr(0, outPath.size() - 3);
    logMessage("\t[ExtractArchiveFile] Created outpath %s and spawning\n", decompressed.c_str());
    if (const Status done = decompressFile(outPath, decompressed); !done.ok()) return done;
    outPath = decompressed;
    logMessage("\t[ExtractArchiveFile] Finished decompressing\n");
  }
  if (endsWith(outPath, ".p2")) {
    logMessage("\t[ExtractArchiveFile] Starting un-p2Archiving\n");
    const Result<bool> accepted = extractArchive(unpack200, outPath, destination, key, &signature.packed);
    if (!accepted.ok()) return accepted.status();
    if (!*accepted) signature.nestedRejected = true;
    logMessage("\t[ExtractArchiveFile] Finished un-archiving\n");
  }
  return Status::success();
}

// The signature block ends the entries: what it says is noted.
EntryStep noteSignatureBlock(const EntryHeader& entry, const std::string& path, SignatureState& signature) {
  logMessage("[ExtractArchiveFile] Found signature block %s\n", path.c_str() + kSpecialBlockPrefix.size());
  signature.signedLength = entry.signature->signedLength;
  signature.signature = entry.signature->hex;
  signature.blockOffset = entry.offset;
  return EntryStep::Stop;
}

}  // namespace

Status unpackWaitingEntries(const std::optional<std::string>& unpack200, std::vector<PackedEntry>& packed) {
  for (const PackedEntry& entry : packed) {
    if (const Status unpacked = unpackPacked(unpack200, entry.packed, entry.finalPath); !unpacked.ok()) {
      return unpacked;
    }
  }
  packed.clear();
  return Status::success();
}

Result<bool> extractCompressedArchiveFile(const std::optional<std::string>& unpack200, const std::string& path,
                                          const std::string& destination, const rsa_key* key) {
  FilePtr in = openForReading(path);
  struct stat info {};
  if (!in || fstat(fileno(in.get()), &info) != 0) {
    logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", path.c_str());
    return Status::failure();
  }
  std::vector<PackedEntry> packed;
  const Result<bool> accepted = extractCompressedArchive(unpack200, path, destination, in.get(), info.st_size, key, packed);
  if (!accepted.ok() || !*accepted) return accepted;
  if (const Status unpacked = unpackWaitingEntries(unpack200, packed); !unpacked.ok()) return unpacked;
  return true;
}

std::optional<std::string> readArchiveEntry(const std::string& archivePath, const std::string& name,
                                            std::size_t maxSize) {
  FilePtr in = openForReading(archivePath);
  if (!in) return std::nullopt;
  for (;;) {
    const EntryHeader entry = readEntryHeader(in.get());
    if (entry.end || entry.cut != CutField::kNone || entry.signature || entry.length < 0) return std::nullopt;
    if (entry.isFolder()) continue;
    if (entry.path != name) {
      if (fseeko(in.get(), static_cast<off_t>(entry.length), SEEK_CUR) != 0) return std::nullopt;
      continue;
    }
    if (static_cast<uint64_t>(entry.length) > maxSize) return std::nullopt;
    std::string data(static_cast<std::size_t>(entry.length), '\0');
    if (std::fread(data.data(), 1, data.size(), in.get()) != data.size()) return std::nullopt;
    return data;
  }
}

bool skipArchiveEntry(FILE* stream) {
  const EntryHeader entry = readEntryHeader(stream);
  if (entry.end || entry.cut != CutField::kNone || entry.length < 0) return false;
  if (entry.isFolder() || entry.signature || entry.length == 0) return true;
  // A seek may pass the end of the input; reading the entry's last byte tells.
  return fseeko(stream, static_cast<off_t>(entry.length - 1), SEEK_CUR) == 0 && std::getc(stream) != EOF;
}

Result<bool> extractArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                            const std::string& destination, const rsa_key* key, std::vector<PackedEntry>* outer) {
  logMessage("[ExtractArchive] Extracting archive %s into %s\n", archivePath.c_str(), destination.c_str());
  SignatureState state;
  {
    FilePtr in = openForReading(archivePath);
    if (!in) {
      logMessage("[ExtractArchive] Failed to extract archive - couldn't open file %s\n", archivePath.c_str());
      return Status::failure();
    }
    if (const Status extracted = extractEntries(unpack200, destination, in.get(), state, key); !extracted.ok()) {
      return extracted;
    }
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
    return true;
  }
  if (const Status unpacked = unpackWaitingEntries(unpack200, state.packed); !unpacked.ok()) return unpacked;
  return true;
}

Status extractEntries(const std::optional<std::string>& unpack200, const std::string& destination, FILE* stream,
                      SignatureState& signature, const rsa_key* key) {
  for (;;) {
    const Result<EntryStep> step =
        extractArchiveFileCheckSignature(std::nullopt, unpack200, destination, stream, signature, key);
    if (!step.ok()) return step.status();
    if (*step == EntryStep::Stop) return Status::success();
  }
}

Result<EntryStep> extractArchiveFileCheckSignature(const std::optional<std::string>& lzma,
                                                   const std::optional<std::string>& unpack200,
                                                   const std::string& destination, FILE* stream,
                                                   SignatureState& signature, const rsa_key* key) {
  if (signature.signedLength != -1) return EntryStep::Stop;
  const EntryHeader entry = readEntryHeader(stream);
  if (entry.end) {
    if (const Status whole = refuseCutHeader(entry.cut != CutField::kNone, "", stream); !whole.ok()) return whole;
    return EntryStep::Stop;
  }
  const Result<EntryTarget> target = targetOf(entry, destination, stream);
  if (!target.ok()) return target.status();
  const EntryTarget& t = *target;

  if (entry.isFolder()) {
    if (const Status dropped = dropLink(t.outPath); !dropped.ok()) return dropped;
    makeDir(t.outPath);
    logMessage("\t[ExtractArchiveFile] Created folder %s\n", t.outPath.c_str());
    return EntryStep::Next;
  }
  if (const Status whole = refuseCutHeader(entry.cut == CutField::kLength, t.path, stream); !whole.ok()) return whole;
  if (entry.length == 0) {
    logConsole("[ExtractArchiveFile] Skipping empty file");
    return EntryStep::Next;
  }
  if (entry.isSpecialBlock()) {
    logMessage("[ExtractArchiveFile] Found special block %s\n", t.path.c_str());
    if (entry.signature) return noteSignatureBlock(entry, t.path, signature);
  }
  if (entry.length < 0) {
    logError("[ExtractArchiveFile] The entry %s has a negative length (%" PRId64 ")\n", t.path.c_str(), entry.length);
    return Status::failure();
  }
  if (lzma && entry.type != kEntryPack200 && endsWith(t.outPath, ".p2.l2")) {
    const Status extracted = extractCompressedEntry(t, unpack200, destination, stream, entry.length, signature, key);
    if (!extracted.ok()) return extracted;
    return EntryStep::Next;
  }
  if (const Status written = writeEntryData(stream, t.outPath, t.path, entry.length); !written.ok()) return written;
  if (entry.type == kEntryPack200) {
    signature.packed.push_back({t.outPath, t.finalPath});
    return EntryStep::Next;
  }
  if (!lzma) return EntryStep::Next;
  if (const Status staged = runTailStages(t.outPath, unpack200, destination, signature, key); !staged.ok()) {
    return staged;
  }
  return EntryStep::Next;
}

Result<bool> extractArchiveFileIgnoreSignature(const std::optional<std::string>& lzma,
                                               const std::optional<std::string>& unpack200,
                                               const std::string& destination, FILE* stream, const rsa_key* key) {
  // The wrapper tail holds no signature block; one found here is read past.
  SignatureState own;
  const Result<EntryStep> step = extractArchiveFileCheckSignature(lzma, unpack200, destination, stream, own, key);
  if (!step.ok()) return step.status();
  if (own.nestedRejected) return false;
  if (const Status unpacked = unpackWaitingEntries(unpack200, own.packed); !unpacked.ok()) return unpacked;
  return true;
}

}  // namespace velmoran
