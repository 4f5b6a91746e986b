#!/usr/bin/env bash
# The Params scan over a 64 MiB launcher file, against reading the same file
# once with cat, best of several runs each, in one script.
# Goal: the scan takes at most 1.5 times the plain read.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head -c 64M /dev/urandom > "$work/payload.l2"
head -c 65536 /dev/urandom > "$work/lzma64"
head -c 4096 /dev/urandom > "$work/splash.png"
"$build/velmoran-pack" launcher -o "$work/launcher.bin" --app-name Bench \
  --gu-version 00035090611 --lzma64 "$work/lzma64" --splash "$work/splash.png" \
  --gu-archive "$work/payload.l2" --param supported_langs=en >/dev/null

/usr/bin/python3 - "$build" "$work/launcher.bin" <<'PY'
import os, subprocess, sys, time
build, launcher = sys.argv[1], sys.argv[2]
size = os.path.getsize(launcher)

def best(cmd, runs=15, ok=(0,)):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if proc.returncode not in ok:
            sys.exit(f"{cmd} failed with {proc.returncode}")
        times.append(time.perf_counter() - start)
    return min(times)

best(["cat", launcher])  # warm the page cache
read = best(["sh", "-c", 'cat "$1" >/dev/null', "sh", launcher])
shell = best(["sh", "-c", "true"])
scan = best(["sh", "-c", '"$1" "$2" >/dev/null', "sh", os.path.join(build, "bench", "params_scan"), launcher])
# Without an install step the run ends with 1 once the header is read.
run = best(["sh", "-c", '"$1" >/dev/null', "sh", launcher], ok=(1,))
print(f"launcher file: {size / 2**20:.1f} MiB")
print(f"cat FILE >/dev/null      {read * 1000:7.2f} ms  ({size / read / 1e9:.2f} GB/s)")
print(f"Params scan              {scan * 1000:7.2f} ms  ratio {scan / read:.2f} (goal <= 1.5)")
print(f"launcher run to header   {run * 1000:7.2f} ms  ratio {run / read:.2f}")
print(f"(each includes starting a shell: {shell * 1000:.2f} ms)")
PY
