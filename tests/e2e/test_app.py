"""velmoran-pack app: the demo application packed in one command installs in the sandbox and
prints its line, with its JRE in the file (made by jlink) or downloaded from what --publish
wrote; the same inputs give the same bytes; a failed run leaves nothing and says why in one
line. Archives are compressed with --compress 0: the effort changes the size, not what runs."""

import glob
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import harness
import installs
from harness import pack

APP_MASTER = "Velmoran-Hello"
JRE_NAME = "Linux64JRE"
USAGE, FAILURE = 2, 1


@unittest.skipUnless(os.path.exists(harness.HELLO_JAR) and os.path.exists(harness.UPDATER_JAR),
                     "the updater and the demo application were not built (no JDK)")
class App(harness.SandboxTest):

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-app-test-")
        cls.input = os.path.join(cls.dir, "input")
        os.makedirs(cls.input)
        shutil.copy(harness.HELLO_JAR, cls.input)
        cls.key = installs.key_pair("signing")[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def app(self, out, *extra, input=None, version="1", check=True, env=None):
        args = ["app", "-o", out, "--name", "Hello", "--input", input or self.input,
                "--main-class", harness.HELLO_CLASS, *(["--app-version", version] if version else []),
                "--compress", "0", *extra]
        proc = subprocess.run([harness.PACK, *args], capture_output=True, text=True, env={**os.environ, **(env or {})})
        if check:
            self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc

    def run_file(self, launcher, *args):
        proc = self.sandbox.run(launcher, *args, env={"no_proxy": "127.0.0.1", "XDG_DATA_HOME": ""})
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc

    def master(self, *parts):
        return os.path.join(self.sandbox.shared_dir, APP_MASTER, *parts)

    def installed(self):
        return sorted(f for f in os.listdir(self.master()) if f.endswith("-complete"))

    def assertHelloRan(self, proc, argument, properties=()):
        lines = proc.stdout.splitlines()
        start = lines.index("Hello from Hello 1.0") if "Hello from Hello 1.0" in lines else -1
        self.assertEqual(lines[start:], ["Hello from Hello 1.0", f"Hello argument 0: {argument}",
                                         *(f"Hello property {name}: {value}" for name, value in properties)])

    def test_default_jlink_runtime_signed_installs_then_just_runs(self):
        launcher = os.path.join(self.sandbox.work, "hello-setup")
        icon = installs.Builder(self.dir).splash("icon.png", rgb=(10, 200, 30))
        # A system property set as a JVM option and one set by a parameter, which the demo shows.
        shown = [("notes.mode", "prod"), ("color", "blue")]
        made = self.app(launcher, "--sign", self.key, "--jvm-option", "-Dnotes.mode=prod", "--param", "color=blue",
                        "--java-property", "dev.velmoran.hello.show=notes.mode,color",
                        "--icon", icon, "--categories", "Development,Utility")
        # Progress is for terminals only.
        self.assertEqual(made.stderr, "")
        first = self.run_file(launcher, "first")
        self.assertRecord(first.stdout, "[ExtractArchive] Archive signature verified.")
        jre = [f for f in self.installed() if f.startswith(f"Velmoran-{JRE_NAME}-")]
        self.assertEqual(self.installed(), sorted(["Velmoran-Velmoran-00000000001-complete",
                                                   "Velmoran-Hello-00000000001-complete", *jre]))
        self.assertEqual(len(jre), 1)
        # The image holds the modules jdeps found the jars need, not the whole JDK.
        with open(self.master(jre[0], "release")) as f:
            modules = next(line for line in f if line.startswith("MODULES=")).split("=", 1)[1].strip('"\n').split()
        self.assertIn("java.desktop", modules)
        self.assertNotIn("jdk.compiler", modules)

        second = self.run_file(launcher, "second")
        self.assertRecord(second.stdout, "[Extractor] Running without extraction now")
        self.assertHelloRan(first, "first", shown)
        self.assertHelloRan(second, "second", shown)
        # The updater runs with the application's JVM options, so it needs no second JVM.
        logs = "".join(installs.read(p).decode() for p in glob.glob(self.master("logs", "Updater-*.log")))
        self.assertIn("[Updater] Starting Velmoran-Hello-00000000001-complete in this JVM", logs)
        self.assertNotIn("second JVM", logs)

        data = os.path.join(self.sandbox.home, ".local", "share")
        self.assertEqual(installs.read(os.path.join(data, "icons", "velmoran-Hello.png")), installs.read(icon))
        entry = installs.read(os.path.join(data, "applications", "velmoran-Hello.desktop")).decode()
        self.assertIn("\nCategories=Development;Utility;\n", entry)

    def test_jre_downloaded_from_what_publish_wrote(self):
        server = installs.UpdateServer(os.path.join(self.sandbox.root, "server"))
        self.addCleanup(server.close)
        launcher = os.path.join(self.sandbox.work, "hello-online")
        self.app(launcher, "--jre", "none", "--publish", server.folder, "--publish-jre", harness.jlink_jre(),
                 "--update-url", server.url, "--sign", self.key)
        version = installs.read(os.path.join(server.folder, f"Velmoran-{JRE_NAME}-version.txt")).decode().strip()
        self.assertEqual(sorted(os.listdir(server.folder)),
                         ["Velmoran-Hello-00000000001-archive.p2.l2", "Velmoran-Hello-manifest.p2",
                          f"Velmoran-{JRE_NAME}-{version}-archive.p2.l2", f"Velmoran-{JRE_NAME}-version.txt",
                          "Velmoran-Velmoran-00000000001-archive.p2.l2"])
        manifest = os.path.join(server.folder, "Velmoran-Hello-manifest.p2")
        # The launcher takes the JRE the manifest lists, and reads the version file where there is none.
        for route, record in (("manifest", f"[JREDownload] The manifest lists JRE version {version}"),
                              ("version file", f"[JREDownload] JRE Version is {version}")):
            with self.subTest(route):
                if route == "version file":
                    os.rename(manifest, manifest + ".hidden")
                    self.sandbox = harness.Sandbox()
                    self.addCleanup(self.sandbox.close)
                    launcher = shutil.copy(launcher, self.sandbox.work)
                proc = self.run_file(launcher, "online")
                self.assertRecord(proc.stdout, record)
                self.assertRecord(proc.stdout, f"[JREDownload] Finalising setup of new JRE {version}")
                self.assertIn(f"Velmoran-{JRE_NAME}-{version}-complete", self.installed())
                self.assertHelloRan(proc, "online")

    def test_same_inputs_give_the_same_bytes(self):
        jre = installs.fake_jre(os.path.join(self.dir, "fake-jre"))
        installs.write(os.path.join(jre, "release"), 'JAVA_VERSION="17.0.2"\n')
        outputs = []
        for i in range(2):
            out = os.path.join(self.dir, f"same-{i}", "hello-setup")
            os.makedirs(os.path.dirname(out))
            # Nothing of the clock, the machine or the files' times goes in.
            for path in glob.glob(os.path.join(self.input, "*")) + glob.glob(os.path.join(jre, "*", "*")):
                os.utime(path, (1e9 + i * 1e6, 1e9 + i * 1e6))
            tmp = os.path.join(self.dir, f"tmp-{i}")
            os.makedirs(tmp)
            self.app(out, "--jre", jre, "--sign", self.key, version="42", env={"TMPDIR": tmp})
            outputs.append(installs.read(out))
        self.assertEqual(outputs[0], outputs[1])

        # Without --app-version: the build time, or SOURCE_DATE_EPOCH.
        out = os.path.join(self.dir, "dated")
        before = int(time.time())
        self.app(out, "--jre", jre, version=None)
        stated = int(self.header_version(out))
        self.assertTrue(before <= stated <= time.time(), stated)
        self.app(out, "--jre", jre, version=None, env={"SOURCE_DATE_EPOCH": "1700000000"})
        self.assertEqual(self.header_version(out), "01700000000")

    def test_a_read_only_output_folder_fails_before_any_work(self):
        # In a chroot the root's propagation cannot be made private, so there is no mount
        # namespace of our own to make a read-only folder in.
        if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode != 0:
            self.skipTest("no mount namespace of its own here (a chroot?)")
        root = tempfile.mkdtemp(prefix="velmoran-app-ro-", dir=self.dir)
        out, tmp = os.path.join(root, "out"), os.path.join(root, "tmp")
        os.makedirs(out)
        os.makedirs(tmp)
        # A read-only file system, which even root cannot write; jlink would run first were it not checked.
        mount = f'mount --bind "{out}" "{out}" && mount -o remount,bind,ro "{out}" && exec "$@"'
        for option in (["-o", os.path.join(out, "hello-setup")], ["--publish", out]):
            with self.subTest(option[0]):
                args = ["app", "--name", "Hello", "--input", self.input, "--main-class", harness.HELLO_CLASS,
                        "-o", os.path.join(root, "hello-setup"), *option]
                proc = subprocess.run(["unshare", "--mount", "sh", "-c", mount, "sh", harness.PACK, *args],
                                      capture_output=True, text=True, env={**os.environ, "TMPDIR": tmp})
                self.assertEqual(proc.returncode, FAILURE, proc.stderr)
                self.assertEqual(proc.stderr.splitlines(), [
                    f"velmoran-pack app: cannot write {'into ' if option[0] == '--publish' else ''}{option[0]} "
                    f"{option[1]}: {'it' if option[0] == '--publish' else out} takes no new files "
                    "(Read-only file system)"])
                self.assertEqual(os.listdir(tmp), [])
                self.assertEqual(os.listdir(out), [])
                self.assertFalse(os.path.exists(os.path.join(root, "hello-setup")))

    def header_version(self, launcher):
        listing = pack("inspect", launcher).stdout
        return next(line.split()[-1] for line in listing.splitlines() if line.strip().startswith("App Version:"))

    def test_failures_leave_nothing_and_say_why(self):
        root = tempfile.mkdtemp(prefix="velmoran-app-fail-", dir=self.dir)
        jre = installs.fake_jre(os.path.join(root, "jre"))
        installs.write(os.path.join(jre, "release"), 'JAVA_VERSION="17.0.2"\n')
        empty = os.path.join(root, "empty")
        os.makedirs(empty)
        not_a_jar = os.path.join(root, "not-a-jar")
        installs.write(os.path.join(not_a_jar, "app.jar"), "PK, but no zip")
        own_launch = os.path.join(root, "own-launch")
        shutil.copytree(self.input, own_launch)
        installs.write(os.path.join(own_launch, "VelmoranLaunch"), "mine")
        bad_key = os.path.join(root, "bad.key")
        installs.write(bad_key, "not a key")
        big_icon = os.path.join(root, "big.png")
        installs.write(big_icon, b"\x89PNG\r\n\x1a\n" + bytes(4 << 20))
        ready = ["--jre", jre]
        # name, arguments, keyword arguments of app(), status, what the line says
        cases = [
            ("no jars", ready, {"input": empty}, FAILURE, "holds no .jar files"),
            ("main class in no jar", ready + ["--main-class", "com.example.Missing"], {}, FAILURE,
             "holds the main class com.example.Missing"),
            ("not a zip", ready, {"input": not_a_jar}, FAILURE, "is not a jar (zip) file"),
            ("jlink fails", ["--add-modules", "no.such.module"], {}, FAILURE, "jlink failed"),
            ("no JDK", [], {"env": {"JAVA_HOME": root}}, FAILURE, "JAVA_HOME"),
            ("not a runtime image", ["--jre", empty], {}, FAILURE, "has no bin/java"),
            ("bad key", ready + ["--sign", bad_key], {}, FAILURE, "--sign " + bad_key),
            ("a launch file of its own", ready, {"input": own_launch}, FAILURE, "holds a VelmoranLaunch"),
            ("bad version", ready, {"version": "1x"}, USAGE, "--app-version must be"),
            ("version too long", ready, {"version": "1" * 12}, USAGE, "--app-version must be"),
            ("heap", ready + ["--max-heap", "64", "--initial-heap", "128"], {}, USAGE, "--initial-heap"),
            ("unknown option", ready + ["--bogus"], {}, USAGE, "unknown argument '--bogus'"),
            ("prune without a channel", ready + ["--prune"], {}, USAGE, "go with --publish"),
            ("online without an update URL", ready + ["--online", "--publish", root], {}, USAGE,
             "--online needs --update-url"),
            ("JVM option", ready + ["--jvm-option", "Dx=1"], {}, USAGE, "is not a JVM option"),
            ("class path as a JVM option", ready + ["--jvm-option", "-cp"], {}, USAGE, "is app's to set"),
            ("property", ready + ["--java-property", "=1"], {}, USAGE, "--java-property needs NAME=VALUE"),
            ("categories", ready + ["--categories", "A B"], {}, USAGE, "--categories takes names"),
            ("icon", ready + ["--icon", bad_key], {}, FAILURE, "is not a PNG image"),
            ("icon too large", ready + ["--icon", big_icon], {}, FAILURE, "larger than the 4 MiB"),
            ("publish into a file", ready + ["--publish", bad_key], {}, FAILURE, "it is not a folder"),
        ]
        for name, args, options, status, message in cases:
            with self.subTest(name):
                out_dir = os.path.join(root, "out-" + name.replace(" ", "-"))
                tmp = os.path.join(root, "tmp-" + name.replace(" ", "-"))
                os.makedirs(out_dir)
                os.makedirs(tmp)
                env = {"TMPDIR": tmp, **options.pop("env", {})}
                proc = self.app(os.path.join(out_dir, "hello-setup"), *args, check=False, env=env, **options)
                self.assertEqual(proc.returncode, status, proc.stderr)
                self.assertEqual(proc.stdout, "")
                self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
                self.assertTrue(proc.stderr.startswith("velmoran-pack app: "), proc.stderr)
                self.assertIn(message, proc.stderr)
                self.assertEqual(os.listdir(out_dir), [])
                self.assertEqual(os.listdir(tmp), [])


if __name__ == "__main__":
    harness.main()
