#!/usr/bin/env bash
# First install: the first run of an offline launcher file that carries a
# jlink JRE, the updater and the demo application, in a sandbox, until the
# hand-over (a prepare-only run, "VLPREPARE_FOR_LAUNCH_ONLY", which installs
# everything and ends where java would start). Baseline: `xz -dc | tar -x` of
# the same three trees, each a .tar.lzma compressed like the archives (preset
# 6, 8 MiB dictionary), then the same `java -Xshare:dump` that the run does on
# the extracted JRE. Fresh folders for every run; the contenders take turns;
# best and median of RUNS (default 7) each.
# Goal: the signed launcher file at most 1.0 times the baseline.
# Needs OpenJDK 17 (jlink).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$src/build}")
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/opt"
cp "$src/bench/bench_support.py" "$work/"
jre=$(bash "$src/scripts/jlink-jre.sh" "$build/jlink-jre")

/usr/bin/python3 - "$src" "$build" "$work" "$jre" <<'PY'
import os, sys
src, build, work, jre = sys.argv[1:]
sys.path.insert(0, os.path.join(src, "bench"))
import bench_support as b
harness, installs = b.use_build(src, build)
trees = {"jre": b.copy_tree(jre, os.path.join(work, "jre")),
         "updater": b.updater_tree(harness, os.path.join(work, "updater")),
         "app": b.app_tree(harness, os.path.join(work, "app"))}
for name, tree in trees.items():
    b.tar_lzma(tree, os.path.join(work, name + ".tar.lzma"))
builder = installs.Builder(work)
signed = b.offline_launcher(builder, "signed.bin", trees["jre"], trees["updater"], trees["app"])
b.offline_launcher(builder, "plain.bin", trees["jre"], trees["updater"], trees["app"], sign=False)
print(f"launcher file {b.mib(signed):.1f} MiB (JRE archive {b.mib(os.path.join(work, 'jre.p2.l2')):.1f} MiB,"
      f" tar.lzma {b.mib(os.path.join(work, 'jre.tar.lzma')):.1f} MiB); runs: {os.environ.get('RUNS', 7)}")
PY

"$src/scripts/sandbox.sh" "$work/home" "$work/opt" "$work" /usr/bin/python3 - "$work" "$runs" <<'PY'
import os, sys
work, runs = sys.argv[1], int(sys.argv[2])
sys.path.insert(0, work)
import bench_support as b
os.environ.pop("DISPLAY", None)  # no splash connection in either contender
out = os.path.join(work, "out")
baseline = ("set -e; for t in jre updater app; do mkdir \"$1/$t\"; "
            "xz --format=lzma -dc \"$t.tar.lzma\" | tar -x -C \"$1/$t\"; done; "
            "\"$1/jre/bin/java\" -Xshare:dump >/dev/null")
contenders = [
    ("xz -dc | tar -x, java -Xshare:dump", lambda: b.fresh(out + "/"), ["sh", "-c", baseline, "sh", out], (0,), False),
    ("first run, signed", lambda: b.fresh(b.shared_dir()),
     [os.path.join(work, "signed.bin"), "VLPREPARE_FOR_LAUNCH_ONLY"], (0,), False),
    ("first run, unsigned", lambda: b.fresh(b.shared_dir()),
     [os.path.join(work, "plain.bin"), "VLPREPARE_FOR_LAUNCH_ONLY"], (0,), False),
]
for path in ("signed.bin", "plain.bin", "jre.tar.lzma", "updater.tar.lzma", "app.tar.lzma"):
    b.run(["cat", os.path.join(work, path)])  # into the page cache
times = b.compare(contenders, runs)
installed = os.listdir(b.master_folder())
jre = [f for f in installed if f.startswith("Velmoran-TestJRE-")]
if not jre or not os.path.exists(os.path.join(b.master_folder(), jre[0], "lib", "server", "classes.jsa")):
    sys.exit(f"the last run left no JRE with a class data archive: {installed}")
if not os.path.exists(os.path.join(out, "jre", "lib", "server", "classes.jsa")):
    sys.exit("the baseline left no class data archive")
base = times[contenders[0][0]]
print(b.line(contenders[0][0], base))
print(b.line("first run, signed", times["first run, signed"], base, goal=1.0))
print(b.line("first run, unsigned", times["first run, unsigned"], base))
PY
