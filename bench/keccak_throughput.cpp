// Throughput of the "mixed" digest and of its two halves, all in one run:
//  - on 16 KiB inputs: our Keccak-256 against OpenSSL's SHA3-256 and
//    libtomcrypt's sha3_256 (same permutation, other padding); the SHA-256
//    the mixed digest uses (OpenSSL's low-level calls) against libtomcrypt's
//    and against OpenSSL's EVP; the mixed digest against the same two halves
//    run with libtomcrypt's SHA-256, as it was before;
//  - on one 64 MiB buffer, as a JRE's files add up to: the SHA-256s and the
//    two mixed digests again.
//
// Prints MB/s per hash and the ratios:
//   keccak / openssl                       goal >= 1.0
//   mixed / (1 / (1/sha256 + 1/keccak))    goal >= 0.9
//   sha256 low-level / EVP                 about 1.0: the same SHA-extension code
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <tomcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/keccak.h"
#include "archive/signature.h"

namespace {

constexpr std::size_t kSmallInput = 16 * 1024;
constexpr std::size_t kLargeInput = 64 * 1024 * 1024;
constexpr double kRoundSeconds = 0.05;
constexpr int kSmallRounds = 25;
constexpr int kLargeRounds = 5;

volatile unsigned char sink;

using HashFunction = void (*)(const std::vector<unsigned char>&, unsigned char*);

// MB/s of one round of about kRoundSeconds, at least one hash.
double timeRound(HashFunction hash, const std::vector<unsigned char>& input) {
  using Clock = std::chrono::steady_clock;
  unsigned char out[64];
  std::size_t bytes = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    hash(input, out);
    sink = sink ^ out[0];
    bytes += input.size();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kRoundSeconds);
  return static_cast<double>(bytes) / elapsed / 1e6;
}

// Best MB/s of each hash, the rounds of all hashes interleaved: the machine
// is shared, so each one's fastest round is the one least disturbed, and
// interleaving spreads slow spells over all of them.
std::vector<double> measure(const std::vector<HashFunction>& hashes, const std::vector<unsigned char>& input,
                            int rounds) {
  std::vector<double> best(hashes.size(), 0.0);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < hashes.size(); ++i) best[i] = std::max(best[i], timeRound(hashes[i], input));
  }
  return best;
}

void ours(const std::vector<unsigned char>& in, unsigned char* out) {
  velmoran::KeccakState state;
  velmoran::Init(state);
  velmoran::Update(state, in.data(), in.size() * 8);
  velmoran::Final(state, out, 32);
}

void evpDigest(const EVP_MD* md, const std::vector<unsigned char>& in, unsigned char* out) {
  static EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  unsigned int length = 0;
  EVP_DigestInit_ex(ctx, md, nullptr);
  EVP_DigestUpdate(ctx, in.data(), in.size());
  EVP_DigestFinal_ex(ctx, out, &length);
}

void opensslSha3(const std::vector<unsigned char>& in, unsigned char* out) { evpDigest(EVP_sha3_256(), in, out); }

void opensslEvpSha256(const std::vector<unsigned char>& in, unsigned char* out) { evpDigest(EVP_sha256(), in, out); }

// The calls the mixed digest makes.
void opensslSha256(const std::vector<unsigned char>& in, unsigned char* out) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, in.data(), in.size());
  SHA256_Final(out, &ctx);
}

void tomcryptSha3(const std::vector<unsigned char>& in, unsigned char* out) {
  hash_state md;
  ::sha3_256_init(&md);
  ::sha3_process(&md, in.data(), in.size());
  ::sha3_done(&md, out);
}

void tomcryptSha256(const std::vector<unsigned char>& in, unsigned char* out) {
  hash_state md;
  sha256_init(&md);
  sha256_process(&md, in.data(), in.size());
  sha256_done(&md, out);
}

