#include "platform/fileops.h"

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "test_support.h"
#include "util/file.h"
#include "util/paths.h"

namespace velmoran {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::exists;
using testutil::modeOf;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

int countOccurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

long openDescriptors() {
  long count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

void makeFolder(const std::string& path, mode_t mode = 0755) {
  ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
}

constexpr uid_t kNobody = 65534;

// Runs chmodR755 as the owner of the tree: root passes every mode check, so it
// would never meet a folder it cannot read.
void chmodR755AsOwner(const std::string& root, const std::vector<std::string>& tree) {
  if (geteuid() != 0) {
    chmodR755(root);
    return;
  }
  for (const std::string& path : tree) ASSERT_EQ(lchown(path.c_str(), kNobody, kNobody), 0) << path;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(kNobody) == 0 && setuid(kNobody) == 0) chmodR755(root);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
}

TEST(ChmodR755Test, EveryFileAndFolderBelowGets755) {
  TempDir scratch;
  const std::string root = scratch / "tree";
  makeFolder(root, 0700);
  makeFolder(root + "/bin", 0700);
  makeFolder(root + "/bin/deep", 0755);
  writeFile(root + "/bin/deep/lib", "x");
  chmod((root + "/bin/deep/lib").c_str(), 0600);
  chmod((root + "/bin/deep").c_str(), 0);
  writeFile(root + "/bin/java", "x");
  writeFile(root + "/.x", "x");
  chmod((root + "/bin/java").c_str(), 0600);
  chmod((root + "/.x").c_str(), 0600);
  // A link out of the tree must not open up what it points at.
  writeFile(scratch / "outside", "x");
  chmod((scratch / "outside").c_str(), 0600);
  ASSERT_EQ(symlink((scratch / "outside").c_str(), (root + "/bin/link").c_str()), 0);

  chmod(scratch.path().c_str(), 0755);

  ::testing::internal::CaptureStdout();
  chmodR755AsOwner(root, {root, root + "/bin", root + "/bin/deep", root + "/bin/deep/lib", root + "/bin/java",
                          root + "/.x", root + "/bin/link", scratch / "outside"});
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_THAT(log, HasSubstr(" [ChMod] Executing chmod -R 755 \"" + root + "\"\n"));
  for (const char* path : {"", "/bin", "/bin/deep", "/bin/deep/lib", "/bin/java", "/.x"}) {
    EXPECT_EQ(modeOf(root + path), 0755) << path;
  }
  EXPECT_EQ(modeOf(scratch / "outside"), 0600);
}

// Quotes, "$" and "`" reach no shell: they are plain characters of the name.
TEST(FileOpsTest, ShellCharactersInPathsAreLiteral) {
  TempDir scratch;
  const std::string odd = scratch / "a\"b $HOME `id` c";
  ASSERT_EQ(makeDir(odd), 0);
  EXPECT_EQ(modeOf(odd), 0755);
  chmod(odd.c_str(), 0700);
  writeFile(odd + "/f", "data");
  chmod((odd + "/f").c_str(), 0600);

  ::testing::internal::CaptureStdout();
  chmodR755(odd);
  const int copied = copyFolder(odd, scratch.path());
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_THAT(log, HasSubstr("[ChMod] Executing chmod -R 755 \"" + odd + "\"\n"));
  EXPECT_EQ(modeOf(odd), 0755);
  EXPECT_EQ(modeOf(odd + "/f"), 0755);
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(readFile(scratch / "f"), "data");
  EXPECT_EQ(deleteFolder(odd), 0);
  EXPECT_FALSE(exists(odd + "/f"));
}

TEST(FileOpsTest, FileExistsWhenItCanBeRead) {
  TempDir scratch;
  writeFile(scratch / "file", "x");
  ::testing::internal::CaptureStdout();
  const bool missing = doesFileExist(scratch / "missing");
  const std::string silent = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  const bool file = doesFileExist(scratch / "file");
  const bool folder = doesFileExist(scratch.path());
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_FALSE(missing);
  EXPECT_EQ(silent, "");
  EXPECT_TRUE(file);
  EXPECT_TRUE(folder);
  EXPECT_EQ(countOccurrences(log, " File exists: " + (scratch / "file") + "\n"), 1);
}

TEST(DeleteFolderTest, EmptiesTheTreeButKeepsTwoCharacterDotNames) {
  TempDir scratch;
  const std::string root = scratch / "root";
  makeFolder(root);
  makeFolder(root + "/a");
  makeFolder(root + "/a/b");
  writeFile(root + "/a/b/f", "x");
  writeFile(root + "/.xy", "x");
  writeFile(root + "/.x", "x");
  // A link to a folder outside is removed; what it points at survives.
  makeFolder(scratch / "outside");
  writeFile(scratch / "outside/keep", "x");
  ASSERT_EQ(symlink((scratch / "outside").c_str(), (root + "/link").c_str()), 0);

  ::testing::internal::CaptureStdout();
  const int result = deleteFolder(root);
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, 0);
  EXPECT_TRUE(exists(root));
  EXPECT_FALSE(exists(root + "/a"));
  EXPECT_FALSE(exists(root + "/.xy"));
  EXPECT_FALSE(exists(root + "/link"));
  EXPECT_TRUE(exists(root + "/.x"));
  EXPECT_TRUE(exists(scratch / "outside/keep"));
  EXPECT_THAT(log, HasSubstr(" Deleting DIR " + root + "/a/b\n"));
  EXPECT_THAT(log, HasSubstr(" Deleting FILE " + root + "/a/b/f\n"));
  EXPECT_THAT(log, Not(HasSubstr("Failed")));

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(deleteFolder(scratch / "missing"), 1);
  // A link given as the folder is not a folder of ours to empty.
  ASSERT_EQ(symlink((scratch / "outside").c_str(), (scratch / "top").c_str()), 0);
  EXPECT_EQ(deleteFolder(scratch / "top"), 1);
  EXPECT_THAT(::testing::internal::GetCapturedStdout(),
              HasSubstr(" [DeleteFolder] Deleting from '" + (scratch / "missing") + "' is NULL\n"));
  EXPECT_TRUE(exists(scratch / "outside/keep"));
}

