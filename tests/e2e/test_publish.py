"""The update channel velmoran-pack app --publish writes, served from a real HTTP server on
127.0.0.1 to launcher files made by app: a developer publishes release 1, ships the file, publishes
release 2 into the same folder, and users run release 2 within two starts; an --online file
downloads its application on its first run; --prune leaves only what the manifest lists. The
application is a small one that prints its release and stays until its start's update check has
ended, which would otherwise end with it."""

import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import harness
import installs

NAME = "Release"
MAIN = "release.Release"
JRE_NAME = "Linux64JRE"

SOURCE = r"""
package release;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;

public class Release {
  public static void main(String[] args) throws Exception {
    final long start = System.currentTimeMillis();
    final String text = new String(Release.class.getResourceAsStream("/release.txt").readAllBytes(),
        StandardCharsets.UTF_8).trim();
    System.out.println("release " + text);
    System.out.flush();
    // <master>/<version folder>/release.jar: the updater's log files are in <master>/logs.
    final Path jar = Path.of(Release.class.getProtectionDomain().getCodeSource().getLocation().toURI());
    final Path logs = jar.getParent().getParent().resolve("logs");
    for (int i = 0; i < 3000; i++) {
      final File[] files = logs.toFile().listFiles((d, n) -> n.startsWith("Updater-"));
      for (File f : files == null ? new File[0] : files) {
        if (f.lastModified() >= start && Files.readString(f.toPath()).contains("VLUPDATE ended")) return;
      }
      Thread.sleep(20);
    }
    System.err.println("release: the update check did not end");
    System.exit(3);
  }
}
"""


@unittest.skipUnless(os.path.exists(harness.UPDATER_JAR), "the updater was not built (no JDK)")
class Publish(harness.SandboxTest):

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-publish-test-")
        source = os.path.join(cls.dir, "src", "Release.java")
        installs.write(source, SOURCE)
        classes = os.path.join(cls.dir, "classes")
        subprocess.run(["javac", "--release", "17", "-d", classes, source], check=True)
        cls.inputs = {}
        for release in (1, 2):
            folder = cls.inputs[release] = os.path.join(cls.dir, f"input-{release}")
            os.makedirs(folder)
            with zipfile.ZipFile(os.path.join(folder, "release.jar"), "w") as jar:
                jar.write(os.path.join(classes, "release", "Release.class"), "release/Release.class")
                jar.writestr("release.txt", f"{release}\n")
        cls.key = installs.key_pair("signing")[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.server = installs.UpdateServer(os.path.join(self.sandbox.root, "server"))
        self.addCleanup(self.server.close)
        self.channel = os.path.join(self.sandbox.work, "channel")

    def app(self, out, release, *extra):
        """velmoran-pack app for a release, published into the channel folder; its summary."""
        proc = subprocess.run([harness.PACK, "app", "-o", out, "--name", NAME, "--input", self.inputs[release],
                               "--main-class", MAIN, "--app-version", str(release), "--max-heap", "64",
                               "--jre", harness.jlink_jre(), "--sign", self.key, "--compress", "0",
                               "--update-url", self.server.url, "--publish", self.channel, *extra],
                              capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc.stdout

    def upload(self):
        """The channel folder copied to the web server, as the developer does."""
        shutil.copytree(self.channel, self.server.folder, dirs_exist_ok=True)

    def start(self, launcher):
        proc = self.sandbox.run(launcher, env={"no_proxy": "127.0.0.1", "XDG_DATA_HOME": ""})
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc.stdout

    def installed_launcher(self):
        return self.sandbox.inside(os.path.join(self.sandbox.shared_dir, f"Velmoran-{NAME}", "VelmoranLauncher"))

    def releases_started(self, output):
        return [line for line in output.splitlines() if line.startswith("release ")]

    def archives(self):
        return sorted(f for f in os.listdir(self.channel) if f.endswith("-archive.p2.l2"))

    def test_release_two_reaches_users_within_two_starts_and_prune_keeps_what_is_listed(self):
        setup = os.path.join(self.sandbox.work, "Release-setup")
        self.app(setup, 1)
        installs.write(os.path.join(self.channel, "index.html"), "the server's own")
        release1 = self.archives()
        self.assertEqual(len(release1), 3, release1)
        self.upload()
        self.assertEqual(self.releases_started(self.start(setup)), ["release 1"])

        summary = self.app(os.path.join(self.sandbox.work, "Release-setup-2"), 2, "--prune")
        self.upload()
        # The JRE is the same in both releases: one archive of it, listed again.
        jre = [f for f in release1 if f.startswith(f"Velmoran-{JRE_NAME}-")]
        self.assertEqual(self.archives(), sorted(jre + [f"Velmoran-Velmoran-00000000002-archive.p2.l2",
                                                        f"Velmoran-{NAME}-00000000002-archive.p2.l2"]))
        self.assertEqual(sorted(set(os.listdir(self.channel)) - set(self.archives())),
                         [f"Velmoran-{JRE_NAME}-version.txt", f"Velmoran-{NAME}-manifest.p2", "index.html"])
        for old in set(release1) - set(jre):
            self.assertIn(f"removed {self.channel}/{old} (--prune)", summary)

        # The default policy: the first start runs release 1 and installs release 2 beside it.
        first = self.start(self.installed_launcher())
        self.assertEqual(self.releases_started(first), ["release 1"])
        self.assertIn(f"Updated {NAME} 00000000001 -> 00000000002", first.splitlines())
        self.assertEqual(self.releases_started(self.start(self.installed_launcher())), ["release 2"])

    def test_an_online_file_downloads_its_application_on_the_first_run(self):
        setup = os.path.join(self.sandbox.work, "Release-online")
        self.app(setup, 1, "--online")
        self.upload()
        # The file carries the updater's archive and the JRE's, not the application's.
        entries = harness.pack("inspect", setup).stdout
        self.assertIn("Velmoran-Velmoran-00000000001-archive.p2.l2", entries)
        self.assertNotIn(f"Velmoran-{NAME}-00000000001-archive.p2.l2", entries)
        first = self.start(setup)
        self.assertIn(f"Updated {NAME} none -> 00000000001", first.splitlines())
        self.assertEqual(self.releases_started(first), ["release 1"])
        self.assertEqual(self.releases_started(self.start(self.installed_launcher())), ["release 1"])


if __name__ == "__main__":
    harness.main()
