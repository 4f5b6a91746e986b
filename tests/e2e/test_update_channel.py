"""The update channel, read by the installed launcher: a setup file installs v1 and leaves
VelmoranLauncher behind; a channel on a real HTTP server on 127.0.0.1 offers more, and
`VelmoranLauncher VLUPDATE` installs what it may: what the signed manifest lists, newer than
what is installed, each archive as the manifest describes it. What it refuses leaves v1
starting as before. Also the menu entry the first install writes, and VLUNINSTALL."""

import fcntl
import os
import signal
import subprocess
import time

import installs
from faults import LiveRun, processes_running, wait_until
from installs import InstallTest, read, write

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
COPY = "VelmoranLauncher"


class UpdateChannel(InstallTest):

    def setUp(self):
        super().setUp()
        self.server = self.serve()
        self.env = {"XDG_DATA_HOME": ""}

    def setup_file(self):
        return self.builder.launcher("app.bin", extra=["--update-url", self.server.url])

    def copy(self):
        """The installed launcher as the runs inside the sandbox see it."""
        return self.sandbox.inside(self.in_master(COPY))

    def publish(self, components, **options):
        super().publish(self.server, components, **options)

    def update(self, status=0):
        return self.launch(self.copy(), "VLUPDATE", status=status, env=self.env)

    def test_a_channel_is_installed_only_as_far_as_it_may(self):
        app8, gu6 = self.builder.app_archive(8), self.builder.updater_archive(6)
        offered = [("application", "TestApp", 8, app8), ("updater", "Velmoran", 6, gu6)]
        # name, how the channel is published, status, versions installed after, record
        cases = [
            ("newer application and updater", dict(components=offered), 0, [GU(6), APP(8)],
             "Updated TestApp 00000000007 -> 00000000008"),
            ("an archive that is not what the manifest says", dict(components=offered, tamper="TestApp"), 1, [GU(6)],
             "is not what the manifest says (size or digest); refusing it"),
            ("a manifest signed with another key", dict(components=offered, signed_by="other"), 1, [],
             "The manifest is not signed with the launcher's key; refusing it"),
            ("an older application", dict(components=[("application", "TestApp", 6,
                                                        self.builder.app_archive(6))]), 0, [],
             "and the manifest does not say rollback; refused"),
        ]
        for name, channel, status, added, record in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                self.server = self.serve()
                setup = self.setup_file()
                self.launch(setup, env=self.env)
                before = self.folders()
                self.publish(**channel)
                run = self.update(status=status)
                self.assertTrue(any(record in line for line in read(self.newest_log()).decode().splitlines()),
                                run.stdout)
                self.assertEqual(sorted(f for f in set(self.folders()) - set(before) if f.endswith("-complete")),
                                 sorted(added))
                self.assertNoTemporaryFolders()
                # What is installed starts, whatever the channel held.
                again = self.launch(setup, env=self.env)
                self.assertUpdaterStarted(again, 6 if added else 5)

    def test_a_check_killed_during_its_download_is_completed_by_the_next(self):
        # SIGTERM ends the check and takes its temporary folder along; after SIGKILL the folder
        # stays for the sweep of day-old ones, and the next check does not need it.
        for signum in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signum.name):
                self.fresh_sandbox()
                self.server = self.serve()
                url = self.server.route("stall-archive")
                self.launch(self.builder.launcher("app.bin", extra=["--update-url", url]), env=self.env)
                self.publish([("application", "TestApp", 8, self.builder.app_archive(8))])
                run = LiveRun(self, self.copy(), "VLUPDATE", env=self.env)
                wait_until(lambda: self.server.ask("/busy") != "0", "the archive's download")
                os.kill(processes_running(self.copy())[0], signum)
                self.assertIn(run.finish(), (128 + signum, -signum))
                left = [f for f in self.folders() if f.startswith("VelmoranTemp-")]
                self.assertEqual(len(left), 0 if signum == signal.SIGTERM else 1)
                self.assertNotIn(APP(8), self.folders())

                self.server.ask("/behave")
                self.assertIn("Updated TestApp 00000000007 -> 00000000008", self.update().stdout)
                self.assertUpdaterStarted(self.launch(self.copy(), env=self.env), 5)
                self.assertIn(APP(8), self.folders())

    def test_a_server_that_stalls_or_crawls_ends_the_check_within_its_limit(self):
        # The whole check has 10 s; each of these manifests would hold it for minutes.
        for how in ("stall", "trickle", "steady"):
            with self.subTest(how):
                self.fresh_sandbox()
                self.server = self.serve()
                setup = self.builder.launcher("app.bin", extra=["--update-url", self.server.route(f"{how}-manifest")])
                self.launch(setup, env=self.env)
                before = self.folders()
                self.publish([("application", "TestApp", 8, self.builder.app_archive(8))])
                began = time.monotonic()
                self.update(status=1)
                self.assertLess(time.monotonic() - began, 30)
                self.assertEqual(self.folders(), before)
                self.assertUpdaterStarted(self.launch(setup, env=self.env), 5)

    def test_two_checks_at_once_install_the_release_once(self):
        self.launch(self.setup_file(), env=self.env)
        self.publish([("application", "TestApp", 8, self.builder.app_archive(8))])
        runs = [LiveRun(self, self.copy(), "VLUPDATE", env=self.env) for _ in range(2)]
        self.assertEqual([run.finish() for run in runs], [0, 0])
        self.assertEqual("".join(run.stdout for run in runs).splitlines(),
                         ["Updated TestApp 00000000007 -> 00000000008"])
        self.assertIn(APP(8), self.folders())
        self.assertNoTemporaryFolders()

    def newest_log(self):
        logs = sorted(os.listdir(self.in_master("logs")))
        return self.in_master("logs", logs[-1])

    def test_the_result_lines_and_what_old_versions_are_kept(self):
        self.launch(self.setup_file(), env=self.env)
        self.publish([("application", "TestApp", 8, self.builder.app_archive(8))])
        first = self.update()
        self.assertEqual(first.stdout.splitlines(), ["Updated TestApp 00000000007 -> 00000000008"])
        # Nothing newer: nothing to say.
        self.assertEqual(self.update().stdout, "")
        # A third version: the oldest goes, unless a running updater holds it.
        self.publish([("application", "TestApp", 9, self.builder.app_archive(9))])
        os.makedirs(self.in_master("VLRunning"), exist_ok=True)
        with open(self.in_master("VLRunning", APP(7)), "a+") as held:
            fcntl.lockf(held, fcntl.LOCK_SH)
            self.update()
            self.assertIn(APP(7), self.folders())
        self.publish([("application", "TestApp", 10, self.builder.app_archive(10))])
        self.update()
        self.assertEqual([f for f in self.folders() if f.startswith("Velmoran-TestApp-")], [APP(9), APP(10)])

    def test_no_server_fails_the_check_and_changes_nothing(self):
        self.launch(self.setup_file(), env=self.env)
        before = self.folders()
        self.server.close()
        self.update(status=1)
        self.assertEqual(self.folders(), before)


