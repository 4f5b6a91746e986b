"""The updater on the jlink JRE, given a launch properties file written here and, as the installed
launcher copy, a shell script that plays its update modes. The application is a probe that
prints what it got: its process, class loader, system properties and arguments."""
import errno
import fcntl
import os
import re
import shutil
import stat
import subprocess
import tempfile
import time
import types
import unittest
import urllib.parse

import harness

APP_FOLDER = "Velmoran-Probe-00000000002-complete"
UPDATER_FOLDER = "Velmoran-Velmoran-00000000001-complete"
JRE_FOLDER = "Velmoran-TestJRE-00000000017-complete"
LOG_NAME = re.compile(r"Updater-\d{4}(-\d\d){5}-\d{3}\.log")
PROPERTY_RECORD = re.compile(r"\[Updater\] property (\d+): ([^=]*)=(.*)$")
JVM_OPTION = "-Dprobe.option=from-jvm"

PROBE = r"""
package probe;

import java.nio.file.*;

// Not public: java runs it all the same.
class Probe {
  public static void main(String[] args) throws Exception {
    final ClassLoader own = Probe.class.getClassLoader();
    System.out.println("pid " + ProcessHandle.current().pid());
    System.out.println("loader system " + (own == ClassLoader.getSystemClassLoader()) + " url "
        + (own instanceof java.net.URLClassLoader) + " parent " + own.getParent().getName()
        + " context " + (Thread.currentThread().getContextClassLoader() == own));
    boolean updater = true;
    try {
      Class.forName("dev.velmoran.updater.Updater", false, own);
    } catch (ClassNotFoundException e) {
      updater = false;
    }
    System.out.println("updater visible " + updater);
    for (String name : new String[] {"title", "empty", "probe.option", "java.class.path"}) {
      System.out.println("property " + name + "=" + System.getProperty(name));
    }
    System.out.println("args " + String.join("|", args));
    System.out.flush();
    for (String arg : args) {
      if (arg.equals("throw")) throw new IllegalStateException("thrown by the probe");
      if (arg.startsWith("exit=")) System.exit(Integer.parseInt(arg.substring(5)));
      if (arg.startsWith("await=")) await(arg.substring(6));
      if (arg.equals("hold")) {
        System.out.println("holding");
        System.out.flush();
        System.in.read();
      }
    }
  }

  // Until the updater's log file holds a record with this text.
  private static void await(String text) throws Exception {
    final Path logs = Path.of(System.getProperty("probe.logs"));
    for (int i = 0; i < 3000; i++) {
      if (Files.isDirectory(logs)) {
        try (DirectoryStream<Path> files = Files.newDirectoryStream(logs, "Updater-*.log")) {
          for (Path file : files) if (Files.readString(file).contains(text)) return;
        }
      }
      Thread.sleep(20);
    }
    throw new IllegalStateException("no record " + text);
  }
}
"""

STAND_IN = r"""#!/bin/sh
# The installed launcher copy, played: each run appends its arguments to a file beside it.
echo "$*" >>"$0.calls"
case "$*" in
  VLUPDATE) @CHECK@ ;;
  VLUPDATE_WAIT) @WAIT@ ;;
  *) echo "launcher copy run with: $*"; exit 5 ;;
esac
"""

UPDATED = "Updated Probe 00000000002 -> 00000000003"


def props_bytes(pairs):
    """A launch properties file: key NUL value NUL ... value, no terminator; "" is the 0x04 mark."""
    return b"\0".join((part.encode() if isinstance(part, str) else part) or b"\x04"
                      for pair in pairs for part in pair)


def log_texts(master):
    """The texts of the records in the updater's log files, oldest file first."""
    folder = os.path.join(master, "logs")
    texts = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        path = os.path.join(folder, name)
        if LOG_NAME.fullmatch(name) and not os.path.islink(path) and os.path.isfile(path):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                texts += [line.split(" ", 1)[1].lstrip(" ").rstrip("\n") for line in f]
    return texts


