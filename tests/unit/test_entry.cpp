#include "launcher/entry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace velmoran {
namespace {

TEST(AbsoluteExePath, AbsolutePathIsKept) { EXPECT_EQ(getAbsoluteExePath("/opt/x/../setup"), "/opt/x/../setup"); }

TEST(AbsoluteExePath, RelativePathIsJoinedToTheWorkingDirectoryUnchanged) {
  velmoran::testutil::TempDir dir;
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(getAbsoluteExePath("./setup"), dir.path() + "/./setup");
  EXPECT_EQ(getAbsoluteExePath("setup"), dir.path() + "/setup");
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_EQ(getAbsoluteExePath("setup"), "/setup");
  ASSERT_EQ(chdir(old), 0);
}

TEST(IsSilent, MatchesOnlyAWholeArgument) {
  const std::vector<std::string> args = {"--quiet", "x", "--quiet-mode"};
  EXPECT_TRUE(isSilent("--quiet", args));
  EXPECT_FALSE(isSilent("--quiet", {}));
  EXPECT_FALSE(isSilent("--QUIET", args));
  EXPECT_FALSE(isSilent("--qui", args));
  EXPECT_FALSE(isSilent("", args));
  EXPECT_TRUE(isSilent("--quiet-mode", args));
}

}  // namespace
}  // namespace velmoran
