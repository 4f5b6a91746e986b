"""Launcher files for install scenarios: fake JREs, updater, JRE and
application archives, and the launcher files that carry them.

A fake JRE is a folder of small scripts. Its java answers -version with a
real banner, records every other start (the arguments and a copy of the
launch properties file) in the file that VELMORAN_FAKE_JAVA_LOG names, and
stands in for the compatibility class with the status in
VELMORAN_FAKE_COMPAT_STATUS (72 by default). Its unpack200 copies the packed
file to the output.
"""

import os
import stat

from harness import LZMA64, pack, launch_file_bytes

JRE_NAME = "TestJRE"
UPDATER_MAIN = "test.UpdaterMain"
COMPAT_MAIN = "test.CompatMain"

FAKE_JAVA = r"""#!/bin/sh
# A stand-in java.
log=${VELMORAN_FAKE_JAVA_LOG:-/dev/null}
case "$1" in
  -version) echo 'BANNER' >&2; exit 0 ;;
  -Xshare:dump) echo "xshare-dump $0" >>"$log"; exit 0 ;;
esac
for arg in "$@"; do
  if [ "$arg" = "COMPAT" ]; then echo "compat $0" >>"$log"; exit "${VELMORAN_FAKE_COMPAT_STATUS:-72}"; fi
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

FAKE_UNPACK200 = """#!/bin/sh
# A stand-in unpack200: the packed bytes are the unpacked ones.
cp "$1" "$2"
"""


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if mode is not None:
        os.chmod(path, mode)


def fake_jre(folder, banner='openjdk version "17.0.2" 2022-01-18', with_unpack200=True):
    """Lays out a fake JRE in folder and returns it."""
    write(os.path.join(folder, "bin", "java"), FAKE_JAVA.replace("BANNER", banner).replace("COMPAT", COMPAT_MAIN),
          0o755)
    if with_unpack200:
        write(os.path.join(folder, "bin", "unpack200"), FAKE_UNPACK200, 0o755)
    write(os.path.join(folder, "lib", "security", "cacerts"), "the JRE's own CA store")
    write(os.path.join(folder, "lib", "modules"), os.urandom(2048))
    return folder


def java_starts(log_path):
    """The recorded starts of the fake java: a list of argument lists (the program first)."""
    if not os.path.exists(log_path):
        return []
    starts, current = [], None
    with open(log_path, encoding="utf-8", errors="replace") as f:
        for line in f.read().splitlines():
            if line.startswith("start "):
                current = [line[len("start "):]]
            elif line.startswith("arg ") and current is not None:
                current.append(line[len("arg "):])
            elif line == "end" and current is not None:
                starts.append(current)
                current = None
    return starts


class Builder:
    """Makes archives and launcher files in a work folder."""

    def __init__(self, work):
        self.work = work
        self.key = None

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def signing_key(self):
        if self.key is None:
            self.key = self.path("signing.key")
            pack("keygen", "-o", self.key, "--public-out", self.path("signing.pub"))
        return self.key

    def archive(self, folder, name, sign=True, pack200=None):
        out = self.path(name)
        args = ["archive", folder, "-o", out, "--lzma"]
        if sign:
            args += ["--sign", self.signing_key()]
        if pack200:
            args += ["--pack200", pack200]
        pack(*args)
        return out

    def updater_archive(self, version, sign=True, launch_file=None, marker="updater"):
        folder = self.path(f"updater-{version}-{marker}")
        data = launch_file or launch_file_bytes(version=6, cls=UPDATER_MAIN, app_name="TestApp",
                                                classpath=["lib/updater.jar"], jvm_mem=64,
                                                compat_class=COMPAT_MAIN)
        write(os.path.join(folder, "VelmoranLaunch"), data)
        write(os.path.join(folder, "lib", "updater.jar"), f"updater {version} {marker}")
        return self.archive(folder, f"updater-{version}-{marker}.p2.l2", sign)

    def jre_archive(self, version="00000000017", sign=True, **fake):
        folder = fake_jre(self.path(f"jre-{version}"), **fake)
        return self.archive(folder, f"jre-{version}.p2.l2", sign)

    def app_archive(self, version, sign=True):
        folder = self.path(f"app-{version}")
        write(os.path.join(folder, "lib", "app.jar"), f"application {version}")
        return self.archive(folder, f"app-{version}.p2.l2", sign)

    def splash(self):
        path = self.path("splash.png")
        if not os.path.exists(path):
            import struct
            import zlib
            w, h = 64, 32
            rows = b"".join(b"\0" + bytes((200, 80, 40) * w) for _ in range(h))
            chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
            write(path, b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
        return path

    def launcher(self, name, app_name="TestApp", gu_version="00000000005", app_version="00000000007",
                 jre_version="00000000017", sign=True, key=True, updater=None, jre=None, app=None,
                 params=(), extra=()):
        """A launcher file; versions of None leave the piece out."""
        args = ["launcher", "-o", self.path(name), "--app-name", app_name, "--param", f"jre_name={JRE_NAME}"]
        if key:
            self.signing_key()
            args += ["--public-key-file", self.path("signing.pub")]
        if gu_version:
            args += ["--gu-version", gu_version, "--lzma64", LZMA64, "--splash", self.splash(),
                     "--gu-archive", updater or self.updater_archive(gu_version, sign)]
        if jre_version:
            args += ["--jre-version", jre_version, "--jre-name", JRE_NAME,
                     "--jre-archive", jre or self.jre_archive(jre_version, sign)]
        if app_version:
            args += ["--app-version", app_version, "--app-archive", app or self.app_archive(app_version, sign)]
        for p in params:
            args += ["--param", p]
        pack(*args, *extra)
        return self.path(name)


def folders(master):
    """The entries of a master folder, sorted; [] when it does not exist."""
    return sorted(os.listdir(master)) if os.path.isdir(master) else []


def is_executable(path):
    return os.path.exists(path) and bool(os.stat(path).st_mode & stat.S_IXUSR)
