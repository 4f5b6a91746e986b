"""Upgrades: a launcher file run over what an earlier one installed. A version folder that is
installed already is never extracted again nor written: it stays byte for byte and mode for mode
as it was. The newest updater starts in the newest JRE, on this run and on every run after it,
also when the upgrade was killed at any point and the file is run again. Last, the demo
application made by velmoran-pack app, upgraded twice, on the real updater and a real JRE."""

import fcntl
import hashlib
import os
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import unittest
import zipfile

import harness
import installs
from faults import DEADLINE
from installs import InstallTest

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
JUST_RUN = "[Extractor] Running without extraction now"
# Versions of the updater, the JRE and the application a launcher file carries.
OLD, NEW_APP, SAME_UPDATER, NEW_JRE = (5, 17, 7), (6, 17, 8), (5, 17, 8), (6, 18, 8)

# Where the upgrade to NEW_JRE is killed: the record that marks the point, and whether the next
# run of the file has something left to install.
KILL_POINTS = [
    ("after the updater's temporary folder is made", "[Extractor] GU temp is ", True),
    ("among the updater's entries", "[ExtractArchiveFile] Extracting lib/updater.jar", True),
    ("after the updater's rename", "[Extractor] Recreating GU location", True),
    ("after the JRE's temporary folder is made", "[Extractor] Extracting JRE archive...", True),
    ("among the JRE's entries", "[ExtractArchiveFile] Extracting bin/unpack200", True),
    ("as the class data archive is regenerated", "[Extractor] Regenerating jsa...", True),
    ("after the JRE's rename", "[Extractor] Renamed JRE folder to ", True),
    ("among the application's entries", "[ExtractArchiveFile] Extracting lib/app.jar", True),
    ("after the application's rename", "[Extractor] Renaming App folder to ", False),
    ("while the launch properties file is written", "[Extractor] Writing to file", False),
]
# name, the file installed first, the file run over it, whether that run installs, (updater, JRE)
# every run of it starts, the record after which a first run of it was killed
ROWS = [
    ("same JRE, newer application and updater", OLD, NEW_APP, True, (6, 17), None),
    ("same updater, newer application", OLD, SAME_UPDATER, True, (5, 17), None),
    ("newer JRE", OLD, NEW_JRE, True, (6, 18), None),
    ("older file over a newer install", NEW_APP, OLD, False, (6, 17), None),
] + [(f"killed {point}, run again", OLD, NEW_JRE, installs_more, (6, 18), mark)
     for point, mark, installs_more in KILL_POINTS]


def snapshot(folder, app_name):
    """Each entry under folder by relative path: its mode, and for a file its content's hash and
    its inode and modification time, so that a file written again even with the same bytes
    differs. Left out are the files every launch may add: the launch properties files in the
    updater's folder and the copy of java named after the application in the JRE's bin."""
    entries = {}
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if name.startswith("VLLaunchProperties-") or relative == os.path.join("bin", app_name):
                continue
            info = os.lstat(path)
            entry = (oct(info.st_mode),)
            if stat.S_ISREG(info.st_mode):
                entry += (hashlib.sha256(installs.read(path)).hexdigest()[:12], info.st_ino, info.st_mtime_ns)
            elif stat.S_ISLNK(info.st_mode):
                entry += (os.readlink(path),)
            entries[relative] = entry
    return entries


def difference(was, now):
    """How an entry of a snapshot changed."""
    if was is None or now is None:
        return "added" if was is None else "removed"
    changes = [f"mode {was[0][-3:]} -> {now[0][-3:]}"] if was[0] != now[0] else []
    if was[1:2] != now[1:2]:
        changes.append("other content")
    if was[2:] != now[2:]:
        changes.append("written again")
    return ", ".join(changes)


