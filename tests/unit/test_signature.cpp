#include "archive/signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/keccak.h"
#include "util/encoding.h"

namespace velmoran {
namespace {

std::vector<unsigned char> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::string mixedHex(const std::vector<unsigned char>& data, std::size_t piece) {
  hash_state md;
  EXPECT_TRUE(initHash(md));
  for (std::size_t at = 0; at < data.size(); at += piece) {
    EXPECT_TRUE(updateHash(md, data.data() + at, static_cast<int>(std::min(piece, data.size() - at))));
  }
  const std::optional<Digest> digest = doFinal(md);
  EXPECT_TRUE(digest.has_value());
  return digest ? bytesToHex(digest->data(), digest->size()) : "";
}

TEST(MixedDigest, KnownDigests) {
  EXPECT_EQ(mixedHex(bytesOf("abc"), 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"
            "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45");
  EXPECT_EQ(mixedHex({}, 1),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
            "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470");
}

TEST(MixedDigest, PiecesOfAnySizeGiveTheSameDigest) {
  std::vector<unsigned char> data(123457);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i ^ (i >> 9));
  const std::string whole = mixedHex(data, data.size());
  EXPECT_EQ(mixedHex(data, 50000), whole);
  EXPECT_EQ(mixedHex(data, 135), whole);
  EXPECT_EQ(mixedHex(data, 64), whole);
}

// The two halves share one hash_state and the SHA-256 half is another
// library's: each half must come out as its own hash alone, over lengths
// around SHA-256's 64-byte blocks and the 56 bytes its padding leaves, fed
// whole and cut inside blocks. libtomcrypt's SHA-256 is the reference.
TEST(MixedDigest, HalvesMatchEachHashAloneAroundBlockBoundaries) {
  std::vector<unsigned char> data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
  for (const std::size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 136, 511, 512, 513}) {
    const std::vector<unsigned char> message(data.begin(), data.begin() + length);
    hash_state reference;
    unsigned char sha256[32];
    ASSERT_EQ(sha256_init(&reference), CRYPT_OK);
    ASSERT_EQ(sha256_process(&reference, message.data(), message.size()), CRYPT_OK);
    ASSERT_EQ(sha256_done(&reference, sha256), CRYPT_OK);
    KeccakState keccak;
    unsigned char keccak256[32];
    Init(keccak);
    Update(keccak, message.data(), message.size() * 8);
    Final(keccak, keccak256, sizeof keccak256);
    const std::string expected = bytesToHex(sha256, 32) + bytesToHex(keccak256, 32);
    for (const std::size_t piece : {length, std::size_t{1}, std::size_t{55}, std::size_t{63}, std::size_t{65}}) {
      EXPECT_EQ(mixedHex(message, piece), expected) << "length " << length << " in pieces of " << piece;
    }
  }
}

TEST(MixedDigest, ManyRunsDoNotExhaustTheDescriptorTable) {
  const std::string first = mixedHex(bytesOf("abc"), 3);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(mixedHex(bytesOf("abc"), 3), first) << "run " << i;
  EXPECT_GE(find_hash("mixed"), 0);
  EXPECT_EQ(hash_descriptor[find_hash("sha3_256")].init, velmoran::sha3_256_desc.init);
}

TEST(MixedDigest, FinishingTwiceFailsInsteadOfGivingAStaleDigest) {
  hash_state md;
  ASSERT_TRUE(initHash(md));
  EXPECT_TRUE(updateHash(md, nullptr, 0));
  ASSERT_TRUE(doFinal(md).has_value());
  EXPECT_FALSE(updateHash(md, reinterpret_cast<const unsigned char*>("x"), 1));
  EXPECT_FALSE(doFinal(md).has_value());
  EXPECT_FALSE(updateHash(md, nullptr, -1));
}

// One 2048-bit key for the suite: generating it is the slow part.
class Signatures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ltc_mp = ltm_desc;
    ASSERT_NE(register_prng(&sprng_desc), -1);
    key_ = new rsa_key{};
    ASSERT_EQ(rsa_make_key(&prng_, find_prng("sprng"), 256, 65537, key_), CRYPT_OK);
    unsigned char der[1024];
    unsigned long length = sizeof der;
    ASSERT_EQ(rsa_export(der, &length, PK_PUBLIC | PK_STD, key_), CRYPT_OK);
    publicDer_.assign(der, der + length);
  }
  static void TearDownTestSuite() {
    rsa_free(key_);
    delete key_;
  }

  static std::vector<unsigned char> sign(const Digest& digest, int hashIndex) {
    std::vector<unsigned char> sig(512);
    unsigned long length = sig.size();
    EXPECT_EQ(rsa_sign_hash_ex(digest.data(), digest.size(), sig.data(), &length, LTC_PKCS_1_PSS, &prng_,
                               find_prng("sprng"), hashIndex, 64, key_),
              CRYPT_OK);
    sig.resize(length);
    return sig;
  }

  static Digest digestOf(const std::string& text) {
    hash_state md;
    initHash(md);
    updateHash(md, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    return *doFinal(md);
  }

  static inline prng_state prng_;
  static inline rsa_key* key_ = nullptr;
  static inline std::vector<unsigned char> publicDer_;
};

