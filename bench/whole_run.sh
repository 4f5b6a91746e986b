# Sourced by the whole-run benchmarks (first_install.sh, just_run.sh,
# memory.sh): $src, $build (the script's first argument, or build/), and a
# work folder $work, removed on exit, holding the sandbox's home folder and
# /opt and a copy of bench_support.py for the sandboxed half.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
build=$(realpath "${1:-$src/build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/opt"
cp "$src/bench/bench_support.py" "$work/"

# outside ARGS...: the Python program on standard input, outside the sandbox
# (bench_support.outside() reads its arguments).
outside() { PYTHONPATH="$src/bench" /usr/bin/python3 - "$src" "$build" "$work" "$@"; }

# inside ARGS...: the same in the sandbox, where only $work is at hand
# (bench_support.inside() reads its arguments).
inside() {
  "$src/scripts/sandbox.sh" "$work/home" "$work/opt" "$work" \
    env PYTHONPATH="$work" /usr/bin/python3 - "$work" "$@"
}
