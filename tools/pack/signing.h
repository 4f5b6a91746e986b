// Keys and signatures for signed archives: the builder's side of what the
// launcher verifies (RSA-PSS, "mixed" as message hash and MGF1 hash, 64-byte
// salt, over the 64-byte "mixed" digest of the signed bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "archive_writer.h"

namespace velmoran::pack {

class Args;

struct KeyPair {
  std::vector<unsigned char> privateDer;  // PKCS #1 RSAPrivateKey
  std::vector<unsigned char> publicDer;   // SubjectPublicKeyInfo, what the tail header carries as hex
};

// A fresh key pair from the system's random source. Fails (exit 1) on error.
KeyPair makeKeyPair(int bits = 2048);

Digest mixedDigestOf(std::span<const unsigned char> bytes);
// The digest of `length` bytes from `offset` (the rest of the file when no
// length is given), read in the launcher's pieces. Fails when the file is shorter.
Digest mixedDigestOfFile(const std::string& path, uint64_t offset, std::optional<uint64_t> length);

// What a command signs or checks: --digest HEX, or --file FILE with an
// optional --offset N and --length N.
struct DigestSource {
  std::string digestHex;
  std::string file;
  uint64_t offset = 0;
  std::optional<uint64_t> length;

  // True when the next argument was one of the options (and is consumed).
  bool takeOption(Args& args);
  // Fails unless exactly one of --digest and --file was given.
  Digest resolve() const;
};

// The signature text of a signature block: the raw signature, as hex.
std::string signDigestHex(const std::vector<unsigned char>& privateDer, const Digest& digest);
std::string signDigestHex(const std::string& keyFile, const Digest& digest);

// The same with a salt derived from the key and the digest instead of drawn
// at random, so the same bytes signed with the same key give the same
// signature (reproducible launcher files). Verification is unchanged.
std::string signDigestHexDerivedSalt(const std::vector<unsigned char>& privateDer, const Digest& digest);

// The public half of a private key, as the hex text a tail header carries.
// Fails (exit 1) when privateDer is not an RSA private key.
std::string publicKeyHexOf(const std::vector<unsigned char>& privateDer);

// Hashes archive bytes as they are written and signs the digest with a
// private key, proven usable when the signer is made.
class KeySigner : public Signer {
 public:
  enum class Salt { kRandom, kDerived };
  KeySigner(std::vector<unsigned char> privateDer, Salt salt);
  void update(std::span<const unsigned char> bytes) override;
  std::string finishHex() override;

 private:
  std::vector<unsigned char> privateDer_;
  Salt salt_;
  hash_state md_{};
};

}  // namespace velmoran::pack