TEST_F(Signatures, SignedDigestVerifiesWithTheImportedPublicKey) {
  const Digest digest = digestOf("archive bytes");
  const std::vector<unsigned char> sig = sign(digest, find_hash("mixed"));
  ASSERT_EQ(sig.size(), 256u);
  RsaKeyPtr key = loadDEREncodedPublicKey(publicDer_.data(), static_cast<int>(publicDer_.size()));
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(verifySignature(sig.data(), static_cast<int>(sig.size()), digest.data(), key.get()));
  // The imported key through its hex text, the way the tail header carries it.
  const std::vector<unsigned char> fromHex = hexToBytes(bytesToHex(publicDer_.data(), publicDer_.size()));
  EXPECT_EQ(fromHex, publicDer_);
}

TEST_F(Signatures, TamperedInputsAreRejected) {
  const Digest digest = digestOf("archive bytes");
  const std::vector<unsigned char> sig = sign(digest, find_hash("mixed"));
  RsaKeyPtr key = loadDEREncodedPublicKey(publicDer_.data(), static_cast<int>(publicDer_.size()));
  ASSERT_NE(key, nullptr);

  Digest otherDigest = digest;
  otherDigest[40] ^= 1;
  EXPECT_FALSE(verifySignature(sig.data(), static_cast<int>(sig.size()), otherDigest.data(), key.get()));

  std::vector<unsigned char> flipped = sig;
  flipped[100] ^= 0x10;
  EXPECT_FALSE(verifySignature(flipped.data(), static_cast<int>(flipped.size()), digest.data(), key.get()));

  testing::internal::CaptureStdout();
  EXPECT_FALSE(verifySignature(sig.data(), static_cast<int>(sig.size()) - 1, digest.data(), key.get()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR - signature verification failed.\n");
  // An empty signature text: reported, not an abort inside libtomcrypt.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(verifySignature(nullptr, 0, digest.data(), key.get()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR - signature verification failed.\n");

  // A sound PSS signature, but with SHA-256 where "mixed" belongs.
  const std::vector<unsigned char> withSha256 = sign(digest, find_hash("sha256"));
  EXPECT_FALSE(verifySignature(withSha256.data(), static_cast<int>(withSha256.size()), digest.data(), key.get()));

  EXPECT_FALSE(verifySignature(sig.data(), static_cast<int>(sig.size()), digest.data(), nullptr));
}

TEST(PublicKey, GarbageIsNotAKey) {
  const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01, 0x05};
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadDEREncodedPublicKey(garbage, sizeof garbage), nullptr);
  EXPECT_EQ(loadDEREncodedPublicKey(garbage, -1), nullptr);
  // A key text without hex digits decodes to no bytes.
  EXPECT_EQ(loadDEREncodedPublicKey(garbage, 0), nullptr);
  const std::string refused = "ERROR - unable to import public key.\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), refused + refused + refused);
}

}  // namespace
}  // namespace velmoran
