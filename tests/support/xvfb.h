// A private X server (Xvfb) for tests and tools that draw on a real display.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace velmoran::testutil {

class XvfbServer {
 public:
  // Starts Xvfb on the first free display number from 50 on; null if none came up.
  static std::unique_ptr<XvfbServer> start();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  const std::string& name() const { return name_; }  // ":N"
  // Ends the server now; Xlib clients of it see the connection drop.
  void stop();

 private:
  XvfbServer(pid_t pid, std::string name) : pid_(pid), name_(std::move(name)) {}
  pid_t pid_;
  std::string name_;
};

// The server shared by this process's tests, started on first use and stopped
// at exit; DISPLAY points at it. A test binary re-run for an isolated test
// (a death test) finds its parent's server in the environment and reuses it.
// Empty when no server could be started.
std::string testDisplay();

}  // namespace velmoran::testutil