class MenuEntry(InstallTest):

    def test_the_entry_starts_the_application_without_the_setup_file_and_uninstall_removes_all(self):
        env = {"XDG_DATA_HOME": ""}
        setup = self.builder.launcher("app.bin", params=["desktop_categories=Development;"])
        self.launch(setup, env=env)
        data = os.path.join(self.sandbox.home, ".local", "share")
        entry = os.path.join(data, "applications", "velmoran-TestApp.desktop")
        icon = os.path.join(data, "icons", "velmoran-TestApp.png")
        self.assertEqual(read(icon), read(self.builder.splash()))
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        fields = dict(line.split("=", 1) for line in read(entry).decode().splitlines() if "=" in line)
        self.assertEqual(fields["Categories"], "Development;")
        self.assertEqual(fields["Exec"], f'"{self.sandbox.inside(self.in_master(COPY))}"')
        os.remove(setup)
        started = self.launch(fields["Exec"].strip('"'), env=env)
        self.assertUpdaterStarted(started, 5)

        # While the application runs (its updater holds a lock), nothing is removed.
        os.makedirs(self.in_master("VLRunning"), exist_ok=True)
        with open(self.in_master("VLRunning", APP(7)), "a+") as held:
            fcntl.lockf(held, fcntl.LOCK_SH)
            refused = self.launch(self.sandbox.inside(self.in_master(COPY)), "VLUNINSTALL", status=1, env=env)
            self.assertIn("TestApp is running", refused.stderr)
        removed = self.launch(self.sandbox.inside(self.in_master(COPY)), "VLUNINSTALL", env=env)
        self.assertFalse(os.path.exists(self.master), removed.stdout)
        self.assertFalse(os.path.exists(entry))
        self.assertFalse(os.path.exists(icon))
        self.assertEqual(sorted(removed.stdout.splitlines()),
                         sorted(f"Removed {self.sandbox.inside(p)}" for p in (entry, icon, self.master)))

    def test_desktop_entry_false_writes_none(self):
        self.launch(self.builder.launcher("app.bin", params=["desktop_entry=false"]), env={"XDG_DATA_HOME": ""})
        self.assertFalse(os.path.exists(os.path.join(self.sandbox.home, ".local", "share", "applications")))
        self.assertTrue(os.path.isfile(self.in_master(COPY)))


if __name__ == "__main__":
    installs.harness.main()
