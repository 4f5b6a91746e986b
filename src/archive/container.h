// The archive container: a flat stream of entries, each a few NUL-terminated
// text fields (type, path and, unless it is a folder, the length) followed by
// the data, optionally closed by a signature block. Archive files and the
// embedded files of the wrapper tail are both made of such entries.
//
// This is the format's one home: extraction reads entries with
// readEntryHeader, and the builder's writer, inspect and check use the same
// constants and the same reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "util/fields.h"

namespace velmoran {

// Entry type codes; any other code is a plain file too.
constexpr long kEntryPlain = 0;
constexpr long kEntryFolder = 1;    // no length field and no data
constexpr long kEntryPack200 = 2;   // unpack200 turns the data into the file

// The header fields' labels and reader sizes: a field keeps at most size - 1
// characters, and the writer stays below that (see readString).
constexpr const char* kEntryTypeLabel = "Archive File Type";
constexpr const char* kEntryPathLabel = "Archive File Path";
constexpr const char* kEntryLengthLabel = "Archive File Length";
constexpr std::size_t kEntryTypeSize = kDefaultFieldSize;
constexpr std::size_t kEntryPathSize = kDefaultFieldSize;
constexpr std::size_t kEntryLengthSize = kIntFieldSize;

// An entry whose path starts with this prefix and whose length is not 0 is a
// special block.
constexpr std::string_view kSpecialBlockPrefix = "vlArcSpBlock_";
// The only special block with a meaning: the last entry of a signed archive.
// Its length field is followed by the signed length (the offset at which the
// block starts, which is also the number of bytes the signature covers) and
// the signature as hex text, in place of data.
constexpr std::string_view kSignatureBlockName = "vlArcSpBlock_DigitalSignature1";
constexpr const char* kSignedLengthLabel = "Signature Length";
constexpr const char* kSignatureHexLabel = "Signature Hex";
// The one limit of the signature text, for the first read, the re-read and
// the writer: 4095 characters hold the signature of every RSA key libtomcrypt
// imports (1024 hex digits for 4096 bits).
constexpr std::size_t kSignatureHexSize = 4096;

// Which header field ran into the end of the input (or a read error) before
// its NUL: the entry is cut short.
enum class CutField { kNone, kTypeOrPath, kLength };

struct SignatureFields {
  int64_t signedLength = -1;
  std::string hex;
};

struct EntryHeader {
  int64_t offset = -1;      // where the type field starts in the stream; -1 when the stream cannot tell
  bool end = false;         // an empty type field: the entries are over (cut says whether by a read error)
  std::string typeText;     // as stored
  long type = kEntryPlain;  // typeText converted like atol
  std::string path;         // as stored, "/" between components; untrusted
  int64_t length = 0;       // data bytes after the header; 0 for a folder; negative in broken input
  CutField cut = CutField::kNone;
  bool overlong = false;    // a field reached its reader's limit, so the fields after it are misread
  std::optional<SignatureFields> signature;  // the signature block's own fields, read in place of data

  bool isFolder() const { return type == kEntryFolder; }
  bool isSpecialBlock() const;
};

// Reads one entry header and leaves the stream at its first data byte (after
// the signature fields for the signature block; nothing is read after a cut
// field). Problems are reported in the result, never by ending the run, and
// the data is neither read nor checked against what the stream holds.
EntryHeader readEntryHeader(FILE* stream);

// The signature block read again at the stream's position (the offset its
// signed length named): all five fields whatever stands there, so a block
// that is not at that place shows as a different name, signed length or text.
struct SignatureBlockReread {
  std::string name;
  SignatureFields fields;
};
SignatureBlockReread rereadSignatureBlock(FILE* stream);

// Entry paths come from the archive: an absolute one, or one with a ".."
// component, would lead outside the destination.
bool isUnsafeEntryPath(std::string_view path);

}  // namespace velmoran
