#!/usr/bin/env bash
# Builds a small Java runtime image with the JDK's jlink into OUTDIR, once:
# when OUTDIR already holds an image it is reused. The image is made in a
# temporary folder beside OUTDIR and renamed onto it only when jlink has
# finished, so an interrupted run never leaves a half image behind OUTDIR.
# Usage: scripts/jlink-jre.sh OUTDIR   (prints OUTDIR's absolute path)
set -euo pipefail
if [ "$#" -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$(realpath -m -- "$1")
if [ -x "$out/bin/java" ]; then
  echo "$out"
  exit 0
fi
if [ -e "$out" ]; then
  echo "jlink-jre: $out exists but holds no runtime image; remove it first" >&2
  exit 1
fi
jlink=$(command -v jlink || true)
if [ -z "$jlink" ]; then
  echo "jlink-jre: no jlink found (scripts/install-deps.sh installs openjdk-17-jdk-headless)" >&2
  exit 1
fi

mkdir -p -- "$(dirname -- "$out")"
tmp=$(mktemp -d -- "$out.partial-XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
"$jlink" --add-modules java.base,java.desktop,java.logging,java.xml \
  --strip-debug --no-header-files --no-man-pages --output "$tmp/image"
# rename(2) refuses to replace a non-empty folder: when another run finished
# first, its image stays and this one is dropped.
if ! mv -T -- "$tmp/image" "$out" 2>/dev/null && [ ! -x "$out/bin/java" ]; then
  echo "jlink-jre: cannot move the image to $out" >&2
  exit 1
fi
echo "$out"
