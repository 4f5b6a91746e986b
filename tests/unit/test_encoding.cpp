#include "util/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {
namespace {

struct Base64Case {
  const char* text;
  std::optional<std::string> decoded;
};

class Base64 : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64, Decodes) {
  const auto out = base64_decode(GetParam().text);
  ASSERT_EQ(out.has_value(), GetParam().decoded.has_value());
  if (out) {
    EXPECT_EQ(std::string(out->begin(), out->end()), *GetParam().decoded);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64,
    ::testing::Values(Base64Case{"YWJjZA==", "abcd"}, Base64Case{"YWJj", "abc"}, Base64Case{"YWJjZA=", std::nullopt},
                      Base64Case{"YWI=", "ab"}, Base64Case{"", ""}, Base64Case{"YWJjZ", std::nullopt},
                      // Outside the alphabet counts as 0, like "=" before the last two places.
                      Base64Case{"A*A=", std::string("\0\0", 2)},
                      Base64Case{"//79", "\xff\xfe\xfd"}));

struct PlainBase64Case {
  const char* text;
  bool plain;
};

class PlainBase64 : public ::testing::TestWithParam<PlainBase64Case> {};

TEST_P(PlainBase64, OnlyOneLineOfTheAlphabetWithPaddingAtTheEnd) {
  EXPECT_EQ(isPlainBase64(GetParam().text), GetParam().plain) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainBase64,
    ::testing::Values(PlainBase64Case{"", true}, PlainBase64Case{"YWJjZA==", true}, PlainBase64Case{"YWI=", true},
                      PlainBase64Case{"+/9a", true}, PlainBase64Case{"YWJj\nZA==", false},
                      PlainBase64Case{"YWJjZA=", false}, PlainBase64Case{"YW=j", false},
                      PlainBase64Case{"Y===", false}, PlainBase64Case{"YWJ-", false}));

struct HexCase {
  const char* text;
  int size;
  std::vector<unsigned char> written;  // including the zero byte behind
  int result;
  bool warns;
};

class HexToBytes : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexToBytes, DecodesAndStaysInsideTheArea) {
  const HexCase& c = GetParam();
  std::vector<unsigned char> area(static_cast<std::size_t>(c.size) + 4, 0xEE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(hexToBytes(area.data(), c.size, c.text), c.result);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.find("[Utils] ERROR - HexToBytes is writing too far!") == 0, c.warns) << printed;
  EXPECT_EQ(std::vector<unsigned char>(area.begin(), area.begin() + c.written.size()), c.written);
  for (std::size_t i = static_cast<std::size_t>(c.size); i < area.size(); ++i) {
    EXPECT_EQ(area[i], 0xEE) << "byte " << i << " written beyond the area";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexToBytes,
    ::testing::Values(HexCase{"0aFF", 4, {0x0A, 0xFF, 0x00}, 2, false},
                      HexCase{"abc", 4, {0xAB, 0x0C, 0x00}, 2, false},  // odd count: lone last digit
                      HexCase{"12zz34", 4, {0x12, 0x00}, 1, false},     // stops at a non-digit
                      HexCase{"", 1, {0x00}, 0, false},
                      HexCase{"010203", 4, {0x01, 0x02, 0x03, 0x00}, 3, false},
                      HexCase{"01020304", 4, {0x01, 0x02, 0x03, 0x00}, 3, true}));

TEST(HexToBytes, WarningCarriesCountAndSize) {
  unsigned char area[2];
  testing::internal::CaptureStdout();
  hexToBytes(area, 2, "aabbcc");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Utils] ERROR - HexToBytes is writing too far! 3 2\n");
}

TEST(BytesToHex, LowercasePairsAndTerminator) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  char out[5];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(bytesToHex(out, bytes, 2), 4);
  EXPECT_STREQ(out, "0aff");
  EXPECT_EQ(bytesToHex(bytes, 2), "0aff");
}

}  // namespace
}  // namespace velmoran
