// A progress line for the long steps (jlink, LZMA compression), drawn on
// standard error only when that is a terminal, so logs and pipes get none.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velmoran::pack {

class Progress {
 public:
  // total 0: the share done is unknown, the time taken is shown instead.
  explicit Progress(std::string label, uint64_t total = 0);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Redraws at most a few times a second.
  void update(uint64_t done);

 private:
  std::string label_;
  uint64_t total_;
  bool shown_;
  std::chrono::steady_clock::time_point start_, drawn_;
};

// While one lives, SIGINT, SIGTERM and SIGHUP no longer kill the process:
// the long steps look at interrupted() and end through fail(), so their
// temporary files go as on any other failure. The dispositions before it
// come back when it goes.
class InterruptibleSteps {
 public:
  InterruptibleSteps();
  ~InterruptibleSteps();
  InterruptibleSteps(const InterruptibleSteps&) = delete;
  InterruptibleSteps& operator=(const InterruptibleSteps&) = delete;
};

bool interrupted();
// Fails with "interrupted" once a signal has come.
void failIfInterrupted();

}  // namespace velmoran::pack