def launcher_pid(pid, launcher):
    """The launcher's process: pid itself or one of its descendants (the sandbox may start it)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            if f.read().split(b"\0")[0] == os.fsencode(launcher):
                return pid
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            children = [int(child) for child in f.read().split()]
    except OSError:
        return None
    return next(filter(None, (launcher_pid(child, launcher) for child in children)), None)


class Upgrades(InstallTest):

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="velmoran-upgrades-")
        cls.maker = installs.Builder(cls.work)
        cls.made = {}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def file(self, versions):
        """The launcher file of these versions, made once for every row."""
        if versions not in self.made:
            gu, jre, app = versions
            self.made[versions] = self.maker.launcher(f"{gu}-{jre}-{app}.bin", gu_version=gu, jre_version=jre,
                                                      app_version=app)
        return self.made[versions]

    def installed(self, master=None, app_name="TestApp"):
        master = master or self.master
        return {f: snapshot(os.path.join(master, f), app_name) for f in installs.folders(master)
                if f.endswith("-complete")}

    def temporary_folders(self):
        return {f for f in self.folders() if f.startswith("VelmoranTemp-")}

    def assertIntact(self, before, master=None, app_name="TestApp"):
        """The folders of before hold what they held; the entries that differ are listed."""
        now = self.installed(master, app_name)
        written = [f"{folder}/{path}: {difference(entries.get(path), now.get(folder, {}).get(path))}"
                   for folder, entries in before.items()
                   for path in sorted(entries.keys() | now.get(folder, {}).keys())
                   if entries.get(path) != now.get(folder, {}).get(path)]
        if written:
            self.fail(f"installed folders were written ({len(written)} entries):\n" + "\n".join(written[:12]))

    def assertStarted(self, run, started):
        self.assertEqual(len(run.starts), 1, "no updater started:\n" + "\n".join(run.records[-8:]))
        self.assertUpdaterStarted(run, *started)

    def kill_at(self, launcher, mark):
        """Runs launcher and kills it right after its first record that holds mark: stopped
        (SIGSTOP), then killed. Its output goes through a pipe that holds one write at a time
        (packets, one page) and is read up to that record: the launcher writes at most one record
        more and then waits, however slow the machine."""
        read_end, write_end = os.pipe2(os.O_DIRECT)
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
        proc = subprocess.Popen(self.sandbox.command(launcher), stdout=write_end, stderr=subprocess.DEVNULL,
                                env=self.sandbox.environment({}))
        os.close(write_end)
        self.addCleanup(lambda: proc.poll() is None and (proc.kill(), proc.wait()))
        output = b""
        with open(read_end, "rb", buffering=0) as out:
            while mark.encode() not in output:
                ready = select.select([out], [], [], DEADLINE)[0]
                packet = out.read(4096) if ready else None
                if not packet:
                    self.fail(f"the run {'ended' if ready else 'hangs'} before {mark!r}:\n"
                              + output.decode(errors="replace"))
                output += packet
            pid = launcher_pid(proc.pid, launcher)
            if pid:
                os.kill(pid, signal.SIGSTOP)
                os.kill(pid, signal.SIGKILL)
            status = proc.wait(timeout=DEADLINE)
        self.assertIn(status, (-signal.SIGKILL, 128 + signal.SIGKILL), f"the run got past {mark!r} ({status})")

    def test_upgrades(self):
        for name, first, tail, installs_more, started, killed_at in ROWS:
            with self.subTest(name):
                self.fresh_sandbox()
                self.launch(self.file(first))
                if killed_at:
                    self.kill_at(self.file(tail), killed_at)
                before, temporary = self.installed(), self.temporary_folders()
                run = self.launch(self.file(tail))
                self.assertIntact(before)
                self.assertEqual([r for r in run.records if r.startswith("[Rename] Could not rename")], [])
                if installs_more:
                    for folder in GU(tail[0]), JRE(tail[1]), APP(tail[2]):
                        if folder in before:
                            self.assertRecords(run, f"[Extractor] {folder} is installed already; keeping it")
                        else:
                            self.assertIn(folder, self.folders())
                else:
                    self.assertRecords(run, JUST_RUN)
                self.assertEqual(self.temporary_folders() - temporary, set())
                self.assertStarted(run, started)

                # The application starts, and starts again, from what is installed now.
                after = self.installed()
                for _ in range(2):
                    again = self.launch(self.file(tail))
                    self.assertRecords(again, JUST_RUN)
                    self.assertStarted(again, started)
                self.assertIntact(after)

    @unittest.skipUnless(os.path.exists(harness.HELLO_JAR) and os.path.exists(harness.UPDATER_JAR),
                         "the updater and the demo application were not built (no JDK)")
    def test_the_demo_application_upgraded_twice(self):
        # Three builds of the demo, told apart by the version in their greeting, packed with the
        # same runtime image (so of the same JRE version).
        image, files = harness.jlink_jre(), {}
        for v in 1, 2, 3:
            folder = self.builder.path(f"hello-{v}")
            os.makedirs(folder)
            with zipfile.ZipFile(harness.HELLO_JAR) as jar, \
                    zipfile.ZipFile(os.path.join(folder, "hello.jar"), "w") as build:
                for item in jar.infolist():
                    about = item.filename.endswith("/hello.properties")
                    build.writestr(item, f"name=Hello\nversion={v}.0\n" if about else jar.read(item))
            files[v] = self.builder.path(f"hello-{v}-setup")
            harness.pack("app", "-o", files[v], "--name", "Hello", "--input", folder, "--main-class",
                         harness.HELLO_CLASS, "--app-version", v, "--jre", image, "--compress", "0")
        master = os.path.join(self.sandbox.shared_dir, "Velmoran-Hello")
        jre = None
        for v in 1, 2, 3, 3:
            proc = self.sandbox.run(files[v])
            self.assertEqual(proc.returncode, 0, proc.stdout[-3000:] + proc.stderr)
            if jre:
                self.assertIntact(jre, master, "Hello")
            else:
                jre = {f: e for f, e in self.installed(master, "Hello").items() if "-Linux64JRE-" in f}
                self.assertEqual(len(jre), 1, installs.folders(master))
            self.assertIn(f"Hello from Hello {v}.0", proc.stdout.splitlines(), proc.stdout[-2000:] + proc.stderr)


if __name__ == "__main__":
    harness.main()
