#include "util/paths.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <cerrno>

#include "format/install_type.h"
#include "install/locations.h"
#include "launch/jre.h"
#include "test_support.h"
#include "util/file.h"
#include "util/log.h"
#include "util/log_file.h"
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
  CaptureStdout();
  EXPECT_FALSE(pathFits(setPath(almost, "bc")));
  EXPECT_THAT(GetCapturedStdout(), HasSubstr("Path of 5000 characters refused (at most 4999)"));
}


struct InstallModeCase {
  const char* installType;
  mode_t mode;
  const char* command;  // as the chmod record spells it
};

void PrintTo(const InstallModeCase& c, std::ostream* os) { *os << "type '" << c.installType << "'"; }

class InstallModeTest : public ::testing::TestWithParam<InstallModeCase> {
 protected:
  void SetUp() override {
    setInstallMode(installModeOf(installTypeOf(GetParam().installType)));
    umask_ = umask(077);
  }
  void TearDown() override {
    umask(umask_);
    setInstallMode(0755);
  }

 private:
  mode_t umask_ = 0;
};

// A home install is one user's: no other local user may put a version folder
// (which would be started) or anything else into it. An install for all users
// is shared, as documented. Every folder the launcher makes and every program
// it marks executable gets the one mode, whatever the umask.
TEST_P(InstallModeTest, FoldersAndProgramsGetTheModeOfTheInstallType) {
  const InstallModeCase& c = GetParam();
  TempDir dir;
  const std::string odd = dir / "new \"quoted\" $HOME";
  const std::string master = dir / "Velmoran-App";
  const std::string jre = dir / "jre";
  ASSERT_EQ(mkdir(jre.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((jre + "/bin").c_str(), 0700), 0);
  testutil::writeFile(jre + "/bin/java", "");
  testutil::writeFile(jre + "/bin/unpack200", "");

  CaptureStdout();
  EXPECT_EQ(makeDir(odd), 0);
  setupFileLogging(master);
  closeLoggedFile();
  const std::optional<std::string> temp = createAppTempFolder(master, "App", "00000000001");
  EXPECT_EQ(chmod777(jre), 0);
  getJavaExecutable(jre);
  getUnpack200Executable(jre);
  const std::string out = GetCapturedStdout();

  EXPECT_THAT(out, HasSubstr("[ChMod] Executing chmod " + std::string(c.command) + " \"" + odd + "\"\n"));
  EXPECT_THAT(out, HasSubstr("[ChMod] Executing chmod " + std::string(c.command) + " \"" + jre + "\"\n"));
  ASSERT_TRUE(temp.has_value());
  for (const std::string& path : {odd, master, master + "/logs", *temp, jre, jre + "/bin/java", jre + "/bin/unpack200"}) {
    EXPECT_EQ(modeOf(path), static_cast<int>(c.mode)) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, InstallModeTest,
                         ::testing::Values(InstallModeCase{"perm_all", 0777, "777"},
                                           InstallModeCase{"perm_user", 0755, "755"},
                                           InstallModeCase{"", 0755, "755"},
                                           InstallModeCase{"PERM_ALL", 0755, "755"}));

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
  EXPECT_NE(GetCapturedStdout().find("[ChMod] Executing chmod 755"), std::string::npos);
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
  EXPECT_THAT(log, HasSubstr(" [ChMod] Executing chmod 755 \"" + file + "\"\n"));

  EXPECT_EQ(makeNewDir(scratch.path()), -1);
  EXPECT_EQ(errno, EEXIST);
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
