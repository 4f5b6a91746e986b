#include "util/clock.h"

#include <sys/time.h>

#include <ctime>

namespace velmoran {
namespace {

int64_t retryPauseForTests = -1;

}  // namespace

int64_t systemTimeMillis() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

int64_t getCurrentTimeMillis() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int getJustMillis() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  return static_cast<int>(now.tv_nsec / 1000000);
}

void millisleep(int64_t ms) {
  if (ms <= 0) return;
  timespec pause{};
  pause.tv_sec = static_cast<time_t>(ms / 1000);
  pause.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  nanosleep(&pause, nullptr);
}

void pauseBeforeRetry(int64_t ms) { millisleep(retryPauseForTests >= 0 ? retryPauseForTests : ms); }

void setRetryPauseForTests(int64_t ms) { retryPauseForTests = ms; }

}  // namespace velmoran
