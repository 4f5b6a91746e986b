#include "platform/stop.h"

#include <pthread.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace velmoran {
namespace {

std::atomic<bool> mainThreadKnown{false};
pthread_t mainThread;

// Set under childMutex, so that a child is either known to the stop (and
// killed by it) or started after it (and killed by its own thread).
std::atomic<bool> stopping{false};
pthread_t stopper;  // written before stopping is set

std::mutex childMutex;
pid_t waitedChild = 0;

std::mutex endMutex;
thread_local bool endClaimedHere = false;

std::mutex parkMutex;
std::condition_variable mainParkedChanged;
bool mainParked = false;

thread_local int deferDepth = 0;

bool onMainThread() { return mainThreadKnown && pthread_equal(pthread_self(), mainThread); }

// Once it returns, the child writes nothing more. It stays unreaped (the
// main thread reaps it), so its pid cannot be taken by another process.
void killAndAwait(pid_t pid) {
  kill(pid, SIGKILL);
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

[[noreturn]] void park() {
  if (onMainThread()) {
    std::lock_guard lock(parkMutex);
    mainParked = true;
    mainParkedChanged.notify_all();
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

void setMainThread() {
  mainThread = pthread_self();
  mainThreadKnown = true;
}

void claimRunEnd() {
  if (endClaimedHere) return;
  if (!endMutex.try_lock()) park();
  endClaimedHere = true;
}

bool stopRequested() { return stopping; }

void parkIfStopRequested() {
  if (!stopping || deferDepth > 0 || pthread_equal(pthread_self(), stopper)) return;
  park();
}

StopDeferred::StopDeferred() { ++deferDepth; }

StopDeferred::~StopDeferred() {
  if (--deferDepth == 0) parkIfStopRequested();
}

void requestStop() {
  std::lock_guard lock(childMutex);
  stopper = pthread_self();
  stopping = true;
  if (waitedChild > 0) killAndAwait(waitedChild);
}

bool awaitMainThreadParked(std::chrono::milliseconds patience) {
  std::unique_lock lock(parkMutex);
  return mainParkedChanged.wait_for(lock, patience, [] { return mainParked; });
}

void waitingForChild(pid_t pid) {
  {
    std::lock_guard lock(childMutex);
    if (!stopping) {
      waitedChild = pid;
      return;
    }
    killAndAwait(pid);
  }
  parkIfStopRequested();
}

void childEnded(pid_t pid) {
  std::lock_guard lock(childMutex);
  if (waitedChild == pid) waitedChild = 0;
}

}  // namespace velmoran
