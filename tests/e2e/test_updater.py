"""The minimal updater, run with Debian's java on a master folder laid out by hand: it prints
the launch properties back byte for byte and starts the newest application on the newest
private JRE (the jlink image), which runs the demo application."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import harness

APP = "Hello"
JRE = "TestJRE"
PROPERTY_LINE = re.compile(r"^\[Updater\] property (\d+): ([^=]*)=(.*)$")


def props_bytes(pairs):
    """A launch properties file: key NUL value NUL ... value, no terminator."""
    return b"\0".join(part for pair in pairs for part in pair)


def printed_properties(stdout):
    """The pairs the updater printed, decoded back to bytes (an empty value is the 0x04 mark)."""
    pairs = []
    for line in stdout.decode("ascii").splitlines():
        m = PROPERTY_LINE.match(line)
        if m:
            assert int(m.group(1)) == len(pairs), line
            value = urllib.parse.unquote_to_bytes(m.group(3)) or b"\x04"
            pairs.append((urllib.parse.unquote_to_bytes(m.group(2)), value))
    return pairs


@unittest.skipUnless(os.path.exists(harness.UPDATER_JAR), "the updater was not built (no JDK)")
class UpdaterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.jre = harness.jlink_jre()

    def setUp(self):
        self.master = tempfile.mkdtemp(prefix="velmoran-updater-")
        self.addCleanup(shutil.rmtree, self.master, True)
        self.updater_dir = self.folder("Velmoran-Velmoran-00000000001-complete")
        # Unpadded versions: a string compare would take 9 over 10.
        for version in (9, 10):
            self.add_app(version, harness.launch_file_bytes(
                version=6, cls=harness.HELLO_CLASS, app_name="hello", classpath=["hello.jar"],
                extra_args=[f"from-{version}"], jvm_mem=64, jvm_stack=16, compat_class="unused"))
        self.add_jre(17)
        # An older JRE whose java cannot run: picking it fails the start.
        os.makedirs(os.path.join(self.folder(f"Velmoran-{JRE}-5-complete"), "bin"))

    def folder(self, name):
        path = os.path.join(self.master, name)
        os.makedirs(path, exist_ok=True)
        return path

    def add_app(self, version, launch_file):
        app = self.folder(f"Velmoran-{APP}-{version}-complete")
        shutil.copy(harness.HELLO_JAR, app)
        with open(os.path.join(app, "VelmoranLaunch"), "wb") as f:
            f.write(launch_file)
        return app

    def add_jre(self, version):
        bin_dir = os.path.join(self.folder(f"Velmoran-{JRE}-{version}-complete"), "bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.join(self.jre, "bin", "java"), os.path.join(bin_dir, "java"))

    def base_pairs(self):
        return [(b"vlstat_app_dir", self.updater_dir.encode()), (b"vlstat_app_name", APP.encode()),
                (b"vlstat_jre_name", JRE.encode()), (b"vlstat_java_version", b"17")]

    def write_props(self, data):
        path = os.path.join(self.updater_dir, "VLLaunchProperties-1700000000000-3")
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_java(self, main_class, props, *args):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        # Reads until EOF: the application inherits the pipe, so this waits for it too.
        return subprocess.run(["java", "-cp", harness.UPDATER_JAR, main_class, props, *args],
                              capture_output=True, env=env, timeout=120)

    def test_properties_printed_byte_for_byte_and_newest_app_started(self):
        pairs = [(b"vldyna_title", b"caf\xc3\xa9 100%41 = ok"), (b"vlstat_update_url", b"http://a/"),
                 (b"vlstat_silent_parameter", b"\x04"), (b"vldyna_raw", b"\xff\x01\x7f\x04x"),
                 (b"vlstat_update_url", b"D"), (b"vldyna_k=ey", b"v")] + self.base_pairs()
        r = self.run_java(harness.UPDATER_CLASS, self.write_props(props_bytes(pairs)), "user arg")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(printed_properties(r.stdout), pairs)
        out = r.stdout.decode().splitlines()
        app = os.path.join(self.master, f"Velmoran-{APP}-10-complete")
        command = [line.split(": ", 1)[1] for line in out if line.startswith("[Updater] argument ")]
        self.assertEqual(command, [os.path.join(self.master, f"Velmoran-{JRE}-17-complete", "bin", "java"),
                                   "-Xmx64m", "-Xms16m", "-cp", app + "/hello.jar", harness.HELLO_CLASS,
                                   "from-10", "user arg"])
        self.assertEqual(out[-3:], ["Hello from Hello 1.0", "Hello argument 0: from-10",
                                    "Hello argument 1: user arg"])

    def test_counts_are_bounded_by_the_file(self):
        # Version 2 ends after the extra arguments; this count promises far more than is there.
        data = harness.launch_file_bytes(version=2, cls=harness.HELLO_CLASS, classpath=["hello.jar"])
        data = data[:-2] + b"1000000000000\0x\0"
        self.add_app(11, data)
        r = self.run_java(harness.UPDATER_CLASS, self.write_props(props_bytes(self.base_pairs())), "u")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines()[-4:],
                         ["Hello from Hello 1.0", "Hello argument 0: x", "Hello argument 1: ",
                          "Hello argument 2: u"])

    def test_refusals(self):
        same = lambda props: props
        no_apps = lambda: [shutil.rmtree(os.path.join(self.master, f"Velmoran-{APP}-{v}-complete"))
                           for v in (9, 10)]
        no_jre = lambda: [shutil.rmtree(os.path.join(self.master, f"Velmoran-{JRE}-{v}-complete"))
                          for v in (5, 17)]
        long_class = lambda: self.add_app(12, harness.launch_file_bytes(cls="c" * 1024))
        no_class = lambda: self.add_app(12, harness.launch_file_bytes(classpath=["hello.jar"]))
        cases = [
            # name, properties bytes made from the usual ones (None: no file), layout change, message
            ("online install, no application yet", same, no_apps, f"No version of {APP} is installed"),
            ("no private JRE", same, no_jre, f"No private JRE {JRE} is installed"),
            ("no properties file", lambda props: None, None, "does not exist"),
            ("odd entry count", lambda props: props + b"\0vlstat_x", None, "odd number"),
            ("trailing NUL", lambda props: props + b"\0", None, "empty entry at byte"),
            ("two NULs inside", lambda props: b"vlstat_a\0\0" + props, None, "empty entry at byte 9"),
            ("no app_dir", lambda props: props[props.index(b"vlstat_app_name"):], None, "no vlstat_app_dir"),
            ("empty app name", lambda props: props + b"\0vlstat_app_name\0\x04", None,
             "vlstat_app_name is empty"),
            ("over-long launch file field", same, long_class, 'field "Class" at byte 2 is longer than 1023'),
            ("no main class", same, no_class, "names no main class"),
        ]
        for name, make_props, change, message in cases:
            with self.subTest(name):
                self.setUp()
                if change:
                    change()
                data = make_props(props_bytes(self.base_pairs()))
                props = self.write_props(data) if data is not None else os.path.join(self.master, "none")
                r = self.run_java(harness.UPDATER_CLASS, props)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(message, r.stderr.decode())
                self.assertEqual(len(r.stderr.decode().splitlines()), 1, r.stderr)
                self.assertNotIn(b"Hello from", r.stdout)

    def test_jre_compatibility_class(self):
        cases = [("17", 72), ("8", 72), ("1.8", 72), (" +17abc", 72), ("\x04", 72), ("99", 1)]
        for required, status in cases:
            with self.subTest(required=required):
                props = self.write_props(props_bytes([(b"vlstat_java_version", b"99"),
                                                      (b"vlstat_java_version", required.encode())]))
                self.assertEqual(self.run_java(harness.UPDATER_COMPAT_CLASS, props).returncode, status)
        self.assertEqual(self.run_java(harness.UPDATER_COMPAT_CLASS, os.path.join(self.master, "none")).returncode, 1)


if __name__ == "__main__":
    harness.main()
