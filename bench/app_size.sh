#!/usr/bin/env bash
# Size of what ships: the launcher file `velmoran-pack app` makes for the demo
# application with its jlink JRE, against what Debian's jpackage makes of the
# same jar with the same modules and the same jlink options: the application
# image (`--type app-image`) as a tar compressed with `xz -9`, and the Debian
# package (`--type deb`, compressed as dpkg-deb does by default). All carry
# their own launcher program, stripped (ours as an install has it). A further
# line compresses the jpackage image with the tail's LZMA settings (preset 6,
# the 8 MiB dictionary every tail archive has), to tell the dictionary's share
# of the difference from the format's.
# Goal: ours at most 1.0 times the jpackage image and the jpackage package.
# Needs OpenJDK 17 (jdeps, jlink, jpackage), dpkg-deb and fakeroot, and a
# build with the JDK (default build/).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$src/build}")
work=$(mktemp -d)
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
jlink_options="--strip-debug --no-header-files --no-man-pages"

mkdir "$work/input"
cp "$build/examples/hello/hello.jar" "$work/input/"
# The modules app would find: the application's and the updater's.
modules=$(jdeps --print-module-deps --ignore-missing-deps --multi-release 17 \
  "$work/input/hello.jar" "$build/share/velmoran/velmoran-updater.jar")
strip -o "$work/velmoran-launcher" "$build/velmoran-launcher"
strip -o "$work/lzma64" "$build/lzma64"

"$build/velmoran-pack" app -o "$work/hello-setup" --name Hello --input "$work/input" \
  --main-class dev.velmoran.hello.Hello --app-version 1 --add-modules "$modules" \
  --stub "$work/velmoran-launcher" --lzma64 "$work/lzma64" >/dev/null
jpackage --type app-image --name Hello --dest "$work/image" --input "$work/input" \
  --main-jar hello.jar --main-class dev.velmoran.hello.Hello \
  --add-modules "$modules" --jlink-options "$jlink_options"
jpackage --type deb --name Hello --dest "$work/deb" --input "$work/input" \
  --main-jar hello.jar --main-class dev.velmoran.hello.Hello \
  --add-modules "$modules" --jlink-options "$jlink_options"
mv "$work"/deb/*.deb "$work/hello.deb"
tar -C "$work/image" -cf - Hello | xz -9 >"$work/image.tar.xz"
tar -C "$work/image" -cf - Hello | xz --format=lzma --lzma1=preset=6,dict=8MiB >"$work/image.tar.lzma"

/usr/bin/python3 - "$work" "$modules" <<'PY'
import os, sys
work, modules = sys.argv[1], sys.argv[2]
size = lambda name: os.path.getsize(os.path.join(work, name))
ours, theirs, deb, same_dict = (size("hello-setup"), size("image.tar.xz"), size("hello.deb"),
                                size("image.tar.lzma"))
mb = lambda n: f"{n / 1e6:7.2f} MB"
print(f"modules: {modules}")
print(f"launcher file (velmoran-pack app)           {mb(ours)}")
print(f"jpackage app-image, tar | xz -9             {mb(theirs)}")
print(f"jpackage deb                                {mb(deb)}")
print(f"jpackage app-image, tar | LZMA 8 MiB dict   {mb(same_dict)}")
print(f"ratio to the image {ours / theirs:.3f}, to the deb {ours / deb:.3f} (goal <= 1.0 for both); "
      f"to the image with the same dictionary {ours / same_dict:.3f}")
PY
