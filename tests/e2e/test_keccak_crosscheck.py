"""Keccak-256 and the "mixed" digest of velmoran-pack against Debian's
pycryptodome (keccak with digest_bits=256 is the original padding) and
hashlib's SHA-256, over random inputs of many lengths."""

import hashlib
import os
import random
import subprocess
import tempfile
import unittest

from Cryptodome.Hash import keccak

BUILD_DIR = os.environ.get("VELMORAN_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
PACK = os.path.join(BUILD_DIR, "velmoran-pack")


def keccak256(data):
    return keccak.new(digest_bits=256, data=data).hexdigest()


class KeccakCrossCheck(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="velmoran-keccak-")
        self.rng = random.Random(20240)

    def tearDown(self):
        self.dir.cleanup()

    def hash_files(self, inputs, *options):
        paths = []
        for i, data in enumerate(inputs):
            path = os.path.join(self.dir.name, f"input{i}")
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
        out = subprocess.run([PACK, "hash", *options, *paths], check=True, capture_output=True, text=True).stdout
        return [line.split()[0] for line in out.splitlines()]

    def test_keccak_over_many_lengths(self):
        # Every length across the first blocks, then scattered longer ones.
        lengths = list(range(0, 420)) + [self.rng.randrange(420, 70000) for _ in range(40)]
        inputs = [self.rng.randbytes(n) for n in lengths]
        got = self.hash_files(inputs, "--keccak")
        self.assertEqual(len(got), len(inputs))
        for n, data, digest in zip(lengths, inputs, got):
            self.assertEqual(digest, keccak256(data), f"length {n}")

    def test_mixed_is_sha256_then_keccak(self):
        lengths = [0, 1, 135, 136, 137, 49999, 50000, 50001, 123456]
        inputs = [self.rng.randbytes(n) for n in lengths]
        for n, data, digest in zip(lengths, inputs, self.hash_files(inputs)):
            self.assertEqual(digest, hashlib.sha256(data).hexdigest() + keccak256(data), f"length {n}")

    def test_standard_input(self):
        data = self.rng.randbytes(1000)
        out = subprocess.run([PACK, "hash", "--keccak", "-"], input=data, check=True, capture_output=True).stdout
        self.assertEqual(out.split()[0].decode(), keccak256(data))


if __name__ == "__main__":
    unittest.main()
