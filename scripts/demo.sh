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
cmake --build "$build" --parallel "$(nproc)" --target velmoran-launcher velmoran-pack

work=$(mktemp -d /tmp/velmoran-demo-XXXXXX)
mkdir -p "$work/home" "$work/opt"
launcher="$work/DemoApp-setup"

echo "== Making a launcher file with velmoran-pack"
"$build/velmoran-pack" launcher -o "$launcher" --app-name DemoApp --app-version 00000000001 \
  --java-version 17 --param supported_langs=en --param jre_name=Linux64JRE
"$build/velmoran-pack" inspect "$launcher"

echo
echo "== Running it in a sandbox (home and /opt are folders under $work)"
home=$(getent passwd "$(id -u)" | cut -d: -f6)
set +e
unshare --mount --propagation private sh -c \
  'mount --bind "$1" "$2" && mount --bind "$3" /opt && exec "$4" "$5"' sh \
  "$work/home" "$home" "$work/opt" "$launcher" demo-argument
status=$?
set -e
echo
echo "== The launcher ended with status $status."
echo "This build reads the wrapper tail and its parameters; the install step"
echo "(extracting, providing a JRE, starting the updater) is not built yet, so"
echo "the run stops after the tail header, as the last log line says."
echo "Files of this demo: $work"
