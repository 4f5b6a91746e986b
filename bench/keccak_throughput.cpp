// Throughput of our Keccak-256 and of the "mixed" digest on 16 KiB inputs,
// against OpenSSL's SHA3-256 and libtomcrypt's sha3_256 (same permutation,
// other padding) and libtomcrypt's SHA-256, all in one run.
//
// Prints MB/s per hash and the ratios:
//   keccak / openssl           goal >= 1.0
//   mixed / (1 / (1/sha256 + 1/keccak))   goal >= 0.9
#include <openssl/evp.h>
#include <tomcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/keccak.h"
#include "archive/signature.h"

namespace {

constexpr std::size_t kInputSize = 16 * 1024;
constexpr double kRoundSeconds = 0.05;
constexpr int kRounds = 25;

volatile unsigned char sink;

using HashFunction = void (*)(const std::vector<unsigned char>&, unsigned char*);

// MB/s of one round of about kRoundSeconds.
double timeRound(HashFunction hash, const std::vector<unsigned char>& input) {
  using Clock = std::chrono::steady_clock;
  unsigned char out[64];
  std::size_t bytes = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 16; ++i) {
      hash(input, out);
      sink = sink ^ out[0];
      bytes += input.size();
    }
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kRoundSeconds);
  return static_cast<double>(bytes) / elapsed / 1e6;
}

// Best MB/s of each hash, the rounds of all hashes interleaved: the machine
// is shared, so each one's fastest round is the one least disturbed, and
// interleaving spreads slow spells over all of them.
std::vector<double> measure(const std::vector<HashFunction>& hashes, const std::vector<unsigned char>& input) {
  std::vector<double> best(hashes.size(), 0.0);
  for (int round = 0; round < kRounds; ++round) {
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

void openssl(const std::vector<unsigned char>& in, unsigned char* out) {
  static EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  static const EVP_MD* md = EVP_sha3_256();
  unsigned int length = 0;
  EVP_DigestInit_ex(ctx, md, nullptr);
  EVP_DigestUpdate(ctx, in.data(), in.size());
  EVP_DigestFinal_ex(ctx, out, &length);
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

}  // namespace

int main() {
  std::vector<unsigned char> input(kInputSize);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>(i * 131 + 7);

  const std::vector<double> speed = measure({ours, openssl, tomcryptSha3, tomcryptSha256, mixed}, input);
  const double keccak = speed[0], ssl = speed[1], ltcSha3 = speed[2], sha256 = speed[3], mix = speed[4];
  const double mixBound = 1.0 / (1.0 / sha256 + 1.0 / keccak);

  std::printf("input %zu bytes, best of %d rounds\n", kInputSize, kRounds);
  std::printf("  keccak-256 (ours)          %8.1f MB/s\n", keccak);
  std::printf("  openssl sha3-256           %8.1f MB/s\n", ssl);
  std::printf("  libtomcrypt sha3_256       %8.1f MB/s\n", ltcSha3);
  std::printf("  libtomcrypt sha256         %8.1f MB/s\n", sha256);
  std::printf("  mixed (ours)               %8.1f MB/s  (halves allow %.1f)\n", mix, mixBound);
  std::printf("ratio keccak/openssl          %.2f  (goal >= 1.00)\n", keccak / ssl);
  std::printf("ratio keccak/libtomcrypt      %.2f\n", keccak / ltcSha3);
  std::printf("ratio mixed/halves            %.2f  (goal >= 0.90)\n", mix / mixBound);
  return 0;
}
