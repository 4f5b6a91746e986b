#include "archive/container.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "test_support.h"

namespace velmoran {
namespace {

using testutil::MemStream;

std::string field(const std::string& text) { return text + std::string(1, '\0'); }

const std::string kBlockName = "vlArcSpBlock_DigitalSignature1";

struct HeaderCase {
  const char* name;
  std::string bytes;
  bool end;
  long type;
  std::string path;
  int64_t length;
  CutField cut;
  bool overlong;
  std::optional<int64_t> signedLength;  // set when a signature block is read
  std::string hex;
  long consumed;  // where the stream is left
};

class EntryHeaderReader : public testing::TestWithParam<HeaderCase> {};

TEST_P(EntryHeaderReader, ReportsTheFieldsAndWhereTheDataStarts) {
  const HeaderCase& c = GetParam();
  MemStream in("xy" + c.bytes);
  std::fseek(in.stream, 2, SEEK_SET);
  testing::internal::CaptureStdout();
  const EntryHeader entry = readEntryHeader(in.stream);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(entry.offset, 2);
  EXPECT_EQ(entry.end, c.end);
  EXPECT_EQ(entry.type, c.type);
  EXPECT_EQ(entry.path, c.path);
  EXPECT_EQ(entry.length, c.length);
  EXPECT_EQ(entry.cut, c.cut);
  EXPECT_EQ(entry.overlong, c.overlong);
  ASSERT_EQ(entry.signature.has_value(), c.signedLength.has_value());
  if (entry.signature) {
    EXPECT_EQ(entry.signature->signedLength, *c.signedLength);
    EXPECT_EQ(entry.signature->hex, c.hex);
  }
  EXPECT_EQ(std::ftell(in.stream), 2 + c.consumed);
}

const std::string kSignature = field("0") + field(kBlockName) + field("8") + field("24") + field("abcd");

INSTANTIATE_TEST_SUITE_P(
    Headers, EntryHeaderReader,
    testing::Values(
        HeaderCase{"EndOfInput", "", true, 0, "", 0, CutField::kNone, false, {}, "", 0},
        HeaderCase{"EmptyType", field("") + "rest", true, 0, "", 0, CutField::kNone, false, {}, "", 1},
        HeaderCase{"PlainFile", field("0") + field("docs/a.txt") + field("2") + "hi", false, 0, "docs/a.txt", 2,
                   CutField::kNone, false, {}, "", 15},
        HeaderCase{"FolderHasNoLength", field("1") + field("docs") + field("0"), false, 1, "docs", 0, CutField::kNone,
                   false, {}, "", 7},
        HeaderCase{"OtherTypesArePlain", field("7") + field("x") + field("3") + "abc", false, 7, "x", 3,
                   CutField::kNone, false, {}, "", 6},
        HeaderCase{"NegativeLengthIsReported", field("0") + field("n") + field("-5"), false, 0, "n", -5,
                   CutField::kNone, false, {}, "", 7},
        HeaderCase{"CutInThePath", field("0") + "cu", false, 0, "cu", 0, CutField::kTypeOrPath, false, {}, "", 4},
        HeaderCase{"CutInTheType", "0", false, 0, "", 0, CutField::kTypeOrPath, false, {}, "", 1},
        HeaderCase{"CutFolder", field("1") + "dir", false, 1, "dir", 0, CutField::kTypeOrPath, false, {}, "", 5},
        HeaderCase{"LengthMissing", field("0") + field("cut"), false, 0, "cut", 0, CutField::kLength, false, {}, "",
                   6},
        HeaderCase{"LengthWithoutNul", field("0") + field("cut") + "12", false, 0, "cut", 12, CutField::kLength,
                   false, {}, "", 8},
        HeaderCase{"SignatureBlock", kSignature + "after", false, 0, kBlockName, 8, CutField::kNone, false, 24,
                   "abcd", static_cast<long>(kSignature.size())},
        HeaderCase{"EmptySignatureNamedFileIsNoBlock", field("0") + field(kBlockName) + field("0") + field("24"),
                   false, 0, kBlockName, 0, CutField::kNone, false, {}, "", 35},
        HeaderCase{"SignatureNamedFolderIsNoBlock", field("1") + field(kBlockName) + field("8"), false, 1,
                   kBlockName, 0, CutField::kNone, false, {}, "", 33},
        HeaderCase{"OverlongPathShiftsTheFields", field("0") + std::string(1023, 'p') + field("") + field("5"), false,
                   0, std::string(1023, 'p'), 0, CutField::kNone, true, {}, "", 1026}),
    [](const testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

// The first read and the re-read of the block take the same text, and the
// longest text the writer may put there (4094 digits) comes back whole.
class SignatureHexLimit : public testing::TestWithParam<std::size_t> {};

TEST_P(SignatureHexLimit, FirstReadAndRereadAgree) {
  const std::string hex(GetParam(), 'a');
  const std::string block = field("0") + field(kBlockName) + field("9") + field("0") + field(hex);
  MemStream first(block);
  testing::internal::CaptureStdout();
  const EntryHeader entry = readEntryHeader(first.stream);
  MemStream again(block);
  const SignatureBlockReread reread = rereadSignatureBlock(again.stream);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(entry.signature.has_value());
  EXPECT_EQ(entry.signature->hex, reread.fields.hex);
  EXPECT_EQ(entry.signature->signedLength, reread.fields.signedLength);
  EXPECT_EQ(reread.name, kBlockName);
  EXPECT_EQ(entry.overlong, GetParam() + 2 > kSignatureHexSize);
  EXPECT_EQ(entry.signature->hex, hex.substr(0, kSignatureHexSize - 1));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SignatureHexLimit, testing::Values(1024u, 4094u, 4095u, 8191u));

TEST(SignatureBlockReread, ReadsFiveFieldsWhateverStandsThere) {
  MemStream in(field("0") + field("evil") + field("1") + "e" + field("0") + field(kBlockName));
  const SignatureBlockReread block = rereadSignatureBlock(in.stream);
  EXPECT_EQ(block.name, "evil");
  EXPECT_EQ(block.fields.signedLength, 0);
  EXPECT_EQ(block.fields.hex, kBlockName);
}

struct PathCase {
  const char* path;
  bool unsafe;
};

class EntryPath : public testing::TestWithParam<PathCase> {};

TEST_P(EntryPath, AbsoluteOrClimbingPathsAreUnsafe) {
  EXPECT_EQ(isUnsafeEntryPath(GetParam().path), GetParam().unsafe) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Paths, EntryPath,
                         testing::Values(PathCase{"a/b", false}, PathCase{"a..b/..c", false}, PathCase{"./d", false},
                                         PathCase{"", false}, PathCase{"..", true}, PathCase{"../x", true},
                                         PathCase{"a/..", true}, PathCase{"a/../../x", true},
                                         PathCase{"/etc/x", true}));

}  // namespace
}  // namespace velmoran
