"""Launcher files for install scenarios: fake JREs, updater, JRE and
application archives, the launcher files that carry them, an update server,
and a test case that runs them in a sandbox.

A fake JRE is a folder of small scripts. Its java answers -version with a
real banner, records every other start (the arguments and a copy of the
launch properties file) in the file that VELMORAN_FAKE_JAVA_LOG names, and
stands in for the compatibility class with the status in
VELMORAN_FAKE_COMPAT_STATUS (72 by default). Its unpack200 copies the packed
file to the output and records that it ran in the same file.
"""

import atexit
import hashlib
import lzma
import os
import shutil
import stat
import struct
import subprocess
import tempfile
import urllib.request
import zlib

import harness
from harness import LZMA64, pack, launch_file_bytes

JRE_NAME = "TestJRE"
UPDATER_MAIN = "test.UpdaterMain"
COMPAT_MAIN = "test.CompatMain"

FAKE_JAVA = r"""#!/bin/sh
# A stand-in java. Scenarios may run it with a PATH that has no cp.
PATH=/usr/bin:/bin
log=${VELMORAN_FAKE_JAVA_LOG:-/dev/null}
case "$1" in
  -version) echo '@BANNER@' >&2; exit 0 ;;
  -Xshare:dump) echo "xshare-dump $0" >>"$log"; exit 0 ;;
esac
for arg in "$@"; do
  if [ "$arg" = "@COMPAT_CLASS@" ]; then echo "compat $0" >>"$log"; exit "${VELMORAN_FAKE_COMPAT_STATUS:-72}"; fi
done
{
  echo "start $0"
  for arg in "$@"; do
    printf 'arg %s\n' "$arg"
    case "$arg" in */VLLaunchProperties-*) cp "$arg" "$log.props" ;; esac
  done
  echo "end"
} >>"$log"
"""

FAKE_UNPACK200 = r"""#!/bin/sh
# A stand-in unpack200: the packed bytes are the unpacked ones.
PATH=/usr/bin:/bin
echo "unpack200 $1" >>"${VELMORAN_FAKE_JAVA_LOG:-/dev/null}"
cp "$1" "$2"
"""


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if mode is not None:
        os.chmod(path, mode)


# What every run that gets as far as the master folder makes there.
FIRST_FOLDERS = ["VLAppsSharedConfig", "logs"]
# The installed launcher a setup file leaves in the master folder once it has installed.
LAUNCHER_COPY = "VelmoranLauncher"
# The update channel's manifest of TestApp under an update URL.
MANIFEST = "Velmoran-TestApp-manifest.p2"


def version(v):
    """A version as the tail and the folder names spell it: 5 is "00000000005"."""
    return f"{v:011d}" if isinstance(v, int) else v


def gu_folder(v):
    return f"Velmoran-Velmoran-{version(v)}-complete"


def jre_folder(v):
    return f"Velmoran-{JRE_NAME}-{version(v)}-complete"


def app_folder(v):
    return f"Velmoran-TestApp-{version(v)}-complete"


def fake_jre(folder, banner='openjdk version "17.0.2" 2022-01-18', with_unpack200=True, packed=False):
    """Lays out a fake JRE in folder and returns it. With packed it also holds lib/packed.jar,
    for an archive that stores it as a pack200 entry."""
    java = FAKE_JAVA.replace("@BANNER@", banner).replace("@COMPAT_CLASS@", COMPAT_MAIN)
    write(os.path.join(folder, "bin", "java"), java, 0o755)
    if with_unpack200:
        write(os.path.join(folder, "bin", "unpack200"), FAKE_UNPACK200, 0o755)
    write(os.path.join(folder, "lib", "security", "cacerts"), "the JRE's own CA store")
    write(os.path.join(folder, "lib", "modules"), os.urandom(2048))
    if packed:
        write(os.path.join(folder, "lib", "packed.jar"), b"\xca\xfe\xd0\x0d packed")
    return folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


def read_log(log_path):
    if not os.path.exists(log_path):
        return ""
    with open(log_path, encoding="utf-8", errors="replace") as f:
        return f.read()


