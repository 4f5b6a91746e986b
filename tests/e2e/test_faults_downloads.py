"""Whole runs of a launcher file without a JRE against update servers that
misbehave on the JRE's version file or its archive: a connection closed half-way,
a server that stalls after the headers, one that trickles a byte a second, an
endless version file, and an archive that never ends though it comes fast enough.
Each run ends with status 1 and says why, leaves no JRE, no temporary folder and
no partial download behind and starts nothing; the same launcher file then
installs once the server behaves.

The launcher program of these files gives up after seconds, not minutes
(tests/support/quick_download_limits.cpp): below 1 KiB/s for 3 s, a version file
after 6 s in all, an archive after 8 s in all."""

import os

import harness
import installs
from faults import FaultTest, wait_until
from installs import JRE_NAME, partial_downloads, read

QUICK_LAUNCHER = os.path.join(harness.BUILD_DIR, "tests", "quick_download_limits")
SERVED = "00054022298"
NO_VERSION = "[JREDownload] Failed to download JRE version file"
NO_JRE = "[JREDownload] Failed to download JRE"
STALLED = "failed: Timeout was reached (Operation too slow. Less than 1024 bytes/sec transferred the last 3 seconds)"


class MisbehavingServers(FaultTest):

    def jre_folders(self):
        return [f for f in self.folders() if f.startswith(f"Velmoran-{JRE_NAME}-")]

    def assertNothingLeft(self, run):
        self.assertEqual(self.jre_folders(), [])
        self.assertNoTemporaryFolders()
        self.assertEqual(partial_downloads(self.master), [])
        self.assertEqual(run.starts, [])

    def test_each_failed_download_says_why_and_leaves_nothing(self):
        archive = read(self.builder.jre_archive(SERVED))
        # route of the update URL, the run's record, what each of the two attempts says
        cases = [
            ("halfway-archive", NO_JRE, "failed: Transferred a partial file (transfer closed with "),
            ("stall-version", NO_VERSION, STALLED),
            ("stall-archive", NO_JRE, STALLED),
            ("trickle-archive", NO_JRE, STALLED),
            ("endless-version", NO_VERSION, "-version.txt is larger than the 4096 bytes allowed; refusing it"),
            ("steady-archive", NO_JRE, "failed: Timeout was reached (Operation timed out after "),
        ]
        for route, record, reason in cases:
            with self.subTest(route):
                self.fresh_sandbox()
                server = self.serve()
                server.put_jre(SERVED, archive)
                url = server.route(route)
                launcher = self.builder.launcher("app.bin", gu_version=5, jre_version=None, app_version=7,
                                                 extra=["--update-url", url, "--stub", QUICK_LAUNCHER])
                run = self.launch(launcher, status=1, search_path=self.search_path())
                self.assertRecords(run, record)
                self.assertEqual(run.stderr.count(reason), 2, run.stderr)
                self.assertNothingLeft(run)
                # The server has let go of both attempts, without a complaint.
                wait_until(lambda: server.ask("/busy") == "0", "the server's answers to end")
                self.assertEqual(server.errors(), "")

                server.ask("/behave")
                again = self.launch(launcher, search_path=self.search_path())
                self.assertEqual(again.downloads(), [f"{url}{installs.MANIFEST}", f"{url}Velmoran-{JRE_NAME}-version.txt",
                                                     f"{url}Velmoran-{JRE_NAME}-{SERVED}-archive.p2.l2"])
                self.assertUpdaterStarted(again, 5, SERVED)
                self.assertNoTemporaryFolders()
                self.assertEqual(partial_downloads(self.master), [])


if __name__ == "__main__":
    harness.main()
