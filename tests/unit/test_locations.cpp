#include "install/locations.h"

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>
#include <vector>

#include "test_support.h"
#include "util/strings.h"

namespace velmoran {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::TempDir;

struct Child {
  pid_t pid;
  int output;
};

// Forks a child that runs body with the write end of a pipe, then exits.
Child startChild(const std::function<void(int)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, -1};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    body(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  return {pid, fds[0]};
}

// What the child wrote, once it has ended.
std::string collect(const Child& child) {
  std::string out;
  char chunk[512];
  for (ssize_t got; (got = read(child.output, chunk, sizeof chunk)) > 0;) out.append(chunk, got);
  close(child.output);
  waitpid(child.pid, nullptr, 0);
  return out;
}

void writeAll(int fd, const std::string& text) {
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(2);
}

uid_t uidWithoutEntry() {
  uid_t uid = 61000;
  while (getpwuid(uid) != nullptr) ++uid;
  return uid;
}

TEST(LocationsTest, AppFolderJoinsWithOneSlash) {
  EXPECT_EQ(makeAppFolder("/a/b", "Velmoran", "00035090611"),
            "/a/b/Velmoran-Velmoran-00035090611-complete");
  EXPECT_EQ(makeAppFolder("/a/b/", "Velmoran", "00035090611"),
            "/a/b/Velmoran-Velmoran-00035090611-complete");
}

struct FolderNameCase {
  const char* name;
  const char* component;
  bool matches;
  int64_t version;
};

void PrintTo(const FolderNameCase& c, std::ostream* os) { *os << c.name << " as " << c.component; }

class FolderNameTest : public ::testing::TestWithParam<FolderNameCase> {};

TEST_P(FolderNameTest, FieldsAreReadBetweenDashes) {
  const FolderNameCase& c = GetParam();
  EXPECT_EQ(checkAppFolderName(c.name, c.component) == 0, c.matches);
  EXPECT_EQ(pickVersionFromAppFolderName(c.name), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FolderNameTest,
    ::testing::Values(FolderNameCase{"Velmoran-MyApp-00054022298-complete", "MyApp", true, 54022298},
                      FolderNameCase{"Velmoran-MyApp-00054022298-complete", "myapp", false, 54022298},
                      FolderNameCase{"Velmoran-MyApp-00054022298", "MyApp", true, -1},
                      FolderNameCase{"Velmoran-MyApp", "MyApp", false, -1},
                      FolderNameCase{"Velmoran-My-App-00000000001-complete", "My-App", false, 0},
                      FolderNameCase{"Velmoran-MyApp--complete", "MyApp", true, 0},
                      FolderNameCase{"VelmoranTemp-1700000000-2-app", "Velmoran", false, 2}));

TEST(PickLatestTest, ComparesVersionsAsIntegers) {
  TempDir master;
  for (const char* name : {"Velmoran-MyApp-00000000009-complete", "Velmoran-MyApp-00000000010-complete",
                           "Velmoran-Other-00000000099-complete", "Velmoran-MyApp-00000000077",
                           "VelmoranTemp-1700000000-5-app"}) {
    ASSERT_EQ(mkdir((master / name).c_str(), 0755), 0);
  }
  ::testing::internal::CaptureStdout();
  const std::optional<std::string> latest = pickAndAllocLatestFromMaster(master.path(), "MyApp");
  const std::string log = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(latest, "Velmoran-MyApp-00000000010-complete");
  EXPECT_THAT(log, HasSubstr(" [PickFolder] Folder Velmoran-MyApp-00000000009-complete matches "
                             "MyApp with version 9\n"));
  EXPECT_THAT(log, HasSubstr(" [PickFolder] Set latest to 10 Velmoran-MyApp-00000000010-complete\n"));
  // A matching folder without a version field is logged, never chosen.
  EXPECT_THAT(log, HasSubstr(" [PickFolder] Folder Velmoran-MyApp-00000000077 matches MyApp with "
                             "version -1\n"));
  EXPECT_THAT(log, Not(HasSubstr("Other")));
}

TEST(PickLatestTest, NoneWithoutAMatchingVersion) {
  TempDir master;
  ASSERT_EQ(mkdir((master / "Velmoran-MyApp-00054022298").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((master / "Velmoran-My-App-00054022298-complete").c_str(), 0755), 0);
  EXPECT_EQ(pickAndAllocLatestFromMaster(master.path(), "MyApp"), std::nullopt);
  EXPECT_EQ(pickAndAllocLatestFromMaster(master.path(), "My-App"), std::nullopt);
  EXPECT_EQ(pickAndAllocLatestFromMaster(master / "missing", "MyApp"), std::nullopt);
}

TEST(PickLatestTest, EqualVersionsGoToTheFirstInDirectoryOrder) {
  TempDir master;
  for (const char* name : {"Velmoran-MyApp-00000000010-complete", "Velmoran-MyApp-00000000010-copy",
                           "Velmoran-MyApp-10-x"}) {
    ASSERT_EQ(mkdir((master / name).c_str(), 0755), 0);
  }
  std::string first;
  DIR* dir = opendir(master.path().c_str());
  while (const dirent* entry = readdir(dir)) {
    if (std::string(entry->d_name).size() > 2) {
      first = entry->d_name;
      break;
    }
  }
  closedir(dir);
  EXPECT_EQ(pickAndAllocLatestFromMaster(master.path(), "MyApp"), first);
}

TEST(TempFolderTest, NameCarriesSecondsAndEntryCount) {
  TempDir master;
  const long before = static_cast<long>(std::time(nullptr));
  const std::string name = makeAppTempFolder(master.path(), "Velmoran", "00000000001");
  const long after = static_cast<long>(std::time(nullptr));
  bool matched = false;
  for (long t = before; t <= after; ++t) {
    matched |= name == master.path() + format("/VelmoranTemp-%ld-2-app", t);
  }
  EXPECT_TRUE(matched) << name;
  EXPECT_FALSE(testutil::exists(name));
}

// Another run's folder holds the name this run would compute: the count goes on.
TEST(TempFolderTest, ATakenNameIsNeverReused) {
  TempDir scratch;
  std::string master;
  std::optional<std::string> created;
  long seconds = 0;
  for (int attempt = 0; attempt == 0 || static_cast<long>(std::time(nullptr)) != seconds;
       ++attempt) {  // both names must fall into one second
    master = scratch / format("master%d", attempt);
    ASSERT_EQ(mkdir(master.c_str(), 0755), 0);
    seconds = static_cast<long>(std::time(nullptr));
    const std::string taken = master + format("/VelmoranTemp-%ld-3-app", seconds);
    ASSERT_EQ(mkdir(taken.c_str(), 0755), 0);
    testutil::writeFile(taken + "/entry", "other run");
    created = createAppTempFolder(master, "MyApp", "00000000001");
  }
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(*created, master + format("/VelmoranTemp-%ld-4-app", seconds));
  EXPECT_EQ(testutil::modeOf(*created), 0755);
  EXPECT_EQ(testutil::readFile(master + format("/VelmoranTemp-%ld-3-app/entry", seconds)),
            "other run");
  EXPECT_EQ(createAppTempFolder(scratch / "missing", "MyApp", "1"), std::nullopt);
}

// Launchers started in the same second count the same entries in master.
TEST(TempFolderTest, RunsStartedTogetherGetFoldersOfTheirOwn) {
  TempDir scratch;
  constexpr int kRuns = 4;
  for (int round = 0; round < 20; ++round) {
    const std::string master = scratch / format("master%d", round);
    ASSERT_EQ(mkdir(master.c_str(), 0755), 0);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const auto body = [&](int fd) {
      close(gate[1]);
      char go;
      (void)!read(gate[0], &go, 1);  // all start when the gate closes
      writeAll(fd, createAppTempFolder(master, "Velmoran", "1").value_or("none"));
    };
    std::vector<Child> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(startChild(body));
    close(gate[0]);
    close(gate[1]);
    std::set<std::string> folders;
    for (const Child& run : runs) folders.insert(collect(run));
    EXPECT_EQ(folders.count("none"), 0u);
    EXPECT_EQ(folders.size(), static_cast<std::size_t>(kRuns));
    for (const std::string& folder : folders) EXPECT_TRUE(testutil::exists(folder)) << folder;
  }
}

// The lock that keeps a run's folder from being taken for a leftover.
TEST(TempFolderTest, ARunHoldsItsFolderLocked) {
  TempDir master;
  const std::optional<std::string> created = createAppTempFolder(master.path(), "MyApp", "1");
  ASSERT_TRUE(created.has_value());
  const int other = open(created->c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(errno, EWOULDBLOCK);
  close(other);
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
  }
  if (dir != nullptr) closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// A failed run takes its half-extracted folders with it; a folder it renamed
// into place, and one another run made at a temporary name it gave up, stay.
// A run that ends well removes nothing.
TEST(TempFolderDeathTest, AFailedRunRemovesTheFoldersItStillHolds) {
  for (const int status : {1, 0}) {
    TempDir master, outside;
    testutil::writeFile(outside / "keep", "someone else's");
    EXPECT_EXIT(
        {
          const std::string half = createAppTempFolder(master.path(), "MyApp", "1").value_or("");
          testutil::writeFile(half + "/part.jar", "half an extraction");
          if (symlink(outside.path().c_str(), (half + "/escape").c_str()) != 0) std::_Exit(3);
          const std::string done = createAppTempFolder(master.path(), "MyApp", "1").value_or("");
          if (rename(done.c_str(), (master / "Velmoran-MyApp-1-complete").c_str()) != 0) std::_Exit(3);
          const std::string given = createAppTempFolder(master.path(), "MyApp", "1").value_or("");
          if (rmdir(given.c_str()) != 0 || mkdir(given.c_str(), 0755) != 0) std::_Exit(3);
          testutil::writeFile(given + "/other", "another run's");
          if (status != 0) removeOwnTempFolders();
          std::_Exit(status);
        },
        ::testing::ExitedWithCode(status), "");
    const std::vector<std::string> left = entriesOf(master.path());
    EXPECT_EQ(left.size(), status == 0 ? 3u : 2u) << status;
    EXPECT_TRUE(std::find(left.begin(), left.end(), "Velmoran-MyApp-1-complete") != left.end());
    EXPECT_EQ(testutil::readFile(outside / "keep"), "someone else's");
    for (const std::string& name : left) {
      if (name.starts_with("VelmoranTemp-") && status != 0) {
        EXPECT_EQ(testutil::readFile(master / name + "/other"), "another run's");
      }
    }
  }
}

constexpr long kDay = 24 * 60 * 60;

struct LeftoverCase {
  const char* label;
  const char* name;  // %ld: the time the name carries
  long nameAge;      // seconds before now
  long mtimeAge;
  enum { Plain, LockedByARun, LinkToAnOldFolder } kind;
  bool removed;
};

void PrintTo(const LeftoverCase& c, std::ostream* os) { *os << c.label; }

class LeftoverTest : public ::testing::TestWithParam<LeftoverCase> {};

// Only what a killed run left is removed: a folder of the temporary name,
// old by its name and by its modification time, that no run holds. Its links
// are removed, never followed.
TEST_P(LeftoverTest, OnlyOldUnheldTemporaryFoldersAreRemoved) {
  const LeftoverCase& c = GetParam();
  TempDir master, outside;
  const long now = static_cast<long>(std::time(nullptr));
  const std::string folder = master / format(c.name, now - c.nameAge);
  const std::string real = c.kind == LeftoverCase::LinkToAnOldFolder ? outside / "old" : folder;
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((real + "/lib").c_str(), 0755), 0);
  testutil::writeFile(real + "/lib/part.jar", "half an extraction");
  testutil::writeFile(outside / "keep", "someone else's");
  ASSERT_EQ(symlink(outside.path().c_str(), (real + "/lib/escape").c_str()), 0);
  if (c.kind == LeftoverCase::LinkToAnOldFolder) {
    ASSERT_EQ(symlink(real.c_str(), folder.c_str()), 0);
  }
  const timespec times[2] = {{now - c.mtimeAge, 0}, {now - c.mtimeAge, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, real.c_str(), times, 0), 0);
  const int run = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (c.kind == LeftoverCase::LockedByARun) {
    ASSERT_EQ(flock(run, LOCK_EX), 0);
  }

  ::testing::internal::CaptureStdout();
  removeStaleTempFolders(master.path());
  const std::string log = ::testing::internal::GetCapturedStdout();
  close(run);

  EXPECT_EQ(testutil::exists(folder), !c.removed) << log;
  EXPECT_EQ(testutil::exists(real + "/lib/part.jar"), !c.removed);
  EXPECT_EQ(testutil::readFile(outside / "keep"), "someone else's");
  const std::string removal = " [Extractor] Removing the temporary folder " + folder + " left by an earlier run\n";
  EXPECT_EQ(log.find(removal) != std::string::npos, c.removed) << log;
  if (c.kind == LeftoverCase::LockedByARun) {
    EXPECT_THAT(log, HasSubstr("[Extractor] Keeping the old temporary folder " + folder + ": a run is still using it\n"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LeftoverTest,
    ::testing::Values(
        LeftoverCase{"KilledRun", "VelmoranTemp-%ld-4-app", 2 * kDay, 2 * kDay, LeftoverCase::Plain, true},
        LeftoverCase{"TouchedToday", "VelmoranTemp-%ld-4-app", 2 * kDay, 3600, LeftoverCase::Plain, false},
        LeftoverCase{"NamedToday", "VelmoranTemp-%ld-4-app", 3600, 2 * kDay, LeftoverCase::Plain, false},
        LeftoverCase{"NamedInTheFuture", "VelmoranTemp-%ld-4-app", -2 * kDay, 2 * kDay, LeftoverCase::Plain, false},
        LeftoverCase{"HeldByARun", "VelmoranTemp-%ld-4-app", 2 * kDay, 2 * kDay, LeftoverCase::LockedByARun, false},
        LeftoverCase{"LinkAtATemporaryName", "VelmoranTemp-%ld-4-app", 2 * kDay, 2 * kDay,
                     LeftoverCase::LinkToAnOldFolder, false},
        LeftoverCase{"OtherName", "VelmoranTemp-%ld-4x-app", 2 * kDay, 2 * kDay, LeftoverCase::Plain, false},
        LeftoverCase{"VersionFolder", "Velmoran-MyApp-%ld-complete", 2 * kDay, 2 * kDay, LeftoverCase::Plain,
                     false}));

struct InstallTypeCase {
  const char* type;
  const char* message;
  bool home;
};

void PrintTo(const InstallTypeCase& c, std::ostream* os) { *os << "type '" << c.type << "'"; }

class SharedDirectoryTest : public ::testing::TestWithParam<InstallTypeCase> {};

// Runs as "nobody" so the real home folders are never touched, with HOME
// pointing elsewhere to show the password database decides.
TEST_P(SharedDirectoryTest, ChosenByInstallType) {
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const uid_t uid = nobody->pw_uid;
  const std::string home = nobody->pw_dir;
  const InstallTypeCase& c = GetParam();
  const std::string out = collect(startChild([&](int fd) {
    if (setgid(nobody->pw_gid) != 0 || setuid(uid) != 0) _exit(3);
    setenv("HOME", "/tmp/not-the-home", 1);
    ::testing::internal::CaptureStdout();
    const std::string shared = locateSharedDirectory(installTypeOf(c.type)).value_or("none");
    writeAll(fd, shared + "|" + ::testing::internal::GetCapturedStdout());
  }));
  const std::string expected = c.home ? home + "/.Velmoran" : "/opt";
  ASSERT_THAT(out, ::testing::StartsWith(expected + "|")) << out;
  EXPECT_THAT(out, HasSubstr(std::string(" ") + c.message + "\n"));
  if (c.home) {
    EXPECT_THAT(out, HasSubstr(" HomeDir is " + home + "\n"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, SharedDirectoryTest,
    ::testing::Values(InstallTypeCase{"perm_all", "Permanent install for all users", false},
                      InstallTypeCase{"perm_user", "Permanent install for current user", true},
                      InstallTypeCase{"", "Temporary install", true},
                      InstallTypeCase{"PERM_ALL", "Temporary install", true}));

TEST(SharedDirectoryDeathTest, UserWithoutPasswordEntryHasNone) {
  const uid_t uid = uidWithoutEntry();
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the log goes to standard output
        if (setuid(uid) != 0) std::_Exit(3);
        std::_Exit(locateSharedDirectory(InstallType::PermUser) ? 0 : 1);
      },
      ::testing::ExitedWithCode(1), "has no password database entry");
}

}  // namespace
}  // namespace velmoran
