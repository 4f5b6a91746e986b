#include "launch/properties.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "test_support.h"

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
  const std::string path = writeLaunchPropertiesFile(block, dir.path());
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(readFile(path), std::string("vldyna_jre_name\0Linux64JRE\0vlstat_min_splash_ms\0\x04", 49));
  EXPECT_NE(out.find("[Extractor] Launch properties length is 49\n"), std::string::npos);
  EXPECT_NE(out.find("[Extractor] Finished writing launch properties file\n"), std::string::npos);
}

TEST(LaunchPropertiesFile, UnwritableFolderEndsTheRunWith99AfterSixAttempts) {
  EXPECT_EXIT(
      {
        PropertiesBlock block;
        writeLaunchPropertiesFile(block, "/proc/velmoran-no-such-folder");
      },
      ::testing::ExitedWithCode(99), "");
  TempDir dir;
  const std::string log = dir / "out";
  // The retry records and the closing error, checked in a child's captured output.
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(log.c_str(), "w", stdout);
    PropertiesBlock block;
    writeLaunchPropertiesFile(block, "/proc/velmoran-no-such-folder");
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string text = readFile(log);
  std::size_t retries = 0;
  for (std::size_t at = 0; (at = text.find("[Retry] Writing launch properties to", at)) != std::string::npos; ++at) {
    ++retries;
  }
  EXPECT_EQ(retries, 5u);
  EXPECT_NE(text.find("Unable to write Launch Properties file! Cannot run!"), std::string::npos);
  EXPECT_EQ(WEXITSTATUS(status), 99);
}

}  // namespace
}  // namespace velmoran
