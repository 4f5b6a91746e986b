"""Whole runs of launcher files that carry what they install: the install decision against
what the master folder holds, the extraction, and the hand-over to the newest updater, on
fake JREs."""

import base64
import os

import harness
import installs
from installs import JRE_NAME, InstallTest, is_executable

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
FIRST = installs.FIRST_FOLDERS
OFFLINE_5 = dict(gu_version=5, jre_version=17, app_version=7)
OFFLINE_6 = dict(gu_version=6, jre_version=17, app_version=8)
JUST_A_LAUNCHER = dict(gu_version=None, jre_version=None, app_version=None)
JUST_RUN = "[Extractor] Running without extraction now"
NEWER_OR_SAME_GU = "[Extractor] Latest GUversion is newer or same as our version so will just run"
PREPARE_ONLY = "VLPREPARE_FOR_LAUNCH_ONLY"


class OfflineInstall(InstallTest):

    def assertNothingExtracted(self, run):
        self.assertRecords(run, JUST_RUN)
        self.assertEqual([r for r in run.records if r.startswith("[ExtractArchiveFile]")], [])
        self.assertNotIn("[Splash] showSplash()", run.records)
        self.assertFalse(any(r.startswith("[Splash] configureSplash") for r in run.records))

    def read(self, *parts):
        return installs.read(self.in_master(*parts))

    def test_first_run_installs_everything_and_the_second_just_runs(self):
        launcher = self.builder.launcher("app.bin")
        first = self.launch(launcher, "user arg")
        self.assertRecords(first,
                           "[Extractor] No latest GU or JRE version exists, will check tail for online/offline info",
                           "[Extractor] Note: No latest JRE version exists",
                           "[Extractor] Note: No latest GU version exists",
                           "[Splash] showSplash()", f"[Extractor] Will now run latest GU {GU(5)}")
        self.assertEqual(self.folders(), sorted(FIRST + [APP(7), JRE(17), GU(5)]))
        self.assertTrue(is_executable(self.in_master(GU(5), "lzma64")))
        self.assertEqual(self.read(GU(5), "nativesplash.png"), installs.read(self.builder.splash()))
        self.assertEqual(self.read(GU(5), "lib", "updater.jar"), b"updater " + installs.version(5).encode())
        self.assertEqual(self.read(APP(7), "lib", "app.jar"), b"application " + installs.version(7).encode())
        self.assertTrue(is_executable(self.in_master(JRE(17), "bin", "java")))
        # The class data archive is made while the JRE is still in its temporary folder.
        temp_java = [line.split(" ", 1)[1] for line in first.log.splitlines() if line.startswith("xshare-dump ")]
        self.assertEqual(len(temp_java), 1, first.log)
        self.assertRegex(temp_java[0], r"/Velmoran-TestApp/VelmoranTemp-[^/]+/bin/java$")
        self.assertUpdaterStarted(first, 5)
        self.assertEqual(first.starts[0][-1], "user arg")
        self.assertEqual(len(os.listdir(self.in_master("logs"))), 1)

        second = self.launch(launcher)
        self.assertRecords(second, f"[Extractor] Latest GU version exists: {GU(5)}",
                           f"[Extractor] Existing JRE exists: {JRE(17)}", NEWER_OR_SAME_GU,
                           "[Extractor] Latest App version is newer or same as our version so will just run")
        self.assertNothingExtracted(second)
        self.assertEqual(self.folders(), sorted(FIRST + [APP(7), JRE(17), GU(5)]))
        self.assertUpdaterStarted(second, 5)
        self.assertEqual(len(os.listdir(self.in_master("logs"))), 2)

    def test_decision_against_what_is_installed(self):
        # The decision itself is a table of the unit tests; these rows show its wiring: the
        # records reach the log, each branch installs or just runs, and the hand-over goes to
        # the newest updater. Name, launchers run before, the launcher run, status, records,
        # folders it adds, (updater, JRE) it starts or None.
        cases = [
            ("newer updater in the tail", [OFFLINE_5], dict(gu_version=6, jre_version=18, app_version=8), 0,
             ["[Extractor] Our GU version is newer than existing latest version so will extract and run",
              "[Extractor] Note: Latest JRE version does exist", "[Extractor] Note: Latest GU version does exist"],
             [GU(6), JRE(18), APP(8)], (6, 18)),
            ("older tail, application current", [OFFLINE_6], dict(gu_version=5, jre_version=16, app_version=7), 0,
             [NEWER_OR_SAME_GU, "[Extractor] Latest App version is newer or same as our version so will just run",
              JUST_RUN],
             [], (6, 17)),
            # The older updater is installed beside the newer one, which still gets the hand-over.
            ("older tail, application missing", [dict(OFFLINE_6, app_version=None)],
             dict(gu_version=5, jre_version=16, app_version=7), 0,
             [NEWER_OR_SAME_GU, "[Extractor] No app version found and we are offline so will extract",
              f"[Extractor] Will now run latest GU {GU(6)}"],
             [GU(5), JRE(16), APP(7)], (6, 17)),
            ("just a launcher, nothing installed", [], JUST_A_LAUNCHER, 1,
             ["[Extractor] No VaduravOzuzovo embedded, we are just a launcher",
              "[Extractor] Note: No latest JRE version exists", "[Extractor] Note: No latest GU version exists",
              "[Extractor] Unable to run (we are just a launcher)"],
             FIRST, None),
        ]
        for name, installed, tail, status, texts, added, started in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                for i, before in enumerate(installed):
                    self.launch(self.builder.launcher(f"installed-{i}.bin", **before))
                before = self.folders()
                run = self.launch(self.builder.launcher("app.bin", **tail), status=status)
                self.assertRecords(run, *texts)
                self.assertEqual(self.folders(), sorted(set(before) | set(added)))
                if JUST_RUN in texts:
                    self.assertNothingExtracted(run)
                if started:
                    self.assertUpdaterStarted(run, *started)
                else:
                    self.assertEqual(run.starts, [])
                self.assertEqual([r for r in run.records if r.startswith("[Rename] Could not")], [])
                self.assertNoTemporaryFolders()

    def test_prepare_only_installs_and_launches_nothing_on_both_branches(self):
        launcher = self.builder.launcher("app.bin")
        prepared = self.launch(launcher, "x", PREPARE_ONLY)
        self.assertRecords(prepared, "[Extractor] This is an elevated run purely to prepare an installation. "
                                     "Will not show UI or launch an app")
        self.assertEqual(self.folders(), sorted(FIRST + [APP(7), JRE(17), GU(5)]))
        self.assertNotIn("[Splash] showSplash()", prepared.records)
        self.assertNotIn("+++ Start: Launching", prepared.records)
        self.assertEqual(prepared.starts, [])

        again = self.launch(launcher, PREPARE_ONLY)
        self.assertNothingExtracted(again)
        self.assertNotIn("+++ Start: Launching", again.records)
        self.assertEqual(again.starts, [])

    def test_without_xlib_there_is_no_splash_and_a_just_run_never_loads_it(self):
        # Xlib is loaded by the first splash configured; an unloadable one found
        # first (here an empty file) stands for a machine without it. Any display
        # name makes a run try: no server is reached before Xlib is loaded.
        broken = os.path.join(self.sandbox.root, "no-xlib")
        installs.write(os.path.join(broken, "libX11.so.6"), b"")
        env = {"DISPLAY": ":0", "LD_LIBRARY_PATH": broken}
        launcher = self.builder.launcher("app.bin")
        first = self.launch(launcher, env=env)
        self.assertIn("[Splash] Unable to load libX11.so.6 (", first.stderr)
        self.assertIn("[Splash] Can't open display :0", first.stderr)
        self.assertEqual(self.folders(), sorted(FIRST + [APP(7), JRE(17), GU(5)]))
        self.assertUpdaterStarted(first, 5)

        second = self.launch(launcher, env=env)
        self.assertNothingExtracted(second)
        self.assertNotIn("libX11", second.stderr)
        self.assertUpdaterStarted(second, 5)

    def test_a_start_that_fails_ends_the_run_with_1_and_is_in_the_log_file(self):
        launcher = self.builder.launcher("app.bin")
        self.launch(launcher)
        for name in "java", "TestApp":
            os.remove(self.in_master(JRE(17), "bin", name))
        run = self.launch(launcher, status=1)
        self.assertRecords(run, "Launch Error 2.")
        logs = sorted(os.listdir(self.in_master("logs")))
        self.assertIn("Launch Error 2.", harness.records(installs.read(self.in_master("logs", logs[-1])).decode()))

    def test_silent_parameter_and_show_no_ui(self):
        silent = ["--silent-parameter", "--quiet"]
        # name, launcher options, parameters, arguments, no UI
        cases = [
            ("silent parameter", silent, [], ["a", "--quiet"], True),
            ("show_no_ui parameter", [], ["show_no_ui=true"], [], True),
            ("silent parameter only inside an argument", silent, [], ["--quieter"], False),
            ("show_no_ui other than true", [], ["show_no_ui=yes"], [], False),
        ]
        for name, extra, params, args, no_ui in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                run = self.launch(self.builder.launcher("app.bin", extra=extra, params=params), *args)
                self.assertRecords(run, f"[Extractor] Is silent install is {int(no_ui)}")
                self.assertEqual("[Splash] showSplash()" in run.records, not no_ui)
                self.assertEqual(("vlstat_show_no_ui", "true") in run.properties(), no_ui)
                self.assertIn(APP(7), self.folders())
                self.assertUpdaterStarted(run, 5)

    def test_dynamic_update_url_is_normalised_and_the_static_one_stays_D(self):
        url = self.serve().url.rstrip("/")
        run = self.launch(self.builder.launcher("app.bin", extra=["--update-url", "D"], params=[f"update_url={url}"]))
        self.assertRecords(run, f"[Extractor] Will use Dynamic Update URL: {url}",
                           f"[Extractor] Update URL is now '{url}/'")
        # The offline JRE's version file is asked for under the normalised URL.
        self.assertEqual(run.downloads(), [f"{url}/Velmoran-{JRE_NAME}-version.txt"])
        properties = run.properties()
        self.assertEqual({value for key, value in properties if key == "vlstat_update_url"}, {"D"})
        self.assertEqual([value for key, value in properties if key == "vldyna_update_url"][-1], url + "/")
        self.assertUpdaterStarted(run, 5)

    def test_splash_override(self):
        tail_image = installs.read(self.builder.splash())
        override = installs.read(self.builder.splash("override.png", rgb=(10, 200, 10)))
        authorised = "[Extractor] Authorised to override the splash image."
        # name, Can Override Splash, splash_image given, image installed
        cases = [
            ("allowed", "1", True, override),
            ("allowed without an image", "1", False, tail_image),
            ("refused", "0", True, tail_image),
        ]
        for name, can_override, with_image, installed in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                params = [f"splash_image={base64.b64encode(override).decode()}"] if with_image else []
                run = self.launch(self.builder.launcher("app.bin", params=params,
                                                        extra=["--can-override-splash", can_override]))
                self.assertEqual(authorised in run.records, can_override == "1")
                overwritten = [r for r in run.records if r.startswith("[Extractor] Overwriting splash image at ")]
                self.assertEqual(len(overwritten), int(installed == override), run.stdout)
                self.assertEqual(self.read(GU(5), "nativesplash.png"), installed)


if __name__ == "__main__":
    harness.main()
