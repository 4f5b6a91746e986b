#include "signing.h"

#include <sys/stat.h>

#include <tomcrypt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cli.h"
#include "util/encoding.h"
#include "util/file.h"

namespace velmoran::pack {
namespace {

constexpr int kSaltLength = 64;
// The piece size the launcher hashes archives in.
constexpr std::size_t kPieceSize = 50000;

// sprng reads the system's random source on every call, so it needs no seeding.
int systemPrng() {
  ltc_mp = ltm_desc;
  const int index = register_prng(&sprng_desc);
  if (index < 0) fail("cannot register the random generator");
  return index;
}

RsaKeyPtr importPrivateKey(const std::vector<unsigned char>& der) {
  ltc_mp = ltm_desc;
  auto* key = new rsa_key{};
  const int err = rsa_import(der.data(), der.size(), key);
  if (err != CRYPT_OK) {
    delete key;
    fail(std::string("not an RSA key: ") + error_to_string(err));
  }
  RsaKeyPtr owned(key);
  if (owned->type != PK_PRIVATE) fail("the key is a public key; signing needs the private key");
  return owned;
}

std::vector<unsigned char> exportKey(rsa_key* key, int type) {
  std::vector<unsigned char> der(8192);
  unsigned long length = der.size();
  const int err = rsa_export(der.data(), &length, type, key);
  if (err != CRYPT_OK) fail(std::string("cannot export the key: ") + error_to_string(err));
  der.resize(length);
  return der;
}

uint64_t parseCount(const std::string& option, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18) {
    usage(option + " needs a byte count, got '" + text + "'");
  }
  return std::stoull(text);
}

}  // namespace

bool DigestSource::takeOption(Args& args) {
  if (args.option("--digest")) {
    digestHex = args.value();
  } else if (args.option("--file")) {
    file = args.value();
  } else if (args.option("--offset")) {
    offset = parseCount("--offset", args.value());
  } else if (args.option("--length")) {
    length = parseCount("--length", args.value());
  } else {
    return false;
  }
  return true;
}

Digest DigestSource::resolve() const {
  if (digestHex.empty() == file.empty()) usage("give exactly one of --digest HEX and --file FILE");
  if (!file.empty()) return mixedDigestOfFile(file, offset, length);
  Digest digest{};
  const std::vector<unsigned char> bytes = hexToBytes(digestHex);
  if (digestHex.size() != 2 * digest.size() || bytes.size() != digest.size()) {
    usage("--digest needs 128 hex digits (a 64-byte mixed digest)");
  }
  std::copy(bytes.begin(), bytes.end(), digest.begin());
  return digest;
}

KeyPair makeKeyPair(int bits) {
  const int prng = systemPrng();
  prng_state state{};
  auto* raw = new rsa_key{};
  const int err = rsa_make_key(&state, prng, bits / 8, 65537, raw);
  if (err != CRYPT_OK) {
    delete raw;
    fail(std::string("cannot make the key: ") + error_to_string(err));
  }
  RsaKeyPtr key(raw);
  return {exportKey(key.get(), PK_PRIVATE), exportKey(key.get(), PK_PUBLIC | PK_STD)};
}

Digest mixedDigestOf(std::span<const unsigned char> bytes) {
  hash_state md;
  if (!initHash(md)) fail("cannot register the mixed hash");
  for (std::size_t at = 0; at < bytes.size(); at += kPieceSize) {
    const std::size_t piece = std::min(kPieceSize, bytes.size() - at);
    if (!updateHash(md, bytes.data() + at, static_cast<int>(piece))) fail("hashing failed");
  }
  const std::optional<Digest> digest = doFinal(md);
  if (!digest) fail("hashing failed");
  return *digest;
}

Digest mixedDigestOfFile(const std::string& path, uint64_t offset, std::optional<uint64_t> length) {
  FilePtr in = openFile(path.c_str(), "rb");
  if (!in) fail("cannot read " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(fileno(in.get()), &st) == 0 && S_ISREG(st.st_mode) && offset > static_cast<uint64_t>(st.st_size)) {
    fail(path + " ends before the offset " + std::to_string(offset));
  }
  if (fseeko(in.get(), static_cast<off_t>(offset), SEEK_SET) != 0) fail("cannot seek in " + path);
  hash_state md;
  if (!initHash(md)) fail("cannot register the mixed hash");
  std::vector<unsigned char> buffer(kPieceSize);
  uint64_t left = length.value_or(UINT64_MAX);
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, buffer.size()));
    const std::size_t got = std::fread(buffer.data(), 1, want, in.get());
    if (got == 0) break;
    if (!updateHash(md, buffer.data(), static_cast<int>(got))) fail("hashing failed");
    left -= got;
  }
  if (std::ferror(in.get())) fail("cannot read " + path + ": " + std::strerror(errno));
  if (length && left > 0) fail(path + " ends before the range to hash does");
  const std::optional<Digest> digest = doFinal(md);
  if (!digest) fail("hashing failed");
  return *digest;
}