TEST(CopyFileTest, CopiesWholeFiles) {
  TempDir scratch;
  std::string big(100000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 256);
  writeFile(scratch / "big", big);
  writeFile(scratch / "empty", "");
  writeFile(scratch / "empty-copy", "old content");

  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(copyFile(scratch / "big", scratch / "big-copy"));
  EXPECT_TRUE(copyFile(scratch / "empty", scratch / "empty-copy"));
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(readFile(scratch / "big-copy"), big);
  EXPECT_EQ(readFile(scratch / "empty-copy"), "");
  EXPECT_THAT(log, HasSubstr(" [Extractor] Copying FILE " + (scratch / "big-copy") + "\n"));
}

TEST(CopyFileTest, FailuresAreReportedAndReleaseTheSource) {
  TempDir scratch;
  writeFile(scratch / "src", std::string(60000, 'x'));
  const long before = openDescriptors();

  ::testing::internal::CaptureStdout();
  const bool missingSource = copyFile(scratch / "missing", scratch / "dst");
  const bool missingFolder = copyFile(scratch / "src", scratch / "no/dst");
  const bool diskFull = copyFile(scratch / "src", "/dev/full");
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_FALSE(missingSource);
  EXPECT_FALSE(missingFolder);
  EXPECT_FALSE(diskFull);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_THAT(log, HasSubstr(" [Extractor] *************************** Unable to open source file "
                             "for copy " + (scratch / "missing") + "\n"));
  EXPECT_THAT(log, HasSubstr(" [Extractor] *************************** Unable to open destination "
                             "file for copy " + (scratch / "no/dst") + "\n"));
}

TEST(CopyFileTest, OverlongPathIsRefusedNotCut) {
  const std::string longPath = "/tmp/" + std::string(kMaxPathLength, 'a');
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(copyFile("/etc/hostname", longPath));
  EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("refused"));
}

