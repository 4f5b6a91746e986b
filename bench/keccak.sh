#!/usr/bin/env bash
# Builds the Keccak benchmark and prints our Keccak-256 and "mixed" throughput
# against OpenSSL's SHA3-256 and libtomcrypt's hashes, and the mixed digest's
# SHA-256 (OpenSSL's low-level calls) against libtomcrypt's and OpenSSL's
# EVP one, on 16 KiB inputs and on a 64 MiB buffer, with the ratios.
# Usage: bench/keccak.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" keccak_throughput >/dev/null
"$build/bench/keccak_throughput"