// The way archives are hashed: through the registered descriptor.
void mixed(const std::vector<unsigned char>& in, unsigned char* out) {
  hash_state md;
  velmoran::initHash(md);
  velmoran::updateHash(md, in.data(), static_cast<int>(in.size()));
  const auto digest = velmoran::doFinal(md);
  std::memcpy(out, digest->data(), 64);
}

// The baseline: the mixed digest as it was, libtomcrypt's SHA-256 beside
// the same Keccak in one hash_state.
void mixedWithTomcryptSha256(const std::vector<unsigned char>& in, unsigned char* out) {
  hash_state md;
  sha256_init(&md);
  velmoran::sha3_256_init(&md);
  sha256_process(&md, in.data(), in.size());
  velmoran::sha3_256_process(&md, in.data(), in.size());
  sha256_done(&md, out);
  velmoran::sha3_256_done(&md, out + 32);
}

std::vector<unsigned char> inputOf(std::size_t size) {
  std::vector<unsigned char> input(size);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>(i * 131 + 7);
  return input;
}

void printSpeed(const char* name, double speed) { std::printf("  %-30s %8.1f MB/s\n", name, speed); }

}  // namespace

int main() {
  const std::vector<double> small =
      measure({ours, opensslSha3, tomcryptSha3, opensslSha256, opensslEvpSha256, tomcryptSha256, mixed,
               mixedWithTomcryptSha256},
              inputOf(kSmallInput), kSmallRounds);
  const double keccak = small[0], sha3 = small[1], ltcSha3 = small[2], sha256 = small[3], evpSha256 = small[4],
               ltcSha256 = small[5], mix = small[6], mixBefore = small[7];
  const double mixBound = 1.0 / (1.0 / sha256 + 1.0 / keccak);

  std::printf("input %zu bytes, best of %d rounds\n", kSmallInput, kSmallRounds);
  printSpeed("keccak-256 (ours)", keccak);
  printSpeed("openssl sha3-256", sha3);
  printSpeed("libtomcrypt sha3_256", ltcSha3);
  printSpeed("openssl sha256 (mixed's)", sha256);
  printSpeed("openssl sha256 through EVP", evpSha256);
  printSpeed("libtomcrypt sha256", ltcSha256);
  std::printf("  %-30s %8.1f MB/s  (halves allow %.1f)\n", "mixed (ours)", mix, mixBound);
  printSpeed("mixed with libtomcrypt sha256", mixBefore);
  std::printf("ratio keccak/openssl              %.2f  (goal >= 1.00)\n", keccak / sha3);
  std::printf("ratio keccak/libtomcrypt          %.2f\n", keccak / ltcSha3);
  std::printf("ratio mixed/halves                %.2f  (goal >= 0.90)\n", mix / mixBound);
  std::printf("ratio sha256 openssl/libtomcrypt  %.2f\n", sha256 / ltcSha256);
  std::printf("ratio sha256 low-level/EVP        %.2f  (about 1.00)\n", sha256 / evpSha256);
  std::printf("ratio mixed/mixed-libtomcrypt     %.2f\n", mix / mixBefore);

  const std::vector<double> large = measure(
      {opensslSha256, opensslEvpSha256, tomcryptSha256, mixed, mixedWithTomcryptSha256}, inputOf(kLargeInput),
      kLargeRounds);
  std::printf("input %zu bytes, best of %d rounds\n", kLargeInput, kLargeRounds);
  printSpeed("openssl sha256 (mixed's)", large[0]);
  printSpeed("openssl sha256 through EVP", large[1]);
  printSpeed("libtomcrypt sha256", large[2]);
  printSpeed("mixed (ours)", large[3]);
  printSpeed("mixed with libtomcrypt sha256", large[4]);
  std::printf("ratio sha256 openssl/libtomcrypt  %.2f\n", large[0] / large[2]);
  std::printf("ratio sha256 low-level/EVP        %.2f  (about 1.00)\n", large[0] / large[1]);
  std::printf("ratio mixed/mixed-libtomcrypt     %.2f\n", large[3] / large[4]);
  return 0;
}
