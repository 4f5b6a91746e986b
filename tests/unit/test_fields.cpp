#include "util/fields.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace velmoran {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using velmoran::testutil::MemStream;

TEST(ReadString, StopsAtTheNulAndConsumesIt) {
  MemStream in(std::string("abc\0def", 7));
  EXPECT_EQ(readString(in.stream, "A"), "abc");
  EXPECT_EQ(readString(in.stream, "B"), "def");
  EXPECT_EQ(readString(in.stream, "C"), "");
}

TEST(ReadString, OverlongFieldWarnsAndShiftsTheNextField) {
  // 39 digits fill a 40-byte field: the warning, and its NUL is read as the next field.
  const std::string digits(39, '7');
  MemStream in(digits + std::string("\0" "42\0", 4));
  CaptureStdout();
  EXPECT_EQ(readString(in.stream, "Num", 40), digits);
  EXPECT_EQ(GetCapturedStdout(),
            "***WARNING - STRING TOO LONG FOR ALLOC 39>40! (READSTRING) [" + digits + "]\n");
  EXPECT_EQ(readString(in.stream, "Next"), "");
  EXPECT_EQ(readString(in.stream, "After"), "42");
}

TEST(ReadString, LongerFieldLeavesItsRestInTheStream) {
  MemStream in(std::string("abcdefgh\0", 9));
  CaptureStdout();
  EXPECT_EQ(readString(in.stream, "Short", 4), "abc");
  GetCapturedStdout();
  EXPECT_EQ(readString(in.stream, "Rest"), "defgh");
}

TEST(ReadInt, ConvertsLikeAtol) {
  MemStream in(std::string("  -12x\0" "abc\0" "\0" "007\0" "99999999999999999999999\0", 7 + 4 + 1 + 4 + 24));
  EXPECT_EQ(readInt(in.stream, "a"), -12);
  EXPECT_EQ(readInt(in.stream, "b"), 0);
  EXPECT_EQ(readInt(in.stream, "c"), 0);
  EXPECT_EQ(readInt(in.stream, "d"), 7);
  EXPECT_EQ(readInt(in.stream, "e"), INT64_MAX);
}

TEST(ReadBoolean, TrueOnlyForTheNumberOne) {
  MemStream in(std::string("1\0" "01\0" "\0" "0\0" "2\0" "true\0", 2 + 3 + 1 + 2 + 2 + 5));
  EXPECT_TRUE(readBoolean(in.stream, "1"));
  EXPECT_TRUE(readBoolean(in.stream, "01"));
  EXPECT_FALSE(readBoolean(in.stream, "empty"));
  EXPECT_FALSE(readBoolean(in.stream, "0"));
  EXPECT_FALSE(readBoolean(in.stream, "2"));
  EXPECT_FALSE(readBoolean(in.stream, "true"));
}

TEST(ReadString, EndOfStreamWithoutNulGivesWhatWasThere) {
  MemStream in("abc");
  EXPECT_EQ(readString(in.stream, "A"), "abc");
  EXPECT_EQ(readInt(in.stream, "B"), 0);
}

}  // namespace
}  // namespace velmoran