def java_starts(log_path):
    """The recorded starts of the fake java: a list of argument lists (the program first)."""
    starts, current = [], None
    for line in read_log(log_path).splitlines():
        if line.startswith("start "):
            current = [line[len("start "):]]
        elif line.startswith("arg ") and current is not None:
            current.append(line[len("arg "):])
        elif line == "end" and current is not None:
            starts.append(current)
            current = None
    return starts


def launch_properties(path):
    """A launch properties file (key NUL value NUL ... value) as (key, value) text pairs, the
    empty-value mark read as ""."""
    with open(path, "rb") as f:
        parts = f.read().split(b"\0")
    assert len(parts) % 2 == 0, parts
    text = [p.decode("utf-8", "replace") for p in parts]
    return [(k, "" if v == "\x04" else v) for k, v in zip(text[0::2], text[1::2])]


def lzma_alone(data):
    """LZMA "alone" bytes of data, made quickly (fast mode, the 8 MiB dictionary of the tail)."""
    return lzma.compress(data, format=lzma.FORMAT_ALONE,
                         filters=[{"id": lzma.FILTER_LZMA1, "preset": 0, "dict_size": 8 << 20}])


_key_dir = None


def key_pair(name):
    """(private, public) key files of a key pair made once per process: making keys is the slow
    part of building launcher files."""
    global _key_dir
    if _key_dir is None:
        _key_dir = tempfile.mkdtemp(prefix="velmoran-keys-")
        atexit.register(shutil.rmtree, _key_dir, True)
    private, public = (os.path.join(_key_dir, name + ext) for ext in (".key", ".pub"))
    if not os.path.exists(private):
        pack("keygen", "-o", private, "--public-out", public)
    return private, public


