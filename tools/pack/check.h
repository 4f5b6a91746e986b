// Checking a launcher file the way the launcher will read it (what the
// check command runs, and app on what it wrote).
#pragma once

#include <cstdio>
#include <string>

namespace velmoran::pack {

struct CheckCounts {
  int errors = 0;
  int warnings = 0;
};

// Writes one "ok:", "warning:" or "error:" line per finding to report, then
// the summary line. Fails when the file cannot be read. The project's
// readers log their own warnings: with console logging on, they reach
// standard output too.
CheckCounts checkLauncherFile(const std::string& file, FILE* report);

}  // namespace velmoran::pack
