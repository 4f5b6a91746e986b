#include "util/log.h"
#include "util/log_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <set>
#include <vector>
#include <regex>

#include "test_support.h"
#include "util/clock.h"
#include "util/strings.h"

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
  reopenLoggedFile();
  logMessage("[Extractor] reopened\n");
  closeLoggedFile();
  const std::string console = GetCapturedStdout();

  EXPECT_TRUE(std::regex_match(logFile, std::regex(master + R"(/logs/Wrapper-\d{4}(-\d\d){5}-\d{3}\.log)")))
      << logFile;
  EXPECT_EQ(velmoran::testutil::modeOf(master + "/logs"), 0755);
  EXPECT_NE(console.find("[Extractor] Logging to " + logFile + "\n"), std::string::npos);
  EXPECT_NE(console.find("[Extractor] closed\n"), std::string::npos);

  // The announcement reaches the console only; the file starts with the next
  // record, ends with the closing one, and goes on after a reopening.
  const auto fileLines = lines(readFile(logFile));
  ASSERT_EQ(fileLines.size(), 4u);
  EXPECT_NE(fileLines[0].find("[Extractor] after"), std::string::npos);
  EXPECT_NE(fileLines[1].find("[Utils] Closing logging file."), std::string::npos);
  EXPECT_NE(fileLines[2].find("[Extractor] reopened"), std::string::npos);
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

// The log file's name is new for every run: a link put at it leaves the run
// logging to the console alone.
TEST(Logger, ALinkAtTheLogFilesNameLeavesTheConsoleOnly) {
  TempDir dir;
  const std::string master = dir / "master", outside = dir / "outside";
  ASSERT_EQ(mkdir(master.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((master + "/logs").c_str(), 0755), 0);
  velmoran::testutil::writeFile(outside, "someone else's");
  std::string logFile, console;
  bool planted = false, toFile = false;
  // The name carries the millisecond: links go at the names of the next ten,
  // until the launcher's own clock reading falls among them.
  for (const int64_t deadline = systemTimeMillis() + 30000; !planted && systemTimeMillis() < deadline;) {
    std::filesystem::remove_all(master + "/logs");
    ASSERT_EQ(mkdir((master + "/logs").c_str(), 0755), 0);
    CaptureStdout();
    const std::time_t now = std::time(nullptr);
    const int ms = getJustMillis();
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H-%M-%S", &local);
    std::vector<std::string> names;
    for (int next = ms; next < ms + 10 && next < 1000; ++next) {
      names.push_back(master + "/logs/Wrapper-" + stamp + format("-%03d.log", next));
      ASSERT_EQ(symlink(outside.c_str(), names.back().c_str()), 0);
    }
    logFile = setupFileLogging(master);
    logMessage("[Extractor] a record\n");
    console = GetCapturedStdout();
    planted = std::find(names.begin(), names.end(), logFile) != names.end();
    toFile = getFileToLogTo() != nullptr;
    if (toFile) std::fclose(getFileToLogTo());
    setFileToLogTo(nullptr);
  }
  ASSERT_TRUE(planted);
  EXPECT_FALSE(toFile);
  EXPECT_THAT(console, ::testing::HasSubstr("[Extractor] Unable to create the log file " + logFile +
                                            " (File exists); logging to standard output only\n"));
  EXPECT_THAT(console, ::testing::HasSubstr("[Extractor] a record\n"));
  EXPECT_EQ(readFile(outside), "someone else's");
}

// Others can put a link at the "logs" folder of a master folder open to all:
// no log file is made through it.
TEST(Logger, ALinkAtTheLogFolderLeavesTheConsoleOnly) {
  TempDir dir;
  const std::string master = dir / "master", outside = dir / "outside";
  ASSERT_EQ(mkdir(master.c_str(), 0777), 0);
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.c_str(), (master + "/logs").c_str()), 0);
  CaptureStdout();
  const std::string logFile = setupFileLogging(master);
  logMessage("[Extractor] a record\n");
  const std::string console = GetCapturedStdout();
  EXPECT_EQ(getFileToLogTo(), nullptr);
  EXPECT_THAT(console, ::testing::HasSubstr("[Extractor] Unable to create the log file " + logFile +
                                            " (its folder is a link or not a folder); logging to standard "
                                            "output only\n"));
  EXPECT_TRUE(std::filesystem::is_empty(outside));
}

// A master folder keeps its newest 20 log files. Only regular files of the
// exact name pattern go: in a folder open to all users a link, a folder or a
// FIFO may stand at such a name (here the newest ones), and they stay and
// take no place among those kept.
struct OldLogsCase {
  const char* name;
  const char* year;                 // of the older log files, one a second from January 1st
  int logs;                         // how many
  int removed;                      // the oldest that go
  std::vector<std::string> others;  // regular files whose names are not of the kind
};

class OldLogFiles : public ::testing::TestWithParam<OldLogsCase> {};

std::string logName(const char* year, int second) {
  return format("Wrapper-%s-01-01-00-%02d-%02d-000.log", year, second / 60, second % 60);
}

TEST_P(OldLogFiles, AllButTheNewest20Go) {
  const OldLogsCase& c = GetParam();
  TempDir dir;
  const std::string master = dir / "master", logs = master + "/logs", outside = dir / "outside";
  std::filesystem::create_directories(logs);
  velmoran::testutil::writeFile(outside, "someone else's");
  ASSERT_EQ(symlink(outside.c_str(), (logs + "/" + logName("3000", 0)).c_str()), 0);
  ASSERT_EQ(mkdir((logs + "/" + logName("3000", 1)).c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((logs + "/" + logName("3000", 2)).c_str(), 0644), 0);
  std::set<std::string> kept{logName("3000", 0), logName("3000", 1), logName("3000", 2)};
  for (int second = 0; second < c.logs; ++second) {
    velmoran::testutil::writeFile(logs + "/" + logName(c.year, second), "an old log");
    if (second >= c.removed) kept.insert(logName(c.year, second));
  }
  for (const std::string& other : c.others) {
    velmoran::testutil::writeFile(logs + "/" + other, "not a log");
    kept.insert(other);
  }

  CaptureStdout();
  const std::string own = setupFileLogging(master);
  closeLoggedFile();
  const std::string console = GetCapturedStdout();
  kept.insert(std::filesystem::path(own).filename());

  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(logs)) left.insert(entry.path().filename());
  EXPECT_EQ(left, kept);
  EXPECT_EQ(readFile(outside), "someone else's");
  EXPECT_EQ(console.find(format("[Extractor] Removed %d old log files", c.removed)) != std::string::npos,
            c.removed > 0)
      << console;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, OldLogFiles,
    ::testing::Values(OldLogsCase{"NineteenOthersStay", "2001", 19, 0, {}},
                      OldLogsCase{"TheOldestBeyondThemGo", "2001", 25, 6, {}},
                      // This run's file stays even where the clock was set back.
                      OldLogsCase{"ThisRunsFileStaysWhenOthersSeemNewer", "2999", 25, 6, {}},
                      OldLogsCase{"NamesNotOfTheKindStay", "2001", 19, 0,
                                  {"Wrapper-2000-01-01-00-00-00-000.log.gz", "Wrapper-2000-01-01-00-00-00.log",
                                   "wrapper-2000-01-01-00-00-00-000.log", "Wrapper-2000-01-01-00-00-0x-000.log",
                                   "Wrapper-20000-01-01-00-00-00-000.log"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran
