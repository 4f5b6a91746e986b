// Wall-clock readings in milliseconds and sleeping.
#pragma once

#include <cstdint>

namespace velmoran {

// Milliseconds since the Unix epoch from gettimeofday; the logger's clock.
int64_t systemTimeMillis();
// Milliseconds since the Unix epoch, 0 if the clock cannot be read.
int64_t getCurrentTimeMillis();
// The millisecond part (0 to 999) of the current time, 0 if it cannot be read.
int getJustMillis();
// Sleeps; a sleep cut short by a signal is not resumed.
void millisleep(int64_t ms);

// The pause before an attempt is made again (a rename, an open, a write):
// ms in a run. Tests, which meet many retries, have every such pause take
// what setRetryPauseForTests gives instead (-1 puts the real ones back).
void pauseBeforeRetry(int64_t ms);
void setRetryPauseForTests(int64_t ms);

}  // namespace velmoran
