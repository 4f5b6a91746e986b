#include "platform/signals.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "util/log.h"
#include "platform/stop.h"

namespace velmoran {
namespace {

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

InterruptionHandler handler = nullptr;

void* watchForEndingSignals(void*) {
  const sigset_t set = endingSignals();
  int number = 0;
  while (sigwait(&set, &number) != 0) {
  }
  handler(number);
  return nullptr;
}

}  // namespace

void ignoreSigpipe() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void watchInterruptions(InterruptionHandler onInterruption) {
  const sigset_t set = endingSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  setMainThread();
  // Every step of the main thread logs: where a run being stopped parks it.
  setRecordGate(parkIfStopRequested);
  handler = onInterruption;
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
