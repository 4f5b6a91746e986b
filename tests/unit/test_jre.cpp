#include "launch/jre.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "log_capture.h"
#include "test_support.h"
#include "util/file.h"
#include "util/paths.h"

namespace velmoran {
namespace {

using testutil::LogCapture;
using testutil::TempDir;

// A JRE folder whose bin/java runs the given shell script body.
std::string fakeJre(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string jre = dir / name;
  makeDir(jre);
  makeDir(jre + "/bin");
  testutil::writeFile(jre + "/bin/java", "#!/bin/sh\n" + body + "\n");
  chmod((jre + "/bin/java").c_str(), 0755);
  return jre;
}

struct BannerCase {
  const char* body;         // what the fake java does
  const char* version;      // what getJavaVersion reads
  const char* required;
  bool matches;
};

class JavaVersion : public testing::TestWithParam<BannerCase> {};

TEST_P(JavaVersion, IsReadFromTheBanner) {
  TempDir dir;
  const std::string java = getJavaExecutable(fakeJre(dir, "jre", GetParam().body));
  LogCapture log;
  EXPECT_EQ(getJavaVersion(java), GetParam().version);
  EXPECT_EQ(jreMatchesVersionRequirement(java, std::string(GetParam().required)), GetParam().matches);
  EXPECT_TRUE(log.contains(std::string("[Extractor] Checking JRE version requirements: ") + GetParam().version +
                           " vs required " + GetParam().required + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Banners, JavaVersion,
    testing::Values(
        BannerCase{"echo 'openjdk version \"1.8.0_292\"' >&2", "8", "8", true},
        BannerCase{"echo 'openjdk version \"1.8.0_292\"' >&2", "8", "9", false},
        BannerCase{"echo 'java version \"1.7.0_80\"'", "7", "8", false},
        BannerCase{"printf 'openjdk version \"11.0.2\" 2019-01-15\\nOpenJDK Runtime 1.2.3\\n' >&2", "11", "8", true},
        BannerCase{"echo 'openjdk version \"17\" 2021-09-14' >&2", "17", "17", true},
        BannerCase{"echo 'Picked up JAVA_TOOL_OPTIONS: -Dx=1.2' >&2; echo 'openjdk version \"21.0.1\"' >&2", "21",
                   "17", true},
        BannerCase{"echo 'openjdk version \"18-ea\"' >&2", "18-ea", "18", true},
        BannerCase{"echo 'Picked up _JAVA_OPTIONS: -Dname=\"1.2.3\"' >&2; echo 'openjdk version \"17.0.2\"' >&2",
                   "17", "17", true},
        BannerCase{"exit 1", "0", "", true}, BannerCase{"exit 0", "0", "8", false},
        BannerCase{"echo 'no version here 1.2.3' >&2", "0", "1", false}));

TEST(JavaVersionCheck, MissingRequirementIsNoMatch) {
  TempDir dir;
  const std::string java = getJavaExecutable(fakeJre(dir, "jre", "echo 'openjdk version \"17\"' >&2"));
  LogCapture log;
  EXPECT_FALSE(jreMatchesVersionRequirement(java, std::nullopt));
  EXPECT_TRUE(log.contains("[Extractor] Versions for JREs could not be detected (0,1)\n"));
}

TEST(JavaVersionCheck, PathIsNotInterpretedByTheShell) {
  TempDir dir;
  const std::string java =
      getJavaExecutable(fakeJre(dir, "a \"b\" $HOME `x` \\y", "echo 'openjdk version \"1.8.0\"' >&2"));
  EXPECT_EQ(getJavaVersion(java), "8");
}

TEST(JavaVersionCheck, RealJdk17) {
  const std::string java = "/usr/lib/jvm/java-17-openjdk-amd64/bin/java";
  if (!testutil::exists(java)) GTEST_SKIP() << "no OpenJDK 17 at " << java;
  EXPECT_EQ(getJavaVersion(java), "17");
  EXPECT_TRUE(jreMatchesVersionRequirement(java, std::string("11")));
}

TEST(JreExecutables, AreJoinedOnceAndMadeExecutable) {
  TempDir dir;
  const std::string jre = fakeJre(dir, "jre", "exit 0");
  testutil::writeFile(jre + "/bin/unpack200", "");
  LogCapture log;
  EXPECT_EQ(getJavaExecutable(jre + "/"), jre + "/bin/java");
  EXPECT_EQ(testutil::modeOf(jre + "/bin/java"), 0755);
  testing::internal::CaptureStdout();
  EXPECT_EQ(getUnpack200Executable(jre), jre + "/bin/unpack200");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(testutil::modeOf(jre + "/bin/unpack200"), 0755);
  EXPECT_NE(out.find("[Locating UP200] " + jre + "\n[Locating UP200] " + jre + "/bin\n[Locating UP200] Result is " +
                     jre + "/bin/unpack200\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(log.contains("Error"));
}

TEST(JreExecutables, MissingOnesAreLoggedAndStillReturned) {
  TempDir dir;
  LogCapture log;
  EXPECT_EQ(getJavaExecutable(dir.path()), dir.path() + "/bin/java");
  EXPECT_TRUE(log.contains("Error setting java to executable!\n"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(getUnpack200Executable(dir.path()), dir.path() + "/bin/unpack200");
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(log.contains("Error setting unpack200 to executable!\n"));
}

TEST(CaCerts, ReplaceTheJresStore) {
  TempDir dir;
  const std::string jre = dir / "jre";
  makeDir(jre);
  testutil::writeFile(dir / "cacerts", "ours");

  {  // no store yet: copied directly
    makeDir(jre + "/lib");
    makeDir(jre + "/lib/security");
    LogCapture log;
    overrideCACerts(dir / "cacerts", jre);
    EXPECT_EQ(testutil::readFile(jre + "/lib/security/cacerts"), "ours");
    EXPECT_TRUE(log.contains("[Extractor] CACerts path " + dir / "cacerts" + " exists\n"));
    EXPECT_TRUE(log.contains("[Extractor] TargetCACerts path is " + jre + "/lib/security/cacerts\n"));
    EXPECT_FALSE(log.contains("Removing old cacerts"));
  }
  {  // an existing store is removed first
    testutil::writeFile(jre + "/lib/security/cacerts", "theirs, and longer");
    LogCapture log;
    overrideCACerts(dir / "cacerts", jre);
    EXPECT_EQ(testutil::readFile(jre + "/lib/security/cacerts"), "ours");
    EXPECT_TRUE(log.contains("[Extractor] Removing old cacerts file\n[Extractor] Result = 0\n"));
  }
  {  // a store that is a dangling link is replaced, never created through
    std::remove((jre + "/lib/security/cacerts").c_str());
    ASSERT_EQ(symlink((dir / "system-cacerts").c_str(), (jre + "/lib/security/cacerts").c_str()), 0);
    LogCapture log;
    overrideCACerts(dir / "cacerts", jre);
    EXPECT_EQ(testutil::readFile(jre + "/lib/security/cacerts"), "ours");
    EXPECT_FALSE(testutil::exists(dir / "system-cacerts"));
    EXPECT_TRUE(log.contains("[Extractor] Removing old cacerts file\n[Extractor] Result = 0\n"));
  }
  {  // no replacement: nothing happens
    testutil::writeFile(jre + "/lib/security/cacerts", "theirs");
    LogCapture log;
    overrideCACerts(dir / "missing", jre);
    EXPECT_EQ(testutil::readFile(jre + "/lib/security/cacerts"), "theirs");
    EXPECT_EQ(log.text(), "");
  }
}

}  // namespace
}  // namespace velmoran
