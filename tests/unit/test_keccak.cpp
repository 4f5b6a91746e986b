#include "archive/keccak.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "util/encoding.h"

namespace velmoran {
namespace {

std::string keccak256Hex(const std::vector<unsigned char>& data) {
  KeccakState state;
  Init(state);
  EXPECT_EQ(Update(state, data.data(), data.size() * 8), 0);
  unsigned char out[32];
  EXPECT_EQ(Final(state, out, sizeof out), 0);
  return bytesToHex(out, sizeof out);
}

std::vector<unsigned char> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> pattern(std::size_t length) {
  std::vector<unsigned char> data(length);
  for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  return data;
}

// The permutation as published, one step after the other, with no tricks:
// the unrolled, lane-complemented one must agree with it on any state.
void textbookPermutation(uint64_t a[25]) {
  static const int kRho[25] = {0, 1, 62, 28, 27, 36, 44, 6, 55, 20, 3, 10, 43,
                               25, 39, 41, 45, 15, 21, 8, 18, 2, 61, 56, 14};
  uint64_t rc = 0;
  unsigned lfsr = 1;
  for (int round = 0; round < 24; ++round) {
    uint64_t c[5], b[25];
    for (int x = 0; x < 5; ++x) c[x] = a[x] ^ a[x + 5] ^ a[x + 10] ^ a[x + 15] ^ a[x + 20];
    for (int x = 0; x < 5; ++x)
      for (int y = 0; y < 5; ++y) a[x + 5 * y] ^= c[(x + 4) % 5] ^ std::rotl(c[(x + 1) % 5], 1);
    for (int x = 0; x < 5; ++x)
      for (int y = 0; y < 5; ++y) b[y + 5 * ((2 * x + 3 * y) % 5)] = std::rotl(a[x + 5 * y], kRho[x + 5 * y]);
    for (int x = 0; x < 5; ++x)
      for (int y = 0; y < 5; ++y) a[x + 5 * y] = b[x + 5 * y] ^ (~b[(x + 1) % 5 + 5 * y] & b[(x + 2) % 5 + 5 * y]);
    // Round constants from the LFSR of the definition, not from a table.
    rc = 0;
    for (int j = 0; j < 7; ++j) {
      if (lfsr & 1) rc ^= 1ULL << ((1 << j) - 1);
      lfsr = (lfsr & 0x80) ? ((lfsr << 1) ^ 0x71) & 0xff : lfsr << 1;
    }
    a[0] ^= rc;
  }
}

TEST(Keccak, PermutationMatchesTheDefinitionOnRandomStates) {
  std::mt19937_64 random(1234);
  for (int trial = 0; trial < 50; ++trial) {
    uint64_t ours[25], reference[25];
    for (int i = 0; i < 25; ++i) ours[i] = reference[i] = random();
    KeccakF(ours, nullptr, 0);
    textbookPermutation(reference);
    ASSERT_EQ(0, std::memcmp(ours, reference, sizeof ours)) << "trial " << trial;
  }
}

TEST(Keccak, PermutationXorsTheInputWordsFirst) {
  std::vector<unsigned char> words = pattern(17 * 8);
  for (int n : {1, 9, 17}) {
    uint64_t ours[25] = {}, reference[25] = {};
    KeccakF(ours, words.data(), n);
    for (int i = 0; i < n; ++i) std::memcpy(&reference[i], words.data() + 8 * i, 8);
    textbookPermutation(reference);
    EXPECT_EQ(0, std::memcmp(ours, reference, sizeof ours)) << n << " words";
  }
}

TEST(Keccak, KnownDigestsUseTheOriginalPadding) {
  EXPECT_EQ(keccak256Hex({}), "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470");
  EXPECT_EQ(keccak256Hex(bytesOf("abc")), "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45");
  EXPECT_NE(keccak256Hex({}), "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a");
}

// Block edges: 135 bytes pads inside one block (last byte 0x81), 136 needs a
// block of padding alone. Values from an independent implementation.
TEST(Keccak, MessagesAtTheBlockEdge) {
  EXPECT_EQ(keccak256Hex(std::vector<unsigned char>(135, 'a')),
            "34367dc248bbd832f4e3e69dfaac2f92638bd0bbd18f2912ba4ef454919cf446");
  EXPECT_EQ(keccak256Hex(std::vector<unsigned char>(136, 'a')),
            "a6c4d403279fe3e0af03729caada8374b5ca54d8065329a3ebcaeb4b60aa386e");
}

TEST(Keccak, SplittingTheInputDoesNotChangeTheDigest) {
  const std::vector<unsigned char> data = pattern(5000);
  const std::string whole = keccak256Hex(data);
  for (std::size_t first : {std::size_t{1}, std::size_t{135}, std::size_t{136}, std::size_t{1000}}) {
    for (std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{136}, std::size_t{999}}) {
      KeccakState state;
      Init(state);
      Update(state, data.data(), first * 8);
      for (std::size_t at = first; at < data.size(); at += step) {
        Update(state, data.data() + at, std::min(step, data.size() - at) * 8);
      }
      unsigned char out[32];
      Final(state, out, 32);
      EXPECT_EQ(bytesToHex(out, 32), whole) << "first " << first << ", then " << step;
    }
  }
}

TEST(Keccak, LongOutputSqueezesFurtherBlocks) {
  KeccakState a, b;
  Init(a);
  Init(b);
  unsigned char longer[300], shorter[32];
  Final(a, longer, sizeof longer);
  Final(b, shorter, sizeof shorter);
  EXPECT_EQ(0, std::memcmp(longer, shorter, 32));
  // The second squeezed block comes from a fresh permutation, not a copy.
  EXPECT_NE(0, std::memcmp(longer, longer + 136, 136));
}

TEST(Keccak, FinishedStateRefusesMore) {
  KeccakState state;
  Init(state);
  unsigned char out[32];
  ASSERT_EQ(Final(state, out, 32), 0);
  const unsigned char byte = 1;
  EXPECT_EQ(Update(state, &byte, 8), 1);
  EXPECT_EQ(Final(state, out, 32), 1);
}

TEST(Keccak, PartialByteIsAcceptedOnceOnly) {
  KeccakState state;
  Init(state);
  const unsigned char byte = 0xff;
  EXPECT_EQ(Update(state, &byte, 3), 0);
  EXPECT_EQ(state.bitCount, 3);
  // The three bits are the most significant ones of the byte.
  EXPECT_EQ(state.lanes[0], 0x07u);
  EXPECT_EQ(Update(state, &byte, 8), 1);
}

TEST(Keccak, DescriptorWorksOnTheHashStateAndRefusesAfterDone) {
  hash_state md;
  ASSERT_EQ(velmoran::sha3_256_init(&md), 0);
  ASSERT_EQ(velmoran::sha3_256_process(&md, reinterpret_cast<const unsigned char*>("abc"), 3), 0);
  unsigned char out[32];
  ASSERT_EQ(velmoran::sha3_256_done(&md, out), 0);
  EXPECT_EQ(bytesToHex(out, 32), "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45");

  hash_state before;
  std::memcpy(&before, &md, sizeof md);
  EXPECT_EQ(velmoran::sha3_256_process(&md, reinterpret_cast<const unsigned char*>("x"), 1), -1);
  EXPECT_EQ(0, std::memcmp(&before, &md, sizeof md));
  EXPECT_EQ(velmoran::sha3_256_done(&md, out), -1);
}

TEST(Keccak, DescriptorIsOursNotTheLibrarysStandardSha3) {
  EXPECT_STREQ(velmoran::sha3_256_desc.name, "sha3_256");
  EXPECT_EQ(velmoran::sha3_256_desc.ID, 21);
  EXPECT_EQ(velmoran::sha3_256_desc.hashsize, 32u);
  EXPECT_NE(velmoran::sha3_256_desc.init, ::sha3_256_desc.init);
  EXPECT_NE(velmoran::sha3_256_desc.process, ::sha3_256_desc.process);
}

}  // namespace
}  // namespace velmoran
