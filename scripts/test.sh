#!/usr/bin/env bash
# Builds everything and runs every test, the cheapest failing signal first:
#   1. the plain build (warnings are errors), its unit tests, then its
#      end-to-end scenarios;
#   2. every fuzz target for a few seconds from its seed corpus (build-fuzz);
#   3. the splash tests under ThreadSanitizer (build-tsan);
#   4. the unit tests and end-to-end scenarios under AddressSanitizer and
#      UndefinedBehaviorSanitizer (build-asan; the launcher and the tools the
#      scenarios run are the instrumented ones built there).
# Each step prints how long it took. Any sanitizer report fails the run.
# Usage: scripts/test.sh   (installs the Debian packages it needs first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# About a minute of fuzzing in all; scripts/fuzz.sh and fuzz/run-long.sh go longer.
fuzz_seconds=${VELMORAN_CI_FUZZ_SECONDS:-8}

step() {
  local name=$1 start=$SECONDS
  shift
  echo "== step $name"
  "$@"
  echo "== step $name took $((SECONDS - start))s"
}

configure_and_build() {
  local folder=$1
  shift
  cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORAN_WERROR=ON "$@" >/dev/null
  cmake --build "$folder" --parallel "$jobs"
}

plain_build() { configure_and_build "$root/build"; }
plain_unit_tests() { ctest --test-dir "$root/build" --output-on-failure --parallel "$jobs" --timeout 900 -E '^e2e\.'; }
plain_e2e_tests() { ctest --test-dir "$root/build" --output-on-failure --parallel "$jobs" --timeout 900 -R '^e2e\.'; }

fuzz() { bash "$root/scripts/fuzz.sh" "$fuzz_seconds"; }

# Only the core library and the splash test binary; the first report fails.
tsan_splash_tests() {
  configure_and_build "$root/build-tsan" -DVELMORAN_TSAN=ON
  ctest --test-dir "$root/build-tsan" --output-on-failure --parallel "$jobs" --timeout 300
}

# Reports go to files as well as failing their process with a status of
# their own (a scenario that expects status 1 must not take a report for
# it), so one in a child that nobody checks the status of is caught too.
# Leak detection stays on: the launcher ends through _Exit, which runs no
# leak check, and the tools and tests leak nothing.
asan_tests() {
  local asan="$root/build-asan"
  configure_and_build "$asan" -DVELMORAN_SANITIZE=ON
  local reports="$asan/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  local status=0
  ASAN_OPTIONS="exitcode=86:log_path=$reports/asan" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87:log_path=$reports/ubsan" \
    ctest --test-dir "$asan" --output-on-failure --parallel "$jobs" --timeout 900 || status=$?
  if [ -n "$(ls -A "$reports")" ]; then
    echo "sanitizer reports in $reports:" >&2
    cat "$reports"/* >&2
    status=1
  fi
  return "$status"
}

start=$SECONDS
step install-deps bash "$root/scripts/install-deps.sh"
step plain-build plain_build
step plain-unit-tests plain_unit_tests
step plain-e2e-tests plain_e2e_tests
step fuzz fuzz
step tsan-splash-tests tsan_splash_tests
step asan-tests asan_tests
echo "== all steps passed in $((SECONDS - start))s"
