#!/usr/bin/env bash
# Just run: a run of an installed 30 MiB launcher file (its tail padded with a
# big JRE archive, so the Params scan passes 30 MiB) from exec until the java
# it starts has run. The private JRE's java is a stand-in that exits at once
# (a copy of true); the launcher copies it to bin/<App Name> and starts that,
# and the run is timed until every process holding its standard output (the
# launcher and the stand-in) has closed it. One prepare-only first run and
# one launching run install everything before timing, so each timed run takes
# the "just run" branch and finds the copied binary. Baseline: reading the
# file once (cat FILE >/dev/null) and starting the same stand-in. Both go
# through one shell; the contenders take turns; best and median of RUNS
# (default 31). The launcher program without a tail is timed too, to show
# what starting it costs.
# Goal: at most 1.2 times the baseline.
source "$(dirname "$0")/whole_run.sh"
runs=${RUNS:-31}

outside <<'PY'
import os, shutil
import bench_support as b
work, harness, installs, _ = b.outside()
jre = os.path.join(work, "jre")
os.makedirs(os.path.join(jre, "bin"))
shutil.copy(shutil.which("true"), os.path.join(jre, "bin", "java"))
# Incompressible, so the archive keeps its size: the file ends past 30 MiB.
b.random_file(os.path.join(jre, "lib", "pad.bin"), 30 * b.MIB - os.path.getsize(harness.LAUNCHER))
updater = b.updater_tree(harness, os.path.join(work, "updater"))
app = b.app_tree(harness, os.path.join(work, "app"))
path = b.offline_launcher(installs.Builder(work), "launcher.bin", jre, updater, app)
shutil.copy(harness.LAUNCHER, os.path.join(work, "stub"))
print(f"launcher file {b.mib(path):.1f} MiB")
PY

inside "$runs" <<'PY'
import os, sys
import bench_support as b
work, (runs,) = b.inside()
runs = int(runs)
launcher = os.path.join(work, "launcher.bin")
b.run([launcher, "VLPREPARE_FOR_LAUNCH_ONLY"])
b.run([launcher], capture=True)
jre = [f for f in os.listdir(b.master_folder()) if f.startswith("Velmoran-TestJRE-")]
standin = os.path.join(b.master_folder(), jre[0], "bin", b.APP_BINARY)
if not os.access(standin, os.X_OK):
    sys.exit(f"the launching run left no {standin}")
probe = b.run([launcher], capture=True).stdout.decode(errors="replace")
for record in ("[Extractor] Running without extraction now", f"[Extractor] Executable: {standin}"):
    if record not in probe:
        sys.exit(f"a timed run would not take the just-run branch: no record {record!r}")
contenders = [
    ("cat FILE >/dev/null; stand-in", None, ["sh", "-c", 'cat "$1" >/dev/null; "$2"', "sh", launcher, standin],
     (0,), True),
    ("just run to the stand-in's end", None, ["sh", "-c", '"$1"', "sh", launcher], (0,), True),
    # Where the time goes: starting the program (its libraries loaded), then
    # a scan of its own few MiB that finds no Params section.
    ("launcher program without a tail", None, ["sh", "-c", '"$1"', "sh", os.path.join(work, "stub")], (1,), True),
]
b.run(["cat", launcher])  # into the page cache
times, _ = b.compare(contenders, runs)
shell = b.compare([("sh -c true", None, ["sh", "-c", "true"], (0,), True)], runs)[0]["sh -c true"]
base = times[contenders[0][0]]
print(b.line(contenders[0][0], base))
print(b.line(contenders[1][0], times[contenders[1][0]], base, goal=1.2))
print(b.line(contenders[2][0], times[contenders[2][0]], base))
print(f"(each includes starting a shell: best {min(shell) * 1000:.2f} ms)")
PY
