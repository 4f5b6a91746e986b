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

}  // namespace velmoran::pack
