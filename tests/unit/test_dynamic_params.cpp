#include "launcher/dynamic_params.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "splash/splash.h"
#include "test_support.h"
#include "util/log.h"

namespace velmoran {
namespace {

namespace fs = std::filesystem;
using testutil::withoutPrefixes;
using namespace std::string_literals;

const std::string kPlus(48, '+');
const std::string kMinus(48, '-');

struct Section {
  DynamicParams params;
  PropertiesBlock properties;
  std::string log;
  bool refused = false;
};

// Reads a Params section given as the bytes after the marker.
Section readSection(const std::string& bytes) {
  Section s;
  std::string buffer = bytes;
  FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
  EXPECT_NE(stream, nullptr);
  testing::internal::CaptureStdout();
  Result<DynamicParams> read = readDynamicParams(stream, s.properties);
  s.refused = !read.ok();
  if (read.ok()) s.params = *read;
  s.log = withoutPrefixes(testing::internal::GetCapturedStdout());
  std::fclose(stream);
  return s;
}

bool logged(const Section& s, const std::string& text) {
  return s.log.find(text) != std::string::npos;
}

TEST(DynamicParams, AnEmptySectionLogsItsFrameAndReadsNothing) {
  for (const std::string& count : {"0"s, "-3"s}) {
    const Section s = readSection(count + "\0update_url\0http://x/\0"s);
    EXPECT_EQ(s.log, "[Extractor] Found Params marker. Extracting now...\n\n" + kPlus +
                         "\n+++ Processing " + count + " dynamic properties\n" + kPlus + "\n" +
                         kMinus + "\n--- End: Processing dynamic properties\n\n" + kMinus + "\n");
    EXPECT_EQ(s.properties.content(), "");
    EXPECT_FALSE(s.params.updateUrl);
    EXPECT_EQ(s.params.jreName, "");
  }
}

struct LogCase {
  const char* name;
  std::size_t length;
  bool shortened;
  const char* format;  // the record, %s standing for the value as logged
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name << " of " << c.length; }

class ValueLogTest : public ::testing::TestWithParam<LogCase> {};

TEST_P(ValueLogTest, LongValuesAreLoggedShortened) {
  const LogCase& c = GetParam();
  std::string value;
  for (std::size_t i = 0; i < c.length; ++i) value += static_cast<char>('A' + i % 26);
  const Section s = readSection("1\0"s + c.name + "\0"s + value + "\0"s);
  const std::string shown = c.shortened ? value.substr(0, 99) + "..." : value;
  std::string record = c.format;
  record.replace(record.find("%s"), 2, shown);
  EXPECT_TRUE(logged(s, record)) << s.log;
  EXPECT_EQ(s.properties.content(), "vldyna_"s + c.name + "\0"s + value);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ValueLogTest,
    ::testing::Values(
        LogCase{"any", 100, false, "[DynProps] Dynamic Param 0: any=[%s]\n"},
        LogCase{"any", 101, true, "[DynProps] Dynamic Param 0: any=[%s]\n"},
        LogCase{"splash_image", 99, false, "[DynProps] Splash Image is %s\n"},
        LogCase{"splash_image", 100, true, "[DynProps] Splash Image is %s\n"},
        // The pair record of the same value keeps its own threshold.
        LogCase{"splash_image", 100, false, "[DynProps] Dynamic Param 0: splash_image=[%s]\n"}));

TEST(DynamicParams, RecognisedNamesSetTheirValuesAndOthersDoNot) {
  const Section s = readSection(
      "8\0"
      "wrapper_autotest\0false\0"
      "show_no_ui\0true\0"
      "show_no_ui\0false\0"
      "update_url\0http://updates.example/a/\0"
      "UPDATE_URL\0http://wrong/\0"
      "jre_name\0MyJre\0"
      "jre_name \0Other\0"
      "custom\0\0"s);
  EXPECT_TRUE(s.params.autotest);
  EXPECT_TRUE(s.params.noUi);
  EXPECT_EQ(s.params.updateUrl, "http://updates.example/a/");
  EXPECT_EQ(s.params.jreName, "MyJre");
  EXPECT_FALSE(s.params.splashImage);
  EXPECT_TRUE(logged(s, "[DynProps] Dynamic Update URL: http://updates.example/a/\n"));
  EXPECT_TRUE(logged(s, "[DynProps] JRE name from dynamic launch properties is MyJre\n"));
  EXPECT_TRUE(logged(s, "[DynProps] Dynamic Param 7: custom=[]\n"));
  // Every pair is a property, recognised or not, in section order.
  EXPECT_EQ(s.properties.content(),
            "vldyna_wrapper_autotest\0false\0vldyna_show_no_ui\0true\0vldyna_show_no_ui\0false\0"
            "vldyna_update_url\0http://updates.example/a/\0vldyna_UPDATE_URL\0http://wrong/\0"
            "vldyna_jre_name\0MyJre\0vldyna_jre_name \0Other\0vldyna_custom\0\x04"s);
}

TEST(DynamicParams, SplashBufferChangesOnlyWithAValue) {
  setSplashBuffer(7);
  readSection("1\0splash_buffer\0\0"s);
  EXPECT_EQ(getSplashBuffer(), 7);
  readSection("1\0splash_buffer\0abc\0"s);
  EXPECT_EQ(getSplashBuffer(), 0);
  readSection("2\0splash_buffer\0 42px\0splash_buffer\0-5\0"s);
  EXPECT_EQ(getSplashBuffer(), -5);
  readSection("1\0splash_buffer\099999999999\0"s);
  EXPECT_EQ(getSplashBuffer(), INT_MAX);
}

TEST(DynamicParams, TheLastSplashImageWinsEvenWhenItDoesNotDecode) {
  const Section good = readSection("1\0splash_image\0aGVsbG8=\0"s);
  ASSERT_TRUE(good.params.splashImage);
  EXPECT_EQ(std::string(good.params.splashImage->begin(), good.params.splashImage->end()),
            "hello");
  EXPECT_TRUE(logged(good,
                     "[DynProps] Splash Image is aGVsbG8=\n"
                     "[DynProps] Base64 decoding image...\n"
                     "[DynProps] Decode complete\n"));

  const Section replaced = readSection("2\0splash_image\0aGVsbG8=\0splash_image\0abc\0"s);
  EXPECT_FALSE(replaced.params.splashImage);
}

// The name becomes part of folder names and URLs: one too long for a path,
// or one holding "/", is refused; an empty one stays allowed.
// A name the builder refuses would never match its own folder (split at
// "-"), would match the updater's, or would lead out of the master folder.
TEST(DynamicParams, AJreNameThatCannotNameAFolderIsRefused) {
  const std::string longest(4999, 'j');
  EXPECT_EQ(readSection("1\0jre_name\0"s + longest + "\0"s).params.jreName, longest);
  for (const std::string& refused : {""s, std::string(5000, 'j'), "../../x"s, "Test-JRE"s, "Velmoran"s, ".."s}) {
    EXPECT_TRUE(readSection("1\0jre_name\0"s + refused + "\0"s).refused) << refused;
  }
}

struct OverrideCase {
  std::optional<std::string> file;  // none: no override file
  std::string expectedName;
  std::string record;
};

void PrintTo(const OverrideCase& c, std::ostream* os) {
  if (!c.file) {
    *os << "no file";
    return;
  }
  *os << c.file->size() << " bytes:";
  for (char ch : c.file->substr(0, 10)) {
    *os << ' ' << static_cast<int>(static_cast<unsigned char>(ch));
  }
}

class JreOverrideTest : public ::testing::TestWithParam<OverrideCase> {
 protected:
  void SetUp() override {
    master_ = temp_.path();
  }
  testutil::TempDir temp_;
  fs::path master_;
};

TEST_P(JreOverrideTest, TheFileReplacesTheNameUnlessItIsADash) {
  const OverrideCase& c = GetParam();
  if (c.file) {
    fs::create_directory(master_ / "VLApps");
    std::ofstream(master_ / "VLApps" / "JreNameOverride", std::ios::binary) << *c.file;
  }
  std::string jreName = "FromParams";
  testing::internal::CaptureStdout();
  applyJreNameOverride(master_.string(), jreName);
  const std::string log = withoutPrefixes(testing::internal::GetCapturedStdout());
  EXPECT_EQ(jreName, c.expectedName);
  EXPECT_TRUE(log.ends_with(c.record)) << log;
  EXPECT_EQ(fs::exists(master_ / "VLApps"), c.file.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Files, JreOverrideTest,
    ::testing::Values(
        OverrideCase{std::nullopt, "FromParams",
                     "[JREOverride] No JRE name override, will continue to use FromParams\n"},
        OverrideCase{"-", "FromParams",
                     "[JREOverride] Processing JRE Override file (JreNameOverride)\n"
                     "[JREOverride] Ignoring JRE name -, keeping FromParams\n"},
        OverrideCase{"-\n", "FromParams",
                     "[JREOverride] Ignoring JRE name -\n (it must not contain '-' or '/'), keeping FromParams\n"},
        OverrideCase{"", "FromParams", "[JREOverride] Ignoring JRE name  (it is empty), keeping FromParams\n"},
        OverrideCase{"Velmoran", "FromParams",
                     "[JREOverride] Ignoring JRE name Velmoran (it is the updater's own name, Velmoran), keeping "
                     "FromParams\n"},
        OverrideCase{"../../x", "FromParams",
                     "[JREOverride] Processing JRE Override file (JreNameOverride)\n"
                     "[JREOverride] Ignoring JRE name ../../x (it must not contain '-' or '/'), keeping FromParams\n"},
        OverrideCase{"Other Jre\0rest"s, "Other Jre",
                     "[JREOverride] JRE name overriden to Other Jre\n"},
        OverrideCase{std::string(600, 'x'), std::string(499, 'x'),
                     "[JREOverride] JRE name overriden to " + std::string(499, 'x') + "\n"}));

}  // namespace
}  // namespace velmoran
