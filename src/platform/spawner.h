// Starting child programs: the spawner runs one program with an argument
// vector and waits for it; runCommandGetOutput runs a shell command line and
// captures what it prints.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {

// Slot 0 is the executable, then the arguments. One slot of the
// 500 always stays free to terminate the vector, so 499 entries fit.
constexpr std::size_t kSpawnerSlots = 500;

struct Spawner {
  std::vector<std::string> args;
  // The largest file the program may write, in bytes: one that writes on is
  // ended by SIGXFSZ. None: no limit but the launcher's own.
  std::optional<off_t> fileSizeLimit;
};
using SpawnerPtr = std::unique_ptr<Spawner>;

SpawnerPtr createSpawner();
// Appends the executable; call it before any addSpawnerArg.
void setSpawnerExe(Spawner& spawner, const std::string& exe);
// Appends one argument; when 499 entries are there already it is dropped with a warning.
void addSpawnerArg(Spawner& spawner, const std::string& arg);
// Starts the executable (taken as a path, no search) with the launcher's
// environment, working folder and streams, and waits for it. Returns the exit
// status (0-255), -1 when it could not be started, and 128 + the signal number
// when a signal ended it.
int runSpawnerAndWait(const Spawner& spawner);
void deleteSpawner(SpawnerPtr& spawner);

// Starts argv[0] (a path, no search) with argv and the launcher's environment,
// working folder and streams, standard output optionally replaced by
// stdoutFd, and optionally a limit on the size of the files it writes. The
// child gets SIGPIPE and SIGXFSZ at their defaults again and an empty signal
// mask: the launcher ignores the two and blocks SIGINT, SIGTERM and SIGHUP
// (util/signals.h), and all would be inherited across exec. The other
// dispositions are passed on as the launcher got them (a SIGHUP ignored by
// nohup stays ignored). 0, or the error number of the failed start.
int startProcess(const std::vector<std::string>& argv, pid_t& pid, int stdoutFd = -1,
                 std::optional<off_t> fileSizeLimit = std::nullopt);
// Waits for the child, through interruptions; -1 when it cannot be waited for.
// While it waits, a run being ended by a signal kills the child (util/stop.h).
pid_t waitForProcess(pid_t pid, int& status);
char** getEnvP();

// Runs the command line through the shell and returns its standard output,
// trailing blanks, line feeds and carriage returns removed; none when the
// shell could not be started.
std::optional<std::string> runCommandGetOutput(const std::string& commandLine);

}  // namespace velmoran
