"""velmoran-pack as a command-line tool: exit statuses, one-line errors with
nothing from the libraries on standard output, outputs that appear whole or
not at all, --version and --help."""

import os
import re
import shutil
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
from harness import pack  # noqa: E402

USAGE, FAILURE = 2, 1
SPLASH = os.path.join(harness.SOURCE_DIR, "resources", "splash.png")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class PackCli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-cli-")
        cls.key = cls.path("signing.key")
        cls.public_hex = pack("keygen", "-o", cls.key).stdout.strip()
        cls.data = cls.path("data")
        write(cls.data, b"some bytes\n")
        cls.tree = cls.path("tree")
        os.makedirs(cls.tree)
        write(os.path.join(cls.tree, "a.txt"), b"a")
        cls.made = cls.path("made.bin")
        pack("launcher", "-o", cls.made, "--app-name", "A", "--param", "keep=me")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir, name)

    def test_exit_status_says_whose_fault_it_is(self):
        out = self.path("out")
        missing = self.path("missing")
        launcher = ["launcher", "-o", out, "--app-name", "A"]
        cases = [
            # What the user typed wrong.
            (["bogus"], USAGE, "unknown command 'bogus'"),
            (launcher + ["--bogus"], USAGE, "unknown argument '--bogus'"),
            (["launcher", "-o", out, "--app-name"], USAGE, "option --app-name needs a value"),
            (["launcher", "--app-name", "A"], USAGE, "no output file given"),
            (launcher + ["--updater-version", "x1"], USAGE, "--updater-version must be decimal digits"),
            (["launcher", "-o", out, "--app-name", "My-App"], USAGE, "must not contain '-'"),
            (launcher + ["--lzma64", self.data], USAGE, "--lzma64 needs --updater-version"),
            (launcher + ["--gu-version", "1", "--splash", SPLASH], USAGE, "--updater-archive is required"),
            (launcher + ["--param", "x" * 2000 + "=1"], USAGE, "the launcher reads at most"),
            (["archive", self.tree], USAGE, "no output file given"),
            (["archive", self.tree, "-o", out, "--sign"], USAGE, "option --sign needs a value"),
            (["keygen", "--bogus"], USAGE, "unknown argument '--bogus'"),
            (["launchfile", "-o", out], USAGE, "no main class given"),
            (["lso", "-o"], USAGE, "option -o needs a value"),
            (["params"], USAGE, "no launcher file given"),
            (["params", self.made, "--set", "novalue"], USAGE, "--set needs NAME=VALUE"),
            (["check"], USAGE, "no file given"),
            (["inspect", "--as", "zip", self.data], USAGE, "--as takes launchfile or lso"),
            (["sign", "--key", self.key], USAGE, "give exactly one of --digest HEX and --file FILE"),
            (["sign", "--key", self.key, "--file", self.data, "--offset", "x"], USAGE, "--offset needs a byte count"),
            (["verify", "--public-key", self.public_hex], USAGE, "no signature given"),
            (["hash", "--bogus"], USAGE, "unknown option '--bogus'"),
            # What went wrong with the files and keys given.
            (launcher + ["--stub", missing], FAILURE, "cannot read " + missing),
            (launcher + ["--public-key", "00ff"], FAILURE, "hexadecimal DER text"),
            (["archive", missing, "-o", out], FAILURE, "is not a folder"),
            (["archive", self.tree, "-o", out, "--sign", missing], FAILURE, "cannot read " + missing),
            (["keygen", "-o", self.key], FAILURE, "exists; pass --force"),
            (["params", self.data, "--set", "a=b"], FAILURE, "has no Params marker"),
            (["params", "/dev/null", "--set", "a=b"], FAILURE, "is not a regular file"),
            (["check", missing], FAILURE, "cannot read"),
            (["inspect", missing], FAILURE, "cannot read"),
            (["sign", "--key", self.data, "--digest", "00" * 64], FAILURE, "not an RSA key"),
            (["verify", "--public-key", "00ff", "--signature", "00", "--digest", "00" * 64], FAILURE,
             "not an RSA key"),
            (["lso", "-o", os.path.join(missing, "x"), "-Xss2m"], FAILURE, "cannot write"),
            (["hash", missing], FAILURE, "cannot read"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args[:1] + [a[:40] for a in args[1:6]]):
                proc = pack(*args, check=False)
                self.assertEqual(proc.returncode, status, proc.stderr)
                # One line of ours, and nothing a library printed on the way.
                self.assertEqual(proc.stdout, "")
                self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
                self.assertRegex(proc.stderr, r"^velmoran-pack( \w+)?: ")
                self.assertIn(message, proc.stderr)
        self.assertFalse(os.path.exists(out))

    def test_verdicts_on_standard_output_exit_1(self):
        # check and verify report on standard output; a negative verdict is a failure.
        proc = pack("check", harness.LAUNCHER, check=False)
        self.assertEqual(proc.returncode, FAILURE)
        self.assertTrue(proc.stdout.startswith("error: markers: no Tail marker"), proc.stdout)
        proc = pack("verify", "--public-key", self.public_hex, "--signature", "00" * 256, "--digest", "00" * 64,
                    check=False)
        self.assertEqual((proc.returncode, proc.stdout), (FAILURE, "invalid\n"))

    def test_overlong_fields_are_read_without_library_warnings(self):
        # A Params area whose first name is longer than the reader takes: the
        # field reader warns on standard output, which is the listing here.
        data = bytearray(read(self.made))
        # The Params area is the end of the file; the stub may hold the same bytes.
        area = data.rindex(b"keep\0") - 2
        data[area:area + 1200] = b"1\0" + b"n" * 1100 + b"\0v\0" + b"\0" * 95
        edited = self.path("overlong.bin")
        write(edited, bytes(data))
        for args in (["params", edited], ["inspect", edited]):
            with self.subTest(args[0]):
                proc = pack(*args)
                self.assertIn("n" * 100, proc.stdout)
                self.assertNotIn("WARNING", proc.stdout)

    def test_version(self):
        with open(os.path.join(harness.SOURCE_DIR, "CMakeLists.txt")) as f:
            version = re.search(r"project\(velmoran VERSION (\S+)", f.read()).group(1)
        for option in ("--version", "-V"):
            self.assertEqual(pack(option).stdout, f"velmoran-pack {version}\n")

    def test_help_lists_the_commands_in_the_order_of_the_work(self):
        listing = pack("--help").stdout
        names = re.findall(r"^  (\w+) ", listing.split("Commands:\n")[1], re.M)
        expected = ["keygen", "archive", "launchfile", "lso", "launcher", "params", "check", "inspect", "sign",
                    "verify", "hash"]
        if "app" in names:
            expected.insert(1, "app")
        self.assertEqual(names, expected)
        for name in names:
            self.assertTrue(pack(name, "--help").stdout.startswith("Usage: velmoran-pack " + name), name)
        launcher_help = pack("launcher", "--help").stdout
        self.assertIn("--updater-version", launcher_help)
        self.assertIn("11 digits, compared as numbers, e.g. 00054022298", launcher_help)

    def test_keygen_takes_the_output_as_every_command_does(self):
        for i, spelling in enumerate((["-o", "{}"], ["--output", "{}"], ["--output={}"], ["--out", "{}"])):
            with self.subTest(spelling[0]):
                key = self.path(f"key{i}")
                public = pack("keygen", *[s.format(key) for s in spelling]).stdout.strip()
                self.assertEqual(stat.S_IMODE(os.stat(key).st_mode), 0o600)
                self.assertEqual(len(bytes.fromhex(public)), 294)


class AtomicOutputs(unittest.TestCase):
    """A failed run leaves an existing output as it was and no temporary file;
    a successful one replaces the output whole."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmoran-atomic-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.out_dir = os.path.join(self.dir, "out")
        os.makedirs(self.out_dir)
        self.tree = os.path.join(self.dir, "tree")
        os.makedirs(self.tree)
        write(os.path.join(self.tree, "a.txt"), b"a" * 100000)

    def out(self, name):
        return os.path.join(self.out_dir, name)

    def launcher_file(self, name="app.bin"):
        path = self.out(name)
        pack("launcher", "-o", path, "--app-name", "A", "--param", "keep=me")
        return path

    def test_a_failed_run_keeps_the_old_output_and_leaves_no_temporary_file(self):
        # Each fails after part of the output could have been written.
        signature_named = os.path.join(self.dir, "signed-tree")
        shutil.copytree(self.tree, signature_named)
        write(os.path.join(signature_named, "vlArcSpBlock_DigitalSignature1"), b"x")
        missing = os.path.join(self.dir, "missing.p2.l2")
        cases = [
            ("archive", lambda out: ["archive", signature_named, "-o", out], "would be read as the signature block"),
            ("archive --lzma", lambda out: ["archive", signature_named, "--lzma", "-o", out], "signature block"),
            ("launcher", lambda out: ["launcher", "-o", out, "--app-name", "A", "--updater-version", "1",
                                      "--splash", SPLASH, "--updater-archive", SPLASH, "--app-version", "2",
                                      "--app-archive", missing], "cannot read " + missing),
            ("params", lambda out: ["params", out, "--set", "jre_name=my-jre"], "must not contain '-'"),
            ("keygen", lambda out: ["keygen", "-o", out], "exists"),
            ("lso", lambda out: ["lso", "-o", out, "-Xss2m", "Main"], "must start with '-'"),
        ]
        for name, args, message in cases:
            with self.subTest(name):
                out = self.launcher_file(name.replace(" ", "_"))
                before = read(out)
                proc = pack(*args(out), check=False)
                self.assertNotEqual(proc.returncode, 0)
                self.assertIn(message, proc.stderr)
                self.assertEqual(read(out), before)
        self.assertEqual(sorted(os.listdir(self.out_dir)), sorted(c[0].replace(" ", "_") for c in cases))

    def test_a_failed_run_creates_no_output(self):
        out = self.out("new.bin")
        proc = pack("launcher", "-o", out, "--app-name", "A", "--stub", os.path.join(self.dir, "none"), check=False)
        self.assertEqual(proc.returncode, FAILURE)
        self.assertEqual(os.listdir(self.out_dir), [])

    def test_params_replaces_the_file_keeping_its_mode_and_links(self):
        real = self.launcher_file()
        os.chmod(real, 0o700)
        link = self.out("link.bin")
        os.symlink("app.bin", link)
        pack("params", link, "--set", "added=1")
        self.assertTrue(os.path.islink(link))
        self.assertEqual(stat.S_IMODE(os.stat(real).st_mode), 0o700)
        self.assertEqual(pack("params", real).stdout, "keep=me\nadded=1\n")
        self.assertEqual(sorted(os.listdir(self.out_dir)), ["app.bin", "link.bin"])

    def test_outputs_get_their_modes(self):
        launcher = self.launcher_file()
        self.assertEqual(stat.S_IMODE(os.stat(launcher).st_mode), 0o755)
        lso = self.out("lso")
        pack("lso", "-o", lso, "-Xss2m")
        self.assertEqual(stat.S_IMODE(os.stat(lso).st_mode), 0o644)

    def test_a_device_is_written_not_replaced(self):
        # Renaming over /dev/null would put a regular file there.
        pack("archive", self.tree, "--lzma", "-o", "/dev/null")
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))

    def test_archive_leaves_out_its_output_and_the_temporary_file(self):
        out = os.path.join(self.tree, "self.p2")
        pack("archive", self.tree, "-o", out)
        again = pack("archive", self.tree, "-o", out).stdout
        self.assertIn(": 1 entries,", again)
        self.assertEqual(sorted(os.listdir(self.tree)), ["a.txt", "self.p2"])


if __name__ == "__main__":
    harness.main()
