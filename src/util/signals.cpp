#include "util/signals.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "util/exit.h"
#include "util/log.h"
#include "util/stop.h"

namespace velmoran {
namespace {

// How long the main thread may take to reach its next step. It gets there in
// moments (a killed child, an aborted download, the next file of an archive);
// one that does not is stuck where nothing stops it (a frozen X server).
constexpr std::chrono::seconds kStopPatience{10};

// How long a child's end by one of the signals waits for the run's own stop
// when the watcher may have taken the signal already.
constexpr std::chrono::seconds kStopAfterSignalPatience{2};

std::atomic<bool> watching{false};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t endingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : kEndingSignals) sigaddset(&set, number);
  return set;
}

void* watchForEndingSignals(void*) {
  const sigset_t set = endingSignals();
  int number = 0;
  while (sigwait(&set, &number) != 0) {
  }
  const int status = 128 + number;
  claimRunEnd();
  requestStop();
  // Before the first temporary folder nothing needs undoing. The main thread
  // sets the cleanup before it makes one and looks for a stop after, so if
  // it is not set now, the main thread parks before it makes any.
  if (!hasFailedRunCleanup()) endRun(status);
  if (!awaitMainThreadParked(kStopPatience)) {
    // Removing folders the main thread may still be writing into or renaming
    // could leave half of one under its final name: a later run removes them.
    dprintf(STDERR_FILENO,
            "[Extractor] Interrupted by signal %d; the run did not stop within %lld seconds, so its temporary "
            "folders are left for a later run to remove\n",
            number, static_cast<long long>(kStopPatience.count()));
    setFailedRunCleanup(nullptr);
    endRun(status);
  }
  logMessage("[Extractor] Interrupted by signal %d; removing this run's temporary folders\n", number);
  endRun(status);
}

}  // namespace

void ignoreSigpipe() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void watchInterruptions() {
  const sigset_t set = endingSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  setMainThread();
  pthread_t watcher;
  if (pthread_create(&watcher, nullptr, watchForEndingSignals, nullptr) != 0) {
    // Without the watcher the signals end the process as they always did.
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return;
  }
  pthread_detach(watcher);
  watching = true;
}

void awaitInterruptionAfterChildSignal(int childSignal) {
  if (!watching || std::find(std::begin(kEndingSignals), std::end(kEndingSignals), childSignal) ==
                       std::end(kEndingSignals)) {
    return;
  }
  // Still pending: the watcher has yet to take it, and then stops the run.
  // Taken already: the stop follows in moments. Neither: the child alone got
  // it (someone ended it by hand), and the step fails after this pause.
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  bool isPending = false;
  for (const int number : kEndingSignals) isPending = isPending || sigismember(&pending, number) == 1;
  const auto giveUp = std::chrono::steady_clock::now() + kStopAfterSignalPatience;
  while (!stopRequested() && (isPending || std::chrono::steady_clock::now() < giveUp)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  parkIfStopRequested();
}

}  // namespace velmoran
