#include "util/paths.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <cerrno>

#include "test_support.h"
#include "util/strings.h"

namespace velmoran {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using velmoran::testutil::modeOf;
using velmoran::testutil::TempDir;
using ::testing::HasSubstr;

struct JoinCase {
  const char* base;
  const char* name;
  const char* joined;
};

class PathJoin : public ::testing::TestWithParam<JoinCase> {};

TEST_P(PathJoin, InsertsOneSlashUnlessTheBaseEndsWithOne) {
  std::string base = GetParam().base;
  EXPECT_EQ(pathcat(base, GetParam().name), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathJoin,
                         ::testing::Values(JoinCase{"/opt/x", "y", "/opt/x/y"}, JoinCase{"/opt/x/", "y", "/opt/x/y"},
                                           JoinCase{"/opt/x", "", "/opt/x/"},
                                           JoinCase{"/opt/x", "/y", "/opt/x//y"},
                                           JoinCase{"opt", "../y", "opt/../y"}, JoinCase{"", "y", "y"}));

TEST(SetPath, JoinsUpToThreeComponents) {
  EXPECT_EQ(setPath("opt", "app", "lib"), "opt/app/lib");
  EXPECT_EQ(setPath("opt/", "app"), "opt/app");
  EXPECT_EQ(setPath("/a/b/", "Velmoran-X"), "/a/b/Velmoran-X");
}

TEST(SetPath, RefusesPathsLongerThanTheLimit) {
  const std::string almost(kMaxPathLength - 2, 'a');
  EXPECT_EQ(setPath(almost, "b").size(), kMaxPathLength);
  EXPECT_EXIT(setPath(almost, "bc"), ::testing::ExitedWithCode(1), "");
}

TEST(MakeDir, CreatesWithMode777WhateverTheUmask) {
  TempDir dir;
  const mode_t old = umask(022);
  CaptureStdout();
  EXPECT_EQ(makeDir(dir / "new \"quoted\" $HOME"), 0);
  const std::string out = GetCapturedStdout();
  umask(old);
  EXPECT_EQ(modeOf(dir / "new \"quoted\" $HOME"), 0777);
  EXPECT_NE(out.find("[ChMod] Executing chmod 777 \"" + (dir / "new \"quoted\" $HOME") + "\"\n"),
            std::string::npos);
}

TEST(MakeDir, LeavesAnExistingFolderAloneAndRunsNoCommand) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "old").c_str(), 0700), 0);
  CaptureStdout();
  EXPECT_EQ(makeDir(dir / "old"), 0);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(modeOf(dir / "old"), 0700);
}

TEST(MakeDir, FailsWhenTheParentIsMissing) {
  TempDir dir;
  CaptureStdout();
  EXPECT_EQ(makeDir(dir / "missing/child"), -1);
  EXPECT_NE(GetCapturedStdout().find("[ChMod] Executing chmod 777"), std::string::npos);
}

// Something that is not a folder in the way must not be opened up to everyone.
TEST(MakeDir, FailureChangesNoMode) {
  TempDir scratch;
  const std::string file = scratch / "file";
  testutil::writeFile(file, "x");
  chmod(file.c_str(), 0600);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(makeDir(file), -1);
  EXPECT_EQ(makeDir(scratch / "no/parent"), -1);
  const std::string log = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(modeOf(file), 0600);
  EXPECT_THAT(log, HasSubstr(" [ChMod] Executing chmod 777 \"" + file + "\"\n"));

  EXPECT_EQ(makeNewDir(scratch.path()), -1);
  EXPECT_EQ(errno, EEXIST);
}

TEST(MakeDirDeath, OverlongPathIsRefused) {
  const std::string path = "/tmp/" + std::string(kMaxPathLength, 'a');
  EXPECT_EXIT(makeDir(path), ::testing::ExitedWithCode(1), "");
}

TEST(Strings, FindAndCut) {
  EXPECT_EQ(indexOf("ab-cd-ef", '-', 2), 5);
  EXPECT_EQ(indexOf("ab-cd-ef", '-', 3), -1);
  EXPECT_EQ(indexOf("ab-cd-ef", '-', 0), -1);
  EXPECT_EQ(lastIndexOf("usr/lib/jvm", '/'), 7);
  EXPECT_EQ(lastIndexOf("usr", '/'), -1);
  EXPECT_EQ(lastIndexOf("", '/'), -1);
  EXPECT_EQ(allocSubstring("00054022298-complete", 0, 11), "00054022298");
}

}  // namespace
}  // namespace velmoran
