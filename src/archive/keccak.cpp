#include "archive/keccak.h"

#include <bit>
#include <cstring>

#include "util/cpu_level.h"

namespace velmoran {
namespace {

constexpr uint64_t kRoundConstants[24] = {
    0x0000000000000001ULL, 0x0000000000008082ULL, 0x800000000000808aULL, 0x8000000080008000ULL,
    0x000000000000808bULL, 0x0000000080000001ULL, 0x8000000080008081ULL, 0x8000000000008009ULL,
    0x000000000000008aULL, 0x0000000000000088ULL, 0x0000000080008009ULL, 0x000000008000000aULL,
    0x000000008000808bULL, 0x800000000000008bULL, 0x8000000000008089ULL, 0x8000000000008003ULL,
    0x8000000000008002ULL, 0x8000000000000080ULL, 0x000000000000800aULL, 0x800000008000000aULL,
    0x8000000080008081ULL, 0x8000000000008080ULL, 0x0000000080000001ULL, 0x8000000080008008ULL,
};

inline uint64_t load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The lanes kept complemented while the rounds run: with them inverted, chi
// needs one NOT per row instead of five (the complement pattern is stable
// across rounds), and they are inverted back when the lanes are stored.
constexpr int kComplemented[] = {1, 2, 8, 12, 17, 20};

// One round from the lanes named A.. into the lanes named E.. (rows b g k m s,
// columns a e i o u; lane x + 5y). Theta, rho and pi are folded into the B
// values, chi is written for the complemented lanes.
#define KECCAK_ROUND(A, E, rc)                                                                   \
  do {                                                                                           \
    const uint64_t Ca = A##ba ^ A##ga ^ A##ka ^ A##ma ^ A##sa;                                   \
    const uint64_t Ce = A##be ^ A##ge ^ A##ke ^ A##me ^ A##se;                                   \
    const uint64_t Ci = A##bi ^ A##gi ^ A##ki ^ A##mi ^ A##si;                                   \
    const uint64_t Co = A##bo ^ A##go ^ A##ko ^ A##mo ^ A##so;                                   \
    const uint64_t Cu = A##bu ^ A##gu ^ A##ku ^ A##mu ^ A##su;                                   \
    const uint64_t Da = Cu ^ std::rotl(Ce, 1);                                                   \
    const uint64_t De = Ca ^ std::rotl(Ci, 1);                                                   \
    const uint64_t Di = Ce ^ std::rotl(Co, 1);                                                   \
    const uint64_t Do = Ci ^ std::rotl(Cu, 1);                                                   \
    const uint64_t Du = Co ^ std::rotl(Ca, 1);                                                   \
    uint64_t B0, B1, B2, B3, B4;                                                                 \
    B0 = A##ba ^ Da;                                                                             \
    B1 = std::rotl(A##ge ^ De, 44);                                                              \
    B2 = std::rotl(A##ki ^ Di, 43);                                                              \
    B3 = std::rotl(A##mo ^ Do, 21);                                                              \
    B4 = std::rotl(A##su ^ Du, 14);                                                              \
    E##ba = B0 ^ (B1 | B2) ^ (rc);                                                               \
    E##be = B1 ^ (~B2 | B3);                                                                     \
    E##bi = B2 ^ (B3 & B4);                                                                      \
    E##bo = B3 ^ (B4 | B0);                                                                      \
    E##bu = B4 ^ (B0 & B1);                                                                      \
    B0 = std::rotl(A##bo ^ Do, 28);                                                              \
    B1 = std::rotl(A##gu ^ Du, 20);                                                              \
    B2 = std::rotl(A##ka ^ Da, 3);                                                               \
    B3 = std::rotl(A##me ^ De, 45);                                                              \
    B4 = std::rotl(A##si ^ Di, 61);                                                              \
    E##ga = B0 ^ (B1 | B2);                                                                      \
    E##ge = B1 ^ (B2 & B3);                                                                      \
    E##gi = B2 ^ (B3 | ~B4);                                                                     \
    E##go = B3 ^ (B4 | B0);                                                                      \
    E##gu = B4 ^ (B0 & B1);                                                                      \
    B0 = std::rotl(A##be ^ De, 1);                                                               \
    B1 = std::rotl(A##gi ^ Di, 6);                                                               \
    B2 = std::rotl(A##ko ^ Do, 25);                                                              \
    B3 = std::rotl(A##mu ^ Du, 8);                                                               \
    B4 = std::rotl(A##sa ^ Da, 18);                                                              \
    E##ka = B0 ^ (B1 | B2);                                                                      \
    E##ke = B1 ^ (B2 & B3);                                                                      \
    E##ki = B2 ^ (~B3 & B4);                                                                     \
    E##ko = ~B3 ^ (B4 | B0);                                                                     \
    E##ku = B4 ^ (B0 & B1);                                                                      \
    B0 = std::rotl(A##bu ^ Du, 27);                                                              \
    B1 = std::rotl(A##ga ^ Da, 36);                                                              \
    B2 = std::rotl(A##ke ^ De, 10);                                                              \
    B3 = std::rotl(A##mi ^ Di, 15);                                                              \
    B4 = std::rotl(A##so ^ Do, 56);                                                              \
    E##ma = B0 ^ (B1 & B2);                                                                      \
    E##me = B1 ^ (B2 | B3);                                                                      \
    E##mi = B2 ^ (~B3 | B4);                                                                     \
    E##mo = ~B3 ^ (B4 & B0);                                                                     \
    E##mu = B4 ^ (B0 | B1);                                                                      \
    B0 = std::rotl(A##bi ^ Di, 62);                                                              \
    B1 = std::rotl(A##go ^ Do, 55);                                                              \
    B2 = std::rotl(A##ku ^ Du, 39);                                                              \
    B3 = std::rotl(A##ma ^ Da, 41);                                                              \
    B4 = std::rotl(A##se ^ De, 2);                                                               \
    E##sa = B0 ^ (~B1 & B2);                                                                     \
    E##se = ~B1 ^ (B2 | B3);                                                                     \
    E##si = B2 ^ (B3 & B4);                                                                      \
    E##so = B3 ^ (B4 | B0);                                                                      \
    E##su = B4 ^ (B0 & B1);                                                                      \
  } while (0)

// Absorbs `blocks` (at least 1) whole blocks of 17 words from data, keeping
// the lanes in locals across all of them; with data null it only permutes,
// `blocks` times. Inlined into each of the per-level copies below.
[[gnu::always_inline]] inline void absorbBlocksBody(uint64_t lanes[25], const unsigned char* data,
                                                    std::size_t blocks) {
  for (int i : kComplemented) lanes[i] = ~lanes[i];
  uint64_t Aba = lanes[0], Abe = lanes[1], Abi = lanes[2], Abo = lanes[3], Abu = lanes[4];
  uint64_t Aga = lanes[5], Age = lanes[6], Agi = lanes[7], Ago = lanes[8], Agu = lanes[9];
  uint64_t Aka = lanes[10], Ake = lanes[11], Aki = lanes[12], Ako = lanes[13], Aku = lanes[14];
  uint64_t Ama = lanes[15], Ame = lanes[16], Ami = lanes[17], Amo = lanes[18], Amu = lanes[19];
  uint64_t Asa = lanes[20], Ase = lanes[21], Asi = lanes[22], Aso = lanes[23], Asu = lanes[24];
  uint64_t Eba, Ebe, Ebi, Ebo, Ebu, Ega, Ege, Egi, Ego, Egu, Eka, Eke, Eki, Eko, Eku;
  uint64_t Ema, Eme, Emi, Emo, Emu, Esa, Ese, Esi, Eso, Esu;
  do {
    if (data != nullptr) {
      Aba ^= load64(data + 0 * 8), Abe ^= load64(data + 1 * 8), Abi ^= load64(data + 2 * 8);
      Abo ^= load64(data + 3 * 8), Abu ^= load64(data + 4 * 8), Aga ^= load64(data + 5 * 8);
      Age ^= load64(data + 6 * 8), Agi ^= load64(data + 7 * 8), Ago ^= load64(data + 8 * 8);
      Agu ^= load64(data + 9 * 8), Aka ^= load64(data + 10 * 8), Ake ^= load64(data + 11 * 8);
      Aki ^= load64(data + 12 * 8), Ako ^= load64(data + 13 * 8), Aku ^= load64(data + 14 * 8);
      Ama ^= load64(data + 15 * 8), Ame ^= load64(data + 16 * 8);
      data += kKeccakRateBytes;
    }
    for (int round = 0; round < 24; round += 2) {
      KECCAK_ROUND(A, E, kRoundConstants[round]);
      KECCAK_ROUND(E, A, kRoundConstants[round + 1]);
    }
  } while (--blocks != 0);
  lanes[0] = Aba; lanes[1] = Abe; lanes[2] = Abi; lanes[3] = Abo; lanes[4] = Abu;
  lanes[5] = Aga; lanes[6] = Age; lanes[7] = Agi; lanes[8] = Ago; lanes[9] = Agu;
  lanes[10] = Aka; lanes[11] = Ake; lanes[12] = Aki; lanes[13] = Ako; lanes[14] = Aku;
  lanes[15] = Ama; lanes[16] = Ame; lanes[17] = Ami; lanes[18] = Amo; lanes[19] = Amu;
  lanes[20] = Asa; lanes[21] = Ase; lanes[22] = Asi; lanes[23] = Aso; lanes[24] = Asu;
  for (int i : kComplemented) lanes[i] = ~lanes[i];
}

#undef KECCAK_ROUND

using AbsorbFunction = void (*)(uint64_t lanes[25], const unsigned char* data, std::size_t blocks);

void absorbBlocksBaseline(uint64_t lanes[25], const unsigned char* data, std::size_t blocks) {
  absorbBlocksBody(lanes, data, blocks);
}

// The rounds are mostly rotations; with BMI2's non-destructive rotate the
// compiler saves a register copy for each (about 15% here), and the x86-64-v4
// build gains a few percent more. Copies for those levels are built beside the
// baseline one and picked on first use (util/cpu_level.h), not by a resolver
// at load time as target_clones makes: that would ask the processor on every
// run, hashing or not.
#ifdef VELMORAN_CPU_LEVELS
[[gnu::target("arch=x86-64-v3")]] void absorbBlocksV3(uint64_t lanes[25], const unsigned char* data,
                                                      std::size_t blocks) {
  absorbBlocksBody(lanes, data, blocks);
}

[[gnu::target("arch=x86-64-v4")]] void absorbBlocksV4(uint64_t lanes[25], const unsigned char* data,
                                                      std::size_t blocks) {
  absorbBlocksBody(lanes, data, blocks);
}

AbsorbFunction pickAbsorbBlocks() {
  return cpuHasX86_64_v4() ? absorbBlocksV4 : cpuHasX86_64_v3() ? absorbBlocksV3 : absorbBlocksBaseline;
}
#endif

void absorbBlocks(uint64_t lanes[25], const unsigned char* data, std::size_t blocks) {
#ifdef VELMORAN_CPU_LEVELS
  static const AbsorbFunction chosen = pickAbsorbBlocks();
  chosen(lanes, data, blocks);
#else
  absorbBlocksBaseline(lanes, data, blocks);
#endif
}

// Byte k of the state is byte k mod 8 (least significant first) of lane k / 8.
inline unsigned char& stateByte(KeccakState& state, int k) {
  const int inLane = std::endian::native == std::endian::little ? (k & 7) : 7 - (k & 7);
  return reinterpret_cast<unsigned char*>(state.lanes)[(k & ~7) + inLane];
}

}  // namespace

void KeccakF(uint64_t lanes[25], const unsigned char* words, int n) {
  for (int i = n - 1; i >= 0; --i) lanes[i] ^= load64(words + 8 * i);
  absorbBlocks(lanes, nullptr, 1);
}

int Init(KeccakState& state) {
  std::memset(state.lanes, 0, sizeof state.lanes);
  state.bitCount = 0;
  return 0;
}

int Update(KeccakState& state, const unsigned char* data, uint64_t bits) {
  if (state.bitCount < 0 || state.bitCount % 8 != 0) return 1;
  // Head: finish the block a previous call left open.
  while (bits >= 8 && state.bitCount != 0) {
    stateByte(state, state.bitCount / 8) ^= *data++;
    bits -= 8;
    state.bitCount += 8;
    if (state.bitCount == kKeccakRateBits) {
      absorbBlocks(state.lanes, nullptr, 1);
      state.bitCount = 0;
    }
  }
  // Whole blocks straight from the caller's bytes.
  if (bits >= static_cast<uint64_t>(kKeccakRateBits)) {
    const uint64_t blocks = bits / kKeccakRateBits;
    absorbBlocks(state.lanes, data, blocks);
    data += blocks * kKeccakRateBytes;
    bits -= blocks * kKeccakRateBits;
  }
  // Tail: left in the state until more data or Final comes.
  while (bits >= 8) {
    stateByte(state, state.bitCount / 8) ^= *data++;
    bits -= 8;
    state.bitCount += 8;
  }
  if (bits > 0) {
    stateByte(state, state.bitCount / 8) ^= static_cast<unsigned char>(*data >> (8 - bits));
    state.bitCount += static_cast<int32_t>(bits);
  }
  return 0;
}

int Final(KeccakState& state, unsigned char* out, std::size_t length) {
  if (state.bitCount < 0) return 1;
  if (state.bitCount == kKeccakRateBits - 1) {
    stateByte(state, kKeccakRateBytes - 1) ^= 0x80;
    absorbBlocks(state.lanes, nullptr, 1);
  } else {
    stateByte(state, state.bitCount / 8) ^= static_cast<unsigned char>(1u << (state.bitCount % 8));
  }
  stateByte(state, kKeccakRateBytes - 1) ^= 0x80;
  absorbBlocks(state.lanes, nullptr, 1);
  while (length != 0) {
    const std::size_t piece = length < static_cast<std::size_t>(kKeccakRateBytes) ? length : kKeccakRateBytes;
    for (std::size_t k = 0; k < piece; ++k) *out++ = stateByte(state, static_cast<int>(k));
    length -= piece;
    if (length != 0) absorbBlocks(state.lanes, nullptr, 1);
  }
  state.bitCount = -1;
  return 0;
}

int sha3_256_init(hash_state* md) {
  if (md == nullptr) crypt_argchk("md != NULL", "src/hashes/sha3/sha3_256", __LINE__);
  return Init(keccakStateOf(md)) == 0 ? 0 : -1;
}

int sha3_256_process(hash_state* md, const unsigned char* in, unsigned long inlen) {
  return Update(keccakStateOf(md), in, static_cast<uint64_t>(inlen) * 8) == 0 ? 0 : -1;
}

int sha3_256_done(hash_state* md, unsigned char* out) {
  return Final(keccakStateOf(md), out, 32) == 0 ? 0 : -1;
}

const ltc_hash_descriptor sha3_256_desc = {
    "sha3_256", 21, 32, 64, {1, 3, 14, 3, 2, 53}, 6, &sha3_256_init, &sha3_256_process, &sha3_256_done,
    nullptr,    nullptr,
};

}  // namespace velmoran
