#include "archive/signature.h"

#include <cstddef>
#include <cstdio>

#include "archive/keccak.h"

namespace velmoran {
namespace {

constexpr int kSaltLength = 64;

// libtomcrypt's 1.18 SHA-256 lives at the start of hash_state; the Keccak
// state goes right behind it (keccak.h).
static_assert(offsetof(hash_state, sha256) == 0);

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
  sha256_init(md);
  velmoran::sha3_256_init(md);
  return CRYPT_OK;
}

int mixed_process(hash_state* md, const unsigned char* in, unsigned long inlen) {
  const int sha = sha256_process(md, in, inlen);
  const int keccak = velmoran::sha3_256_process(md, in, inlen);
  if (sha != CRYPT_OK) return sha;
  return keccak == 0 ? CRYPT_OK : CRYPT_ERROR;
}

// Both halves are always finished; a half that refuses (a state finished
// before) is reported, so a stale digest never passes for a good one.
int mixed_done(hash_state* md, unsigned char* out) {
  const int sha = sha256_done(md, out);
  const int keccak = velmoran::sha3_256_done(md, out + 32);
  if (sha != CRYPT_OK) return sha;
  return keccak == 0 ? CRYPT_OK : CRYPT_ERROR;
}

const ltc_hash_descriptor mixed_desc = {
    "mixed", 20, 64, 64, {1, 3, 14, 3, 2, 52}, 6, &mixed_init, &mixed_process, &mixed_done, nullptr, nullptr,
};

bool initHash(hash_state& md) {
  if (!registerDescriptors()) {
    std::fputs("WARNING: Error registering mixed hash", stdout);
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
    std::fputs("ERROR - unable to import public key.\n", stdout);
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
    std::fputs("ERROR - signature verification failed.\n", stdout);
    std::fflush(stdout);
    return false;
  }
  return result == 1;
}

}  // namespace velmoran