def logged_properties(master):
    """The pairs the updater recorded, decoded back to bytes (an empty value is the 0x04 mark)."""
    pairs = []
    for text in log_texts(master):
        m = PROPERTY_RECORD.match(text)
        if m:
            assert int(m.group(1)) == len(pairs), text
            value = urllib.parse.unquote_to_bytes(m.group(3)) or b"\x04"
            pairs.append((urllib.parse.unquote_to_bytes(m.group(2)), value))
    return pairs


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


@unittest.skipUnless(os.path.exists(harness.UPDATER_JAR), "the updater was not built (no JDK)")
class UpdaterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.jre = harness.jlink_jre()
        cls.probe_dir = tempfile.mkdtemp(prefix="velmoran-probe-")
        source = os.path.join(cls.probe_dir, "src", "Probe.java")
        os.makedirs(os.path.dirname(source))
        with open(source, "w") as f:
            f.write(PROBE)
        subprocess.run(["javac", "--release", "17", "-d", os.path.join(cls.probe_dir, "classes"), source], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.probe_dir, ignore_errors=True)

    def setUp(self):
        self.master = tempfile.mkdtemp(prefix="velmoran-updater-")
        self.addCleanup(shutil.rmtree, self.master, True)
        os.chmod(self.master, 0o755)
        self.updater_dir = os.path.join(self.master, UPDATER_FOLDER)
        os.makedirs(self.updater_dir)
        shutil.copytree(os.path.join(self.probe_dir, "classes"), os.path.join(self.master, APP_FOLDER, "classes"))
        os.symlink(self.jre, os.path.join(self.master, JRE_FOLDER))
        self.launcher = os.path.join(self.master, "VelmoranLauncher")
        self.stand_in()

    def stand_in(self, check="echo a record of the check; echo '" + UPDATED + "'; exit 0", wait="exit 0"):
        with open(self.launcher, "w") as f:
            f.write(STAND_IN.replace("@CHECK@", check).replace("@WAIT@", wait))
        os.chmod(self.launcher, 0o755)

    def calls(self):
        try:
            with open(self.launcher + ".calls") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def pairs(self, app=True, app_heap="64", launcher=True, app_option=JVM_OPTION):
        """The properties as the launcher gives them: the updater runs with -Xmx64m and one JVM option."""
        pairs = [("vldyna_title", "caf\u00e9 = 100%"), ("vldyna_empty", ""),
                 ("vldyna_probe.logs", os.path.join(self.master, "logs")),
                 ("vlstat_app_name", "Probe"), ("vlstat_app_dir", self.updater_dir),
                 ("vlstat_jre_folder", os.path.join(self.master, JRE_FOLDER)),
                 ("vlstat_updater_folder", self.updater_dir),
                 ("vlstat_updater_max_heap", "64"), ("vlstat_updater_initial_heap", "0"),
                 ("vlstat_updater_jvm_options_count", "1"), ("vlstat_updater_jvm_option_0", JVM_OPTION)]
        if launcher:
            pairs.append(("vlstat_launcher", self.launcher))
        if app:
            pairs += [("vlstat_app_folder", APP_FOLDER), ("vlstat_app_version", "00000000002"),
                      ("vlstat_app_main_class", "probe.Probe"),
                      ("vlstat_app_classpath", os.path.join(self.master, APP_FOLDER, "classes")),
                      ("vlstat_app_max_heap", app_heap), ("vlstat_app_initial_heap", "0"),
                      ("vlstat_app_jvm_options_count", "1"), ("vlstat_app_jvm_option_0", app_option),
                      ("vlstat_app_args_count", "2"), ("vlstat_app_arg_0", "extra"), ("vlstat_app_arg_1", "")]
        return pairs

    def write_props(self, data):
        path = os.path.join(self.updater_dir, "VLLaunchProperties-1700000000000-3")
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else props_bytes(data))
        return path

    def command(self, props, *args):
        return [os.path.join(self.jre, "bin", "java"), "-Xmx64m", JVM_OPTION, "-cp", harness.UPDATER_JAR,
                harness.UPDATER_CLASS, props, *args]

    def run_updater(self, pairs, *args):
        """Runs the updater to its end (and that of every process on its pipes): its pid,
        returncode, stdout and stderr."""
        with subprocess.Popen(self.command(self.write_props(pairs), *args), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as proc:
            out, err = proc.communicate(timeout=120)
        return types.SimpleNamespace(pid=proc.pid, returncode=proc.returncode, stdout=out, stderr=err)

    def test_start_decision(self):
        same, second = {"app_heap": "64"}, {"app_heap": "0"}
        required_newer = "checked 1\napplication 00000000003\nrequired 00000000003\n"
        relaunched = ["Updated Probe none -> 00000000002", "launcher copy run with: user"]
        wait_ok = "echo '" + relaunched[0] + "'; echo a record of the wait"
        # name, properties, status file, VLUPDATE_WAIT, user arguments, status,
        # where the probe ran (None: not at all), launcher copy runs, stdout lines
        cases = [
            ("same JVM", same, None, "exit 1", ["user", "await=VLUPDATE ended"], 0, "same",
             ["VLUPDATE"], [UPDATED]),
            ("required but not newer", same, "required 00000000002\n", "exit 1", ["await=VLUPDATE ended"], 0,
             "same", ["VLUPDATE"], [UPDATED]),
            ("second JVM, its status", second, None, "exit 1", ["await=VLUPDATE ended", "exit=4"], 4, "second",
             ["VLUPDATE"], [UPDATED]),
            ("other JVM options: second JVM", {"app_option": "-Dprobe.option=other"}, None, "exit 1",
             ["await=VLUPDATE ended"], 0, "second", ["VLUPDATE"], [UPDATED]),
            ("no application: wait", {"app": False}, None, wait_ok, ["user"], 5, None,
             ["VLUPDATE_WAIT", "user"], relaunched),
            ("required newer: wait", same, required_newer, wait_ok, ["user"], 5, None,
             ["VLUPDATE_WAIT", "user"], relaunched),
            ("wait fails, application installed: starts it", second, required_newer, "exit 1", ["u"], 0,
             "second", ["VLUPDATE_WAIT"], []),
            ("wait installs nothing, application installed: starts it", same, required_newer, "exit 0", ["u"], 0,
             "same", ["VLUPDATE_WAIT"], []),
            ("wait fails, none installed", {"app": False}, None, "exit 1", ["user"], 1, None,
             ["VLUPDATE_WAIT"], []),
            ("wait installs nothing, none installed", {"app": False}, None, "echo a record", ["user"], 1, None,
             ["VLUPDATE_WAIT"], []),
            ("no launcher copy, none installed", {"app": False, "launcher": False}, None, "exit 0", ["user"], 1,
             None, [], []),
        ]
        for name, options, status_file, wait, args, status, ran, calls, lines in cases:
            with self.subTest(name):
                self.setUp()
                self.stand_in(wait=wait)
                if status_file:
                    with open(os.path.join(self.master, "VelmoranUpdateStatus"), "w") as f:
                        f.write(status_file)
                r = self.run_updater(self.pairs(**options), *args)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertEqual(self.calls(), calls)
                out = r.stdout.splitlines()
                self.assertEqual([line for line in out if line.startswith(("Updated", "launcher copy"))], lines)
                if ran is None:
                    self.assertFalse(any(line.startswith("pid ") for line in out), r.stdout)
                    if status == 1:
                        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                        self.assertIn("No version of Probe is installed", r.stderr)
                    continue
                self.assertEqual(r.stderr, "")
                loader = "system false url true" if ran == "same" else "system true url false"
                classes = os.path.join(self.master, APP_FOLDER, "classes")
                self.assertEqual([line for line in out if not line.startswith(("pid ", "Updated "))], [
                    f"loader {loader} parent platform context true", "updater visible false",
                    "property title=caf\u00e9 = 100%", "property empty=",
                    "property probe.option=" + options.get("app_option", JVM_OPTION).split("=", 1)[1],
                    "property java.class.path=" + classes, "args " + "|".join(["extra", ""] + args)])
                pid = int(next(line for line in out if line.startswith("pid "))[4:])
                self.assertEqual(pid == r.pid, ran == "same")
                texts = log_texts(self.master)
                self.assertIn(f"[Updater] Starting {APP_FOLDER} in this JVM" if ran == "same" else
                              f"[Updater] {APP_FOLDER} ended with exit status {status}", texts)
                if calls == ["VLUPDATE"]:
                    # Its result lines on stdout and in the log, the rest in the log alone.
                    self.assertIn("[VLUPDATE] a record of the check", texts)
                    self.assertIn("[Updater] " + UPDATED, texts)
                    self.assertIn("[Updater] VLUPDATE ended with exit status 0, 1 components updated", texts)

    def test_main_throws_as_from_java(self):
        r = self.run_updater(self.pairs(), "throw")
        self.assertEqual(r.returncode, 1)
        self.assertIn('Exception in thread "main" java.lang.IllegalStateException: thrown by the probe', r.stderr)
        self.assertIn("at probe.Probe.main(Probe.java", r.stderr)

    def test_check_never_holds_up_the_application(self):
        # A check that would take a minute: the JVM ends when main has returned, and ends the check.
        self.stand_in(check="exec sleep 60")
        r = self.run_updater(self.pairs(), "await=VLUPDATE as process")
        self.assertEqual(r.returncode, 0, r.stderr)
        texts = log_texts(self.master)
        pid = int(next(t for t in texts if " VLUPDATE as process " in t).rsplit(" ", 1)[1])
        self.assertIn(f"[Updater] Ending process {pid} with the JVM", texts)
        for _ in range(200):
            if not alive(pid):
                break
            time.sleep(0.05)
        self.assertFalse(alive(pid))

    def test_log_file_and_the_newest_kept(self):
        logs = os.path.join(self.master, "logs")
        os.makedirs(logs)
        old = [f"Updater-2020-01-{day:02d}-00-00-00-000.log" for day in range(1, 26)]
        for name in old:
            open(os.path.join(logs, name), "w").close()
        outside = os.path.join(self.master, "outside")
        with open(outside, "w") as f:
            f.write("kept")
        planted = {"Updater-2000-01-01-00-00-00-000.log": "link", "Updater-2000-01-02-00-00-00-000.log": "folder",
                   "Updater-2000-01-03-00-00-00-00.log": "file", "Updater-2000-01-04-00-00-00-000.log.1": "file",
                   "Wrapper-2000-01-01-00-00-00-000.log": "file"}
        for name, kind in planted.items():
            path = os.path.join(logs, name)
            if kind == "link":
                os.symlink(outside, path)
            elif kind == "folder":
                os.makedirs(path)
            else:
                open(path, "w").close()
        props = self.write_props(self.pairs())
        r = subprocess.run(self.command(props), capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        # Read once, then gone.
        self.assertFalse(os.path.exists(props))
        names = sorted(os.listdir(logs))
        new = [n for n in names if n.startswith("Updater-2") and n[8:12] not in ("2000", "2020")]
        self.assertEqual(len(new), 1, names)
        self.assertTrue(LOG_NAME.fullmatch(new[0]), new[0])
        # The newest 19 old ones stay beside it; what is not one of its files stays too.
        self.assertEqual(sorted(set(names) - set(new)), sorted(old[6:] + list(planted)))
        with open(outside) as f:
            self.assertEqual(f.read(), "kept")
        # Nothing on stdout but the application's lines and the check's result lines.
        self.assertTrue(all(line.startswith(("pid ", "loader ", "updater ", "property ", "args ", "Updated "))
                            for line in r.stdout.splitlines()), r.stdout)
        self.assertEqual(logged_properties(self.master), [
            (k.encode(), v.encode() or b"\x04") for k, v in self.pairs()])

    def test_folders_in_use(self):
        locked = [APP_FOLDER, JRE_FOLDER, UPDATER_FOLDER]
        # name, master folder's mode, a link planted at VLRunning, modes of the folder and its files
        cases = [("home install", 0o755, False, 0o755, 0o644),
                 ("master open to all", 0o777, False, 0o777, 0o666),
                 ("VLRunning is a link", 0o755, True, None, None)]
        for name, master_mode, link, folder_mode, file_mode in cases:
            with self.subTest(name):
                self.setUp()
                running = os.path.join(self.master, "VLRunning")
                os.chmod(self.master, master_mode)
                target = os.path.join(self.master, "elsewhere")
                if link:
                    os.makedirs(target)
                    os.symlink(target, running)
                with subprocess.Popen(self.command(self.write_props(self.pairs()), "await=Locked as in use", "hold"),
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True) as proc:
                    try:
                        self.check_held(proc, running, locked, link and target, folder_mode, file_mode)
                    finally:
                        proc.stdin.close()
                        proc.stdout.read()
                self.assertEqual(proc.returncode, 0)
                for folder in [] if link else locked:
                    with open(os.path.join(running, folder), "r+b") as f:
                        fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)

    def check_held(self, proc, running, locked, link_target, folder_mode, file_mode):
        """While the probe holds: the folders are locked in VLRunning, or nothing is where a link points."""
        for line in proc.stdout:
            if line == "holding\n":
                break
        if link_target:
            self.assertEqual(os.listdir(link_target), [])
            self.assertIn(f"[Updater] Cannot lock the folders in use: {running} is a link",
                          "\n".join(log_texts(self.master)))
            return
        self.assertEqual(stat.S_IMODE(os.lstat(running).st_mode), folder_mode)
        self.assertEqual(sorted(os.listdir(running)), sorted(locked))
        for folder in locked:
            path = os.path.join(running, folder)
            self.assertEqual(stat.S_IMODE(os.lstat(path).st_mode), file_mode)
            with open(path, "r+b") as f:
                # The launcher's test of a folder in use: a write lock, not waiting.
                with self.assertRaises(OSError) as refused:
                    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                self.assertIn(refused.exception.errno, (errno.EACCES, errno.EAGAIN))
                fcntl.lockf(f, fcntl.LOCK_SH | fcntl.LOCK_NB)

    def test_refusals(self):
        no_dir = lambda pairs: [p for p in pairs if p[0] != "vlstat_app_dir"]
        no_class = lambda pairs: [p for p in pairs if p[0] != "vlstat_app_main_class"]
        cases = [
            # name, properties made from the usual ones (None: no file), message
            ("no properties file", lambda pairs: None, "does not exist"),
            ("odd entry count", lambda pairs: props_bytes(pairs) + b"\0vlstat_x", "odd number"),
            ("trailing NUL", lambda pairs: props_bytes(pairs) + b"\0", "empty entry at byte"),
            ("no app_dir", no_dir, "no vlstat_app_dir"),
            ("no main class", no_class, "no vlstat_app_main_class"),
            ("a count beyond the file", lambda pairs: pairs + [("vlstat_app_args_count", "99")],
             "vlstat_app_args_count is 99"),
            ("main class not there", lambda pairs: pairs + [("vlstat_app_main_class", "probe.Missing")],
             "cannot load the main class probe.Missing"),
        ]
        for name, make, message in cases:
            with self.subTest(name):
                self.setUp()
                data = make(self.pairs())
                props = self.write_props(data) if data is not None else os.path.join(self.master, "none")
                r = subprocess.run(self.command(props), capture_output=True, text=True, timeout=120)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(message, r.stderr)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertEqual(r.stdout, "")
                self.assertEqual(self.calls(), [])

    def test_jre_compatibility_class(self):
        cases = [("17", 72), ("8", 72), ("1.8", 72), (" +17abc", 72), ("\x04", 72), ("99", 1)]
        for required, status in cases:
            with self.subTest(required=required):
                props = self.write_props([("vlstat_java_version", "99"), ("vlstat_java_version", required)])
                r = subprocess.run([os.path.join(self.jre, "bin", "java"), "-cp", harness.UPDATER_JAR,
                                    harness.UPDATER_COMPAT_CLASS, props], capture_output=True)
                self.assertEqual(r.returncode, status)


if __name__ == "__main__":
    harness.main()
