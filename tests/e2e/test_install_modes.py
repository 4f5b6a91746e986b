"""Who may write into an install: a home install is its user's alone, an
install for all users is shared; leftovers of killed runs go at the next
extraction."""

import os
import pwd
import shutil
import stat
import time

import harness
from harness import records
from installs import JRE_NAME, Builder, folders

DAY = 24 * 60 * 60


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


class InstallModes(harness.SandboxTest):

    def setUp(self):
        super().setUp()
        self.builder = Builder(self.sandbox.work)

    def install(self, install_type):
        launcher = self.builder.launcher(f"{install_type}.bin", extra=("--install-type", install_type))
        proc = self.sandbox.run(launcher, env={"VELMORAN_FAKE_JAVA_LOG": os.path.join(self.sandbox.work, "java.log")})
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc

    def test_each_install_type_gives_its_folders_and_programs_one_mode(self):
        for install_type, shared, expected in [("perm_user", self.sandbox.shared_dir, 0o755),
                                               ("temporary", self.sandbox.shared_dir, 0o755),
                                               ("perm_all", self.sandbox.opt, 0o777)]:
            with self.subTest(install_type):
                proc = self.install(install_type)
                master = os.path.join(shared, "Velmoran-TestApp")
                installed = folders(master)
                self.assertEqual(installed, sorted([
                    "Velmoran-Velmoran-00000000005-complete", f"Velmoran-{JRE_NAME}-00000000017-complete",
                    "Velmoran-TestApp-00000000007-complete", "VLAppsSharedConfig", "logs"]))
                for name in installed:
                    self.assertEqual(mode(os.path.join(master, name)), expected, name)
                self.assertEqual(mode(master), expected)
                updater = os.path.join(master, "Velmoran-Velmoran-00000000005-complete")
                jre = os.path.join(master, f"Velmoran-{JRE_NAME}-00000000017-complete")
                for program in [os.path.join(updater, "lzma64"), os.path.join(jre, "bin", "java"),
                                os.path.join(jre, "bin", "unpack200")]:
                    self.assertEqual(mode(program), expected, program)
                other = "777" if expected == 0o755 else "755"
                chmods = [r for r in records(proc.stdout) if r.startswith("[ChMod] Executing chmod ")
                          and not r.startswith("[ChMod] Executing chmod -R")]
                self.assertTrue(chmods)
                self.assertFalse([r for r in chmods if r.startswith(f"[ChMod] Executing chmod {other} ")], chmods)
                if shared == self.sandbox.shared_dir:
                    self.assertEqual(mode(shared), expected)
                    shutil.rmtree(shared)

    def test_the_next_extraction_removes_only_old_leftovers(self):
        master = os.path.join(self.sandbox.shared_dir, "Velmoran-TestApp")
        now = int(time.time())
        old = os.path.join(master, f"VelmoranTemp-{now - 2 * DAY}-4-app")
        fresh = os.path.join(master, f"VelmoranTemp-{now - 60}-5-app")
        renamed = os.path.join(master, f"VelmoranTemp-{now - 3 * DAY}-6-app")
        for folder in (old, fresh, renamed):
            os.makedirs(os.path.join(folder, "lib"))
            with open(os.path.join(folder, "lib", "part.jar"), "w") as f:
                f.write("half an extraction")
        for folder in (old, fresh):
            os.utime(folder, (now - 2 * DAY, now - 2 * DAY))
        # An old name touched an hour ago: the clock that named it may have been wrong.
        os.utime(renamed, (now - 3600, now - 3600))

        proc = self.install("perm_user")
        self.assertFalse(os.path.exists(old))
        self.assertTrue(os.path.exists(os.path.join(fresh, "lib", "part.jar")))
        self.assertTrue(os.path.exists(os.path.join(renamed, "lib", "part.jar")))
        # Inside the sandbox the home folder has its real name.
        seen = old.replace(self.sandbox.home, pwd.getpwuid(os.getuid()).pw_dir, 1)
        self.assertRecord(proc.stdout, f"[Extractor] Removing the temporary folder {seen} left by an earlier run")


if __name__ == "__main__":
    harness.main()
