#include "util/paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "scratch.h"

namespace velmoran {
namespace {

using ::testing::HasSubstr;
using testing::modeOf;
using testing::ScratchDir;

TEST(MakeDirTest, NewFolderGets777AndExistingOneIsLeftAlone) {
  ScratchDir scratch;
  const std::string made = scratch / "made";
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(makeDir(made), 0);
  const std::string log = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(modeOf(made), 0777);
  EXPECT_THAT(log, HasSubstr(" [ChMod] Executing chmod 777 \"" + made + "\"\n"));

  chmod(made.c_str(), 0700);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(makeDir(made), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(modeOf(made), 0700);
}

// Something that is not a folder in the way must not be opened up to everyone.
TEST(MakeDirTest, FailureChangesNoMode) {
  ScratchDir scratch;
  const std::string file = scratch / "file";
  testing::writeFile(file, "x");
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

TEST(MakeDirDeathTest, OverlongPathIsRefused) {
  const std::string path = "/tmp/" + std::string(kMaxPathLength, 'a');
  EXPECT_EXIT(makeDir(path), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace velmoran
