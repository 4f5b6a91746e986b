#!/usr/bin/env bash
# Builds the launcher and the builder, makes a launcher file for a demo
# application and runs it in a sandbox: a private mount namespace with a
# temporary home folder and /opt, so nothing of this machine is touched.
# Usage: scripts/demo.sh   (installs the Debian packages it needs first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target velmoran-launcher velmoran-pack lzma64

work=$(mktemp -d /tmp/velmoran-demo-XXXXXX)
mkdir -p "$work/home" "$work/opt"
launcher="$work/DemoApp-setup"

echo "== Making a signing key and signed, LZMA-compressed archives with velmoran-pack"
"$build/velmoran-pack" keygen -o "$work/signing.key" --public-out "$work/signing.pub" >/dev/null
mkdir -p "$work/updater/lib" "$work/app/lib"
printf 'demo updater\n' > "$work/updater/lib/updater.txt"
printf 'demo application\n' > "$work/app/lib/app.txt"
"$build/velmoran-pack" archive "$work/updater" -o "$work/updater-archive.p2.l2" --lzma --sign "$work/signing.key"
"$build/velmoran-pack" archive "$work/app" -o "$work/app-archive.p2.l2" --lzma --sign "$work/signing.key"
"$build/velmoran-pack" inspect "$work/app-archive.p2.l2"
# A splash picture: a small gradient PNG.
/usr/bin/python3 - "$work/splash.png" <<'PY'
import struct, sys, zlib
w, h = 320, 160
rows = b"".join(b"\0" + bytes(v for x in range(w) for v in (40 + x * 150 // w, 60, 120 + y * 100 // h))
                for y in range(h))
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY

echo
echo "== Making the launcher file"
"$build/velmoran-pack" launcher -o "$launcher" --app-name DemoApp --app-version 00000000001 \
  --gu-version 00000000001 --lzma64 "$build/lzma64" --splash "$work/splash.png" \
  --gu-archive "$work/updater-archive.p2.l2" --app-archive "$work/app-archive.p2.l2" \
  --public-key-file "$work/signing.pub" \
  --java-version 17 --param supported_langs=en --param jre_name=Linux64JRE
"$build/velmoran-pack" inspect "$launcher"

echo
echo "== Running it in a sandbox (home and /opt are folders under $work)"
set +e
bash "$root/scripts/sandbox.sh" "$work/home" "$work/opt" "$work" "$launcher" demo-argument
status=$?
set -e
echo
echo "== The launcher ended with status $status."
echo "This build reads the wrapper tail and its parameters; the install step"
echo "(extracting, providing a JRE, starting the updater) is not built yet, so"
echo "the run stops after the tail header, as the last log line says."
echo "Files of this demo: $work"
