#!/usr/bin/env bash
# Memory of a first run: the peak anonymous memory (heap, stacks, the LZMA
# dictionary, buffers; not the mapped program, libraries and launcher file)
# of the launcher process during a prepare-only first run of a signed offline
# launcher file, for two JRE payloads: the jlink JRE (about 16 MiB of LZMA)
# and the same with 44 MiB of incompressible files added (about 60 MiB), to
# show that it does not grow with the payload. Baseline: `xz -dc` of the same
# JRE archive (LZMA alone, 8 MiB dictionary), followed the same way.
# bench_support.anonymous_peak says how the peak is taken; the children the
# launcher waits for (java -Xshare:dump) are not counted. Largest of RUNS
# (default 3) runs each.
# Goal: at most 16 MB (15.3 MiB) for both payloads.
# Needs OpenJDK 17 (jlink).
source "$(dirname "$0")/whole_run.sh"
runs=${RUNS:-3}
jre=$(bash "$src/scripts/jlink-jre.sh" "$build/jlink-jre")

outside "$jre" <<'PY'
import os
import bench_support as b
work, harness, installs, (jre,) = b.outside()
updater = b.updater_tree(harness, os.path.join(work, "updater"))
app = b.app_tree(harness, os.path.join(work, "app"))
small = b.copy_tree(jre, os.path.join(work, "jre"))
large = b.copy_tree(jre, os.path.join(work, "jre-large"))
for k in range(4):
    b.random_file(os.path.join(large, "lib", "pad", f"pad{k}.bin"), 11 * b.MIB)
builder = installs.Builder(work)
for name, tree in (("small", small), ("large", large)):
    path = b.offline_launcher(builder, name + ".bin", tree, updater, app)
    os.rename(os.path.join(work, os.path.basename(tree) + ".p2.l2"), os.path.join(work, name + ".p2.l2"))
    archive = os.path.join(work, name + ".p2.l2")
    print(f"{name}: launcher file {b.mib(path):.1f} MiB, JRE archive {b.mib(archive):.1f} MiB")
PY

inside "$runs" <<'PY'
import os, sys
import bench_support as b
work, (runs,) = b.inside()
runs = int(runs)
goal_kib = 16e6 / 1024

def worst(cmd, before=None):
    peaks = []
    for _ in range(runs):
        if before:
            before()
        peak = b.anonymous_peak(cmd)
        if peak["status"] != 0:
            sys.exit(f"{' '.join(cmd)} ended with {peak['status']}")
        peaks.append(peak)
    return {key: max(p[key] for p in peaks) for key in ("anon", "hwm")} | {
        "samples": min(p["samples"] for p in peaks)}

def show(label, peak, baseline=None):
    text = (f"{label:<20} peak RssAnon {peak['anon'] / 1024:5.1f} MiB  (VmHWM {peak['hwm'] / 1024:5.1f} MiB,"
            f" >= {peak['samples']} readings)")
    if baseline:
        text += f"  ratio {peak['anon'] / baseline['anon']:.2f} to xz"
    return text

results = {}
for name in ("small", "large"):
    xz = worst(["xz", "--format=lzma", "-dc", os.path.join(work, name + ".p2.l2")])
    run = worst([os.path.join(work, name + ".bin"), "VLPREPARE_FOR_LAUNCH_ONLY"],
                lambda: b.fresh(b.shared_dir()))
    results[name] = run
    print(show(f"xz -dc, {name}", xz))
    print(show(f"first run, {name}", run, xz) + f"  goal <= 16 MB: {'met' if run['anon'] <= goal_kib else 'missed'}")
print(f"first run, large payload to small: ratio {results['large']['anon'] / results['small']['anon']:.2f}")
PY
