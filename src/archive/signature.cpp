#include "archive/signature.h"

// The low-level SHA-256 calls are deprecated in OpenSSL 3 in favour of EVP,
// but EVP would link the provider framework into the static launcher; these
// link alone and still pick the SHA extensions at run time.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstdio>
#include <vector>

#include "archive/keccak.h"

#include "util/log.h"
#include "util/encoding.h"
#include "util/file.h"

namespace velmoran {
namespace {

constexpr int kSaltLength = 64;

// The SHA-256 half is OpenSSL's (several times libtomcrypt's speed on
// processors with the SHA extensions) and sits at the start of the
// hash_state, in the room libtomcrypt keeps for its own SHA-256 state; the
// Keccak state follows at kKeccakStateOffset (keccak.h).
static_assert(sizeof(SHA256_CTX) <= kKeccakStateOffset, "the SHA-256 state would overlap the Keccak state");
static_assert(alignof(hash_state) >= alignof(SHA256_CTX));

SHA256_CTX& sha256StateOf(hash_state* md) { return *reinterpret_cast<SHA256_CTX*>(md); }

int mixedIndex() { return find_hash("mixed"); }

bool registerDescriptors() {
  // All three are attempted even after a failure, like the table expects.
  const int mixed = register_hash(&mixed_desc);
  const int sha256 = register_hash(&sha256_desc);
  const int keccak = register_hash(&velmoran::sha3_256_desc);
  return mixed != -1 && sha256 != -1 && keccak != -1;
}

}  // namespace

int mixed_init(hash_state* md) {
  if (md == nullptr) crypt_argchk("md != NULL", "src/hashes/mixedhash/mixed", __LINE__);
  SHA256_Init(&sha256StateOf(md));
  velmoran::sha3_256_init(md);
  return CRYPT_OK;
}

int mixed_process(hash_state* md, const unsigned char* in, unsigned long inlen) {
  const bool sha = SHA256_Update(&sha256StateOf(md), in, inlen) == 1;
  const int keccak = velmoran::sha3_256_process(md, in, inlen);
  if (!sha) return CRYPT_ERROR;
  return keccak == 0 ? CRYPT_OK : CRYPT_ERROR;
}

// Both halves are always finished; a half that refuses (a state finished
// before) is reported, so a stale digest never passes for a good one.
int mixed_done(hash_state* md, unsigned char* out) {
  const bool sha = SHA256_Final(out, &sha256StateOf(md)) == 1;
  const int keccak = velmoran::sha3_256_done(md, out + 32);
  if (!sha) return CRYPT_ERROR;
  return keccak == 0 ? CRYPT_OK : CRYPT_ERROR;
}

const ltc_hash_descriptor mixed_desc = {
    "mixed", 20, 64, 64, {1, 3, 14, 3, 2, 52}, 6, &mixed_init, &mixed_process, &mixed_done, nullptr, nullptr,
};

bool initHash(hash_state& md) {
  if (!registerDescriptors()) {
    logConsole("WARNING: Error registering mixed hash");
    std::fflush(stdout);
    return false;
  }
  hash_descriptor[mixedIndex()].init(&md);
  return true;
}

bool updateHash(hash_state& md, const unsigned char* data, int count) {
  const int index = mixedIndex();
  if (index < 0 || count < 0) return false;
  // libtomcrypt aborts on a null pointer even for no bytes.
  if (count == 0) return true;
  return hash_descriptor[index].process(&md, data, static_cast<unsigned long>(count)) == CRYPT_OK;
}

std::optional<Digest> doFinal(hash_state& md) {
  const int index = mixedIndex();
  if (index < 0) return std::nullopt;
  Digest digest{};
  if (hash_descriptor[index].done(&md, digest.data()) != CRYPT_OK) return std::nullopt;
  return digest;
}

void RsaKeyDeleter::operator()(rsa_key* key) const {
  rsa_free(key);
  delete key;
}

RsaKeyPtr loadDEREncodedPublicKey(const unsigned char* der, int count) {
  ltc_mp = ltm_desc;
  auto* key = new rsa_key{};
  // No bytes at all (a key text with no hex digits) would trip libtomcrypt's
  // argument check, which aborts the process instead of failing the import.
  if (count <= 0 || der == nullptr || rsa_import(der, static_cast<unsigned long>(count), key) != CRYPT_OK) {
    // rsa_import releases what it allocated on failure.
    delete key;
    logConsole("ERROR - unable to import public key.\n");
    std::fflush(stdout);
    return nullptr;
  }
  return RsaKeyPtr(key);
}

bool verifySignature(const unsigned char* sig, int count, const unsigned char* digest64, const rsa_key* key) {
  if (key == nullptr) return false;
  int result = -1;
  // The descriptors may not be registered yet when no archive was hashed.
  registerDescriptors();
  // An empty signature text gives no bytes at all; libtomcrypt would abort
  // on the null pointer instead of reporting it. It does not modify the key.
  const int err = count <= 0 || sig == nullptr || digest64 == nullptr
                      ? CRYPT_INVALID_ARG
                      : rsa_verify_hash_ex(sig, static_cast<unsigned long>(count), digest64, kMixedDigestSize,
                                           LTC_PKCS_1_PSS, mixedIndex(), kSaltLength, &result,
                                           const_cast<rsa_key*>(key));
  if (err != CRYPT_OK) {
    logConsole("ERROR - signature verification failed.\n");
    std::fflush(stdout);
    return false;
  }
  return result == 1;
}

std::optional<std::string> sha256HexOfFile(const std::string& path) {
  FilePtr in = openForReading(path);
  if (!in) return std::nullopt;
  SHA256_CTX context;
  SHA256_Init(&context);
  std::vector<unsigned char> buffer(1 << 16);
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;) {
    SHA256_Update(&context, buffer.data(), n);
  }
  if (std::ferror(in.get()) != 0) return std::nullopt;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_Final(digest, &context);
  return bytesToHex(digest, SHA256_DIGEST_LENGTH);
}

}  // namespace velmoran
