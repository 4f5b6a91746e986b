#!/usr/bin/env bash
# Builds everything and runs every test: the splash tests under
# ThreadSanitizer, then all unit tests and end-to-end scenarios.
# Usage: scripts/test.sh   (installs the Debian packages it needs first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
jobs=$(nproc)

# The splash tests under ThreadSanitizer: only the core library and the
# splash test binary are built, and the first report fails the run.
tsan="$root/build-tsan"
cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORAN_WERROR=ON -DVELMORAN_TSAN=ON >/dev/null
cmake --build "$tsan" --parallel "$jobs"
(cd "$tsan" && ctest --output-on-failure --parallel "$jobs" --timeout 300)

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORAN_WERROR=ON >/dev/null
cmake --build "$build" --parallel "$jobs"
cd "$build"
ctest --output-on-failure --parallel "$jobs" --timeout 900
