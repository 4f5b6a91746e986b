"""velmoran-pack check on a good launcher file and on copies with one fault
planted each, made with the builder where it allows and by editing bytes
where it does not; and velmoran-pack launchfile and lso against launch and
LSO files written by hand."""

import lzma
import os
import re
import shutil
import tempfile
import unittest
import zipfile

import harness
from harness import pack

GU_VERSION = "00000000001"
GU_ARCHIVE = f"Velmoran-Velmoran-{GU_VERSION}-archive.p2.l2"
SPLASH = b"S" * 200
APP_CLASS = "com.example.Main"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_jar(path, *classes):
    """A jar holding the classes, stored uncompressed so their bytes can be found and edited."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as jar:
        for cls in classes:
            jar.writestr(cls.replace(".", "/") + ".class", b"not really a class, but check reads no further")


def findings(output, kind):
    return [line for line in output.splitlines() if line.startswith(kind + ": ")]


class Check(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-check-")
        cls.key = cls.path("signing.key")
        cls.public = cls.path("signing.pub")
        pack("keygen", "-o", cls.key, "--public-out", cls.public)
        write(cls.path("splash.png"), SPLASH)
        cls.good_tree = cls.updater_tree("good", classpath=["lib/*", "lib/updater.jar"])
        cls.good_archive = cls.archive(cls.good_tree, "--lzma", "--sign", cls.key)
        cls.good = cls.launcher("good.bin", cls.good_archive)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def updater_tree(cls, name, classpath, launch_file=True):
        root = cls.path(name)
        write_jar(os.path.join(root, "lib", "updater.jar"), harness.UPDATER_CLASS)
        if launch_file:
            write(os.path.join(root, "VelmoranLaunch"),
                  harness.launch_file_bytes(cls=harness.UPDATER_CLASS, app_name="java", classpath=classpath))
        return root

    @classmethod
    def archive(cls, tree, *options):
        out = tree + ".archive"
        pack("archive", tree, "-o", out, *options)
        return out

    @classmethod
    def launcher(cls, name, gu_archive, key=True, app_archive=None):
        out = cls.path(name)
        pack("launcher", "-o", out, "--app-name", "Demo", "--gu-version", GU_VERSION, "--lzma64", harness.LZMA64,
             "--splash", cls.path("splash.png"), "--gu-archive", gu_archive,
             *(["--public-key-file", cls.public] if key else []),
             *(["--app-version", "00000000001", "--app-archive", app_archive] if app_archive else []))
        return out

    @classmethod
    def edited(cls, name, change):
        out = cls.path(name)
        write(out, change(read(cls.good)))
        return out

    # Each maker returns a launcher file with one fault.
    def flipped_byte_in_signed_archive(self):
        plain = bytearray(read(self.archive(self.good_tree, "--sign", self.key)))
        at = plain.index(b"not really a class")
        plain[at] ^= 0x01
        compressed = self.path("flipped.l2")
        write(compressed, lzma.compress(bytes(plain), format=lzma.FORMAT_ALONE))
        return self.launcher("flipped.bin", compressed)

    def entry_cut_short(self):
        # The version file's entry states 99 bytes where it holds 11.
        before = b"Velmoran-Velmoran-version.txt\0" + str(len(GU_VERSION)).encode() + b"\0"
        after = b"Velmoran-Velmoran-version.txt\0" + b"99\0"
        return self.edited("cut-entry.bin", lambda data: data.replace(before, after, 1))

    def lzma_stream_cut_short(self):
        compressed = read(self.archive(self.good_tree, "--lzma", "--sign", self.key))
        half = self.path("half.l2")
        write(half, compressed[:len(compressed) // 2])
        return self.launcher("cut-lzma.bin", half)

    def no_launch_file(self):
        tree = self.updater_tree("no-launch", [], launch_file=False)
        return self.launcher("no-launch.bin", self.archive(tree, "--lzma", "--sign", self.key))

    def missing_classpath_entry(self):
        tree = self.updater_tree("missing-jar", ["lib/updater.jar", "lib/missing.jar"])
        return self.launcher("missing-jar.bin", self.archive(tree, "--lzma", "--sign", self.key))

    def marker_in_embedded_file(self):
        def plant(data):
            params_marker = data[-64:][::-1]  # the file ends with it reversed
            at = data.index(SPLASH) + 10
            return data[:at] + params_marker + data[at + 64:]
        return self.edited("marker.bin", plant)

    def signed_without_key(self):
        return self.launcher("no-key.bin", self.archive(self.good_tree, "--lzma", "--sign", self.key), key=False)

    def test_good_launcher_file_passes(self):
        proc = pack("check", self.good, check=False)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertEqual(proc.stdout.splitlines()[-1], "summary: 0 errors, 0 warnings")
        self.assertIn(f"ok: entry 4 ({GU_ARCHIVE}): ", proc.stdout)
        self.assertIn("signature verified", proc.stdout)
        self.assertIn("ok: updater's VelmoranLaunch: version 6, main class dev.velmoran.updater.Updater in "
                      "lib/updater.jar, 2 class path entries found in the archive", proc.stdout)

    def test_each_fault_is_one_error_line(self):
        cases = [
            (self.flipped_byte_in_signed_archive,
             rf"entry 4 \({GU_ARCHIVE}\): the signature does not verify under the header's public key"),
            (self.entry_cut_short,
             r"entry 5 \(Velmoran-Velmoran-version\.txt\): states 99 bytes, but the Params marker starts 11 bytes "
             r"into them: the entry is cut short"),
            (self.lzma_stream_cut_short,
             rf"entry 4 \({GU_ARCHIVE}\): the LZMA data does not decode to its end: the compressed data ends early"),
            (self.no_launch_file, r"updater's VelmoranLaunch: the updater's archive holds no VelmoranLaunch"),
            (self.missing_classpath_entry,
             r"updater's VelmoranLaunch: class path entry 'lib/missing\.jar' is not in the updater's archive"),
            (self.marker_in_embedded_file,
             r"markers: a Params marker at offset \d+, inside entry 2 \(nativesplash\.png\), "
             r"which the launcher takes for the Params section"),
            (self.signed_without_key, rf"entry 4 \({GU_ARCHIVE}\): signed, but the header has no public key"),
        ]
        for make, expected in cases:
            with self.subTest(make.__name__):
                proc = pack("check", make(), check=False)
                self.assertEqual(proc.returncode, 1, proc.stdout)
                errors = findings(proc.stdout, "error")
                self.assertEqual(len(errors), 1, proc.stdout)
                self.assertRegex(errors[0], "^error: " + expected)
                self.assertEqual(proc.stdout.splitlines()[-1], "summary: 1 error, 0 warnings")

    def test_application_launch_file_faults(self):
        tree = self.path("app")
        write_jar(os.path.join(tree, "lib", "app.jar"), APP_CLASS)
        write(os.path.join(tree, "classes", *APP_CLASS.split(".")) + ".class", b"a class")
        write(os.path.join(tree, "other", "broken.jar"), b"PK\3\4 a jar cut short: no directory follows")
        rows = [
            # class, class path, the one line expected: an error, or the launch file's ok
            (APP_CLASS, ["lib/*"], rf"ok: application's VelmoranLaunch: .* main class {APP_CLASS} in lib/app\.jar,"),
            (APP_CLASS, ["classes"], rf"ok: application's VelmoranLaunch: .* main class {APP_CLASS} in classes,"),
            ("com.example.Mian", ["lib/*", "classes"],
             r"error: application's VelmoranLaunch: the main class com\.example\.Mian \(com/example/Mian\.class\) is "
             r"in no jar or folder of the class path, so java cannot start it: correct the Class field"),
            (APP_CLASS, ["lib/app.jar", "lib/missing.jar"],
             r"error: application's VelmoranLaunch: class path entry 'lib/missing\.jar' is not in the application's "
             r"archive: add the file"),
            (APP_CLASS, ["plugins/*", "lib/*"],
             r"error: application's VelmoranLaunch: class path entry 'plugins/\*' names the folder plugins, which is "
             r"not in the application's archive"),
            (APP_CLASS, ["other/broken.jar", "lib/app.jar"],
             r"error: application's VelmoranLaunch: class path entry 'other/broken\.jar': other/broken\.jar is not a "
             r"jar java can read \(no end of central directory record\)"),
        ]
        for main_class, classpath, expected in rows:
            with self.subTest(main_class=main_class, classpath=classpath):
                pack("launchfile", "-o", os.path.join(tree, "VelmoranLaunch"), "--class", main_class,
                     *[arg for entry in classpath for arg in ("--classpath", entry)])
                app = self.archive(tree, "--lzma", "--sign", self.key)
                proc = pack("check", self.launcher("app.bin", self.good_archive, app_archive=app), check=False)
                fault = expected.startswith("error")
                self.assertEqual(proc.returncode, 1 if fault else 0, proc.stdout)
                self.assertEqual(len(findings(proc.stdout, "error")), 1 if fault else 0, proc.stdout)
                self.assertRegex(proc.stdout, "(?m)^" + expected)

    def test_unsigned_archive_with_a_key_is_a_warning(self):
        launcher = self.launcher("unsigned.bin", self.archive(self.good_tree, "--lzma"))
        proc = pack("check", launcher, check=False)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        self.assertEqual(findings(proc.stdout, "warning"),
                         [f"warning: entry 4 ({GU_ARCHIVE}): not signed, though the header has a public key: "
                          "the launcher installs it without a check (it verifies signed archives only); "
                          "sign it with 'archive --sign'"])
        self.assertEqual(findings(proc.stdout, "error"), [])

    def test_not_a_launcher_file(self):
        proc = pack("check", harness.LAUNCHER, check=False)
        self.assertEqual(proc.returncode, 1)
        self.assertTrue(findings(proc.stdout, "error")[0].startswith("error: markers: no Tail marker"))


class LaunchFileCommands(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmoran-launchfile-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def test_options_land_in_their_fields(self):
        out = os.path.join(self.dir, "VelmoranLaunch")
        pack("launchfile", "-o", out, "--format-version", "5", "--class", "a.Main", "--class-on-update", "a.Up",
             "--app-name", "myapp", "--os-icns", "i.icns", "--url-required", "--max-heap", "512",
             "--initial-heap", "64", "--classpath", "lib/*", "--classpath", "a.jar", "--arg", "x", "--arg", "",
             "--compatibility-class", "a.Compat", "--post-install-class", "a.Post", "--pre-uninstall-class", "a.Pre",
             "--jvm-option", "-Xss2m")
        self.assertEqual(read(out), harness.launch_file_bytes(
            version=5, cls="a.Main", on_update_class="a.Up", app_name="myapp", os_icns="i.icns", url_required=True,
            jvm_mem=512, jvm_stack=64, classpath=["lib/*", "a.jar"], extra_args=["x", ""], compat_class="a.Compat",
            post_install_class="a.Post", pre_uninstall_class="a.Pre", app_jvm_options=["-Xss2m"]))
        self.assertIn("  jvmStack (old):              64", pack("inspect", out).stdout)

    def test_lso_file_by_hand(self):
        out = os.path.join(self.dir, "JRE-LastSuccessfulOptions-Velmoran-JRE-1-complete")
        pack("lso", "-o", out, "-Xss2m", "--add-opens=java.base/java.lang=ALL-UNNAMED")
        self.assertEqual(read(out), b"2\0-Xss2m\0--add-opens=java.base/java.lang=ALL-UNNAMED\0")
        self.assertIn("    -Xss2m\n", pack("inspect", out).stdout)

    def test_refusals_are_one_line(self):
        out = os.path.join(self.dir, "x")
        cases = [
            (["launchfile", "-o", out, "--class", "A", "--format-version", "2", "--must-fork"],
             "needs launch file version 6"),
            (["launchfile", "-o", out, "--class", "A", "--max-heap", "-5"], "whole number of megabytes"),
            (["launchfile", "-o", out, "--class", "A", "--initial-heap", "1g"], "whole number of megabytes"),
            (["launchfile", "-o", out, "--class", "A", "--app-name", "bin/java"], "plain file name"),
            (["launchfile", "-o", out, "--class", "A" * 1023], "reads at most 1022"),
            (["launchfile", "-o", out], "no main class given"),
            (["lso", "-o", out, "-Xmx1g", "Main"], "must start with '-'"),
        ]
        for args, message in cases:
            with self.subTest(args=args[3:]):
                proc = pack(*args, check=False)
                # Values the launcher cannot take are typed wrong: usage errors.
                self.assertEqual(proc.returncode, 2)
                self.assertIn(message, proc.stderr)
                self.assertEqual(len(proc.stderr.strip().splitlines()), 1)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main(verbosity=2)