namespace {

// Signs with the salt read from the generator (prng, state), then checks the
// signature the way the launcher will.
std::string signWith(const RsaKeyPtr& key, const Digest& digest, int prng, prng_state& state) {
  hash_state md;
  // Registers the descriptors the padding runs on.
  if (!initHash(md)) fail("cannot register the mixed hash");
  std::vector<unsigned char> sig(1024);
  unsigned long length = sig.size();
  const int err = rsa_sign_hash_ex(digest.data(), digest.size(), sig.data(), &length, LTC_PKCS_1_PSS, &state, prng,
                                   find_hash("mixed"), kSaltLength, key.get());
  if (err != CRYPT_OK) fail(std::string("cannot sign: ") + error_to_string(err));
  sig.resize(length);
  // What we hand out must pass the launcher's own check.
  if (!verifySignature(sig.data(), static_cast<int>(sig.size()), digest.data(), key.get())) {
    fail("the signature does not verify with the key");
  }
  return bytesToHex(sig.data(), sig.size());
}

}  // namespace

std::string signDigestHex(const std::vector<unsigned char>& privateDer, const Digest& digest) {
  const RsaKeyPtr key = importPrivateKey(privateDer);
  const int prng = systemPrng();
  prng_state state{};
  return signWith(key, digest, prng, state);
}

// The salt is the first bytes of a ChaCha20 stream seeded with
// HMAC-SHA-512(private key DER, label || digest). PSS stays sound with it:
// its security rests on the salt being unpredictable to whoever lacks the
// key, which a keyed function of the message gives, and a signature reveals
// its salt anyway, so deriving it leaks nothing a random one would not; the
// one thing lost, different signatures for the same bytes, is what a
// reproducible build asks for. The verifier reads the salt from the
// signature and accepts any.
std::string signDigestHexDerivedSalt(const std::vector<unsigned char>& privateDer, const Digest& digest) {
  const RsaKeyPtr key = importPrivateKey(privateDer);
  static constexpr char kLabel[] = "velmoran archive signature salt";
  std::vector<unsigned char> message(kLabel, kLabel + sizeof kLabel);
  message.insert(message.end(), digest.begin(), digest.end());
  const int sha512 = register_hash(&sha512_desc);
  unsigned char seed[64];
  unsigned long seedLength = sizeof seed;
  if (sha512 < 0 || hmac_memory(sha512, privateDer.data(), privateDer.size(), message.data(), message.size(), seed,
                                &seedLength) != CRYPT_OK) {
    fail("cannot derive the signature salt");
  }
  const int prng = register_prng(&chacha20_prng_desc);
  prng_state state{};
  if (prng < 0 || chacha20_prng_start(&state) != CRYPT_OK ||
      chacha20_prng_add_entropy(seed, seedLength, &state) != CRYPT_OK || chacha20_prng_ready(&state) != CRYPT_OK) {
    fail("cannot derive the signature salt");
  }
  std::string hex = signWith(key, digest, prng, state);
  chacha20_prng_done(&state);
  return hex;
}

std::string publicKeyHexOf(const std::vector<unsigned char>& privateDer) {
  const RsaKeyPtr key = importPrivateKey(privateDer);
  const std::vector<unsigned char> der = exportKey(key.get(), PK_PUBLIC | PK_STD);
  return bytesToHex(der.data(), der.size());
}

std::string signDigestHex(const std::string& keyFile, const Digest& digest) {
  return signDigestHex(readWholeFile(keyFile), digest);
}

KeySigner::KeySigner(std::vector<unsigned char> privateDer, Salt salt) : privateDer_(std::move(privateDer)), salt_(salt) {
  // Signing a digest first proves the key usable before any work is done,
  // and registers what signing needs while this is the only thread.
  if (salt_ == Salt::kDerived) {
    signDigestHexDerivedSalt(privateDer_, Digest{});
  } else {
    signDigestHex(privateDer_, Digest{});
  }
  if (!initHash(md_)) fail("the mixed hash cannot be set up");
}

void KeySigner::update(std::span<const unsigned char> bytes) {
  if (!updateHash(md_, bytes.data(), static_cast<int>(bytes.size()))) fail("hashing the archive failed");
}

std::string KeySigner::finishHex() {
  const std::optional<Digest> digest = doFinal(md_);
  if (!digest) fail("hashing the archive failed");
  // Archives compressed side by side finish on their own threads; signing
  // registers descriptors in libtomcrypt's tables, which are not guarded.
  static std::mutex signing;
  const std::lock_guard<std::mutex> lock(signing);
  return salt_ == Salt::kDerived ? signDigestHexDerivedSalt(privateDer_, *digest) : signDigestHex(privateDer_, *digest);
}

}  // namespace velmoran::pack
