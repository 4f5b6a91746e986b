#!/usr/bin/env bash
# Runs the splash test that kills the X server under a live splash many times
# in a row (default 200) on a Release build, and prints how many passed. A
# lost server must end only the splash, never the process (it once died of
# SIGPIPE a few runs in forty). Not part of CI.
# Usage: scripts/splash-lost-server-loop.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-200}
bash "$root/scripts/install-deps.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target velmoran_unit_tests >/dev/null
passed=0
for ((i = 1; i <= runs; i++)); do
  if "$build/tests/velmoran_unit_tests" --gtest_filter=SplashTest.SurvivesXErrorsAndALostServer \
      >"$build/lost-server-last.log" 2>&1; then
    passed=$((passed + 1))
  else
    echo "run $i failed:"; tail -n 5 "$build/lost-server-last.log"
  fi
done
echo "SplashTest.SurvivesXErrorsAndALostServer: $passed of $runs passed"
[ "$passed" -eq "$runs" ]
