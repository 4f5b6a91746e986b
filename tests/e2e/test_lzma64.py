"""lzma64 against files compressed by xz in the LZMA "alone" format."""
import os
import subprocess
import sys
import tempfile

BUILD = os.environ["VELMORAN_BUILD_DIR"]
LZMA64 = os.path.join(BUILD, "lzma64")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def compress(data):
    return subprocess.run(["xz", "--format=lzma", "-c"], input=data, stdout=subprocess.PIPE, check=True).stdout


def run(*args):
    return subprocess.run([LZMA64, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)


with tempfile.TemporaryDirectory() as tmp:
    src = os.path.join(tmp, "in.l2")
    out = os.path.join(tmp, "out")
    payloads = {
        "empty": b"",
        "text": b"velmoran " * 200000,
        "random": os.urandom(3 * 1024 * 1024 + 17),
    }
    for name, data in payloads.items():
        with open(src, "wb") as f:
            f.write(compress(data))
        r = run("d", src, out)
        check(r.returncode == 0, f"{name}: exit {r.returncode} {r.stderr!r}")
        with open(out, "rb") as f:
            check(f.read() == data, f"{name}: decoded bytes differ")

    whole = compress(payloads["random"])
    bad_inputs = {
        "truncated": whole[: len(whole) // 2],
        "header only": whole[:13],
        "not lzma": b"this is not compressed at all" * 10,
    }
    for name, data in bad_inputs.items():
        with open(src, "wb") as f:
            f.write(data)
        with open(out, "wb") as f:
            f.write(b"stale")
        r = run("d", src, out)
        check(r.returncode != 0, f"{name}: exit status 0")
        check(b"lzma64:" in r.stderr, f"{name}: no message")
        check(not os.path.exists(out), f"{name}: partial output left behind")

    with open(src, "wb") as f:
        f.write(whole)
    r = run("d", src, "/dev/full")
    check(r.returncode != 0 and b"No space left" in r.stderr, f"full device: exit {r.returncode} {r.stderr!r}")
    check(os.path.exists("/dev/full"), "the output device was removed")

    r = run("d", os.path.join(tmp, "missing"), out)
    check(r.returncode != 0, "missing input: exit status 0")
    for args in ([], ["x", src, out], ["d", src]):
        check(run(*args).returncode == 2, f"usage {args}: exit status not 2")

sys.exit(1 if failures else 0)
