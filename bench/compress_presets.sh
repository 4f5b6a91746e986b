#!/usr/bin/env bash
# The LZMA presets of `velmoran-pack app --compress` on the demo's JRE: the
# runtime image app makes for the demo application (java.base and
# java.desktop by jlink, the same options), written as an archive by
# `velmoran-pack archive` and compressed as the tail's archives are (LZMA
# "alone", lc 3, lp 0, pb 2, the 8 MiB dictionary; liblzma through Python's
# lzma module, the same encoder). For each preset 0 to 6: the size, the time
# to compress (one core) and the time the carried lzma64 takes to decode it,
# best of RUNS (default 3). Presets 7 to 9 differ from 6 only in the
# dictionary's size, which the tail fixes at 8 MiB: they give 6's bytes.
# Usage: bench/compress_presets.sh [BUILD]   (default build/)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$src/build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jlink --add-modules java.base,java.desktop --strip-debug --no-header-files --no-man-pages --output "$work/jre"
"$build/velmoran-pack" archive "$work/jre" -o "$work/jre.p2" >/dev/null

/usr/bin/python3 - "$work" "$build/lzma64" "${RUNS:-3}" <<'PY'
import lzma, os, subprocess, sys, time
work, lzma64, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(os.path.join(work, "jre.p2"), "rb") as f:
    plain = f.read()
print(f"archive: {len(plain) / 2**20:.1f} MiB before compression; best of {runs}")
print("| Preset | Size (MiB) | Ratio | Compress (s) | Decode with lzma64 (s) |")
print("|---|---|---|---|---|")
for preset in range(7):
    encode = []
    for _ in range(runs):
        start = time.perf_counter()
        packed = lzma.compress(plain, format=lzma.FORMAT_ALONE, filters=[
            {"id": lzma.FILTER_LZMA1, "preset": preset, "dict_size": 8 << 20, "lc": 3, "lp": 0, "pb": 2}])
        encode.append(time.perf_counter() - start)
    path = os.path.join(work, f"jre-{preset}.p2.l2")
    with open(path, "wb") as f:
        f.write(packed)
    decode = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([lzma64, "d", path, os.path.join(work, "out")], check=True, stdout=subprocess.DEVNULL)
        decode.append(time.perf_counter() - start)
    print(f"| {preset} | {len(packed) / 2**20:.2f} | {len(packed) / len(plain):.3f} | {min(encode):.2f} | "
          f"{min(decode):.3f} |", flush=True)
PY
