"""Shared pieces of the whole-run benchmarks (first_install.sh, just_run.sh,
memory.sh).

Each benchmark has two halves (bench/whole_run.sh). The first, outside the
sandbox, builds its inputs into a work folder with velmoran-pack and the
end-to-end Builder (tests/e2e/installs.py). The second runs in
scripts/sandbox.sh, so the launcher installs into a home folder of its own;
it uses only the work folder (the build tree may lie under the real home
folder, which the sandbox hides), and imports this file from there.
"""

import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

APP_NAME = "Bench"
# The updater's launch file names the binary the launcher copies from the
# private JRE's java and starts.
APP_BINARY = "BenchApp"
LZMA_OPTIONS = "--lzma1=preset=6,dict=8MiB"  # as velmoran-pack archive --lzma
MIB = 2 ** 20


# --- outside the sandbox: inputs ---------------------------------------------

def outside():
    """The arguments of the half outside the sandbox (whole_run.sh): points
    the end-to-end helpers at the build and returns (work folder, harness,
    installs, the script's own arguments)."""
    source, build, work, *rest = sys.argv[1:]
    os.environ["VELMORAN_BUILD_DIR"] = build
    os.environ["VELMORAN_SOURCE_DIR"] = source
    sys.path.insert(0, os.path.join(source, "tests", "e2e"))
    import harness
    import installs
    return work, harness, installs, rest


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)


def random_file(path, size):
    with open("/dev/urandom", "rb") as src:
        write(path, src.read(size))


def updater_tree(harness, folder):
    """The project's updater (a stand-in jar when no JDK built it) with a launch file."""
    write(os.path.join(folder, "VelmoranLaunch"), harness.launch_file_bytes(
        version=6, cls=harness.UPDATER_CLASS, app_name=APP_BINARY, classpath=["velmoran-updater.jar"],
        jvm_mem=64, compat_class=harness.UPDATER_COMPAT_CLASS))
    jar = os.path.join(folder, "velmoran-updater.jar")
    if os.path.exists(harness.UPDATER_JAR):
        shutil.copy(harness.UPDATER_JAR, jar)
    else:
        random_file(jar, 16 * 1024)
    return folder


def app_tree(harness, folder):
    """The demo application (a stand-in jar when no JDK built it)."""
    jar = os.path.join(folder, "lib", "hello.jar")
    if os.path.exists(harness.HELLO_JAR):
        os.makedirs(os.path.dirname(jar), exist_ok=True)
        shutil.copy(harness.HELLO_JAR, jar)
    else:
        random_file(jar, 4 * 1024)
    return folder


def copy_tree(source, folder):
    shutil.copytree(source, folder, symlinks=True)
    return folder


def tar_lzma(tree, out):
    """The tree as a tar stream compressed the way the archives are."""
    with open(out, "wb") as f:
        tar = subprocess.Popen(["tar", "-C", tree, "-cf", "-", "."], stdout=subprocess.PIPE)
        xz = subprocess.run(["xz", "--format=lzma", LZMA_OPTIONS], stdin=tar.stdout, stdout=f)
        tar.stdout.close()
        if tar.wait() != 0 or xz.returncode != 0:
            sys.exit(f"cannot compress {tree}")
    return out


def offline_launcher(builder, name, jre, updater, app, sign=True):
    """A launcher file carrying the three archives (made from folders) and,
    when signing, the public key that checks them."""
    def archive(tree):
        return builder.archive(tree, os.path.basename(tree) + ("" if sign else "-unsigned") + ".p2.l2",
                               "signing" if sign else None)
    return builder.launcher(name, app_name=APP_NAME, updater=archive(updater), jre=archive(jre), app=archive(app),
                            key=sign)


def mib(path):
    return os.path.getsize(path) / MIB


# --- inside the sandbox: runs and timing -------------------------------------

def inside():
    """The arguments of the sandboxed half (whole_run.sh): (work folder, the
    script's own arguments). No run connects to a display: without one the
    splash stays off, in every contender alike."""
    os.environ.pop("DISPLAY", None)
    work, *rest = sys.argv[1:]
    return work, rest


def shared_dir():
    """Where a per-user install goes, as the launcher finds it."""
    import pwd
    return os.path.join(pwd.getpwuid(os.getuid()).pw_dir, ".Velmoran")


def master_folder():
    return os.path.join(shared_dir(), "Velmoran-" + APP_NAME)


def fresh(*folders):
    """Removes the folders (an empty one is made again where the path ends in '/')
    and writes back what earlier runs left dirty, so no run pays for another."""
    for folder in folders:
        shutil.rmtree(folder.rstrip("/"), ignore_errors=True)
        if folder.endswith("/"):
            os.makedirs(folder)
    subprocess.run(["sync"], check=True)


def run(cmd, ok=(0,), capture=False):
    """Runs cmd to the end; with capture, also until every process that
    inherited its standard output (a started stand-in java) has closed it."""
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    if proc.returncode not in ok:
        sys.exit(f"{' '.join(cmd)} ended with {proc.returncode}")
    return proc


def compare(contenders, runs):
    """Times each contender runs times, the contenders taking turns so that a
    busy machine weighs on all alike. A contender is (label, before, cmd, ok,
    capture): before() prepares a run and is not timed. Returns label -> wall
    times, and label -> processor times (user and system, of cmd and every
    process it waited for), in seconds."""
    times = {label: [] for label, *_ in contenders}
    cpu = {label: [] for label, *_ in contenders}
    for _ in range(runs):
        for label, before, cmd, ok, capture in contenders:
            if before:
                before()
            used = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            run(cmd, ok, capture)
            times[label].append(time.perf_counter() - start)
            now = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[label].append(now.ru_utime + now.ru_stime - used.ru_utime - used.ru_stime)
    return times, cpu


def line(label, times, baseline=None, goal=None, unit=1000, unit_name="ms"):
    """A result line: best and median, and their ratios to the baseline's."""
    best, median = min(times), statistics.median(times)
    text = f"{label:<38} best {best * unit:8.1f} {unit_name}  median {median * unit:8.1f} {unit_name}"
    if baseline:
        text += f"  ratio best {best / min(baseline):.2f}, median {median / statistics.median(baseline):.2f}"
        if goal is not None:
            text += f" (goal <= {goal})"
    return text


def status_fields(pid):
    """The memory fields of /proc/PID/status in KiB; {} once the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            text = f.read()
    except OSError:
        return {}
    fields = {}
    for row in text.splitlines():
        name, _, value = row.partition(":")
        if name in ("VmHWM", "RssAnon"):
            fields[name] = int(value.split()[0])
    return fields


def anonymous_peak(cmd, interval=0.001):
    """Runs cmd and returns its exit status, the largest RssAnon (KiB) read
    from /proc/PID/status every interval, the largest VmHWM (the whole
    resident set, mapped files included) and the number of readings.

    The kernel keeps a high-water mark of the whole resident set only, and
    that includes the launcher file that the Params scan maps. A spike
    shorter than the interval could slip between two readings; what weighs
    in a run (the LZMA dictionary, the decoded chunks, the copy buffers) is
    held for a whole entry, over hundreds of readings. Only cmd's own process
    is measured, not the children it starts."""
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    anon = hwm = samples = 0
    while proc.poll() is None:
        fields = status_fields(proc.pid)
        if "RssAnon" in fields:
            samples += 1
            anon = max(anon, fields["RssAnon"])
            hwm = max(hwm, fields["VmHWM"])
        time.sleep(interval)
    return {"status": proc.returncode, "anon": anon, "hwm": hwm, "samples": samples}
