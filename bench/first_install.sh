#!/usr/bin/env bash
# First install: the first run of an offline launcher file that carries a
# jlink JRE, the updater and the demo application, in a sandbox, until the
# hand-over (a prepare-only run, "VLPREPARE_FOR_LAUNCH_ONLY", which installs
# everything and ends where java would start). Baseline: `xz -dc | tar -x` of
# the same three trees, each a .tar.lzma compressed like the archives (preset
# 6, 8 MiB dictionary), then the same `java -Xshare:dump` that the run does on
# the extracted JRE. Fresh folders for every run; the contenders take turns;
# best and median of RUNS (default 7) each, in wall time and in processor
# time (every process each waited for included: xz, tar, java).
# Goal: the signed launcher file at most 1.0 times the baseline, and at most
# 1.05 times the unsigned one (every signed archive is verified before any
# of its content runs).
# Needs OpenJDK 17 (jlink).
source "$(dirname "$0")/whole_run.sh"
runs=${RUNS:-7}
jre=$(bash "$src/scripts/jlink-jre.sh" "$build/jlink-jre")

outside "$jre" <<'PY'
import os
import bench_support as b
work, harness, installs, (jre,) = b.outside()
trees = {"jre": b.copy_tree(jre, os.path.join(work, "jre")),
         "updater": b.updater_tree(harness, os.path.join(work, "updater")),
         "app": b.app_tree(harness, os.path.join(work, "app"))}
for name, tree in trees.items():
    b.tar_lzma(tree, os.path.join(work, name + ".tar.lzma"))
builder = installs.Builder(work)
signed = b.offline_launcher(builder, "signed.bin", trees["jre"], trees["updater"], trees["app"])
b.offline_launcher(builder, "plain.bin", trees["jre"], trees["updater"], trees["app"], sign=False)
print(f"launcher file {b.mib(signed):.1f} MiB (JRE archive {b.mib(os.path.join(work, 'jre.p2.l2')):.1f} MiB,"
      f" tar.lzma {b.mib(os.path.join(work, 'jre.tar.lzma')):.1f} MiB)")
PY

inside "$runs" <<'PY'
import os, sys
import bench_support as b
work, (runs,) = b.inside()
runs = int(runs)
out = os.path.join(work, "out")
baseline = ("set -e; for t in jre updater app; do mkdir \"$1/$t\"; "
            "xz --format=lzma -dc \"$2/$t.tar.lzma\" | tar -x -C \"$1/$t\"; done; "
            "\"$1/jre/bin/java\" -Xshare:dump >/dev/null")
contenders = [
    ("xz -dc | tar -x, java -Xshare:dump", lambda: b.fresh(out + "/"),
     ["sh", "-c", baseline, "sh", out, work], (0,), False),
    ("first run, signed", lambda: b.fresh(b.shared_dir()),
     [os.path.join(work, "signed.bin"), "VLPREPARE_FOR_LAUNCH_ONLY"], (0,), False),
    ("first run, unsigned", lambda: b.fresh(b.shared_dir()),
     [os.path.join(work, "plain.bin"), "VLPREPARE_FOR_LAUNCH_ONLY"], (0,), False),
]
for path in ("signed.bin", "plain.bin", "jre.tar.lzma", "updater.tar.lzma", "app.tar.lzma"):
    b.run(["cat", os.path.join(work, path)])  # into the page cache
times, cpu = b.compare(contenders, runs)
installed = os.listdir(b.master_folder())
jre = [f for f in installed if f.startswith("Velmoran-TestJRE-")]
if not jre or not os.path.exists(os.path.join(b.master_folder(), jre[0], "lib", "server", "classes.jsa")):
    sys.exit(f"the last run left no JRE with a class data archive: {installed}")
if not os.path.exists(os.path.join(out, "jre", "lib", "server", "classes.jsa")):
    sys.exit("the baseline left no class data archive")
for figures, kind in ((times, "wall"), (cpu, "processor")):
    base = figures[contenders[0][0]]
    print(f"{kind} time:")
    print(b.line(contenders[0][0], base))
    print(b.line("first run, signed", figures["first run, signed"], base, goal=1.0 if kind == "wall" else None))
    print(b.line("first run, unsigned", figures["first run, unsigned"], base))
    print(b.line("signed against unsigned", figures["first run, signed"], figures["first run, unsigned"],
                 goal=1.05 if kind == "wall" else None))
PY
