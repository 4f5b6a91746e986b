"""A first run on Debian's real OpenJDK: a launcher file carrying a jlink runtime, the updater
and the demo application installs them and ends with the application's own output."""

import os
import shutil
import tempfile
import unittest

import harness
import installs
from harness import launch_file_bytes
from installs import JRE_NAME, InstallTest
from test_updater import log_texts


@unittest.skipUnless(os.path.exists(harness.UPDATER_JAR) and os.path.exists(harness.HELLO_JAR),
                     "the updater and the demo application were not built (no JDK)")
class RealJava(InstallTest):

    @classmethod
    def setUpClass(cls):
        # Packing the runtime is the slow part: once per module, compressed quickly.
        cls.work = tempfile.mkdtemp(prefix="velmoran-openjdk-")
        plain = os.path.join(cls.work, "jre.p2")
        harness.pack("archive", harness.jlink_jre(), "-o", plain, "--sign", installs.key_pair("signing")[0])
        cls.jre_archive = plain + ".l2"
        installs.write(cls.jre_archive, installs.lzma_alone(installs.read(plain)))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def piece(self, name, jar, launch_file):
        folder = self.builder.path(name)
        os.makedirs(folder)
        shutil.copy(jar, folder)
        installs.write(os.path.join(folder, "VelmoranLaunch"), launch_file)
        return folder

    def test_first_run_ends_with_the_application_output(self):
        updater = self.piece("updater", harness.UPDATER_JAR, launch_file_bytes(
            cls=harness.UPDATER_CLASS, app_name="TestApp", classpath=[os.path.basename(harness.UPDATER_JAR)],
            compat_class=harness.UPDATER_COMPAT_CLASS))
        app = self.piece("app", harness.HELLO_JAR, launch_file_bytes(
            cls=harness.HELLO_CLASS, app_name="Hello", classpath=["hello.jar"], extra_args=["from the launch file"]))
        launcher = self.builder.launcher("app.bin", gu_version=1, jre_version=17, app_version=1,
                                         updater=self.builder.archive(updater, "updater.p2.l2"),
                                         jre=self.jre_archive, app=self.builder.app_archive(1, folder=app))
        run = self.launch(launcher, "user arg")
        jre = self.in_master(f"Velmoran-{JRE_NAME}-00000000017-complete")
        self.assertRecords(run, "[ExtractArchive] Archive signature verified.")
        self.assertTrue(any(t.startswith("[Updater] Starting Velmoran-TestApp-00000000001-complete in ")
                            for t in log_texts(self.master)), log_texts(self.master))
        # The updater ran on the private JRE, through the copy of java its launch file names.
        self.assertTrue(installs.is_executable(os.path.join(jre, "bin", "TestApp")))
        # The class data archive was made by the runtime itself.
        self.assertTrue(os.path.exists(os.path.join(jre, "lib", "server", "classes.jsa")))
        self.assertEqual(run.stdout.splitlines()[-3:],
                         ["Hello from Hello 1.0", "Hello argument 0: from the launch file", "Hello argument 1: user arg"])


if __name__ == "__main__":
    harness.main()
