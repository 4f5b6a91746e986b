#include "util/log.h"

#include <gtest/gtest.h>

#include <regex>

#include "test_support.h"
#include "util/clock.h"

namespace velmoran {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using velmoran::testutil::lines;
using velmoran::testutil::readFile;
using velmoran::testutil::TempDir;

TEST(Logger, FirstRecordIsPlusZeroAndEightBlanks) {
  resetLogClock();
  CaptureStdout();
  logMessage("[Extractor] hello %d\n", 7);
  EXPECT_EQ(GetCapturedStdout(), "+0        [Extractor] hello 7\n");
}

TEST(Logger, PrefixCountsMillisecondsSinceThePreviousRecordEnded) {
  resetLogClock();
  CaptureStdout();
  const int64_t beforeFirst = systemTimeMillis();
  logMessage("a\n");
  millisleep(30);
  logMessage("b\n");
  const int64_t afterSecond = systemTimeMillis();
  const auto out = lines(GetCapturedStdout());
  ASSERT_EQ(out.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(out[1], m, std::regex(R"(\+(\d+) +b)")));
  // Bounded by what the test itself measured, however slow the machine is.
  const int64_t elapsed = std::stoll(m[1]);
  EXPECT_GE(elapsed, 30);
  EXPECT_LE(elapsed, afterSecond - beforeFirst);
  // Left-justified in eight columns, then one blank.
  EXPECT_EQ(out[1].size(), 1 + 8 + 1 + 1u);
}

TEST(Logger, RecordWithoutNewlineLeavesTheNextPrefixOnTheSameLine) {
  resetLogClock();
  CaptureStdout();
  logMessage("no line end");
  logMessage("next\n");
  EXPECT_EQ(GetCapturedStdout(), "+0        no line end+0        next\n");
}

TEST(Logger, ErrorIsFramedByTwoBannerRecords) {
  resetLogClock();
  CaptureStdout();
  logError("Launch Error %d.\n", 2);
  const std::string banner(43, '*');
  EXPECT_EQ(GetCapturedStdout(),
            "+0        " + banner + "\n+0        Launch Error 2.\n+0        " + banner + "\n");
}

TEST(Logger, SectionsUseLinesOfPlusAndMinusSigns) {
  resetLogClock();
  CaptureStdout();
  logStartSection("Launching");
  logEndSection("Spawn launch\n");
  const std::string plus(48, '+'), minus(48, '-');
  EXPECT_EQ(GetCapturedStdout(), "+0        " + plus + "\n+0        +++ Start: Launching\n+0        " + plus +
                                     "\n+0        " + minus + "\n+0        --- End: Spawn launch\n\n+0        " +
                                     minus + "\n");
}

TEST(Logger, FileLoggingCreatesTheFoldersAndGetsEveryLaterRecord) {
  TempDir dir;
  const std::string master = dir / "Velmoran-App";
  CaptureStdout();
  const std::string logFile = setupFileLogging(master);
  logMessage("[Extractor] after\n");
  closeLoggedFile();
  logMessage("[Extractor] closed\n");
  const std::string console = GetCapturedStdout();

  EXPECT_TRUE(std::regex_match(logFile, std::regex(master + R"(/logs/Wrapper-\d{4}(-\d\d){5}-\d{3}\.log)")))
      << logFile;
  EXPECT_EQ(velmoran::testutil::modeOf(master + "/logs"), 0777);
  EXPECT_NE(console.find("[Extractor] Logging to " + logFile + "\n"), std::string::npos);
  EXPECT_NE(console.find("[Extractor] closed\n"), std::string::npos);

  // The announcement reaches the console only; the file starts with the next
  // record and ends with the closing one.
  const auto fileLines = lines(readFile(logFile));
  ASSERT_EQ(fileLines.size(), 2u);
  EXPECT_NE(fileLines[0].find("[Extractor] after"), std::string::npos);
  EXPECT_NE(fileLines[1].find("[Utils] Closing logging file."), std::string::npos);
  EXPECT_EQ(getFileToLogTo(), nullptr);
}

TEST(Logger, UnwritableLogFolderLeavesTheConsoleOnly) {
  CaptureStdout();
  setupFileLogging("/proc/velmoran-no-such-folder");
  logMessage("still here\n");
  const std::string console = GetCapturedStdout();
  EXPECT_EQ(getFileToLogTo(), nullptr);
  EXPECT_NE(console.find("still here"), std::string::npos);
}

}  // namespace
}  // namespace velmoran
