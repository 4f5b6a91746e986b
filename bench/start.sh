#!/usr/bin/env bash
# Warm start: from the start of a process until the demo application's main
# is reached, with everything installed, in wall time and in the processor
# time of the thread that runs main (the JVM's creation included). The launcher file is made by
# `velmoran-pack app` (the demo, the real updater, a jlink JRE) with the
# application's heap set to the updater's (64 MB), so that the updater starts
# it in its own JVM; a prepare-only run installs it. "main reached": the demo
# appends the monotonic clock and its thread's processor time to the file its
# system property dev.velmoran.hello.main_stamp names (a Params pair of the
# launcher file); the clock is compared with the clock read just before the
# process is started. The processor time shows the work before main where a
# busy machine blurs the wall time.
# Baseline: `java -Xmx64m -cp hello.jar dev.velmoran.hello.Hello` on the
# installed JRE, with that property: the JVM the application asks for (the
# heap's size weighs on the JVM's start; plain `java -cp` is shown too). The
# contenders take turns; best and median of RUNS (default 21).
#
# Contenders: the updater started as the launcher starts it (the copy of java
# named after the application, -Xmx64m, its jar) with launch properties
# written before each run from the installed master folder: what the launcher
# puts there and the description of the application it adds (vlstat_app_*),
# with /bin/true as the launcher copy that the update check runs; the same
# with a heap of the application's own (a second JVM); and, when the
# launcher writes the description itself, the launcher file run as a user
# runs it.
# Goal: the updater's start in its own JVM at most 1.2 times the baseline.
#
# Part 2, the first start of an online file (app --online: the application is
# not in the file but on the update channel that app --publish wrote, served
# by tests/fixtures/http_server.py on 127.0.0.1) until main is reached, on a
# clean machine: the updater and the JRE installed from the file, the
# application fetched by the updater's wait for an update, the launcher copy
# run again. Baseline: `curl` of the application's archive from the same
# server, then the first start of the part's offline file (the same pieces,
# the application in its tail, so extracted as the online one is). RUNS2
# runs each (default 5).
source "$(dirname "$0")/whole_run.sh"
runs=${RUNS:-21}
jre=$(bash "$src/scripts/jlink-jre.sh" "$build/jlink-jre")
mkdir "$work/served"
coproc SERVER { exec /usr/bin/python3 "$src/tests/fixtures/http_server.py" "$work/served"; }
read -r port <&"${SERVER[0]}"
trap 'kill "$SERVER_PID"; rm -rf "$work"' EXIT
url="http://127.0.0.1:$port/served/"

outside "$jre" "$url" <<'PY'
import os, shutil
import bench_support as b
work, harness, installs, (jre, url) = b.outside()
if not (os.path.exists(harness.HELLO_JAR) and os.path.exists(harness.UPDATER_JAR)):
    raise SystemExit("the updater and the demo application were not built (no JDK)")
source = os.path.join(work, "input")
os.makedirs(source)
shutil.copy(harness.HELLO_JAR, source)
common = ["--name", "Hello", "--input", source, "--main-class", harness.HELLO_CLASS, "--app-version", "1",
          "--jre", jre, "--compress", "0", "--max-heap", "64",
          "--param", "dev.velmoran.hello.main_stamp=" + os.path.join(work, "stamp")]
harness.pack("app", "-o", os.path.join(work, "hello-setup"), *common)
harness.pack("app", "-o", os.path.join(work, "hello-online"), *common, "--online", "--update-url", url,
             "--publish", os.path.join(work, "served"))
PY

inside "$runs" <<'PY'
import glob, os, statistics, subprocess, sys, time
import bench_support as b
work, (runs,) = b.inside()
runs = int(runs)
launcher, stamp = os.path.join(work, "hello-setup"), os.path.join(work, "stamp")
master = os.path.join(b.shared_dir(), "Velmoran-Hello")
b.run([launcher, "VLPREPARE_FOR_LAUNCH_ONLY"])

def folder(component):
    found = glob.glob(os.path.join(master, f"Velmoran-{component}-*-complete"))
    if len(found) != 1:
        sys.exit(f"not one {component} folder in {master}: {found}")
    return found[0]

updater, app, jre = folder("Velmoran"), folder("Hello"), folder("Linux64JRE")

def records():
    texts = []
    for path in sorted(glob.glob(os.path.join(master, "logs", "Updater-*.log"))):
        with open(path, encoding="utf-8", errors="replace") as f:
            texts += [line.split(" ", 1)[-1].strip() for line in f]
    return texts

# A launching run: it makes the copy of java named after the application,
# and shows whether the launcher describes the application itself.
b.run([launcher], ok=(0,), capture=True)
whole = any("property" in t and "vlstat_app_main_class=" in t for t in records())
java_copy = os.path.join(jre, "bin", "Hello")
if not os.access(java_copy, os.X_OK):
    sys.exit(f"the launching run left no {java_copy}")
props = os.path.join(updater, "VLLaunchProperties-bench")

