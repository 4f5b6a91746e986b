#include "platform/spawner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "util/file.h"
#include "util/log.h"
#include "platform/signals.h"
#include "platform/stop.h"

extern char** environ;

namespace velmoran {

SpawnerPtr createSpawner() {
  logMessage("[Spawner] Creating spawner\n");
  return std::make_unique<Spawner>();
}

void setSpawnerExe(Spawner& spawner, const std::string& exe) {
  logMessage("[Spawner] Setting spawner exe to %s\n", exe.c_str());
  std::fflush(stdout);
  addSpawnerArg(spawner, exe);
}

void addSpawnerArg(Spawner& spawner, const std::string& arg) {
  if (spawner.args.size() >= kSpawnerSlots - 1) {
    logMessage("[Spawner] WARNING: couldn't append argument %s\n", arg.c_str());
    return;
  }
  spawner.args.push_back(arg);
  logMessage("[Spawner] Appended argument %s\n", arg.c_str());
}

namespace {

struct SpawnAttributes {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  SpawnAttributes() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnAttributes() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

}  // namespace

namespace {

// The child takes the limit with it; the launcher's own soft limit is put
// back as soon as it is started (the hard limit is never lowered: a process
// cannot raise it again). The launcher ignores SIGXFSZ (util/signals.h), so a
// write of one of its own threads past the limit meanwhile fails instead of
// ending it.
class FileSizeLimitForChild {
 public:
  explicit FileSizeLimitForChild(std::optional<off_t> limit) {
    if (!limit || getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(*limit), saved_.rlim_max);
    set_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimitForChild() {
    if (set_) setrlimit(RLIMIT_FSIZE, &saved_);
  }
  FileSizeLimitForChild(const FileSizeLimitForChild&) = delete;
  FileSizeLimitForChild& operator=(const FileSizeLimitForChild&) = delete;

 private:
  rlimit saved_{};
  bool set_ = false;
};

}  // namespace

int startProcess(const std::vector<std::string>& args, pid_t& pid, int stdoutFd, std::optional<off_t> fileSizeLimit) {
  if (args.empty()) return EINVAL;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  SpawnAttributes spawn;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  // The launcher blocks the signals that end it (a thread of its own waits
  // for them); a child would inherit the mask, and a Ctrl-C or a SIGTERM
  // would no longer end it.
  sigset_t none;
  sigemptyset(&none);
  int error = posix_spawnattr_setsigdefault(&spawn.attr, &defaults);
  if (error == 0) error = posix_spawnattr_setsigmask(&spawn.attr, &none);
  if (error == 0) error = posix_spawnattr_setflags(&spawn.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (error == 0 && stdoutFd >= 0) error = posix_spawn_file_actions_adddup2(&spawn.actions, stdoutFd, STDOUT_FILENO);
  if (error != 0) return error;
  const FileSizeLimitForChild limit(fileSizeLimit);
  return posix_spawn(&pid, argv[0], &spawn.actions, &spawn.attr, argv.data(), getEnvP());
}

pid_t waitForProcess(pid_t pid, int& status) {
  waitingForChild(pid);
  // Seen ended first and reaped after: until then a stop may kill it by its
  // pid, which no other process can have taken.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  childEnded(pid);
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited == pid && WIFSIGNALED(status)) awaitInterruptionAfterChildSignal(WTERMSIG(status));
  return waited;
}

int runSpawnerAndWait(const Spawner& spawner) {
  pid_t pid = 0;
  const int error = startProcess(spawner.args, pid, -1, spawner.fileSizeLimit);
  if (error != 0) {
    logMessage("Launch Error %d.\n", error);
    return -1;
  }
  logMessage("Spawn call returned %d.\n", 0);

  int status = 0;
  const pid_t waited = waitForProcess(pid, status);
  logMessage("Spawn call done %d %d.\n", static_cast<int>(waited), status);
  if (waited < 0) {
    logMessage("[Spawner] runSpawnerAndWait returned %d\n", -1);
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // A child ended by a signal did not do its work; report it as the shell would.
  const int result = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  logMessage("[Spawner] Child ended by signal %d\n", WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  logMessage("[Spawner] runSpawnerAndWait returned %d\n", result);
  return result;
}

void deleteSpawner(SpawnerPtr& spawner) { spawner.reset(); }

char** getEnvP() { return environ; }

// The command goes to /bin/sh -c, as popen would hand it over, but through
// startProcess so the shell and what it runs get SIGPIPE at its default.
std::optional<std::string> runCommandGetOutput(const std::string& commandLine) {
  std::fflush(nullptr);  // the child shares our streams; keep its output after ours
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd readEnd(fds[0]);
  pid_t pid = 0;
  {
    UniqueFd writeEnd(fds[1]);
    if (startProcess({"/bin/sh", "-c", commandLine}, pid, writeEnd.get()) != 0) return std::nullopt;
  }
  // A stop kills it while its output is read, too.
  waitingForChild(pid);
  std::string output;
  output.reserve(10000);
  char piece[4096];
  for (;;) {
    const ssize_t n = read(readEnd.get(), piece, sizeof piece);
    if (n > 0) {
      output.append(piece, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  readEnd.reset();
  int status = 0;
  waitForProcess(pid, status);
  while (!output.empty() && (output.back() == ' ' || output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  return output;
}

}  // namespace velmoran
