// Which x86-64 micro-architecture level the processor offers, for the few
// loops built in copies for the higher levels. Read from what the C library
// found at start-up: asking the processor again (CPUID, as a load-time
// resolver does) costs microseconds per question in a virtual machine.
#pragma once

// Defined where per-level copies can be built and picked: g++ on x86-64 with
// the C library's <sys/platform/x86.h>. That header is C that clang++ does
// not accept; clang builds only the fuzz targets, which keep the baseline.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#define VELMORAN_CPU_LEVELS 1
#endif

namespace velmoran {

// The processor and the system support every feature of the level.
bool cpuHasX86_64_v3();
bool cpuHasX86_64_v4();

}  // namespace velmoran
