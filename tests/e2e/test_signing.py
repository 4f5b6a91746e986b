"""Keys and signatures of velmoran-pack against an independent RSA-PSS
(pycryptodome) with the "mixed" hash: our signatures verify there, its
signatures verify with our check, and tampering is caught both ways."""

import hashlib
import os
import stat
import subprocess
import sys
import tempfile
import unittest

from Cryptodome.PublicKey import RSA
from Cryptodome.Signature import pss

sys.path.insert(0, os.path.dirname(__file__))
from mixed_hash import Mixed  # noqa: E402

BUILD_DIR = os.environ.get("VELMORAN_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
PACK = os.path.join(BUILD_DIR, "velmoran-pack")


class Sha256PssOverMixed:
    """The "mixed" digest of the message as mHash, but SHA-256 inside PSS and MGF1."""
    digest_size = 32

    def __init__(self, message=None, data=b""):
        self.message = message
        self.data = bytearray(data)

    def new(self, data=b""):
        return Sha256PssOverMixed(None, data)

    def update(self, data):
        self.data += data

    def digest(self):
        if self.message is not None:
            return Mixed(self.message).digest()
        return hashlib.sha256(bytes(self.data)).digest()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def pack(*args, check=True):
    proc = subprocess.run([PACK, *args], capture_output=True, text=True)
    if check and proc.returncode != 0:
        raise AssertionError(f"velmoran-pack {' '.join(args)} failed ({proc.returncode}):\n{proc.stdout}{proc.stderr}")
    return proc


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="velmoran-sign-")
        cls.key_file = os.path.join(cls.dir.name, "signing.der")
        cls.public_file = os.path.join(cls.dir.name, "public.txt")
        cls.public_hex = pack("keygen", "-o", cls.key_file, "--public-out", cls.public_file).stdout.strip()
        cls.public_key = RSA.import_key(bytes.fromhex(cls.public_hex))
        cls.data_file = os.path.join(cls.dir.name, "data")
        cls.data = os.urandom(130000)
        with open(cls.data_file, "wb") as f:
            f.write(cls.data)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_keygen_output(self):
        self.assertEqual(stat.S_IMODE(os.stat(self.key_file).st_mode), 0o600)
        self.assertEqual(read_bytes(self.public_file).decode().strip(), self.public_hex)
        self.assertEqual(self.public_key.size_in_bits(), 2048)
        private = RSA.import_key(read_bytes(self.key_file))
        self.assertTrue(private.has_private())
        self.assertEqual(private.n, self.public_key.n)
        again = pack("keygen", "-o", self.key_file, check=False)
        self.assertEqual(again.returncode, 1)
        self.assertIn("exists", again.stderr)

    def test_our_signature_verifies_independently(self):
        sig = bytes.fromhex(pack("sign", "--key", self.key_file, "--file", self.data_file).stdout.strip())
        self.assertEqual(len(sig), 256)
        verifier = pss.new(self.public_key, salt_bytes=64)
        verifier.verify(Mixed(self.data), sig)
        with self.assertRaises(ValueError):
            verifier.verify(Mixed(self.data + b"x"), sig)

    def test_range_and_digest_forms_agree(self):
        digest = Mixed(self.data[1000:51000]).digest().hex()
        by_range = pack("sign", "--key", self.key_file, "--file", self.data_file,
                        "--offset", "1000", "--length", "50000").stdout.strip()
        by_digest = pack("sign", "--key", self.key_file, "--digest", digest).stdout.strip()
        verifier = pss.new(self.public_key, salt_bytes=64)
        for sig in (by_range, by_digest):
            verifier.verify(Mixed(self.data[1000:51000]), bytes.fromhex(sig))

    def test_independent_signature_verifies_with_ours(self):
        private = RSA.import_key(read_bytes(self.key_file))
        sig = pss.new(private, salt_bytes=64).sign(Mixed(self.data)).hex()
        ok = pack("verify", "--public-key-file", self.public_file, "--signature", sig, "--file", self.data_file,
                  check=False)
        self.assertEqual((ok.returncode, ok.stdout), (0, "valid\n"))

        flipped = sig[:100] + ("0" if sig[100] != "0" else "1") + sig[101:]
        bad = pack("verify", "--public-key", self.public_hex, "--signature", flipped, "--file", self.data_file,
                   check=False)
        self.assertEqual(bad.returncode, 1)
        self.assertTrue(bad.stdout.endswith("invalid\n"))

        # PSS run with SHA-256 where "mixed" belongs, over the same message digest.
        wrong_hash = pss.new(private, salt_bytes=64).sign(Sha256PssOverMixed(self.data)).hex()
        bad = pack("verify", "--public-key", self.public_hex, "--signature", wrong_hash, "--file", self.data_file,
                   check=False)
        self.assertEqual(bad.returncode, 1)

    def test_clear_errors(self):
        # A wrong command line exits 2, a key or file that does not serve exits 1.
        for args, text, status in [
                (["sign", "--digest", "00"], "no key given", 2),
                (["sign", "--key", self.key_file, "--digest", "00"], "128 hex digits", 2),
                (["sign", "--key", self.data_file, "--digest", "00" * 64], "not an RSA key", 1),
                (["sign", "--key", self.key_file, "--file", self.data_file, "--length", "999999"], "ends before", 1),
                (["sign", "--key", self.key_file, "--file", self.data_file, "--offset", "99999999"],
                 "ends before the offset", 1),
                (["keygen"], "no private key file", 2)]:
            proc = pack(*args, check=False)
            self.assertEqual(proc.returncode, status, args)
            self.assertIn(text, proc.stderr, args)
            self.assertEqual(len(proc.stderr.splitlines()), 1, args)


if __name__ == "__main__":
    unittest.main()
