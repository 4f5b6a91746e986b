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

}  // namespace velmoran
