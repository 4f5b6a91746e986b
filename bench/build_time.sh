#!/usr/bin/env bash
# How long `velmoran-pack app` takes for the demo application (a jlink JRE,
# signed, the default --compress) when little has changed: a first build with
# an empty cache, against later builds of a changed application (a new jar
# beside it, a new version) with the same JDK and so the same JRE, whose
# module list, jlink image and compressed archive come from the cache. A
# build with --no-cache shows what the cache saves alone, the archives still
# compressed side by side.
# Goal: the second build at most 0.20 of the first.
# Usage: bench/build_time.sh [BUILD]   (default build/; RUNS later builds, default 3, best taken)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$src/build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache"
mkdir "$work/input"
cp "$build/examples/hello/hello.jar" "$work/input/"
"$build/velmoran-pack" keygen -o "$work/signing.key" >/dev/null

/usr/bin/python3 - "$work" "$build/velmoran-pack" "${RUNS:-3}" <<'PY'
import os, subprocess, sys, time
work, pack, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])

def build(version, *extra):
    out = os.path.join(work, f"hello-{version}")
    start = time.perf_counter()
    subprocess.run([pack, "app", "-o", out, "--name", "Hello", "--input", os.path.join(work, "input"),
                    "--main-class", "dev.velmoran.hello.Hello", "--app-version", str(version),
                    "--sign", os.path.join(work, "signing.key"), *extra], check=True, stdout=subprocess.DEVNULL)
    took = time.perf_counter() - start
    os.remove(out)
    return took

first = build(1)
later = []
for i in range(runs):
    # The application changes between builds; the JRE does not.
    with open(os.path.join(work, "input", f"notes-{i}.txt"), "w") as f:
        f.write(f"build {i}\n")
    later.append(build(2 + i))
uncached = build(100, "--no-cache")
second = min(later)
print(f"first build (empty cache)        {first:7.2f} s")
print(f"later builds, same JRE (best)    {second:7.2f} s   ({', '.join(f'{t:.2f}' for t in later)})")
print(f"a build with --no-cache          {uncached:7.2f} s")
print(f"ratio later/first {second / first:.3f} (goal <= 0.20); later/--no-cache {second / uncached:.3f}")
PY
