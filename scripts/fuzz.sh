#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz) and runs each for a while
# from its seed corpus (fuzz/corpus/TARGET), then prints its executions and
# coverage. Any crash, leak, sanitizer report, timeout or memory blow-up
# fails the run; the input is kept in build-fuzz/artifacts.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60; fuzz/run-long.sh: 600)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
bash "$root/scripts/install-deps.sh"
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORAN_WERROR=ON -DVELMORAN_FUZZ=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# Whole launcher files and archives are larger than the other inputs.
declare -A max_len=([fuzz_tail]=16384 [fuzz_archive]=8192 [fuzz_png]=8192)
mkdir -p "$build/artifacts" "$build/logs"
failed=()
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  # New inputs go to the first folder, never into the source tree.
  work="$build/corpus/$name"
  log="$build/logs/$name.log"
  mkdir -p "$work"
  if ! "$target" "$work" "$root/fuzz/corpus/$name" -max_total_time="$seconds" -max_len="${max_len[$name]:-4096}" \
      -timeout=30 -rss_limit_mb=2048 -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 \
      >"$log" 2>&1; then
    failed+=("$name")
    echo "== $name FAILED (log: $log)"
    grep -v -E '^#[0-9]+' "$log" | tail -n 60
    continue
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  final=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$final")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$final")
  printf '== %-18s %9s executions in %ss   cov: %-6s ft: %s\n' "$name" "$execs" "$seconds" "$cov" "$ft"
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: ${failed[*]} failed" >&2
  exit 1
fi
