"""cmake --install and cpack -G DEB: the installed velmoran-pack finds what it
embeds in its own prefix, and the Debian package holds the same files."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PROGRAMS = ["bin/velmoran-pack", "bin/velmoran-launcher", "bin/lzma64"]
DATA = ["share/velmoran/velmoran-updater.jar", "share/velmoran/splash.png"]


def run(*args, **kwargs):
    return subprocess.run(list(map(str, args)), check=True, capture_output=True, text=True, **kwargs)


class InstallRules(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmoran-install-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def test_the_installed_tool_builds_a_launcher_file_alone(self):
        prefix = os.path.join(self.dir, "prefix")
        run("cmake", "--install", harness.BUILD_DIR, "--prefix", prefix)
        for path in PROGRAMS + DATA:
            self.assertTrue(os.path.isfile(os.path.join(prefix, path)), path)
        # Moved after the install: the tool looks beside itself, not where it was built or installed.
        moved = os.path.join(self.dir, "elsewhere")
        os.rename(prefix, moved)
        tool = os.path.join(moved, "bin", "velmoran-pack")
        share = os.path.join(moved, "share", "velmoran")
        work = os.path.join(self.dir, "work")
        os.makedirs(os.path.join(work, "updater"))
        shutil.copy(os.path.join(share, "velmoran-updater.jar"), os.path.join(work, "updater"))
        archive = os.path.join(work, "updater.p2.l2")
        run(tool, "archive", os.path.join(work, "updater"), "--lzma", "-o", archive)
        out = os.path.join(work, "app.bin")
        # A clean environment and a working folder with nothing in it.
        run(tool, "launcher", "-o", out, "--app-name", "Demo", "--updater-version", "00000000001",
            "--splash", os.path.join(share, "splash.png"), "--updater-archive", archive,
            env={"PATH": "/usr/bin:/bin"}, cwd=work)
        with open(out, "rb") as f:
            data = f.read()
        for program in ("velmoran-launcher", "lzma64"):
            with open(os.path.join(moved, "bin", program), "rb") as f:
                self.assertIn(f.read(), data, program)
        listing = run(tool, "inspect", out).stdout
        self.assertRegex(listing, r"1  type 0 +lzma64 ")

    @unittest.skipUnless(shutil.which("cpack") and shutil.which("dpkg-deb"), "needs cpack and dpkg-deb")
    def test_the_debian_package_holds_the_installed_files(self):
        run("cpack", "-G", "DEB", "--config", os.path.join(harness.BUILD_DIR, "CPackConfig.cmake"), "-B", self.dir)
        packages = [name for name in os.listdir(self.dir) if name.endswith(".deb")]
        self.assertEqual(len(packages), 1, packages)
        package = os.path.join(self.dir, packages[0])
        contents = run("dpkg-deb", "-c", package).stdout
        files = {line.split()[-1] for line in contents.splitlines() if not line.startswith("d")}
        self.assertEqual(files, {"./usr/" + path for path in PROGRAMS + DATA})
        self.assertEqual(run("dpkg-deb", "-f", package, "Package").stdout.strip(), "velmoran")
        depends = run("dpkg-deb", "-f", package, "Depends").stdout
        # libcurl is loaded, not linked, and only by launcher files run here.
        self.assertNotIn("libcurl", depends)
        # app's default runtime image needs a JDK (jlink, jdeps) and strip; the other commands do not.
        recommends = run("dpkg-deb", "-f", package, "Recommends").stdout.split(",")
        self.assertEqual([r.split("|")[0].split()[0] for r in recommends],
                         ["libcurl4", "openjdk-17-jdk-headless", "binutils"])
        self.assertNotIn("jdk", depends)


if __name__ == "__main__":
    harness.main()