TEST(CopyFolderTest, CopiesContentsDepthFirstAndOverwrites) {
  TempDir scratch;
  const std::string from = scratch / "from";
  const std::string to = scratch / "to";
  makeFolder(from);
  makeFolder(from + "/lib");
  makeFolder(from + "/lib/deep");
  writeFile(from + "/lib/deep/a", "new");
  writeFile(from + "/.xy", "dot");
  writeFile(from + "/.x", "skipped");
  writeFile(from + "/program", "#!/bin/sh\n");
  ASSERT_EQ(chmod((from + "/program").c_str(), 0700), 0);
  ASSERT_EQ(symlink("lib/deep/a", (from + "/link").c_str()), 0);
  makeFolder(to);
  makeFolder(to + "/lib");
  makeFolder(to + "/lib/deep");
  writeFile(to + "/lib/deep/a", "older and longer");

  ::testing::internal::CaptureStdout();
  const int result = copyFolder(from, to);
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, 0);
  EXPECT_EQ(readFile(to + "/lib/deep/a"), "new");
  EXPECT_EQ(readFile(to + "/.xy"), "dot");
  EXPECT_FALSE(exists(to + "/.x"));
  // A program copied stays one: a JRE's bin/java copied at 644 ran no more.
  EXPECT_EQ(testutil::modeOf(to + "/program"), installMode());
  EXPECT_EQ(testutil::modeOf(to + "/.xy"), kCopiedFileMode);
  char target[64] = {};
  EXPECT_EQ(readlink((to + "/link").c_str(), target, sizeof target - 1), 10);
  EXPECT_STREQ(target, "lib/deep/a");
  EXPECT_THAT(log, HasSubstr(" [CopyFolder] Copying DIR " + to + "/lib/deep\n"));
  EXPECT_THAT(log, HasSubstr(" [CopyFolder] Copying FILE " + to + "/lib/deep/a\n"));

  ::testing::internal::CaptureStdout();
  EXPECT_NE(copyFolder(scratch / "missing", to), 0);
  EXPECT_NE(copyFolder(from + "/lib", scratch / "missing"), 0);
  const std::string failures = ::testing::internal::GetCapturedStdout();
  EXPECT_THAT(failures,
              HasSubstr(" [CopyFolder] SourceDir from '" + (scratch / "missing") + "' is NULL\n"));
  EXPECT_THAT(failures, HasSubstr("(could not create target folder)\n"));
}