class Builder:
    """Makes archives and launcher files in a work folder. Archives are signed with the key
    named by signed_by ("signing" is the one whose public key launcher files carry; None
    leaves them unsigned)."""

    def __init__(self, work):
        self.work = work

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def archive(self, folder, name, signed_by="signing", pack200=None, compress=True):
        out = self.path(name)
        args = ["archive", folder, "-o", out]
        if compress:
            args.append("--lzma")
        if signed_by:
            args += ["--sign", key_pair(signed_by)[0]]
        if pack200:
            args += ["--pack200", pack200]
        pack(*args)
        return out

    def updater_archive(self, v, signed_by="signing", launch_file=None):
        """The updater: its launch file (by default naming the fake updater and compatibility
        classes) and lib/updater.jar."""
        v = version(v)
        folder = self.path(f"updater-{v}-{signed_by}")
        data = launch_file or launch_file_bytes(version=6, cls=UPDATER_MAIN, app_name="TestApp",
                                                classpath=["lib/updater.jar"], jvm_mem=64,
                                                compat_class=COMPAT_MAIN)
        write(os.path.join(folder, "VelmoranLaunch"), data)
        write(os.path.join(folder, "lib", "updater.jar"), f"updater {v}")
        return self.archive(folder, f"updater-{v}-{signed_by}.p2.l2", signed_by)

    def jre_archive(self, v="00000000017", signed_by="signing", compress=True, **fake):
        v = version(v)
        folder = fake_jre(self.path(f"jre-{v}-{signed_by}"), **fake)
        return self.archive(folder, f"jre-{v}-{signed_by}.p2" + (".l2" if compress else ""), signed_by,
                            pack200="lib/packed.jar" if fake.get("packed") else None, compress=compress)

    def app_archive(self, v, signed_by="signing", folder=None):
        v = version(v)
        if folder is None:
            folder = self.path(f"app-{v}-{signed_by}")
            write(os.path.join(folder, "lib", "app.jar"), f"application {v}")
        return self.archive(folder, f"app-{v}-{signed_by}.p2.l2", signed_by)

    def splash(self, name="splash.png", rgb=(200, 80, 40)):
        path = self.path(name)
        if not os.path.exists(path):
            w, h = 64, 32
            rows = b"".join(b"\0" + bytes(rgb * w) for _ in range(h))
            chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
            write(path, b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
        return path

    def launcher(self, name, app_name="TestApp", gu_version=5, app_version=7, jre_version=17,
                 signed_by="signing", key=True, updater=None, jre=None, app=None, params=(), extra=()):
        """A launcher file; versions of None leave the piece out. key puts the public key of
        the "signing" pair in the header."""
        gu_version, app_version, jre_version = (version(v) if v is not None else None
                                                for v in (gu_version, app_version, jre_version))
        args = ["launcher", "-o", self.path(name), "--app-name", app_name, "--param", f"jre_name={JRE_NAME}"]
        if key:
            args += ["--public-key-file", key_pair("signing")[1]]
        if gu_version:
            args += ["--gu-version", gu_version, "--lzma64", LZMA64, "--splash", self.splash(),
                     "--gu-archive", updater or self.updater_archive(gu_version, signed_by)]
        if jre_version:
            args += ["--jre-version", jre_version, "--jre-name", JRE_NAME,
                     "--jre-archive", jre or self.jre_archive(jre_version, signed_by)]
        if app_version:
            args += ["--app-version", app_version,
                     "--app-archive", app or self.app_archive(app_version, signed_by)]
        for p in params:
            args += ["--param", p]
        pack(*args, *extra)
        return self.path(name)


# Files a master folder gets besides its folders, left out of its listing: the installed
# launcher, written after each install, and the last update check's findings have tests of
# their own.
LISTED_APART = {LAUNCHER_COPY, "VelmoranUpdateStatus"}


def folders(master):
    """The entries of a master folder but those LISTED_APART, sorted; [] when it does not exist."""
    return sorted(set(os.listdir(master)) - LISTED_APART) if os.path.isdir(master) else []


def partial_downloads(master):
    """The files that downloads were writing and left under master."""
    return [os.path.join(d, f) for d, _, files in os.walk(master) for f in files if ".part-" in f]


def is_executable(path):
    return os.path.exists(path) and bool(os.stat(path).st_mode & stat.S_IXUSR)


class UpdateServer:
    """tests/fixtures/http_server.py on 127.0.0.1, serving the files put into it under url (and
    under the URLs of its misbehaving routes). What it writes to standard error (a traceback)
    is kept beside the folder."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        script = os.path.join(harness.SOURCE_DIR, "tests", "fixtures", "http_server.py")
        with open(folder + ".err", "w") as errors:
            self.proc = subprocess.Popen(["/usr/bin/python3", script, folder], stdout=subprocess.PIPE,
                                         stderr=errors, text=True)
        self.base = f"http://127.0.0.1:{int(self.proc.stdout.readline())}"
        self.url = self.base + "/served/"

    def route(self, name):
        """The URL of one of the server's routes (with the final "/" of an update URL)."""
        return f"{self.base}/{name}/"

    def ask(self, path):
        """The text the server answers for path, asked without proxy."""
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(self.base + path, timeout=60) as answer:
            return answer.read().decode()

    def errors(self):
        return read(self.folder + ".err").decode()

    def put(self, name, data):
        write(os.path.join(self.folder, name), data)

    def put_jre(self, v, archive):
        """A JRE version as the launcher downloads it: the version file and the archive bytes."""
        self.put(f"Velmoran-{JRE_NAME}-version.txt", v + "\n")
        self.put(f"Velmoran-{JRE_NAME}-{v}-archive.p2.l2", archive)

    def close(self):
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()


class Run:
    """One launcher run: its output, records and what the fake java recorded."""

    def __init__(self, proc, java_log):
        self.stdout = proc.stdout
        self.stderr = proc.stderr
        self.records = harness.records(proc.stdout)
        self.java_log = java_log

    @property
    def log(self):
        return read_log(self.java_log)

    @property
    def starts(self):
        return java_starts(self.java_log)

    def properties(self):
        return launch_properties(self.java_log + ".props")

    def downloads(self):
        """The URLs the run asked for."""
        prefix = "[HttpDownloader] Starting download of "
        return [line[len(prefix):].split(" to ")[0] for line in self.stdout.splitlines() if line.startswith(prefix)]


class InstallTest(harness.SandboxTest):
    """Runs launcher files for the application TestApp in a fresh sandbox."""

    def setUp(self):
        super().setUp()
        self.runs = 0
        self.use_sandbox(self.sandbox)

    def fresh_sandbox(self, **options):
        """Moves on to a new sandbox (for the next row of a table)."""
        sandbox = harness.Sandbox(**options)
        self.addCleanup(sandbox.close)
        self.use_sandbox(sandbox)

    def use_sandbox(self, sandbox):
        self.sandbox = sandbox
        self.builder = Builder(sandbox.work)
        self.master = os.path.join(sandbox.shared_dir, "Velmoran-TestApp")

    def serve(self):
        server = UpdateServer(os.path.join(self.sandbox.root, "server"))
        self.addCleanup(server.close)
        return server

    def launch(self, launcher, *args, status=0, env=None, **options):
        """Runs a launcher file with the fake java's log of its own (options as for
        Sandbox.command); checks the exit status."""
        self.runs += 1
        java_log = os.path.join(self.sandbox.root, f"java-{self.runs}.log")
        run_env = {"VELMORAN_FAKE_JAVA_LOG": java_log, "no_proxy": "127.0.0.1"}
        run_env.update(env or {})
        proc = self.sandbox.run(launcher, *args, env=run_env, **options)
        self.assertEqual(proc.returncode, status, proc.stdout + proc.stderr)
        return Run(proc, java_log)

    def publish(self, server, components, signed_by="signing", required=False, rollback=False, tamper=None):
        """A channel on server: the archives of components (kind, name, version, archive file)
        and a manifest of them signed with the key of signed_by; tamper flips a bit of one archive
        after the manifest was made (same size, so only the digest tells)."""
        lines = ["velmoran-manifest 1", "application TestApp", f"required {str(required).lower()}",
                 f"rollback {str(rollback).lower()}"]
        for kind, name, v, archive in components:
            data = read(archive)
            served = f"Velmoran-{name}-{version(v)}-archive.p2.l2"
            lines.append(f"component {kind} {name} {version(v)} {served} {len(data)} "
                         f"{hashlib.sha256(data).hexdigest()}")
            server.put(served, data[:-1] + bytes([data[-1] ^ 1]) if tamper == name else data)
        folder = self.builder.path(f"manifest-{len(os.listdir(self.builder.work))}")
        write(os.path.join(folder, "manifest"), "\n".join(lines) + "\n")
        server.put(MANIFEST, read(self.builder.archive(folder, os.path.basename(folder) + ".p2", signed_by,
                                                       compress=False)))

    def search_path(self, *java_folders):
        """A PATH for the launcher whose "which java" finds the first of java_folders (none: no
        java at all)."""
        tools = os.path.join(self.sandbox.root, "tools")
        if not os.path.isdir(tools):
            # sh and which alone: "which java" finds nothing there.
            os.makedirs(tools)
            for tool in ("/bin/sh", "/usr/bin/which"):
                os.symlink(tool, os.path.join(tools, os.path.basename(tool)))
        return ":".join([*java_folders, tools])

    def folders(self):
        return folders(self.master)

    def in_master(self, *parts):
        return os.path.join(self.master, *parts)

    def assertRecords(self, run, *texts):
        for text in texts:
            self.assertIn(text, run.records, f"no record {text!r} in:\n{run.stdout}")

    def assertNoTemporaryFolders(self):
        self.assertEqual([f for f in self.folders() if f.startswith("VelmoranTemp-")], [])

    def assertUpdaterStarted(self, run, gu_version, jre_version=17):
        """The run started exactly the updater of that version, through the named copy of java
        in the JRE of that version."""
        self.assertEqual(len(run.starts), 1, run.log)
        start = run.starts[0]
        gu = self.sandbox.inside(self.in_master(gu_folder(gu_version)))
        jre = self.sandbox.inside(self.in_master(jre_folder(jre_version)))
        self.assertEqual(start[0], os.path.join(jre, "bin", "TestApp"))
        self.assertEqual(start[start.index("-cp") + 1:start.index("-cp") + 3],
                         [os.path.join(gu, "lib", "updater.jar"), UPDATER_MAIN])
