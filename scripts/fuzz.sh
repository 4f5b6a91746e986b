#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
bash "$root/scripts/install-deps.sh"
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORAN_FUZZ=ON -DVELMORAN_TESTS=OFF -DVELMORAN_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"
# A seed for the tail reader: a real launcher file around a tiny stand-in for
# the launcher program, with its Params area cut short (the reader stops after
# the last pair anyway).
seeds="$build/seeds"
mkdir -p "$seeds"
printf 'stub' > "$seeds/stub"
"$build/velmoran-pack" launcher -o "$seeds/full" --stub "$seeds/stub" --app-name Seed \
  --app-version 00000000002 --update-url D --param update_url=http://127.0.0.1/ \
  --param show_no_ui=true --param jre_name=JRE >/dev/null
mkdir -p "$build/corpus/fuzz_tail"
head -c 600 "$seeds/full" > "$build/corpus/fuzz_tail/seed"

for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  corpus="$build/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  echo "== $(basename "$target") for ${seconds}s"
  "$target" "$corpus" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 2>&1 | tail -n 3
done