// A disk that fills up half-way through a copy onto an installed folder (the
// child may write no more than 4 KiB per file): the installed files stay whole,
// the one whose copy failed as it was, and no part of the copy is left beside it.
TEST(CopyFolderTest, AFailedCopyLeavesTheFilesThereWhole) {
  TempDir scratch;
  const std::string from = scratch / "from";
  const std::string to = scratch / "to";
  makeFolder(from);
  writeFile(from + "/a", "replaced");
  writeFile(from + "/b", std::string(20000, 'n'));
  makeFolder(to);
  writeFile(to + "/a", "installed a");
  writeFile(to + "/b", "installed b");

  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{4096, 4096};
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    if (freopen("/dev/null", "w", stdout) == nullptr || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    _exit(copyFolder(from, to) != 0 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Directory order decides whether a was copied before b failed.
  EXPECT_THAT(readFile(to + "/a"), ::testing::AnyOf("installed a", "replaced"));
  EXPECT_EQ(readFile(to + "/b"), "installed b");
  std::vector<std::string> names;
  DIR* dir = opendir(to.c_str());
  while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  EXPECT_EQ(names.size(), 4u);
}

TEST(DoRenameTest, MovesAFolder) {
  TempDir scratch;
  makeFolder(scratch / "temp");
  writeFile(scratch / "temp/f", "x");
  ::testing::internal::CaptureStdout();
  doRename(scratch / "temp", scratch / "final");
  const std::string log = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(exists(scratch / "temp"));
  EXPECT_EQ(readFile(scratch / "final/f"), "x");
  EXPECT_THAT(log, HasSubstr(" [Rename] File '" + (scratch / "temp") + "' renamed to '" +
                             (scratch / "final") + "'\n"));
  EXPECT_THAT(log, Not(HasSubstr("Could not rename")));
}

// An installed version folder is never written into, and another attempt
// would meet it again: no pause, no copy, both folders as they were.
TEST(DoRenameTest, OntoAFolderWithContentsKeepsItAtOnce) {
  TempDir scratch;
  const std::string source = scratch / "temp";
  const std::string destination = scratch / "final";
  makeFolder(source);
  writeFile(source + "/new", "fresh");
  makeFolder(destination);
  writeFile(destination + "/old", "kept");

  ::testing::internal::CaptureStdout();
  const RenameOutcome outcome = doRename(source, destination);
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(outcome, RenameOutcome::AlreadyThere);
  EXPECT_EQ(countOccurrences(log, "Could not rename"), 1);
  EXPECT_THAT(log, HasSubstr(" [Rename] " + destination + " is there already; it is kept as it is\n"));
  EXPECT_FALSE(exists(destination + "/new"));
  EXPECT_EQ(readFile(destination + "/old"), "kept");
  EXPECT_EQ(readFile(source + "/new"), "fresh");
}

// A rename across file systems always fails, so the copy decides; a socket in
// the source cannot be opened, so that copy fails.
TEST(DoRenameTest, AFailedCopyLeavesNoPartialFolderItCreated) {
  TempDir scratch;
  TempDir other("/dev/shm");
  const std::string source = other / "temp";
  makeFolder(source);
  writeFile(source + "/a", "copied first");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = source + "/z-socket";
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  ::testing::internal::CaptureStdout();
  const RenameOutcome created = doRename(source, scratch / "new");
  makeFolder(scratch / "existing");
  const RenameOutcome existing = doRename(source, scratch / "existing");
  const std::string log = ::testing::internal::GetCapturedStdout();
  close(sock);

  EXPECT_EQ(created, RenameOutcome::Failed);
  EXPECT_FALSE(exists(scratch / "new"));
  EXPECT_EQ(existing, RenameOutcome::Failed);
  EXPECT_TRUE(exists(scratch / "existing"));
  EXPECT_EQ(readFile(source + "/a"), "copied first");
  EXPECT_EQ(countOccurrences(log, "[Rename] Copy failed too! Severe filesystem issues.\n"), 2);
}

// A link standing where the copy writes leads outside the destination; it is
// replaced, and nothing is written where it pointed.
TEST(CopyFolderTest, ReplacesLinksAtDestinationPaths) {
  TempDir scratch;
  const std::string from = scratch / "from";
  const std::string to = scratch / "to";
  const std::string outside = scratch / "outside";
  makeFolder(from);
  makeFolder(from + "/lib");
  writeFile(from + "/lib/f", "new");
  writeFile(from + "/file", "new");
  makeFolder(to);
  makeFolder(outside);
  writeFile(outside + "/file", "untouched");
  ASSERT_EQ(symlink(outside.c_str(), (to + "/lib").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/file").c_str(), (to + "/file").c_str()), 0);

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(copyFolder(from, to), 0);
  ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(readFile(to + "/lib/f"), "new");
  EXPECT_EQ(readFile(to + "/file"), "new");
  EXPECT_FALSE(exists(outside + "/f"));
  EXPECT_EQ(readFile(outside + "/file"), "untouched");
  EXPECT_EQ(modeOf(to + "/lib"), 0755);
}

// A system JRE is a tree of links into other folders; its copy must hold none.
TEST(CopyFolderTest, FollowingLinksCopiesWhatTheyLeadTo) {
  TempDir scratch;
  const std::string from = scratch / "jre";
  const std::string elsewhere = scratch / "elsewhere";
  const std::string to = scratch / "copy";
  makeFolder(from);
  makeFolder(elsewhere);
  makeFolder(elsewhere + "/lib");
  writeFile(elsewhere + "/lib/cacerts", "certs");
  writeFile(elsewhere + "/java", "binary");
  makeFolder(from + "/bin");
  ASSERT_EQ(symlink((elsewhere + "/java").c_str(), (from + "/bin/java").c_str()), 0);
  ASSERT_EQ(symlink((elsewhere + "/lib").c_str(), (from + "/lib").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (from + "/dangling").c_str()), 0);
  makeFolder(to);

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(copyFolderFollowingLinks(from, to), 0);
  // A link back to an ancestor would make the copy endless.
  ASSERT_EQ(symlink("..", (from + "/bin/up").c_str()), 0);
  makeFolder(scratch / "loop");
  EXPECT_NE(copyFolderFollowingLinks(from, scratch / "loop"), 0);
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(readFile(to + "/bin/java"), "binary");
  EXPECT_EQ(readFile(to + "/lib/cacerts"), "certs");
  for (const char* path : {"/bin/java", "/lib", "/lib/cacerts"}) {
    struct stat info {};
    ASSERT_EQ(lstat((to + path).c_str(), &info), 0) << path;
    EXPECT_FALSE(S_ISLNK(info.st_mode)) << path;
  }
  EXPECT_FALSE(exists(to + "/dangling"));
  EXPECT_THAT(log, HasSubstr("leads back into a folder being copied"));
}

}  // namespace
}  // namespace velmoran