def write_props(app_heap):
    pairs = [("vldyna_jre_name", "Linux64JRE"), ("vldyna_dev.velmoran.hello.main_stamp", stamp),
             ("vlstat_app_name", "Hello"), ("vlstat_app_dir", updater), ("vlstat_jre_name", "Linux64JRE"),
             ("vlstat_launched_from_dynprops", launcher), ("vlstat_launcher", "/bin/true"),
             ("vlstat_jre_folder", jre), ("vlstat_updater_folder", updater),
             ("vlstat_updater_max_heap", "64"), ("vlstat_updater_initial_heap", "0"),
             ("vlstat_updater_jvm_options_count", "0"),
             ("vlstat_app_folder", os.path.basename(app)), ("vlstat_app_version", "00000000001"),
             ("vlstat_app_main_class", "dev.velmoran.hello.Hello"),
             ("vlstat_app_classpath", os.path.join(app, "hello.jar")), ("vlstat_app_max_heap", app_heap),
             ("vlstat_app_initial_heap", "0"), ("vlstat_app_jvm_options_count", "0"), ("vlstat_app_args_count", "0")]
    with open(props, "wb") as f:
        f.write(b"\0".join(part.encode() for pair in pairs for part in pair))

updater_cmd = [java_copy, "-Xmx64m", "-cp", os.path.join(updater, "velmoran-updater.jar"),
               "dev.velmoran.updater.Updater", props]
plain = [os.path.join(jre, "bin", "java"), "-Ddev.velmoran.hello.main_stamp=" + stamp,
         "-cp", os.path.join(app, "hello.jar"), "dev.velmoran.hello.Hello"]
contenders = [
    ("java -Xmx64m -cp hello.jar", None, plain[:1] + ["-Xmx64m"] + plain[1:]),
    ("updater, the application in its JVM", lambda: write_props("64"), updater_cmd),
    ("updater, a second JVM", lambda: write_props("0"), updater_cmd),
    ("java -cp hello.jar (java's own heap)", None, plain),
] + ([("launcher file", None, [launcher])] if whole else [])

env = dict(os.environ, LC_ALL="C")
def main_reached(before, cmd):
    """Seconds from the start of cmd until the demo's main, and the processor seconds of main's
    thread until then; cmd is run to its end."""
    if before:
        before()
    if os.path.exists(stamp):
        os.remove(stamp)
    start = time.monotonic_ns()
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    try:
        with open(stamp) as f:
            reached, used = map(int, f.read().split()[:2])
    except (OSError, ValueError):
        sys.exit(f"{' '.join(cmd)} did not reach main (status {proc.returncode}):\n{proc.stdout.decode(errors='replace')}")
    return (reached - start) / 1e9, used / 1e9

# The path each contender takes, checked once before timing.
before_records = len(records())
main_reached(contenders[1][1], contenders[1][2])
if "[Updater] Starting " + os.path.basename(app) + " in this JVM" not in records()[before_records:]:
    sys.exit("the updater did not start the application in its own JVM:\n" + "\n".join(records()[before_records:]))
main_reached(contenders[2][1], contenders[2][2])
if not any("in a second JVM" in t for t in records()[before_records:]):
    sys.exit("the updater did not start a second JVM")

load = os.getloadavg()
times = {label: [] for label, *_ in contenders}
cpu = {label: [] for label, *_ in contenders}
for _ in range(runs):
    for label, before, cmd in contenders:
        wall, used = main_reached(before, cmd)
        times[label].append(wall)
        cpu[label].append(used)
print(f"load average before {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}, after "
      + " ".join(f"{x:.2f}" for x in os.getloadavg()) + f" ({os.cpu_count()} processors); {runs} runs")
for figures, kind in ((times, "wall"), (cpu, "processor (main's thread)")):
    print(f"{kind} time until main:")
    base = figures[contenders[0][0]]
    print(b.line(contenders[0][0], base))
    print(b.line(contenders[1][0], figures[contenders[1][0]], base, goal=1.2 if kind == "wall" else None))
    for label, *_ in contenders[2:]:
        # The second JVM's thread is the application's alone: the updater's JVM is not in it.
        if kind == "wall" or label != "updater, a second JVM":
            print(b.line(label, figures[label], base))
if not whole:
    print("(the launcher does not describe the application in the launch properties yet: no run of the launcher file)")
PY

inside "${RUNS2:-5}" "$url" <<'PY'
import os, subprocess, sys, time
import bench_support as b
work, (runs, url) = b.inside()
runs = int(runs)
stamp = os.path.join(work, "stamp")
master = os.path.join(b.shared_dir(), "Velmoran-Hello")
fetched = os.path.join(work, "fetched.p2.l2")
curl = ["curl", "--silent", "--fail", "--noproxy", "127.0.0.1", "-o", fetched,
        url + "Velmoran-Hello-00000000001-archive.p2.l2"]
contenders = [
    ("curl + offline file's first start", [os.path.join(work, "hello-setup")]),
    ("online file's first start", [os.path.join(work, "hello-online")]),
]
env = dict(os.environ, LC_ALL="C", no_proxy="127.0.0.1")

def first_start(cmd, with_curl):
    """Seconds from the start until the demo's main, from a clean master folder."""
    b.fresh(master)
    for path in (stamp, fetched):
        if os.path.exists(path):
            os.remove(path)
    start = time.monotonic_ns()
    if with_curl:
        subprocess.run(curl, check=True)
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    try:
        with open(stamp) as f:
            reached = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        sys.exit(f"{cmd[0]} did not reach main (status {proc.returncode}):\n{proc.stdout.decode(errors='replace')}")
    return (reached - start) / 1e9

times = {label: [] for label, _ in contenders}
for _ in range(runs):
    for i, (label, cmd) in enumerate(contenders):
        times[label].append(first_start(cmd, i == 0))
print(f"first start until main, {runs} runs:")
base = times[contenders[0][0]]
print(b.line(contenders[0][0], base))
print(b.line(contenders[1][0], times[contenders[1][0]], base))
PY
