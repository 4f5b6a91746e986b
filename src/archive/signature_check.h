// The decision on a signed archive once its entries are written: the bytes
// before the signature block are read again and hashed, and the signature is
// verified over their digest. A rejected archive's destination is emptied.
#pragma once

#include <tomcrypt.h>

#include <cstdint>
#include <optional>
#include <string>

#include "archive/extraction_state.h"
#include "archive/signature.h"
#include "util/file.h"

namespace velmoran {

class LzmaEntryStream;

// Where the bytes covered by a signature can be read again.
class SignedBytes {
 public:
  virtual ~SignedBytes() = default;
  // The signature text to check against the digest; none when the bytes
  // cannot be read again (the archive is then refused).
  virtual std::optional<std::string> signatureToCheck(const SignatureState& state) = 0;
  virtual bool rewind() = 0;
  virtual std::optional<Digest> digest(int64_t signedLength) = 0;
};

// An archive file: opened again, its signature block re-read where the
// signed length says it starts, and hashed from its first byte.
class SignedFile : public SignedBytes {
 public:
  explicit SignedFile(const std::string& path) : path_(path) {}
  std::optional<std::string> signatureToCheck(const SignatureState& state) override;
  bool rewind() override;
  std::optional<Digest> digest(int64_t signedLength) override;

 private:
  std::string path_;
  FilePtr file_;
};

// A compressed archive of the wrapper tail, hashed while it was decoded.
class SignedStream : public SignedBytes {
 public:
  explicit SignedStream(LzmaEntryStream& stream) : stream_(stream) {}
  std::optional<std::string> signatureToCheck(const SignatureState& state) override {
    return state.signature.value_or("");
  }
  bool rewind() override { return true; }
  std::optional<Digest> digest(int64_t signedLength) override;

 private:
  LzmaEntryStream& stream_;
};

// True when the signature holds for the signed bytes with the key. A block
// that is not where its signed length says, or no key, rejects the archive.
bool checkSignature(const SignatureState& state, SignedBytes& bytes, const std::string& destination,
                    const rsa_key* key);

// Checks a signed archive file before anything of it is extracted or run:
// true only when it carries a signature block, in its place, whose signature
// holds for the bytes before it under the key. Nothing is written.
bool verifyArchiveFile(const std::string& archivePath, const rsa_key* key);

}  // namespace velmoran
