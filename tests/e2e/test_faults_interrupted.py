"""Installs interrupted from outside: a disk that fills up, a launcher killed
half-way, a launcher ended by a signal, a second launcher started at the same
time, an X server that goes away under the splash. Each run ends with a clear
record, leaves no partial folder under a final name, and the next run
completes a usable install."""

import os
import signal

import harness
import installs
from faults import FaultTest, Hold, LiveRun, Xvfb, held_jre_archive, processes_running, wait_until
from installs import JRE_NAME, partial_downloads, read

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
PERM_ALL = ["--install-type", "perm_all"]
INCOMPRESSIBLE = 2 << 20
SERVED = "00054022298"


class InterruptedInstalls(FaultTest):

    def test_a_disk_that_fills_up(self):
        lzma64 = os.path.getsize(harness.LZMA64)
        # The updater fits; a JRE file of 2 MiB does not.
        jre = installs.fake_jre(self.builder.path("big-jre"))
        installs.write(os.path.join(jre, "lib", "big"), os.urandom(INCOMPRESSIBLE))
        launcher = self.builder.launcher("app.bin", jre=self.builder.archive(jre, "big-jre.p2.l2"), extra=PERM_ALL)
        run = self.launch(launcher, status=1, opt_size=lzma64 + (512 << 10))
        self.assertTrue(any(r.endswith(": No space left on device") for r in run.records), run.stdout)
        # The updater was complete and stays; nothing of the JRE has a final name.
        self.assertEqual(installs.folders(self.opt_master), sorted(installs.FIRST_FOLDERS + [GU(5)]))
        self.assertEqual(run.starts, [])
        on_a_bigger_disk = self.launch(launcher)
        self.assertInstalled(self.opt_master)
        self.assertStarted(on_a_bigger_disk, master="/opt/Velmoran-TestApp")

    def test_a_launcher_killed_while_it_extracts_the_jre(self):
        hold = Hold(self.sandbox.root)
        launcher = self.builder.launcher("app.bin", jre=held_jre_archive(self.builder, hold))
        killed = LiveRun(self, launcher)
        wait_until(lambda: hold.held(), "the JRE's extraction")
        os.kill(hold.held()[0], signal.SIGKILL)
        hold.release()  # its unpack200 goes on alone, and ends
        self.assertIn(killed.finish(), (-signal.SIGKILL, 128 + signal.SIGKILL))
        self.assertIn(GU(5), installs.folders(self.master))
        self.assertNotIn(JRE(17), installs.folders(self.master))

        again = self.launch(launcher)
        self.assertIn(JRE(17), installs.folders(self.master))
        self.assertEqual(read(self.in_master(JRE(17), "lib", "packed.jar")), b"\xca\xfe\xd0\x0d packed")
        self.assertIn(APP(7), installs.folders(self.master))
        self.assertStarted(again)

    def test_a_signal_ends_the_run_and_takes_its_temporary_folders_along(self):
        # While the run waits for the JRE archive's own unpack200, and while it downloads the JRE
        # from a server that has stalled; to the launcher alone, or to its whole process group as
        # a Ctrl-C at a terminal, which ends the unpack200 at the same time.
        cases = [(signal.SIGINT, "extraction", False), (signal.SIGTERM, "extraction", False),
                 (signal.SIGHUP, "extraction", False), (signal.SIGINT, "extraction", True),
                 (signal.SIGTERM, "download", False)]
        for signum, during, whole_group in cases:
            with self.subTest(f"{signum.name} to the {'process group' if whole_group else 'launcher'} during "
                              f"the JRE's {during}"):
                self.fresh_sandbox()
                if during == "extraction":
                    hold = Hold(self.sandbox.root)
                    launcher = self.builder.launcher("app.bin", jre=held_jre_archive(self.builder, hold))
                    options, jre_version, go_on = {}, 17, hold.release
                    run = LiveRun(self, launcher)
                    wait_until(hold.held, "the JRE's extraction")
                    pid = hold.held()[0]
                else:
                    server = self.serve()
                    server.put_jre(SERVED, read(self.builder.jre_archive(SERVED)))
                    url = server.route("stall-archive")
                    launcher = self.builder.launcher("app.bin", jre_version=None, extra=["--update-url", url])
                    options, jre_version = {"search_path": self.search_path()}, SERVED
                    go_on = lambda: server.ask("/behave")
                    run = LiveRun(self, launcher, env={"no_proxy": "127.0.0.1"}, **options)
                    archive = f"{url}Velmoran-{JRE_NAME}-{SERVED}-archive.p2.l2"
                    wait_until(lambda: run.says(f"Starting download of {archive} ") and server.ask("/busy") != "0",
                               "the JRE's download")
                    pid = processes_running(launcher)[0]
                if whole_group:
                    os.killpg(run.proc.pid, signum)
                else:
                    os.kill(pid, signum)
                # The launcher's output ends with it: the unpack200 it waited for is gone too.
                self.assertEqual(run.finish(), 128 + signum, run.stdout + run.stderr)
                record = f"[Extractor] Interrupted by signal {int(signum)}; removing this run's temporary folders"
                self.assertRecords(run, record)
                logs = self.in_master("logs")
                self.assertIn(record + "\n", read(os.path.join(logs, max(os.listdir(logs)))).decode())
                self.assertNoTemporaryFolders()
                self.assertEqual([f for f in self.folders() if f.startswith(f"Velmoran-{JRE_NAME}-")], [])
                self.assertEqual(partial_downloads(self.master), [])
                self.assertEqual(run.starts, [])

                go_on()
                again = self.launch(launcher, **options)
                self.assertInstalled(jre_version=jre_version)
                self.assertStarted(again, jre_version=jre_version)

    def test_two_launchers_started_together(self):
        hold = Hold(self.sandbox.root)
        launcher = self.builder.launcher("app.bin", jre=held_jre_archive(self.builder, hold))
        runs = [LiveRun(self, launcher), LiveRun(self, launcher)]
        waiting = "[Extractor] Another run is installing into "
        # Both are certainly under way: one holds in the JRE's extraction, the other waits for
        # it (or, were the runs not taking turns, holds there too).
        wait_until(lambda: hold.held() and (len(hold.held()) == 2 or any(r.says(waiting) for r in runs)),
                   "both runs")
        hold.release()
        self.assertEqual([r.finish() for r in runs], [0, 0], "".join(r.stdout for r in runs))
        self.assertInstalled()
        self.assertNoTemporaryFolders()
        for run in runs:
            self.assertStarted(run)
            self.assertFalse(any(r.startswith("[Rename] Could not rename") for r in run.records),
                             "a run copied its folders over the other one's")
        second = [r for r in runs if any(x.startswith(waiting) for x in r.records)]
        self.assertEqual(len(second), 1)
        self.assertIn("[Extractor] Running without extraction now", second[0].records)

    def test_the_x_server_lost_under_the_splash(self):
        hold = Hold(self.sandbox.root)
        launcher = self.builder.launcher("app.bin", jre=held_jre_archive(self.builder, hold))
        xvfb = Xvfb()
        self.addCleanup(xvfb.kill)
        run = LiveRun(self, launcher, env={"DISPLAY": xvfb.display})
        wait_until(lambda: hold.held() and xvfb.windows(), "the splash during the JRE's extraction")
        xvfb.kill()
        hold.release()
        self.assertEqual(run.finish(), 0, run.stdout + run.stderr)
        self.assertIn("[Splash] Lost the connection to the X server; the splash is off", run.records)
        self.assertInstalled()
        self.assertStarted(run)
        self.assertStarted(self.launch(launcher))


if __name__ == "__main__":
    harness.main()
