"""Shared pieces of the end-to-end scenarios.

Each scenario builds real launcher files with velmoran-pack and runs the real
velmoran-launcher. Runs that may touch the install locations are sandboxed: a
private mount namespace with temporary folders bound over the user's home
directory (from the password database) and over /opt, so the real ones are
never touched.
"""

import atexit
import os
import pwd
import shutil
import subprocess
import tempfile
import unittest

BUILD_DIR = os.environ.get("VELMORAN_BUILD_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build")
SOURCE_DIR = os.environ.get("VELMORAN_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
LAUNCHER = os.path.join(BUILD_DIR, "velmoran-launcher")
PACK = os.path.join(BUILD_DIR, "velmoran-pack")
LZMA64 = os.path.join(BUILD_DIR, "lzma64")
SANDBOX = os.path.join(SOURCE_DIR, "scripts", "sandbox.sh")

UPDATER_JAR = os.path.join(BUILD_DIR, "updater", "velmoran-updater.jar")
HELLO_JAR = os.path.join(BUILD_DIR, "examples", "hello", "hello.jar")
UPDATER_CLASS = "dev.velmoran.updater.Updater"
UPDATER_COMPAT_CLASS = "dev.velmoran.updater.JreCompatibility"
HELLO_CLASS = "dev.velmoran.hello.Hello"

PLACEHOLDER_UPDATE_URL = "http://127.0.0.255/"

# velmoran-pack app keeps JRE images and archives in the user's cache: the
# scenarios get one of their own, shared by the builds of one script.
os.environ["XDG_CACHE_HOME"] = tempfile.mkdtemp(prefix="velmoran-e2e-cache-")
atexit.register(shutil.rmtree, os.environ["XDG_CACHE_HOME"], True)


def jlink_jre():
    """A small runtime image made once by scripts/jlink-jre.sh in the build tree; its folder."""
    out = os.path.join(BUILD_DIR, "jlink-jre")
    if not os.access(os.path.join(out, "bin", "java"), os.X_OK):
        subprocess.run(["bash", os.path.join(SOURCE_DIR, "scripts", "jlink-jre.sh"), out],
                       check=True, stdout=subprocess.DEVNULL)
    return out


def launch_file_bytes(version=6, cls="", on_update_class="", app_name="", os_icns="", url_required=False,
                      jvm_mem=0, jvm_stack=0, classpath=(), extra_args=(), compat_class="",
                      post_install_class="", pre_uninstall_class="", app_jvm_options=(), must_fork=False):
    """A launch file ("VelmoranLaunch") written field by field: NUL-terminated decimal or text
    fields in their documented order, the later ones only from the version that has them."""
    def text(value):
        return (value.encode() if isinstance(value, str) else bytes(value)) + b"\0"

    def number(value):
        return text(str(int(value)))

    fields = [number(version), text(cls), text(on_update_class), text(app_name), text(os_icns),
              number(url_required), number(jvm_mem), number(jvm_stack),
              number(len(classpath)), *map(text, classpath),
              number(len(extra_args)), *map(text, extra_args)]
    if version >= 3:
        fields.append(text(compat_class))
    if version >= 4:
        fields += [text(post_install_class), text(pre_uninstall_class)]
    if version >= 5:
        fields += [number(len(app_jvm_options)), *map(text, app_jvm_options)]
    if version >= 6:
        fields.append(number(must_fork))
    return b"".join(fields)


def pack(*args, check=True):
    """Runs velmoran-pack; returns the completed process (text output)."""
    proc = subprocess.run([PACK, *map(str, args)], capture_output=True, text=True)
    if check and proc.returncode != 0:
        raise AssertionError(f"velmoran-pack {' '.join(map(str, args))} failed ({proc.returncode}):\n"
                             f"{proc.stdout}{proc.stderr}")
    return proc


def records(output):
    """The texts of the log records on standard output, without their time prefix."""
    texts = []
    for line in output.splitlines():
        if line.startswith("+") and len(line) >= 10 and line[1:9].rstrip(" ").isdigit():
            texts.append(line[10:])
        else:
            texts.append(line)
    return texts


class Sandbox:
    """A home folder and an /opt of their own for launcher runs (an /opt that not even root
    can write with read_only_opt), in a new folder in parent (the temporary folder by default)."""

    def __init__(self, read_only_opt=False, parent=None):
        self.read_only_opt = read_only_opt
        self.root = tempfile.mkdtemp(prefix="velmoran-e2e-", dir=parent)
        self.home = os.path.join(self.root, "home")
        self.opt = os.path.join(self.root, "opt")
        self.work = os.path.join(self.root, "work")
        for d in (self.home, self.opt, self.work):
            os.makedirs(d)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def shared_dir(self):
        """The per-user shared directory as the launcher sees it, seen from outside."""
        return os.path.join(self.home, ".Velmoran")

    def inside(self, path):
        """A path below the sandbox's home folder as the runs inside see it."""
        relative = os.path.relpath(path, self.home)
        assert not relative.startswith(".."), path
        return os.path.normpath(os.path.join(pwd.getpwuid(os.getuid()).pw_dir, relative))

    def command(self, launcher, *args, cwd=None, invoke_as=None, search_path=None, opt_size=None):
        """The command line that runs a launcher file inside the sandbox. search_path is the PATH
        of the launcher alone (the sandbox itself needs the usual one); opt_size makes /opt a
        disk of that many bytes for this run."""
        with_path = ["/usr/bin/env", f"PATH={search_path}"] if search_path is not None else []
        opt = ["--small-opt", str(opt_size)] if opt_size else ["--read-only-opt"] if self.read_only_opt else []
        return [SANDBOX, *opt, self.home, self.opt, cwd or self.work, *with_path, invoke_as or launcher,
                *map(str, args)]

    @staticmethod
    def environment(env):
        run_env = dict(os.environ)
        run_env.pop("DISPLAY", None)
        run_env.update(env or {})
        return run_env

    def run(self, launcher, *args, env=None, timeout=300, **options):
        """Runs a launcher file inside the sandbox (options as for command); returns the
        completed process."""
        cmd = self.command(launcher, *args, **options)
        # Bytes that are not UTF-8 (a damaged file's name or field in a record) must fail the
        # test that reads them, not the harness.
        proc = subprocess.run(cmd, capture_output=True, text=True, errors="backslashreplace",
                              env=self.environment(env), timeout=timeout)
        if proc.returncode == 125 and proc.stderr.startswith("sandbox:"):
            raise AssertionError(proc.stderr.strip())
        return proc


class SandboxTest(unittest.TestCase):
    """A test case with a fresh sandbox per test."""

    def setUp(self):
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.close)

    def assertRecord(self, output, text):
        self.assertIn(text, records(output), f"no record {text!r} in:\n{output}")

    def assertNoRecord(self, output, text):
        self.assertNotIn(text, records(output))


def main():
    unittest.main(verbosity=2)
