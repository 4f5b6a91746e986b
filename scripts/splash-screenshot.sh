#!/usr/bin/env bash
# Shows the splash on a private Xvfb and saves two screenshots: the
# determinate bar (60 %) and the indefinite bar.
# Usage: scripts/splash-screenshot.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build"
out=${1:-"$build/screenshots"}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORAN_WERROR=ON >/dev/null
cmake --build "$build" --target splash_shot
mkdir -p "$out"
"$build/tests/splash_shot" "$out"
