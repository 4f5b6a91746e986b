#include "launch/spawner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>

#include "util/log.h"

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

int runSpawnerAndWait(const Spawner& spawner) {
  char** envp = getEnvP();
  std::vector<char*> argv;
  argv.reserve(spawner.args.size() + 1);
  for (const std::string& arg : spawner.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error = argv[0] == nullptr ? EINVAL : posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp);
  if (error != 0) {
    logMessage("Launch Error %d.\n", error);
    return -1;
  }
  logMessage("Spawn call returned %d.\n", 0);

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
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

namespace {
struct PipeCloser {
  void operator()(FILE* f) const noexcept {
    if (f != nullptr) pclose(f);
  }
};
}  // namespace

std::optional<std::string> runCommandGetOutput(const std::string& commandLine) {
  std::fflush(nullptr);  // the child shares our streams; keep its output after ours
  std::unique_ptr<FILE, PipeCloser> pipe(popen(commandLine.c_str(), "r"));
  if (!pipe) return std::nullopt;
  std::string output;
  output.reserve(10000);
  char piece[4096];
  std::size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, pipe.get())) > 0) output.append(piece, n);
  pipe.reset();
  while (!output.empty() && (output.back() == ' ' || output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  return output;
}

}  // namespace velmoran
