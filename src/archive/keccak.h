// Keccak-256 with the original Keccak padding (0x01), the second half of the
// "mixed" digest. Not FIPS 202 SHA3-256 (padding 0x06): libtomcrypt exports
// that one under the same descriptor names, so ours live in namespace
// velmoran and are always called qualified (an unqualified call from inside
// the namespace is ambiguous through argument-dependent lookup and does not
// compile, which is what we want).
#pragma once

#include <tomcrypt.h>

#include <cstddef>
#include <cstdint>

namespace velmoran {

constexpr int kKeccakRateBits = 1088;
constexpr int kKeccakRateBytes = kKeccakRateBits / 8;
constexpr int kKeccakRateWords = kKeccakRateBytes / 8;

// The sponge: 25 lanes (lane i is state bytes 8i..8i+7, little-endian) and the
// number of bits absorbed into the block not yet permuted; -1 once finished.
struct KeccakState {
  uint64_t lanes[25];
  int32_t bitCount;
};

// XORs words[n-1..0] (little-endian 64-bit values, n <= 17) into the first
// lanes, then applies Keccak-f[1600]. words may be null when n is 0.
void KeccakF(uint64_t lanes[25], const unsigned char* words, int n);

// 0.
int Init(KeccakState& state);
// Absorbs bits of data (whole bytes first, a trailing partial byte taken from
// the most significant bits). 1 when the state is finished or an earlier call
// ended on a partial byte, else 0.
int Update(KeccakState& state, const unsigned char* data, uint64_t bits);
// Pads, permutes and squeezes length bytes. 1 when already finished, else 0.
int Final(KeccakState& state, unsigned char* out, std::size_t length);

// Where the Keccak state lives inside a libtomcrypt hash state: right behind
// room for a SHA-256 state of libtomcrypt's size (signature.cpp checks that
// the one it uses fits), so the "mixed" hash can run both halves in one
// hash_state (libtomcrypt passes its own stock hash_state to the descriptor
// inside PSS and MGF1, so no bigger record of ours can be used).
constexpr std::size_t kKeccakStateOffset = (sizeof(sha256_state) + 7) / 8 * 8;
static_assert(kKeccakStateOffset + sizeof(KeccakState) <= sizeof(hash_state),
              "the SHA-256 and Keccak states must fit side by side in hash_state");
static_assert(alignof(hash_state) >= alignof(KeccakState));

inline KeccakState& keccakStateOf(hash_state* md) {
  return *reinterpret_cast<KeccakState*>(reinterpret_cast<unsigned char*>(md) + kKeccakStateOffset);
}

// libtomcrypt-style descriptor operations over the Keccak state of a
// hash_state: 0 on success, -1 on failure (callers test for non-zero only).
int sha3_256_init(hash_state* md);
int sha3_256_process(hash_state* md, const unsigned char* in, unsigned long inlen);
int sha3_256_done(hash_state* md, unsigned char* out);

// Registered as "sha3_256", ID 21, 32-byte digest.
extern const ltc_hash_descriptor sha3_256_desc;

}  // namespace velmoran
