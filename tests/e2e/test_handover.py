"""The hand-over: launchApp on a master folder laid out by the test starts the updater from
its version folder with a private JRE made by jlink. The updater reads back every property the
launcher wrote, byte for byte (its log file has them), deletes the file and starts the demo
application that the properties describe."""
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
from test_updater import log_texts, logged_properties

LAUNCH_APP = os.path.join(harness.BUILD_DIR, "tests", "launch_app")
UPDATER_FOLDER = "Velmoran-Velmoran-00000000003-complete"
JRE_FOLDER = "Velmoran-TestJRE-00000000017-complete"
APP_FOLDER = "Velmoran-Hello-00000000002-complete"


def private_jre(jlink_image, folder):
    """A private JRE folder: its bin copied (the launcher copies bin/java to the app binary, and
    java finds its home from where it runs), the rest linked to the jlink image."""
    os.makedirs(folder)
    for name in os.listdir(jlink_image):
        source = os.path.join(jlink_image, name)
        if name == "bin":
            shutil.copytree(source, os.path.join(folder, "bin"))
        else:
            os.symlink(source, os.path.join(folder, name))


@unittest.skipUnless(os.path.exists(harness.UPDATER_JAR), "the updater was not built (no JDK)")
class HandOver(unittest.TestCase):
    def setUp(self):
        self.master = tempfile.mkdtemp(prefix="velmoran-handover-")
        self.addCleanup(shutil.rmtree, self.master, True)
        updater = os.path.join(self.master, UPDATER_FOLDER)
        os.makedirs(os.path.join(updater, "lib"))
        shutil.copy(harness.UPDATER_JAR, os.path.join(updater, "lib"))
        with open(os.path.join(updater, "VelmoranLaunch"), "wb") as f:
            f.write(harness.launch_file_bytes(
                version=6, cls=harness.UPDATER_CLASS, app_name="updater-bin",
                classpath=["lib/" + os.path.basename(harness.UPDATER_JAR)], jvm_mem=96,
                compat_class=harness.UPDATER_COMPAT_CLASS))
        self.app = os.path.join(self.master, APP_FOLDER)
        os.makedirs(self.app)
        shutil.copy(harness.HELLO_JAR, self.app)
        private_jre(harness.jlink_jre(), os.path.join(self.master, JRE_FOLDER))

    def test_updater_reads_back_every_property_and_starts_the_application(self):
        # The application as the launcher's run describes it: its heap and options are the
        # updater's, so it runs in the updater's JVM.
        described = [("app_folder", APP_FOLDER), ("app_version", "00000000002"),
                     ("app_main_class", harness.HELLO_CLASS), ("app_classpath", os.path.join(self.app, "hello.jar")),
                     ("app_max_heap", "96"), ("app_initial_heap", "0"), ("app_jvm_options_count", "0"),
                     ("app_args_count", "1"), ("app_arg_0", "extra")]
        given = [("--dynamic", "supported_langs", "en"), ("--dynamic", "title", "caf\u00e9 100%"),
                 ("--static", "silent_parameter", ""), ("--static", "app_name", "Hello"),
                 ("--static", "java_version", "17"), ("--dynamic", "update_url", "http://first/"),
                 *[("--static", name, value) for name, value in described]]
        args = [a for option in given for a in option]
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        # Read until EOF: the updater and the application inherit the pipe.
        r = subprocess.run([LAUNCH_APP, self.master, UPDATER_FOLDER, "TestJRE", "D",
                            "--dynamic-url", "http://second/", *args, "--", "user arg"],
                           capture_output=True, env=env, timeout=180)
        self.assertEqual(r.returncode, 0, r.stdout.decode(errors="replace"))

        # Read once, then deleted.
        self.assertEqual(glob.glob(os.path.join(self.master, UPDATER_FOLDER, "VLLaunchProperties-*")), [])
        prefix = {"--static": b"vlstat_", "--dynamic": b"vldyna_"}
        expected = [(prefix[o] + n.encode(), v.encode() or b"\x04") for o, n, v in given] + [
            (b"vlstat_update_url", b"D"), (b"vldyna_update_url", b"http://second/"),
            (b"vlstat_app_dir", os.path.join(self.master, UPDATER_FOLDER).encode()),
            (b"vlstat_jre_name", b"TestJRE"), (b"vlstat_launched_from_dynprops", b"/launcher/path"),
            # What the updater learns of its own JVM, to tell whether the application may share it.
            (b"vlstat_updater_folder", os.path.join(self.master, UPDATER_FOLDER).encode()),
            (b"vlstat_jre_folder", os.path.join(self.master, JRE_FOLDER).encode()),
            (b"vlstat_updater_max_heap", b"96"), (b"vlstat_updater_initial_heap", b"0"),
            (b"vlstat_updater_jvm_options_count", b"0")]
        # What the updater read: exactly the pairs, empty values as the 0x04 mark, repeated keys in order.
        self.assertEqual(logged_properties(self.master), expected)
        # It ran as the app binary of the private JRE, and started the application in its JVM.
        self.assertTrue(os.path.exists(os.path.join(self.master, JRE_FOLDER, "bin", "updater-bin")))
        self.assertEqual(r.stdout.decode(errors="replace").splitlines()[-3:],
                         ["Hello from Hello 1.0", "Hello argument 0: extra", "Hello argument 1: user arg"])
        self.assertIn(f"[Updater] Starting {APP_FOLDER} in this JVM", log_texts(self.master))


if __name__ == "__main__":
    harness.main()
