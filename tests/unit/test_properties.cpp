#include "launch/properties.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <set>
#include <vector>

#include "test_support.h"
#include "util/file.h"

namespace velmoran {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using velmoran::testutil::readFile;
using velmoran::testutil::TempDir;

TEST(PropertiesBlock, EmptyBlockIsTwoNulBytes) {
  PropertiesBlock block;
  EXPECT_EQ(propsLen(block), 0);
  EXPECT_EQ(block.bytes(), std::string(2, '\0'));
}

TEST(PropertiesBlock, EntriesAreSeparatedByOneNulAndEndedByTwo) {
  PropertiesBlock block;
  appendProp(block, "a");
  appendProp(block, "b");
  EXPECT_EQ(block.bytes(), std::string("a\0b\0\0", 5));
  EXPECT_EQ(propsLen(block), 3);
}

TEST(PropertiesBlock, StaticPropertyBytes) {
  PropertiesBlock block;
  addStaticProperty(block, "a", "b");
  EXPECT_EQ(block.bytes(), std::string("vlstat_a\0b\0\0", 12));
  EXPECT_EQ(propsLen(block), 10);
}

TEST(PropertiesBlock, EmptyTextsUseTheMarkAndEmptyNamesTheBarePrefix) {
  PropertiesBlock block;
  addDynamicProperty(block, "", "");
  addStaticProperty(block, "k", "");
  EXPECT_EQ(block.bytes(), std::string("vldyna_\0\x04\0vlstat_k\0\x04\0\0", 22));
}

TEST(PropertiesBlock, RepeatedKeysKeepBothPairsInOrder) {
  PropertiesBlock block;
  addStaticProperty(block, "update_url", "one");
  addStaticProperty(block, "update_url", "two");
  EXPECT_EQ(block.content(), std::string("vlstat_update_url\0one\0vlstat_update_url\0two", 43));
}

TEST(PropertiesBlock, ExtendJoinsTheLastEntry) {
  PropertiesBlock block;
  appendProp(block, "vlstat_");
  extendProp(block, "name");
  extendProp(block, "");
  EXPECT_EQ(block.content(), "vlstat_name");
}

TEST(LaunchPropertiesFile, NameEndsWithTheEntryCountOfTheFolder) {
  TempDir dir;
  for (const char* f : {"a", "b", "c"}) velmoran::testutil::writeFile(dir / f, "x");
  const std::string name = makeLaunchPropertiesFile(dir.path());
  EXPECT_TRUE(std::regex_match(name, std::regex(dir.path() + R"(/VLLaunchProperties-\d{13}-5)"))) << name;
  EXPECT_TRUE(std::regex_match(makeLaunchPropertiesFile(dir / "missing"),
                               std::regex(dir.path() + R"(/missing/VLLaunchProperties-\d+-0)")));
}

TEST(LaunchPropertiesFile, HoldsExactlyTheContentBytes) {
  TempDir dir;
  PropertiesBlock block;
  addDynamicProperty(block, "jre_name", "Linux64JRE");
  addStaticProperty(block, "min_splash_ms", "");
  CaptureStdout();
  const std::string path = *writeLaunchPropertiesFile(block, dir.path());
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(readFile(path), std::string("vldyna_jre_name\0Linux64JRE\0vlstat_min_splash_ms\0\x04", 49));
  EXPECT_NE(out.find("[Extractor] Launch properties length is 49\n"), std::string::npos);
  EXPECT_NE(out.find("[Extractor] Finished writing launch properties file\n"), std::string::npos);
}

// Each attempt fails: the open (a folder that refuses new files), or the
// write after it (a disk that stays full; a file size limit stands in for it).
struct UnwritableCase {
  const char* name;
  bool diskFull;
};

class UnwritableLaunchProperties : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritableLaunchProperties, EndsTheRunWith99AfterSixAttempts) {
  TempDir dir;
  // The child's output goes through a pipe: a file would fall under the size limit too.
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const std::string folder = GetParam().diskFull ? dir / "app" : "/proc/velmoran-no-such-folder";
  mkdir((dir / "app").c_str(), 0755);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (GetParam().diskFull) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{8, 8};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    PropertiesBlock block;
    addStaticProperty(block, "app_dir", std::string(100, 'x'));
    std::_Exit(writeLaunchPropertiesFile(block, folder).status().exitStatus());
  }
  close(out[1]);
  std::string text;
  char piece[4096];
  for (ssize_t n; (n = read(out[0], piece, sizeof piece)) > 0;) text.append(piece, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::size_t retries = 0;
  for (std::size_t at = 0; (at = text.find("[Retry] Writing launch properties to", at)) != std::string::npos; ++at) {
    ++retries;
  }
  EXPECT_EQ(retries, 5u);
  EXPECT_NE(text.find("Unable to write Launch Properties file! Cannot run!"), std::string::npos);
  EXPECT_EQ(text.find("Finished writing launch properties file"), std::string::npos);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 99);
  // No truncated file is left for anyone to take as written.
  EXPECT_EQ(countFolderEntries((dir / "app").c_str()), 2);
}

