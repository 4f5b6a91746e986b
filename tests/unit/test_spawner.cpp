#include "platform/spawner.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <string>

#include "log_capture.h"
#include "platform/signals.h"
#include "test_support.h"

namespace velmoran {
namespace {

using testutil::LogCapture;

int runShell(const std::string& script) {
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, "/bin/sh");
  addSpawnerArg(*spawner, "-c");
  addSpawnerArg(*spawner, script);
  const int result = runSpawnerAndWait(*spawner);
  deleteSpawner(spawner);
  EXPECT_EQ(spawner, nullptr);
  return result;
}

TEST(Spawner, ReportsTheExitStatus) {
  LogCapture log;
  EXPECT_EQ(runShell("exit 3"), 3);
  EXPECT_EQ(runShell("exit 0"), 0);
  EXPECT_TRUE(log.contains("[Spawner] Creating spawner\n[Spawner] Setting spawner exe to /bin/sh\n"
                           "[Spawner] Appended argument /bin/sh\n[Spawner] Appended argument -c\n"
                           "[Spawner] Appended argument exit 3\nSpawn call returned 0.\nSpawn call done "));
  EXPECT_FALSE(log.contains("runSpawnerAndWait returned"));
}

TEST(Spawner, ChildSharesTheEnvironmentAndFolder) {
  setenv("VELMORAN_SPAWNER_TEST", "inherited", 1);
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  LogCapture log;
  EXPECT_EQ(runShell("[ \"$VELMORAN_SPAWNER_TEST\" = inherited ] && [ \"$(pwd -P)\" = \"$(cd '" +
                     std::string(here) + "' && pwd -P)\" ]"),
            0);
  unsetenv("VELMORAN_SPAWNER_TEST");
}

TEST(Spawner, RawWaitStatusIsLogged) {
  LogCapture log;
  EXPECT_EQ(runShell("exit 1"), 1);
  const std::string text = log.text();
  const auto at = text.find("Spawn call done ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(text.find(" 256.\n", at), std::string::npos) << text;
}

TEST(Spawner, ChildEndedBySignalIsAFailure) {
  LogCapture log;
  EXPECT_EQ(runShell("kill -KILL $$"), 128 + 9);
  EXPECT_TRUE(log.contains("[Spawner] Child ended by signal 9\n[Spawner] runSpawnerAndWait returned 137\n"));
}

TEST(Spawner, StartFailureGivesMinusOne) {
  LogCapture log;
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, "/nonexistent/program");
  EXPECT_EQ(runSpawnerAndWait(*spawner), -1);
  EXPECT_TRUE(log.contains("Launch Error 2.\n"));
  EXPECT_FALSE(log.contains("Spawn call returned"));

  // The executable is a path, never looked up along PATH.
  SpawnerPtr bare = createSpawner();
  setSpawnerExe(*bare, "sh");
  EXPECT_EQ(runSpawnerAndWait(*bare), -1);
}

TEST(Spawner, ExecutableAloneIsArgumentZero) {
  testutil::TempDir dir;
  const std::string script = dir / "count.sh";
  testutil::writeFile(script, "#!/bin/sh\n[ \"$0\" = \"" + script + "\" ] || exit 99\nexit $#\n");
  chmod(script.c_str(), 0755);
  LogCapture log;
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, script);
  EXPECT_EQ(runSpawnerAndWait(*spawner), 0);
}

TEST(Spawner, HoldsAtMost499Entries) {
  LogCapture log;
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, "/bin/sh");
  addSpawnerArg(*spawner, "-c");
  addSpawnerArg(*spawner, "exit $(($# % 256))");
  // /bin/sh, -c and the script take three entries; the rest become $0, $1, ...
  for (int i = 0; i < 496; ++i) addSpawnerArg(*spawner, "a" + std::to_string(i));
  EXPECT_FALSE(log.contains("WARNING"));
  addSpawnerArg(*spawner, "refused");
  EXPECT_TRUE(log.contains("[Spawner] WARNING: couldn't append argument refused\n"));
  EXPECT_EQ(spawner->args.size(), kSpawnerSlots - 1);
  EXPECT_EQ(runSpawnerAndWait(*spawner), 495 % 256);
}

// What the launcher changes for itself must not reach what it starts: it
// ignores SIGPIPE (a pipeline in a child would never end by it) and SIGXFSZ
// (a decompressor would not end at its file size limit), and blocks
// SIGINT, SIGTERM and SIGHUP for its signal watcher (a Ctrl-C would no longer
// end a child). What it got from its own parent, a SIGHUP ignored by nohup,
// is passed on.
TEST(Spawner, ChildrenStartWithTheSignalsTheLauncherGot) {
  ignoreSigpipe();
  std::signal(SIGHUP, SIG_IGN);
  sigset_t ending, before;
  sigemptyset(&ending);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &ending, &before), 0);
  // The shell's blocked signals, then whether it ignores SIGPIPE and SIGHUP.
  const std::string report =
      "b=$(sed -n 's/^SigBlk:[[:space:]]*//p' /proc/$$/status); i=$(sed -n 's/^SigIgn:[[:space:]]*//p' "
      "/proc/$$/status); echo $((0x$b)) $((0x$i & 0x1001000)) $((0x$i & 0x1))";
  LogCapture log;
  EXPECT_EQ(runCommandGetOutput(report), "0 0 1");
  EXPECT_EQ(runShell("[ \"$(" + report + ")\" = '0 0 1' ]"), 0);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  std::signal(SIGHUP, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
  std::signal(SIGXFSZ, SIG_DFL);
}

// A downloaded archive that decodes without end is stopped at its limit, and
// the launcher's own limit is what it was.
TEST(Spawner, AFileSizeLimitHoldsForTheChildAlone) {
  testutil::TempDir dir;
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, "/bin/sh");
  addSpawnerArg(*spawner, "-c");
  addSpawnerArg(*spawner, "head -c 100000 /dev/zero >'" + dir / "out" + "'");
  spawner->fileSizeLimit = 4096;
  LogCapture log;
  EXPECT_EQ(runSpawnerAndWait(*spawner), 128 + SIGXFSZ);
  EXPECT_EQ(testutil::readFile(dir / "out").size(), 4096u);
  rlimit after{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &after), 0);
  EXPECT_EQ(after.rlim_cur, before.rlim_cur);
}

struct OutputCase {
  const char* command;
  const char* expected;
};

class CommandOutput : public testing::TestWithParam<OutputCase> {};

TEST_P(CommandOutput, IsTrimmedStandardOutput) {
  const auto output = runCommandGetOutput(GetParam().command);
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(*output, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandOutput,
    testing::Values(OutputCase{"printf 'abc \\r\\n'", "abc"}, OutputCase{"printf '\\n\\n\\n'", ""},
                    OutputCase{"true", ""}, OutputCase{"echo on-stderr >&2", ""},
                    OutputCase{"printf ' x\\n y \\n'", " x\n y"}, OutputCase{"exit 7", ""}));

TEST(CommandOutputLong, GrowsPastTenThousandCharacters) {
  const auto output = runCommandGetOutput("seq 1 5000");
  ASSERT_TRUE(output.has_value());
  EXPECT_GT(output->size(), 10000u);
  EXPECT_EQ(output->substr(output->size() - 5), "\n5000");
}

}  // namespace
}  // namespace velmoran
