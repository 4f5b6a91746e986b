"""A launcher file made by velmoran-pack: what one run reads and logs, and
what the builder's inspect and params commands show and change."""

import os
import shutil

import harness
from harness import pack, records


class TailReading(harness.SandboxTest):

    def make(self, *extra, name="app.bin"):
        out = os.path.join(self.sandbox.work, name)
        pack("launcher", "-o", out, "--app-name", "DemoApp", "--app-version", "00054022298",
             "--java-version", "8", "--silent-parameter", "--quiet", *extra)
        return out

    def test_run_logs_the_params_and_the_header(self):
        launcher = self.make("--param", "supported_langs=en", "--param", "jre_name=Linux64JRE")
        proc = self.sandbox.run(launcher, "first", "second")
        self.assertEqual(proc.returncode, 1, proc.stdout)
        lines = proc.stdout.splitlines()
        self.assertEqual(lines[:3], ["Extracting wrapper tail...", "[Splash] init()", "[Splash] Connecting to display "])
        self.assertIn("[Splash] Can't open display", proc.stderr)
        self.assertTrue(lines[3].startswith("+0        [Extractor] The absolute wrapper path is "), lines[3])
        for text in ["[Extractor] The absolute wrapper path is " + launcher,
                     "[Extractor] The executable name is " + launcher,
                     "[Extractor] Found Params marker. Extracting now...",
                     "+++ Processing 2 dynamic properties",
                     "[DynProps] Dynamic Param 0: supported_langs=[en]",
                     "[DynProps] Dynamic Param 1: jre_name=[Linux64JRE]",
                     "--- End: Processing dynamic properties",
                     "+++ Start: Extracting wrapper tail",
                     "[Extractor] Found tail marker",
                     "[Extractor] Required Java version 8",
                     "[Extractor] Will use Static Update URL: " + harness.PLACEHOLDER_UPDATE_URL,
                     "[Extractor] Is silent install is 0",
                     "--- End: Extracting tail",
                     "[Extractor] Setting up static properties"]:
            self.assertRecord(proc.stdout, text)
        # A file without the updater is just a launcher: with nothing installed it cannot run.
        self.assertEqual(records(proc.stdout)[-1], "[Extractor] Unable to run (we are just a launcher)")

    def test_silent_parameter_and_prepare_only_argument(self):
        launcher = self.make()
        silent = self.sandbox.run(launcher, "x", "--quiet")
        self.assertRecord(silent.stdout, "[Extractor] Is silent install is 1")
        prepare = ("[Extractor] This is an elevated run purely to prepare an installation. "
                   "Will not show UI or launch an app")
        self.assertRecord(self.sandbox.run(launcher, "VLPREPARE_FOR_LAUNCH_ONLY").stdout, prepare)
        self.assertNoRecord(self.sandbox.run(launcher, "VLPREPARE_FOR_LAUNCH_ONLY", "x").stdout, prepare)

    def test_params_set_changes_what_the_next_run_logs(self):
        launcher = self.make("--param", "a=1", "--param", "b=2")
        with open(launcher, "rb") as f:
            before = f.read()
        pack("params", launcher, "--set", "b=changed", "--set", "show_no_ui=true", "--unset", "a")
        with open(launcher, "rb") as f:
            after = f.read()
        self.assertEqual(len(before), len(after))
        differing = [i for i in range(len(before)) if before[i] != after[i]]
        area_start = len(before) - 64 - 204800
        self.assertTrue(differing and min(differing) >= area_start, "bytes outside the Params area changed")

        proc = self.sandbox.run(launcher)
        self.assertRecord(proc.stdout, "+++ Processing 2 dynamic properties")
        self.assertRecord(proc.stdout, "[DynProps] Dynamic Param 0: b=[changed]")
        self.assertRecord(proc.stdout, "[DynProps] Dynamic Param 1: show_no_ui=[true]")
        self.assertEqual(pack("params", launcher).stdout, "b=changed\nshow_no_ui=true\n")

    def test_inspect_lists_header_and_parameters(self):
        launcher = self.make("--param", "supported_langs=en", "--update-url", "D")
        out = pack("inspect", launcher).stdout
        for text in ["App Name:              DemoApp", "App Version:           00054022298",
                     "Silent Parameter:      --quiet", "Update URL:            D",
                     "Install Type:          perm_user", "Parameters (1):", "supported_langs=en"]:
            self.assertIn(text, out)

    def test_dynamic_update_url_is_chosen_for_D(self):
        launcher = self.make("--update-url", "D", "--param", "update_url=http://127.0.0.1:9/updates")
        proc = self.sandbox.run(launcher)
        self.assertRecord(proc.stdout, "[DynProps] Dynamic Update URL: http://127.0.0.1:9/updates")
        self.assertRecord(proc.stdout, "[Extractor] Will use Dynamic Update URL: http://127.0.0.1:9/updates")

    def test_bare_name_is_opened_in_the_working_directory(self):
        launcher = self.make(name="setup")
        bin_dir = os.path.join(self.sandbox.root, "bin")
        os.makedirs(bin_dir)
        shutil.move(launcher, os.path.join(bin_dir, "setup"))
        env = {"PATH": bin_dir + ":" + os.environ["PATH"]}
        elsewhere = self.sandbox.run("setup", env=env, invoke_as="setup")
        self.assertEqual(elsewhere.returncode, 1)
        self.assertRecord(elsewhere.stdout, "[Extractor] *********************** Failed to extract wrapper "
                                            "params - couldn't open file setup")
        here = self.sandbox.run("setup", env=env, invoke_as="setup", cwd=bin_dir)
        self.assertRecord(here.stdout, "[Extractor] Found tail marker")

    def test_launcher_program_without_a_tail_reports_the_missing_marker(self):
        proc = self.sandbox.run(harness.LAUNCHER)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(records(proc.stdout)[-1], "Could not find marker: Params")