INSTANTIATE_TEST_SUITE_P(Attempts, UnwritableLaunchProperties,
                         ::testing::Values(UnwritableCase{"OpenRefused", false}, UnwritableCase{"DiskFull", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A launch keeps the newest 5 launch properties files of its folder (its own
// among them): newest by the time in the name, then by the count, as numbers.
struct OldPropertiesCase {
  const char* name;
  std::vector<std::string> older;   // of the kind, oldest first
  int removed;                      // how many of them go
  std::vector<std::string> others;  // names not of the kind
};

class OldLaunchPropertiesFiles : public ::testing::TestWithParam<OldPropertiesCase> {};

TEST_P(OldLaunchPropertiesFiles, AllButTheNewestFiveGo) {
  const OldPropertiesCase& c = GetParam();
  TempDir dir;
  std::set<std::string> kept(c.others.begin(), c.others.end());
  for (std::size_t i = 0; i < c.older.size(); ++i) {
    if (static_cast<int>(i) >= c.removed) kept.insert(c.older[i]);
  }
  for (const auto* names : {&c.older, &c.others}) {
    for (const std::string& name : *names) velmoran::testutil::writeFile(dir / name, "old");
  }
  CaptureStdout();
  kept.insert(std::filesystem::path(*writeLaunchPropertiesFile(PropertiesBlock(), dir.path())).filename());
  GetCapturedStdout();

  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.insert(entry.path().filename());
  EXPECT_EQ(left, kept);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, OldLaunchPropertiesFiles,
    ::testing::Values(
        OldPropertiesCase{"FourOthersStay",
                          {"VLLaunchProperties-1000-3", "VLLaunchProperties-1001-4", "VLLaunchProperties-1002-5",
                           "VLLaunchProperties-1003-6"},
                          0,
                          {}},
        // 999 is older than 1000, and count 9 than count 10.
        OldPropertiesCase{"TheOldestBeyondThemGo",
                          {"VLLaunchProperties-999-20", "VLLaunchProperties-1000-9", "VLLaunchProperties-1000-10",
                           "VLLaunchProperties-1000-11", "VLLaunchProperties-2000-2", "VLLaunchProperties-10000-3"},
                          2,
                          {}},
        OldPropertiesCase{"NamesNotOfTheKindStay",
                          {"VLLaunchProperties-2000-3", "VLLaunchProperties-2001-4", "VLLaunchProperties-2002-5",
                           "VLLaunchProperties-2003-6"},
                          0,
                          {"VLLaunchProperties-1000", "VLLaunchProperties-1000-3.tmp", "VLLaunchProperties--3",
                           "VLLaunchProperties-1000-3-4", "VLLaunchProperties-x1000-3", "vllaunchproperties-1000-3",
                           "VLLaunchProperties-1000-123456789012345678901"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran
