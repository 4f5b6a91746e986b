"""Pieces shared by the fault scenarios: a JRE whose extraction can be held in
the middle, live reading of a run's output, a private X server, and archives
written entry by entry (the builder refuses the names these carry)."""

import os
import signal
import subprocess
import threading
import time

import harness
import installs
from installs import InstallTest

DEADLINE = 60  # seconds any wait for a run to get somewhere may take

# The archive's own unpack200, run on its pack200 entry half-way through the
# JRE's extraction: while HOLD exists it waits, after noting the launcher that
# started it (its parent) in HOLD.held.
HELD_UNPACK200 = r"""#!/bin/sh
PATH=/usr/bin:/bin
if [ -e '@HOLD@' ]; then
  echo "$PPID" >>'@HOLD@.held'
  while [ -e '@HOLD@' ]; do sleep 0.02; done
fi
cp "$1" "$2"
"""


def wait_until(condition, what):
    deadline = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"gave up waiting for {what}")
        time.sleep(0.01)


def processes_running(program):
    """The ids of the processes that run program (their argument zero): a launcher file that only
    the calling test runs, from its own sandbox."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if f.read().split(b"\0")[0] == os.fsencode(program):
                    pids.append(int(pid))
        except OSError:
            pass  # gone meanwhile
    return pids


class Hold:
    """A file that, while it exists, holds every launcher that reaches the held JRE's
    pack200 entry."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "hold")
        installs.write(self.path, "")

    def held(self):
        """The launchers held now, by process id."""
        if not os.path.exists(self.path + ".held"):
            return []
        return [int(line) for line in installs.read(self.path + ".held").split()]

    def release(self):
        if os.path.exists(self.path):
            os.remove(self.path)


def held_jre_archive(builder, hold, name="held-jre"):
    folder = installs.fake_jre(builder.path(name), packed=True)
    installs.write(os.path.join(folder, "bin", "unpack200"), HELD_UNPACK200.replace("@HOLD@", hold.path), 0o755)
    return builder.archive(folder, name + ".p2.l2", pack200="lib/packed.jar")


class LiveRun:
    """A launcher run in the sandbox whose output is read while it runs."""

    def __init__(self, test, launcher, *args, env=None, **options):
        test.runs += 1
        self.java_log = os.path.join(test.sandbox.root, f"java-{test.runs}.log")
        run_env = {"VELMORAN_FAKE_JAVA_LOG": self.java_log, **(env or {})}
        # The signals a scenario sends reach the launcher also where the tests run with them
        # ignored (a background job ignores SIGINT, nohup SIGHUP), which a program inherits. The
        # run is a process group of its own, as a terminal's foreground job is.
        self.proc = subprocess.Popen(["/usr/bin/env", "--default-signal=HUP,INT,TERM",
                                      *test.sandbox.command(launcher, *args, **options)],
                                     env=test.sandbox.environment(run_env), text=True, errors="backslashreplace",
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        test.addCleanup(self.stop)
        self.out, self.err = [], []
        self.readers = [threading.Thread(target=self.read, args=(stream, into), daemon=True)
                        for stream, into in ((self.proc.stdout, self.out), (self.proc.stderr, self.err))]
        for reader in self.readers:
            reader.start()

    @staticmethod
    def read(stream, into):
        for line in stream:
            into.append(line)

    def says(self, text):
        return any(text in line for line in list(self.out))

    def finish(self):
        """Waits for the end (a run that hangs fails the test); returns the exit status."""
        try:
            status = self.proc.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher hangs:\n" + "".join(self.out))
        for reader in self.readers:
            # A program it started that still runs keeps its output open.
            reader.join(timeout=DEADLINE)
            if reader.is_alive():
                raise AssertionError("the launcher's output stays open after its end")
        self.stdout, self.stderr = "".join(self.out), "".join(self.err)
        self.records = harness.records(self.stdout)
        return status

    @property
    def starts(self):
        return installs.java_starts(self.java_log)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


class Xvfb:
    """A private X server on a display number it picks itself."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                                      "640x480x24"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as numbers:
            self.display = ":" + numbers.readline().strip()
        if self.display == ":":
            raise AssertionError("Xvfb did not start")

    def windows(self):
        """The lines of the mapped top-level windows."""
        proc = subprocess.run(["xwininfo", "-root", "-children", "-display", self.display],
                              capture_output=True, text=True)
        return [line for line in proc.stdout.splitlines() if line.startswith("     0x")]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()


def entry(path, data=None, kind=0):
    """One archive entry: a folder when data is None."""
    if data is None:
        return b"1\0" + path.encode() + b"\0"
    return b"%d\0%s\0%d\0" % (kind, path.encode(), len(data)) + data


class FaultTest(InstallTest):
    """Install runs for the fault scenarios; perm_all ones install into the sandbox's /opt."""

    def use_sandbox(self, sandbox):
        super().use_sandbox(sandbox)
        self.opt_master = os.path.join(sandbox.opt, "Velmoran-TestApp")

    def assertNoTemporaryFolders(self, master=None):
        names = installs.folders(master or self.master)
        self.assertEqual([f for f in names if f.startswith("VelmoranTemp-")], [])

    def assertStarted(self, run, jre_version=17, master=None):
        """The run started the updater once, through the JRE of that version in master (as the
        run sees it)."""
        master = master or self.sandbox.inside(self.master)
        self.assertEqual(len(run.starts), 1, run.stdout)
        self.assertEqual(run.starts[0][0], os.path.join(master, installs.jre_folder(jre_version), "bin", "TestApp"))

    def assertInstalled(self, master=None, jre_version=17, app_version=7):
        self.assertEqual(installs.folders(master or self.master),
                         sorted(installs.FIRST_FOLDERS + [installs.gu_folder(5), installs.jre_folder(jre_version)]
                                + ([installs.app_folder(app_version)] if app_version else [])))
