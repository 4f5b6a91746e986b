"""What whole runs refuse to install: archives of the tail whose signature fails, downloaded
JRE archives that are not signed with the launcher's key (checked before anything of them is
extracted or run), and a shared folder that cannot be written."""

import os

import harness
import installs
from installs import InstallTest, read

GU, JRE, APP = installs.gu_folder, installs.jre_folder, installs.app_folder
FIRST = installs.FIRST_FOLDERS
SERVED = "00054022298"
BAD_SIGNATURE = "[ExtractArchive] ERROR - unable to verify signature of hash of archive."


class Refusals(InstallTest):

    def test_tail_archives_with_a_failed_signature_are_not_installed(self):
        installed = dict(gu_version=5, jre_version=17, app_version=7)
        upgrade = dict(gu_version=6, jre_version=18, app_version=8)
        # name, installed first, the launcher run, the piece signed with another key, status,
        # record, folders afterwards, (updater, JRE) started or None
        cases = [
            ("application", None, installed, "app", 0,
             "[Extractor] The application in the tail was refused; it is not installed",
             FIRST + [GU(5), JRE(17)], (5, 17)),
            ("updater, none installed", None, installed, "updater", 1, "No latest App version even after download!",
             FIRST, None),
            ("updater, one installed", installed, upgrade, "updater", 0,
             f"[Extractor] The updater in the tail was refused; using the installed {GU(5)}",
             FIRST + [GU(5), JRE(17), APP(7), JRE(18), APP(8)], (5, 18)),
            ("JRE, none installed", None, installed, "jre", 1,
             "[Extractor] The JRE archive was refused and no JRE is installed; cannot run", FIRST + [GU(5)], None),
            ("JRE, one installed", installed, upgrade, "jre", 0,
             f"[Extractor] The JRE archive was refused; keeping the installed {JRE(17)}",
             FIRST + [GU(5), JRE(17), APP(7), GU(6), APP(8)], (6, 17)),
        ]
        for name, before, tail, refused, status, text, expected, started in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                if before:
                    self.launch(self.builder.launcher("installed.bin", **before))
                b = self.builder
                pieces = {"updater": lambda: b.updater_archive(tail["gu_version"], signed_by="other"),
                          "jre": lambda: b.jre_archive(tail["jre_version"], signed_by="other"),
                          "app": lambda: b.app_archive(tail["app_version"], signed_by="other")}
                run = self.launch(b.launcher("app.bin", **tail, **{refused: pieces[refused]()}), status=status)
                self.assertRecords(run, BAD_SIGNATURE, text)
                self.assertEqual(self.folders(), sorted(expected))
                self.assertNoTemporaryFolders()
                if started:
                    self.assertUpdaterStarted(run, *started)
                else:
                    self.assertEqual(run.starts, [])

    def test_downloaded_jre_archive_is_checked_before_extraction(self):
        def tampered():
            data = read(self.builder.jre_archive(SERVED, compress=False, packed=True))
            assert data.count(b"own CA store") == 1
            return installs.lzma_alone(data.replace(b"own CA store", b"own CA stork"))

        def archive(signed_by):
            return read(self.builder.jre_archive(SERVED, signed_by=signed_by, packed=True))

        refused = "[JREDownload] The downloaded JRE archive is not signed with the launcher's key; refusing it"
        # name, the archive served, key in the launcher's header, accepted
        cases = [
            ("signed with the launcher's key", lambda: archive("signing"), True, True),
            ("unsigned", lambda: archive(None), True, False),
            ("signed with another key", lambda: archive("other"), True, False),
            ("changed after signing", tampered, True, False),
            ("unsigned, launcher without a key", lambda: archive(None), False, True),
        ]
        for name, served, key, accepted in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                server = self.serve()
                server.put_jre(SERVED, served())
                launcher = self.builder.launcher("app.bin", gu_version=5, jre_version=None, app_version=7, key=key,
                                                 signed_by="signing" if key else None,
                                                 extra=["--update-url", server.url])
                run = self.launch(launcher, status=0 if accepted else 1, search_path=self.search_path())
                # The archive's own unpack200 runs on its pack200 entry only once it is accepted.
                self.assertEqual("unpack200 " in run.log, accepted, run.log)
                self.assertEqual(any(r.startswith("[ExtractArchive] Extracting archive") and "/JREArchive.p2 " in r
                                     for r in run.records), accepted)
                if accepted:
                    self.assertNotIn(refused, run.records)
                    self.assertEqual(read(self.in_master(JRE(SERVED), "lib", "packed.jar")), b"\xca\xfe\xd0\x0d packed")
                    self.assertUpdaterStarted(run, 5, SERVED)
                else:
                    self.assertRecords(run, refused)
                    self.assertEqual(self.folders(), sorted(FIRST + [GU(5)]))
                    self.assertEqual(run.log, "")
                self.assertNoTemporaryFolders()

    def test_unwritable_shared_folder_asks_for_elevation(self):
        self.fresh_sandbox(read_only_opt=True)
        run = self.launch(self.builder.launcher("app.bin", extra=["--install-type", "perm_all"]), status=1)
        self.assertRecords(run, "[Extractor] Shared dir is /opt",
                           "[Extractor] Unable to create GU Temp folder - assuming elevation required",
                           "[Extractor] Performing elevated setup and launch")
        self.assertEqual(os.listdir(self.sandbox.opt), [])
        self.assertEqual(run.starts, [])


if __name__ == "__main__":
    harness.main()
