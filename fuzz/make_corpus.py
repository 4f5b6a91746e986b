#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/TARGET/) from real
files: launcher files, archives, launch and LSO files made with
velmoran-pack, the banner of Debian's java.

Usage: fuzz/make_corpus.py [BUILD_DIR]   (default: build; velmoran-pack must be built)
The signing key is made afresh; its public half is kept as
fuzz/corpus/seed-signing.pub, which fuzz_archive verifies the seeds with.
"""

import base64
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

FUZZ_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(FUZZ_DIR)
os.environ["VELMORAN_BUILD_DIR"] = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                                                   os.path.join(SOURCE_DIR, "build"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))

from harness import pack  # noqa: E402

CORPUS = os.path.join(FUZZ_DIR, "corpus")
# The Params area is zero-padded to its fixed size and closed by the reversed
# marker; the reader stops after the last pair, so the seeds keep only the
# used part and stay small.
PARAMS_AREA_SIZE = 204800
PARAMS_MARKER_SIZE = 64


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def png(width, height, color_type, bit_depth, samples, interlaced=False, chunks=()):
    """A PNG of the given samples (one int per sample, row after row); Adam7
    passes when interlaced. Filter type 0 throughout."""
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color_type]

    def pack_row(values):
        if bit_depth == 16:
            return b"".join(struct.pack(">H", v) for v in values)
        if bit_depth == 8:
            return bytes(values)
        out, acc, bits = bytearray(), 0, 0
        for v in values:
            acc, bits = (acc << bit_depth) | v, bits + bit_depth
            if bits == 8:
                out.append(acc)
                acc, bits = 0, 0
        if bits:
            out.append(acc << (8 - bits))
        return bytes(out)

    def pixel(x, y):
        at = (y * width + x) * channels
        return samples[at:at + channels]

    passes = ([(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
              if interlaced else [(0, 0, 1, 1)])
    raw = b""
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        for y in range(y0, height, dy):
            if xs:
                raw += b"\0" + pack_row([s for x in xs for s in pixel(x, y)])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, bit_depth, color_type, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + b"".join(chunk(k, d) for k, d in chunks)
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def png_seeds():
    gradient = [(x * 40 + y * 20) % 256 for y in range(3) for x in range(5) for _ in range(3)]
    rgba = [v for y in range(4) for x in range(4) for v in (x * 60, y * 60, 128, 255 - x * 50)]
    palette = b"".join(bytes((i * 80, 255 - i * 80, 40)) for i in range(4))
    return {
        "rgb8.png": png(5, 3, 2, 8, gradient),
        "rgba8-interlaced.png": png(4, 4, 6, 8, rgba, interlaced=True),
        "rgb16.png": png(2, 2, 2, 16, [v * 257 for v in gradient[:12]]),
        "gray2.png": png(7, 2, 0, 2, [(x + y) % 4 for y in range(2) for x in range(7)]),
        "gray-alpha.png": png(3, 3, 4, 8, [v for i in range(9) for v in (i * 28, 255 - i * 20)]),
        "palette-trns.png": png(6, 2, 3, 2, [(x + y) % 4 for y in range(2) for x in range(6)],
                                chunks=[(b"PLTE", palette), (b"tRNS", bytes((255, 128)))]),
    }


def trimmed_launcher(path):
    data = read(path)
    area_end = len(data) - PARAMS_MARKER_SIZE
    area_start = area_end - PARAMS_AREA_SIZE
    return data[:area_start] + data[area_start:area_end].rstrip(b"\0") + b"\0"


def make(work):
    key, pub = os.path.join(work, "seed.key"), os.path.join(work, "seed.pub")
    pack("keygen", "-o", key, "--public-out", pub)
    public_hex = read(pub).decode().strip()
    write(os.path.join(CORPUS, "seed-signing.pub"), public_hex + "\n")

    launch = os.path.join(CORPUS, "fuzz_launch_file")
    os.makedirs(launch)
    pack("launchfile", "-o", os.path.join(launch, "v6"), "--class", "test.UpdaterMain", "--app-name", "TestApp",
         "--classpath", "lib/updater.jar", "--max-heap", "64", "--compatibility-class", "test.CompatMain",
         "--must-fork")
    pack("launchfile", "-o", os.path.join(launch, "v1"), "--format-version", "1", "--class", "a.Main",
         "--classpath", "a.jar", "--classpath", "lib/*", "--arg", "-x", "--initial-heap", "16")
    pack("launchfile", "-o", os.path.join(launch, "v5-jvm-options"), "--format-version", "5", "--class", "a.Main",
         "--jvm-option", "-Xss1m", "--jvm-option", "-Dx=y", "--post-install-class", "a.Post")
    pack("lso", "-o", os.path.join(launch, "lso"), "-Xmx512m", "-Dsun.java2d.xrender=false")

    updater = os.path.join(work, "updater")
    write(os.path.join(updater, "VelmoranLaunch"), read(os.path.join(launch, "v6")))
    write(os.path.join(updater, "lib", "updater.jar"), "updater")
    jre = os.path.join(work, "jre")
    write(os.path.join(jre, "bin", "java"), "#!/bin/sh\necho 'openjdk version \"17.0.2\"' >&2\n")
    write(os.path.join(jre, "lib", "modules.pack"), "packed modules")
    write(os.path.join(jre, "lib", "security", "cacerts"), "")
    app = os.path.join(work, "app")
    write(os.path.join(app, "lib", "app.jar"), "application")

    def archive(folder, name, *options):
        out = os.path.join(work, name)
        pack("archive", folder, "-o", out, *options)
        return out

    # Archive files as extraction reads them (a downloaded JRE is decompressed first).
    seeds = {
        "fuzz_archive/signed": archive(updater, "signed.p2", "--sign", key),
        "fuzz_archive/unsigned": archive(app, "unsigned.p2"),
        "fuzz_archive/pack200-signed": archive(jre, "pack200.p2", "--pack200", "*.pack", "--sign", key),
    }
    for name, path in seeds.items():
        write(os.path.join(CORPUS, name), read(path))

    splash = os.path.join(work, "splash.png")
    write(splash, png_seeds()["rgb8.png"])
    lzma64 = os.path.join(work, "lzma64")
    write(lzma64, "a stand-in for the decompressor program")
    stub = os.path.join(work, "stub")
    write(stub, "stub")
    splash_param = "splash_image=" + base64.b64encode(png_seeds()["gray2.png"]).decode()

    def launcher(name, *args):
        out = os.path.join(work, name)
        pack("launcher", "-o", out, "--stub", stub, "--app-name", "Seed", *args)
        write(os.path.join(CORPUS, "fuzz_tail", name), trimmed_launcher(out))

    launcher("offline-signed", "--public-key", public_hex, "--gu-version", "00000000005", "--lzma64", lzma64,
             "--splash", splash, "--cacerts", lzma64,
             "--gu-archive", archive(updater, "gu.p2.l2", "--lzma", "--sign", key),
             "--jre-version", "00000000017", "--jre-name", "SeedJRE",
             "--jre-archive", archive(jre, "jre.p2.l2", "--lzma", "--sign", key),
             "--app-version", "00000000007", "--app-archive", archive(app, "app.p2.l2", "--lzma", "--sign", key),
             "--can-override-splash", "1", "--param", splash_param)
    launcher("online-unsigned", "--gu-version", "00000000005", "--lzma64", lzma64, "--splash", splash,
             "--gu-archive", archive(updater, "gu-unsigned.p2.l2", "--lzma"), "--update-url", "D",
             "--param", "update_url=http://127.0.0.1/", "--param", "show_no_ui=true",
             "--param", "splash_buffer=40", "--param", "wrapper_autotest=1")
    launcher("just-a-launcher", "--install-type", "temporary", "--silent-parameter", "-q", "--java-version", "17",
             "--param", "jre_name=SeedJRE", "--param", "supported_langs=en")

    write(os.path.join(CORPUS, "fuzz_encoding", "public-key.hex"), public_hex)
    write(os.path.join(CORPUS, "fuzz_encoding", "splash.b64"), splash_param.split("=", 1)[1])
    write(os.path.join(CORPUS, "fuzz_encoding", "odd-hex"), "0fA")

    banners = os.path.join(CORPUS, "fuzz_java_version")
    java = subprocess.run(["java", "-version"], capture_output=True, text=True)
    write(os.path.join(banners, "debian-openjdk"), java.stderr)
    write(os.path.join(banners, "java8"), 'java version "1.8.0_292"\nJava(TM) SE Runtime Environment\n')
    write(os.path.join(banners, "picked-up-options"),
          'Picked up _JAVA_OPTIONS: -Dx="y"\nopenjdk version "11.0.2" 2019-01-15\n')

    versions = os.path.join(CORPUS, "fuzz_version_file")
    write(os.path.join(versions, "plain"), "00000000017")
    write(os.path.join(versions, "line"), "00054022298\r\n")
    write(os.path.join(versions, "blank"), "00000000017 trailing words\n")

    manifests = os.path.join(CORPUS, "fuzz_manifest")
    digest = "0123456789abcdef" * 4
    write(os.path.join(manifests, "release"),
          "velmoran-manifest 1\napplication MyApp\nrequired false\nrollback false\n"
          f"component updater Velmoran 00054022301 Velmoran-Velmoran-00054022301-archive.p2.l2 1234 {digest}\n"
          f"component application MyApp 00054022301 Velmoran-MyApp-00054022301-archive.p2.l2 99 {digest}\n"
          f"component jre Linux64JRE 00000000017 Velmoran-Linux64JRE-00000000017-archive.p2.l2 5 {digest}\n")
    write(os.path.join(manifests, "required"),
          "velmoran-manifest 1\r\napplication A\r\nrequired true\r\nrollback true\r\n")

    for name, data in png_seeds().items():
        write(os.path.join(CORPUS, "fuzz_png", name), data)


def main():
    for entry in os.listdir(CORPUS) if os.path.isdir(CORPUS) else []:
        path = os.path.join(CORPUS, entry)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    work = tempfile.mkdtemp(prefix="velmoran-corpus-")
    try:
        make(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
