// The "mixed" digest (SHA-256 followed by Keccak-256 of the same bytes, 64
// bytes) and RSA-PSS verification of archive signatures over it.
//
// One archive is checked as:
//   hash_state md;
//   if (!initHash(md)) ...;                       // registers the descriptors
//   updateHash(md, piece, pieceLength);           // as often as needed
//   std::optional<Digest> digest = doFinal(md);   // none when the hash failed
//   verifySignature(sig, sigLength, digest->data(), key.get());
// with the key imported once by loadDEREncodedPublicKey from the DER bytes of
// the tail header's "Signature Public Key" (hexToBytes of its text, util/encoding.h).
//
// The messages below go straight to standard output, not through the logger.
// Main thread only: libtomcrypt's descriptor table and math provider are
// process-wide.
#pragma once

#include <tomcrypt.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace velmoran {

constexpr int kMixedDigestSize = 64;
using Digest = std::array<unsigned char, kMixedDigestSize>;

// libtomcrypt descriptor "mixed", ID 20, 64-byte digest. Its state is the
// SHA-256 state followed by the Keccak state inside one stock hash_state,
// because PSS and MGF1 run it on hash_states of their own.
extern const ltc_hash_descriptor mixed_desc;
int mixed_init(hash_state* md);
// The SHA-256 error if there is one, else the Keccak result.
int mixed_process(hash_state* md, const unsigned char* in, unsigned long inlen);
// Bytes 0..31 SHA-256, 32..63 Keccak-256. An error when a half refuses (a
// state finished before), else 0.
int mixed_done(hash_state* md, unsigned char* out);

// Registers "mixed", SHA-256 and "sha3_256" (again registering is free: the
// table hands back the existing slot) and starts md. False, after printing
// "WARNING: Error registering mixed hash", when the table is full; md is then
// not started.
bool initHash(hash_state& md);
// False when the hash refused the bytes (count < 0 included).
bool updateHash(hash_state& md, const unsigned char* data, int count);
// The 64-byte digest, or none when the hash could not be finished.
std::optional<Digest> doFinal(hash_state& md);

// The SHA-256 of a whole file as 64 lowercase hex digits (what a manifest
// states of an archive); none when the file cannot be read.
std::optional<std::string> sha256HexOfFile(const std::string& path);

struct RsaKeyDeleter {
  void operator()(rsa_key* key) const;
};
using RsaKeyPtr = std::unique_ptr<rsa_key, RsaKeyDeleter>;

// Imports a DER RSA key (SubjectPublicKeyInfo, PKCS #1 public or private key)
// with libtommath as the math provider. Null, after printing "ERROR - unable
// to import public key.", when the bytes are not a key.
RsaKeyPtr loadDEREncodedPublicKey(const unsigned char* der, int count);

// RSA-PSS with "mixed" as message hash and MGF1 hash and a 64-byte salt over
// the 64-byte digest. A null key fails without calling libtomcrypt. A
// signature libtomcrypt cannot even check (wrong length, malformed padding)
// prints "ERROR - signature verification failed." and fails.
bool verifySignature(const unsigned char* sig, int count, const unsigned char* digest64, const rsa_key* key);

}  // namespace velmoran
