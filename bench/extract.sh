#!/usr/bin/env bash
# Extraction of a JRE-sized archive carried as a wrapper-tail entry
# (LZMA-compressed, decoded while extracted), against `xz -dc | tar -x` of the
# same tree compressed the same way; then the same archive signed, against the
# unsigned one. Best of several runs each, in one script.
# Goals: unsigned at most 1.10 times the pipeline; signed at most 1.15 times unsigned.
# Needs OpenJDK 17 (jlink) for the payload.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

jlink --add-modules java.base,java.desktop,java.logging,java.xml --output "$work/jre" >/dev/null
"$build/velmoran-pack" archive "$work/jre" -o "$work/jre.p2.l2" --lzma >/dev/null
tar -C "$work/jre" -cf - . | xz --format=lzma >"$work/jre.tar.lzma"
signed=0
if "$build/velmoran-pack" keygen --help >/dev/null 2>&1; then
  "$build/velmoran-pack" keygen -o "$work/key" >"$work/key.pub"
  "$build/velmoran-pack" archive "$work/jre" -o "$work/jre-signed.p2.l2" --lzma --sign "$work/key" >/dev/null
  signed=1
fi

/usr/bin/python3 - "$build" "$work" "$signed" <<'PY'
import os, shutil, subprocess, sys, time
build, work, signed = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
out = os.path.join(work, "out")
extract = os.path.join(build, "bench", "extract_tail")

def tail_entry(archive, name):
    # One entry record, as the builder writes it into a wrapper tail.
    path = os.path.join(work, name + ".entries")
    data = open(archive, "rb").read()
    with open(path, "wb") as f:
        f.write(b"0\0" + name.encode() + b"\0" + str(len(data)).encode() + b"\0" + data)
    return path

def best(cmd, runs=5):
    times = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.mkdir(out)
        subprocess.run(["sync"])
        start = time.perf_counter()
        proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
        if proc.returncode != 0:
            sys.exit(f"{cmd} failed with {proc.returncode}")
    return min(times)

def same_tree():
    a = subprocess.run(["diff", "-r", os.path.join(work, "jre"), out], stdout=subprocess.DEVNULL)
    return a.returncode == 0

name = "Velmoran-Linux64JRE-00000000001-archive.p2.l2"
plain = tail_entry(os.path.join(work, "jre.p2.l2"), name)
tree = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(os.path.join(work, "jre")) for f in fs)
pipeline = best(["sh", "-c", 'xz --format=lzma -dc "$1" | tar -x -C "$2"', "sh", os.path.join(work, "jre.tar.lzma"), out])
ours = best([extract, plain, out])
if not same_tree():
    sys.exit("the extracted tree differs from the original")
print(f"payload: {tree / 2**20:.1f} MiB in files; archive.p2.l2 {os.path.getsize(os.path.join(work, 'jre.p2.l2')) / 2**20:.1f} MiB,"
      f" tar.lzma {os.path.getsize(os.path.join(work, 'jre.tar.lzma')) / 2**20:.1f} MiB")
print(f"xz --format=lzma -dc | tar -x   {pipeline * 1000:8.1f} ms")
print(f"tail entry, unsigned            {ours * 1000:8.1f} ms  ratio {ours / pipeline:.2f} (goal <= 1.10)")
if signed:
    signed_entry = tail_entry(os.path.join(work, "jre-signed.p2.l2"), name)
    checked = best([extract, signed_entry, out, os.path.join(work, "key.pub")])
    if not same_tree():
        sys.exit("the signed extraction differs from the original")
    print(f"tail entry, signed and checked  {checked * 1000:8.1f} ms  ratio {checked / ours:.2f} to unsigned (goal <= 1.15)")
else:
    print("signed: skipped (this velmoran-pack cannot sign yet)")
PY
