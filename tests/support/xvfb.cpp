#include "xvfb.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace velmoran::testutil {
namespace {

constexpr const char* kSharedDisplayVariable = "VELMORAN_TEST_XVFB";

bool displayLooksTaken(int number) {
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  const std::string lockFile = "/tmp/.X" + std::to_string(number) + "-lock";
  return access(socket.c_str(), F_OK) == 0 || access(lockFile.c_str(), F_OK) == 0;
}

pid_t spawnXvfb(const std::string& name) {
  std::vector<std::string> args = {"Xvfb", name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                   // Without it the server resets when its last client leaves and refuses
                                   // connections meanwhile.
                                   "-noreset"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The server must not outlive a test that crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The process that holds the display's lock file, 0 if none.
pid_t lockHolder(int number) {
  std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
  long pid = 0;
  lock >> pid;
  return static_cast<pid_t>(pid);
}

// Waits until our server holds the display and takes connections; false if it
// exited (another server got the number first) or never answered. The lock
// check keeps us from mistaking a concurrent test's server for ours.
bool waitUntilReady(pid_t& pid, int number, const std::string& name) {
  // A minute: a loaded machine can take seconds to start a server.
  for (int attempt = 0; attempt < 1200; ++attempt) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = 0;  // reaped: nothing left to stop
      return false;
    }
    if (lockHolder(number) != pid) {
      usleep(50 * 1000);
      continue;
    }
    if (Display* display = XOpenDisplay(name.c_str())) {
      XCloseDisplay(display);
      return true;
    }
    usleep(50 * 1000);
  }
  return false;
}

}  // namespace

std::unique_ptr<XvfbServer> XvfbServer::start() {
  XInitThreads();
  for (int number = 50; number < 200; ++number) {
    if (displayLooksTaken(number)) continue;
    const std::string name = ":" + std::to_string(number);
    pid_t pid = spawnXvfb(name);
    if (pid < 0) return nullptr;
    const bool ready = waitUntilReady(pid, number, name);
    std::unique_ptr<XvfbServer> server(new XvfbServer(pid, name));
    if (ready) return server;
  }
  return nullptr;
}

void XvfbServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = 0;
}

XvfbServer::~XvfbServer() { stop(); }

std::string testDisplay() {
  static std::unique_ptr<XvfbServer> server;
  static std::string name;
  if (!name.empty()) return name;
  if (const char* inherited = std::getenv(kSharedDisplayVariable)) {
    name = inherited;
  } else {
    server = XvfbServer::start();
    if (server == nullptr) return "";
    name = server->name();
    setenv(kSharedDisplayVariable, name.c_str(), 1);
  }
  setenv("DISPLAY", name.c_str(), 1);
  return name;
}

}  // namespace velmoran::testutil