class Builder(harness.SandboxTest):

    def out(self, name="x.bin"):
        return os.path.join(self.sandbox.work, name)

    def test_refusals_are_one_clear_line_and_nonzero(self):
        made = self.out("made.bin")
        pack("launcher", "-o", made, "--app-name", "A")
        private_key = self.out("signing.key")
        pack("keygen", "-o", private_key)
        with open(private_key, "rb") as f:
            private_hex = f.read().hex()
        wrapped = self.out("splash.b64")
        with open(wrapped, "w") as f:
            f.write("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJ\n"
                    "RU5ErkJggg==\n")
        big = self.out("big.txt")
        with open(big, "w") as f:
            f.write("v" * 199_999)
        cases = [
            (["launcher", "-o", self.out(), "--app-name", "A", "--stub", made], "already contains a marker"),
            (["launcher", "-o", self.out(), "--app-name", "A" * 1023], "the launcher reads at most 1022"),
            # A name the header takes can still make an entry path too long to read back.
            (["launcher", "-o", self.out(), "--app-name", "A" * 1000, "--gu-version", "1", "--lzma64", made,
              "--splash", made, "--gu-archive", made, "--app-version", "2", "--app-archive", made],
             "is 1025 characters long; the launcher reads at most 1022"),
            (["launcher", "-o", self.out(), "--app-name", "My-App"], "must not contain '-'"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--param-file", "big=" + big],
             "the launcher reads at most 199998"),
            # lzma64 comes from beside the tool; the splash must be given.
            (["launcher", "-o", self.out(), "--app-name", "A", "--gu-version", "1"], "--splash is required"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--app-version", "x1"], "must be decimal digits"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--bogus"], "unknown argument '--bogus'"),
            # Header values the launcher would silently take as its default.
            (["launcher", "-o", self.out(), "--app-name", "A", "--install-type", "perm-all"],
             "--install-type must be perm_all, perm_user or temporary"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--can-override-splash", "true"],
             "--can-override-splash must be 0 or 1"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--min-splash-ms", "1.5s"],
             "--min-splash-ms must be a number"),
            (["launcher", "--app-name", "A"], "no output file given"),
            (["params", made, "--set", "novalue"], "--set needs NAME=VALUE"),
            # The JRE name is split out of version folder names at "-", however it is given.
            (["launcher", "-o", self.out(), "--app-name", "A", "--param", "jre_name=my-jre"],
             "must not contain '-'"),
            (["params", made, "--set", "jre_name=my-jre"], "must not contain '-'"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--param-file", "splash_image=" + wrapped],
             "splash_image must be Base64 on one line"),
            # A key the launcher cannot import would make it reject every signed archive.
            (["launcher", "-o", self.out(), "--app-name", "A", "--public-key", "30820122zz"],
             "hexadecimal DER text"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--public-key", "00ff"], "hexadecimal DER text"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--public-key", private_hex], "is a private key"),
            (["inspect", harness.LAUNCHER], "holds no wrapper tail"),
            (["inspect", self.sandbox.work], "Is a directory"),
            (["launcher", "-o", self.out(), "--app-name", "A", "--param-file", "x=" + self.sandbox.work],
             "Is a directory"),
        ]
        for args, message in cases:
            with self.subTest(args=args[:4]):
                proc = pack(*args, check=False)
                self.assertNotEqual(proc.returncode, 0)
                self.assertIn(message, proc.stderr)
                self.assertEqual(len(proc.stderr.strip().splitlines()), 1, proc.stderr)
        self.assertFalse(os.path.exists(self.out()))

    def test_params_that_overflow_the_area_are_refused_and_the_file_kept(self):
        made = self.out("made.bin")
        pack("launcher", "-o", made, "--app-name", "A", "--param", "keep=me")
        with open(made, "rb") as f:
            before = f.read()
        args = ["params", made] + [a for i in range(30) for a in ("--set", f"p{i}=" + "v" * 10_000)]
        proc = pack(*args, check=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("the Params area holds 204800", proc.stderr)
        with open(made, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_output_is_executable_and_help_is_there(self):
        made = self.out()
        pack("launcher", "-o", made, "--app-name", "A")
        self.assertTrue(os.access(made, os.X_OK))
        self.assertIn("Commands:", pack("--help").stdout)
        for command in ("launcher", "params", "inspect"):
            self.assertIn("Usage: velmoran-pack " + command, pack(command, "--help").stdout)


if __name__ == "__main__":
    harness.main()
