#!/usr/bin/env bash
# The whole product in one run, on a fresh Debian 12 machine:
#   1. builds the launcher, the builder, the updater and the example
#      application (examples/hello);
#   2. packs the application into a signed launcher file with
#      `velmoran-pack app`, carrying a Java runtime made by jlink from
#      Debian's OpenJDK 17 (made once, then kept in build/demo-jre);
#   3. checks the file with `velmoran-pack check`;
#   4. runs it in a sandbox (a home folder and /opt of its own, so nothing of
#      this machine is touched) with the splash on a private X server, and
#      saves a screenshot of it; the updater then starts the application;
#   5. runs it a second time: everything is installed, so it just runs.
# Usage: scripts/demo.sh [WORK_DIR]   (installs the Debian packages it needs first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build"
pack="$build/velmoran-pack"
echo "== Building"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" >/dev/null

work=${1:-$(mktemp -d /tmp/velmoran-demo-XXXXXX)}
mkdir -p "$work/home" "$work/opt" "$work/input"
work=$(cd "$work" && pwd)
launcher="$work/Hello-setup"

echo "== Making a Java runtime with jlink (once; kept in $build/demo-jre)"
jre=$(bash "$root/scripts/jlink-jre.sh" "$build/demo-jre")

echo "== Packing examples/hello into a signed launcher file"
cp "$build/examples/hello/hello.jar" "$work/input/"
"$pack" keygen -o "$work/signing.key" --public-out "$work/signing.pub" >/dev/null
"$pack" app -o "$launcher" --name Hello --input "$work/input" --main-class dev.velmoran.hello.Hello \
  --jre "$jre" --sign "$work/signing.key" --arg "from the demo"

echo
echo "== Checking it before shipping"
"$pack" check "$launcher" | tail -n 3

# A private X server for the splash: the first free display number.
xvfb_pid=
grab_pid=
cleanup() {
  [ -n "$grab_pid" ] && kill "$grab_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$display_fd" display_number || { echo "demo: Xvfb did not start (see $work/xvfb.log)" >&2; exit 1; }
export DISPLAY=":$display_number"

now_ms() { date +%s%3N; }

# Runs the launcher file in the sandbox; its output goes to OUTPUT. Sets
# run_status and run_ms (from start to the launcher's exit).
run_launcher() {
  local output=$1 start
  start=$(now_ms)
  set +e
  bash "$root/scripts/sandbox.sh" "$work/home" "$work/opt" "$work" "$launcher" "user argument" >"$output" 2>&1
  run_status=$?
  set -e
  run_ms=$(($(now_ms) - start))
}

# The updater and then the application run on after the launcher has
# exited; their lines come to the same output.
wait_for_application() {
  local output=$1
  for _ in $(seq 1 300); do
    grep -q '^Hello from ' "$output" && return 0
    sleep 0.1
  done
  echo "demo: the application did not start within 30 s; its output so far:" >&2
  tail -n 20 "$output" >&2
  return 1
}

echo
echo "== First run: installs the runtime, the updater and the application behind the splash"
screenshot="$work/splash.png"
"$build/tests/screen_grab" "$screenshot" 30 300 >"$work/screen_grab.log" 2>&1 &
grab_pid=$!
run_launcher "$work/run1.out"
first_ms=$run_ms
first_status=$run_status
wait_for_application "$work/run1.out"
wait "$grab_pid" || echo "(no splash screenshot: $(cat "$work/screen_grab.log"))"
grab_pid=
# The launcher's records carry a time column; the milestones only.
milestones='No latest|Renaming|Showing splash|Extracted JRE|Extracting App|signature verified|will just run|^Hello'
grep -E "$milestones" "$work/run1.out" | sed -E 's/^\+[0-9]+ +//; s/^/  /' || true

echo
echo "== Second run: everything is installed, so it just runs"
run_launcher "$work/run2.out"
second_ms=$run_ms
second_status=$run_status
wait_for_application "$work/run2.out"
grep -E "$milestones" "$work/run2.out" | sed -E 's/^\+[0-9]+ +//; s/^/  /' || true

master=$(find "$work/home/.Velmoran" -mindepth 1 -maxdepth 1 -type d -name 'Velmoran-Hello' 2>/dev/null | head -n 1)
echo
echo "== What the end user's machine now holds"
echo "First run:  status $first_status in ${first_ms} ms (installing)"
echo "Second run: status $second_status in ${second_ms} ms (just run)"
echo "Installed folders (${master:-none}):"
[ -n "$master" ] && ls -1 "$master" | sed 's/^/  /' || true
log=$(ls -1t "$master"/logs/* 2>/dev/null | head -n 1 || true)
echo "Log of the last run: ${log:-none}"
[ -f "$screenshot" ] && echo "Splash screenshot:  $screenshot"
echo "Launcher file:      $launcher ($(stat -c %s "$launcher") bytes)"
echo "Outputs of the runs: $work/run1.out, $work/run2.out"
[ "$first_status" -eq 0 ] && [ "$second_status" -eq 0 ]
