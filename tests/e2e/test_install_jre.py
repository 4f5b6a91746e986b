"""JRE provisioning in whole runs of launcher files without a JRE: a system JRE adopted
through links, a failed compatibility check leading to a download from a real HTTP server on
127.0.0.1, and the version file and download failures."""

import os
import stat

import harness
import installs
from installs import JRE_NAME, InstallTest, fake_jre, read

JRE = installs.jre_folder
ONLINE_JRE = dict(gu_version=5, jre_version=None, app_version=7)
SERVED = "00054022298"


class JreProvisioning(InstallTest):

    def online_launcher(self, server=None, **options):
        extra = ["--update-url", server.url] if server else []
        return self.builder.launcher("app.bin", **ONLINE_JRE, extra=[*extra, *options.pop("extra", [])], **options)

    def jre_folders(self):
        return [f for f in self.folders() if f.startswith(f"Velmoran-{JRE_NAME}-")]

    def test_system_jre_adopted_through_a_chain_of_links(self):
        root = self.sandbox.root
        home = fake_jre(os.path.join(root, "system", "jvm", "x", "jre"),
                        banner='Picked up JAVA_TOOL_OPTIONS: -Dq="1"\nopenjdk version "17.0.2" 2022-01-18')
        # Links inside the JRE, to a file and a folder outside it.
        shared = os.path.join(root, "system", "shared")
        installs.write(os.path.join(shared, "legal", "NOTICE"), "notice")
        installs.write(os.path.join(shared, "tzdb.dat"), "zones")
        os.symlink(os.path.join(shared, "legal"), os.path.join(home, "legal"))
        os.symlink(os.path.join(shared, "tzdb.dat"), os.path.join(home, "lib", "tzdb.dat"))
        installs.write(os.path.join(home, "bin", "keytool"), "#!/bin/sh\n", 0o700)
        # bin/java -> alternatives/java -> ../jvm/x/jre/bin/java (relative to the link's folder)
        alternatives = os.path.join(root, "system", "alternatives")
        os.makedirs(alternatives)
        os.symlink("../jvm/x/jre/bin/java", os.path.join(alternatives, "java"))
        os.makedirs(os.path.join(root, "bin"))
        os.symlink(os.path.join(alternatives, "java"), os.path.join(root, "bin", "java"))

        run = self.launch(self.online_launcher(extra=["--java-version", "17"]),
                          search_path=self.search_path(os.path.join(root, "bin")))
        found = os.path.join(alternatives, "../jvm/x/jre")
        self.assertRecords(run, f"[JRESearch] 'which java' returned '{root}/bin/java'",
                           f"[JRESearch] Followed link {root}/bin/java -> {alternatives}/java",
                           f"[JRESearch] Followed link {alternatives}/java -> ../jvm/x/jre/bin/java",
                           f"[JRESearch] Final possibleJavaExe is {found}",
                           "[JRESearch] JRE is valid, copying...",
                           "[JREDownload] Finalising setup of new JRE 00000000000")
        self.assertIn(f"compat {found}/bin/java\n", run.log)
        self.assertEqual(self.jre_folders(), [JRE("00000000000")])
        self.assertEqual(run.downloads(), [])
        copy = self.in_master(JRE("00000000000"))
        for folder, dirs, files in os.walk(copy):
            for name in dirs + files:
                self.assertFalse(os.path.islink(os.path.join(folder, name)), os.path.join(folder, name))
        self.assertEqual(read(os.path.join(copy, "legal", "NOTICE")), b"notice")
        self.assertEqual(read(os.path.join(copy, "lib", "tzdb.dat")), b"zones")
        # What is in bin is opened up to 755 (what the launcher runs later gets 777).
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(copy, "bin", "keytool")).st_mode), 0o755)
        self.assertUpdaterStarted(run, 5, "00000000000")

    def test_system_java_that_does_not_qualify_is_not_adopted(self):
        def loop(root):
            links = os.path.join(root, "links")
            os.makedirs(links)
            os.symlink(os.path.join(links, "b"), os.path.join(links, "a"))
            os.symlink("a", os.path.join(links, "b"))
            os.symlink(os.path.join(links, "a"), os.path.join(root, "bin", "java"))
            # Debian's which finds no java in a loop; one that prints it all the same must not hang us.
            installs.write(os.path.join(root, "bin", "which"), f"#!/bin/sh\necho {root}/bin/java\n", 0o755)

        def jre(**fake):
            return lambda root: os.symlink(os.path.join(fake_jre(os.path.join(root, "jre"), **fake), "bin", "java"),
                                           os.path.join(root, "bin", "java"))

        not_there = "[JRESearch] JRE does not exist or does not have unpack200"
        # name, what bin/java is, the end of the record that says why
        cases = [
            ("a loop of links", loop, "leads through more than 40 links; taking it for no JRE"),
            ("no unpack200", jre(with_unpack200=False), not_there),
            ("too old", jre(banner='openjdk version "11.0.2" 2019-01-15'), "requirements: 11 vs required 17"),
            ("no java at all", None, not_there),
        ]
        for name, make, text in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                root = self.sandbox.root
                os.makedirs(os.path.join(root, "bin"))
                if make:
                    make(root)
                run = self.launch(self.online_launcher(extra=["--java-version", "17"]), status=1,
                                  search_path=self.search_path(os.path.join(root, "bin")))
                self.assertTrue(any(r.endswith(text) for r in run.records), run.stdout)
                # Without an update URL the download that follows fails.
                self.assertRecords(run, "[JREDownload] Failed to pick up any existing system JRE, will download",
                                   "[JREDownload] Failed to download JRE version file")
                self.assertNotIn("compat ", run.log)
                self.assertEqual(self.jre_folders(), [])

    def test_incompatible_system_jre_leads_to_a_download(self):
        server = self.serve()
        server.put_jre(SERVED, read(self.builder.jre_archive(SERVED)))
        system = fake_jre(os.path.join(self.sandbox.root, "system", "jre"))
        run = self.launch(self.online_launcher(server), search_path=self.search_path(os.path.join(system, "bin")),
                          env={"VELMORAN_FAKE_COMPAT_STATUS": "1"})
        version_url = f"{server.url}Velmoran-{JRE_NAME}-version.txt"
        self.assertIn(f"compat {system}/bin/java\n", run.log)
        self.assertRecords(run, "[JRESearch] JRE failed compatibility test",
                           "[JREDownload] Failed to pick up any existing system JRE, will download",
                           f"[JREDownload] Fetching JRE Version from {version_url}",
                           f"[JREDownload] JRE Version is {SERVED}",
                           f"[JREDownload] Finalising setup of new JRE {SERVED}")
        # No channel is published there: the version file says what to fetch.
        manifest_url = server.url + installs.MANIFEST
        self.assertEqual(run.downloads(),
                         [manifest_url, version_url, f"{server.url}Velmoran-{JRE_NAME}-{SERVED}-archive.p2.l2"])
        # The splash is shown for the extraction and again for each download.
        self.assertEqual(run.records.count("[Splash] showSplash()"), 3)
        self.assertEqual(self.jre_folders(), [JRE(SERVED)])
        # The version file went with the temporary folder: the updater's folder is not written.
        self.assertFalse(os.path.exists(self.in_master(installs.gu_folder(5), f"Velmoran-{JRE_NAME}-version.txt")))
        self.assertNoTemporaryFolders()
        self.assertUpdaterStarted(run, 5, SERVED)

        # A newer updater finds the served version installed: the archive is not asked for again.
        newer = self.builder.launcher("newer.bin", **dict(ONLINE_JRE, gu_version=6), extra=["--update-url", server.url])
        again = self.launch(newer, search_path=self.search_path())
        self.assertEqual(again.downloads(), [manifest_url, version_url])
        self.assertRecords(again, f"[Extractor] {JRE(SERVED)} is installed already; keeping it")
        self.assertUpdaterStarted(again, 6, SERVED)

    def test_version_file_and_download_failures(self):
        fifty = "1" * 50
        archive = lambda: read(self.builder.jre_archive(SERVED))
        # The application's own archive, signed with the same key, offered as the JRE.
        no_jre = lambda: read(self.builder.app_archive(7))

        def declaring(size):
            data = bytearray(archive())
            data[5:13] = size.to_bytes(8, "little")
            return lambda: bytes(data)
        # name, version file text (None: not served), archive served under that version, status,
        # records, URLs asked for after the manifest (none is served), JRE installed
        cases = [
            ("50 characters", fifty, archive, 0, [f"[JREDownload] JRE Version is {fifty}"], 2, fifty),
            ("51 characters", fifty + "1", archive, 1, ["[JREDownload] Version invalid (too long)"], 1, None),
            ("a path", "../x", None, 1,
             ["[JREDownload] The JRE version ../x from the server is not a version number"], 1, None),
            ("version file missing", None, None, 1, ["[JREDownload] Failed to download JRE version file"], 1, None),
            ("archive missing", SERVED, None, 1, ["[JREDownload] Failed to download JRE"], 2, None),
            ("archive not LZMA", SERVED, lambda: b"\xff" * 64, 1,
             ["[JREDownload] Failed to decompress JRE archive"], 2, None),
            # Found before the archive is asked for.
            ("empty version", "", archive, 1,
             ["[JREDownload] Failed to detect or download a JRE (no jre version)"], 1, None),
            ("no JRE in the archive", "99999999999", no_jre, 1,
             ["[JREDownload] The downloaded JRE archive holds no bin/java, so it is no JRE; refusing it"], 2, None),
            ("more declared than the disk holds", SERVED, declaring(1 << 60), 1,
             [f"[JREDownload] The JRE archive decompresses to {1 << 60} bytes, more than the"], 2, None),
        ]
        for name, text, served, status, texts, asked, installed in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                server = self.serve()
                if text is not None:
                    server.put(f"Velmoran-{JRE_NAME}-version.txt", text + "\n")
                if served:
                    server.put(f"Velmoran-{JRE_NAME}-{text}-archive.p2.l2", served())
                run = self.launch(self.online_launcher(server), status=status, search_path=self.search_path())
                for text in texts:
                    self.assertTrue(any(r.startswith(text) for r in run.records), f"no record {text!r}:\n{run.stdout}")
                self.assertEqual(run.downloads()[0], server.url + installs.MANIFEST)
                self.assertEqual(len(run.downloads()) - 1, asked, run.stdout)
                self.assertEqual(self.jre_folders(), [JRE(installed)] if installed else [])
                self.assertFalse(os.path.exists(os.path.join(self.sandbox.shared_dir, "x")))
                # Nothing of a JRE that was not installed stays behind.
                self.assertNoTemporaryFolders()
                if installed:
                    self.assertUpdaterStarted(run, 5, installed)
                else:
                    self.assertEqual(run.starts, [])

    def test_a_published_manifest_says_which_jre_and_what_its_archive_is(self):
        listed = "00054022301"
        # The version file names another version: with the manifest there, it is not asked for.
        # name, manifest published (JRE archive, signed by, tampered), status, record, JRE installed
        cases = [
            ("the manifest's JRE", (listed, "signing", False), 0,
             f"[JREDownload] The manifest lists JRE version {listed}", listed),
            ("an archive that is not what it lists", (listed, "signing", True), 1,
             "is not what the manifest says (size or digest); refusing it", None),
            ("a manifest signed with another key", (listed, "other", False), 1,
             "[Update] The manifest is not signed with the launcher's key; refusing it", None),
            ("a manifest without a JRE", (None, "signing", False), 0,
             f"[JREDownload] The manifest lists no JRE {JRE_NAME}; the version file says which", SERVED),
        ]
        for name, (jre, signed_by, tampered), status, record, installed in cases:
            with self.subTest(name):
                self.fresh_sandbox()
                server = self.serve()
                server.put_jre(SERVED, read(self.builder.jre_archive(SERVED)))
                components = [("jre", JRE_NAME, jre, self.builder.jre_archive(jre))] if jre else []
                self.publish(server, components, signed_by=signed_by, tamper=JRE_NAME if tampered else None)
                run = self.launch(self.online_launcher(server), status=status, search_path=self.search_path())
                self.assertTrue(any(record in r for r in run.records), f"no record {record!r}:\n{run.stdout}")
                self.assertEqual(self.jre_folders(), [JRE(installed)] if installed else [])
                self.assertNoTemporaryFolders()

    def test_without_libcurl_the_download_fails_and_nothing_is_installed(self):
        # The launcher loads libcurl only to download; an unloadable one found
        # first (here an empty file) stands for a machine without it.
        server = self.serve()
        server.put_jre(SERVED, read(self.builder.jre_archive(SERVED)))
        broken = os.path.join(self.sandbox.root, "no-curl")
        installs.write(os.path.join(broken, "libcurl.so.4"), b"")
        run = self.launch(self.online_launcher(server), status=1, search_path=self.search_path(),
                          env={"LD_LIBRARY_PATH": broken})
        self.assertIn("[HttpDownloader] Unable to load libcurl.so.4 (", run.stderr)
        self.assertIn("[HttpDownloader] Unable to initialise CURL!", run.records)
        self.assertRecords(run, "[JREDownload] Failed to download JRE version file")
        self.assertEqual(self.jre_folders(), [])
        self.assertNoTemporaryFolders()
        self.assertEqual(installs.partial_downloads(self.master), [])
        self.assertEqual(run.starts, [])


if __name__ == "__main__":
    harness.main()
