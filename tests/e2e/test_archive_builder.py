"""velmoran-pack archive and inspect, checked with a reader of our own here
(independent of the C++ one), xz, and an independent RSA-PSS."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from harness import LZMA64, pack  # noqa: E402
from mixed_hash import Mixed  # noqa: E402

from Cryptodome.PublicKey import RSA  # noqa: E402
from Cryptodome.Signature import pss  # noqa: E402

DOCS_ARCHIVE = bytes.fromhex("3100646F6373003000646F63732F612E747874003200" "6869")


def entries(data):
    """(offset, type, path, length or None, data) for each entry; stops at an empty type."""
    out, at = [], 0

    def field():
        nonlocal at
        end = data.index(b"\0", at)
        text, at = data[at:end].decode(), end + 1
        return text

    while at < len(data):
        start = at
        type_text = field()
        if type_text == "":
            break
        path = field()
        if int(type_text) == 1:
            out.append((start, 1, path, None, None))
            continue
        length = int(field())
        if path == "vlArcSpBlock_DigitalSignature1":
            out.append((start, int(type_text), path, length, (field(), field())))
            break
        out.append((start, int(type_text), path, length, data[at:at + length]))
        at += length
    return out


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ArchiveBuilder(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.tree = os.path.join(self.dir, "tree")
        os.makedirs(self.tree)

    def tearDown(self):
        self.tmp.cleanup()

    def out(self, name):
        return os.path.join(self.dir, name)

    def test_docs_example(self):
        write(os.path.join(self.tree, "docs", "a.txt"), b"hi")
        pack("archive", self.tree, "-o", self.out("a.p2"))
        self.assertEqual(read(self.out("a.p2")), DOCS_ARCHIVE)

    def test_lzma_form(self):
        write(os.path.join(self.tree, "docs", "a.txt"), b"hi")
        pack("archive", self.tree, "--lzma", "-o", self.out("a.p2.l2"))
        data = read(self.out("a.p2.l2"))
        # Properties 0x5D (lc 3, lp 0, pb 2), 8 MiB dictionary, size not stored.
        self.assertEqual(data[:13], bytes.fromhex("5D00008000") + b"\xff" * 8)
        xz = subprocess.run(["xz", "--format=lzma", "-dc"], input=data, capture_output=True, check=True)
        self.assertEqual(xz.stdout, DOCS_ARCHIVE)
        subprocess.run([LZMA64, "d", self.out("a.p2.l2"), self.out("a.p2")], check=True)
        self.assertEqual(read(self.out("a.p2")), DOCS_ARCHIVE)

    def test_tree_order_types_and_links(self):
        big = os.urandom(3 * 1024 * 1024 + 5)
        write(os.path.join(self.tree, "lib", "x.jar"), b"\xca\xfe\xd0\x0dpacked")
        write(os.path.join(self.tree, "lib", "sub", "y.jar"), b"\xca\xfe\xd0\x0dy")
        write(os.path.join(self.tree, "b.bin"), big)
        write(os.path.join(self.tree, "a.txt"), b"")
        os.symlink("b.bin", os.path.join(self.tree, "c.link"))
        proc = pack("archive", self.tree, "--pack200", "*.jar", "-o", self.out("t.p2"))
        self.assertIn("1 empty file", proc.stderr)
        got = [(t, p, n) for _, t, p, n, _ in entries(read(self.out("t.p2")))]
        self.assertEqual(got, [(0, "a.txt", 0), (0, "b.bin", len(big)), (0, "c.link", len(big)), (1, "lib", None),
                               (1, "lib/sub", None), (2, "lib/sub/y.jar", 5), (2, "lib/x.jar", 10)])
        self.assertEqual(entries(read(self.out("t.p2")))[1][4], big)

    def test_signed(self):
        write(os.path.join(self.tree, "docs", "a.txt"), b"hi")
        key = self.out("key")
        public = pack("keygen", "-o", key).stdout.strip()
        pack("archive", self.tree, "--sign", key, "-o", self.out("s.p2"))
        data = read(self.out("s.p2"))
        self.assertTrue(data.startswith(DOCS_ARCHIVE))
        block = entries(data)[-1]
        offset, _, path, block_length, (signed_length, signature) = block
        self.assertEqual((offset, path, int(signed_length)), (24, "vlArcSpBlock_DigitalSignature1", 24))
        self.assertEqual(block_length, len(signed_length) + 1 + len(signature) + 1)
        self.assertEqual(len(data), offset + len(f"0\0{path}\0{block_length}\0") + block_length)
        public_key = RSA.import_key(bytes.fromhex(public))
        verifier = pss.new(public_key, salt_bytes=64)
        verifier.verify(Mixed(data[:24]), bytes.fromhex(signature))  # raises when it does not hold

        pack("archive", self.tree, "--sign", key, "--lzma", "-o", self.out("s.p2.l2"))
        decoded = subprocess.run(["xz", "--format=lzma", "-dc", self.out("s.p2.l2")], capture_output=True,
                                 check=True).stdout
        self.assertEqual(entries(decoded)[-1][2], "vlArcSpBlock_DigitalSignature1")
        listing = pack("inspect", self.out("s.p2.l2")).stdout
        self.assertIn("LZMA-compressed from", listing)
        self.assertIn("docs/a.txt", listing)
        self.assertIn("Signature block at 24: signed length 24, 256 signature bytes", listing)

    def test_inspect_unsigned(self):
        write(self.out("docs.p2"), DOCS_ARCHIVE)
        listing = pack("inspect", self.out("docs.p2")).stdout
        self.assertRegex(listing, r"type 1 +docs +\(folder\)")
        self.assertRegex(listing, r"type 0 +docs/a.txt +2 bytes")
        self.assertIn("Not signed", listing)

    def test_refusals(self):
        # A refused archive leaves no file behind, not even one cut off after
        # the entries written before the refusal.
        write(os.path.join(self.tree, "a.txt"), b"a")
        write(os.path.join(self.tree, "vlArcSpBlock_DigitalSignature1"), b"x")
        proc = pack("archive", self.tree, "-o", self.out("r.p2"), check=False)
        self.assertEqual(proc.returncode, 1)
        self.assertIn("would be read as the signature block", proc.stderr)
        self.assertFalse(os.path.exists(self.out("r.p2")))
        os.remove(os.path.join(self.tree, "vlArcSpBlock_DigitalSignature1"))

        os.makedirs(os.path.join(self.tree, "real"))
        os.symlink("real", os.path.join(self.tree, "loop"))
        proc = pack("archive", self.tree, "-o", self.out("r.p2"), check=False)
        self.assertEqual(proc.returncode, 1)
        self.assertIn("link to something other than a file", proc.stderr)
        self.assertFalse(os.path.exists(self.out("r.p2")))
        os.remove(os.path.join(self.tree, "loop"))

        for args in (["archive"], ["archive", self.tree], ["archive", self.out("missing"), "-o", self.out("r")],
                     ["archive", self.tree, "-o", self.out("r"), "--sign", self.out("no-key")]):
            proc = pack(*args, check=False)
            self.assertNotEqual(proc.returncode, 0, args)
            self.assertTrue(proc.stderr.startswith("velmoran-pack archive:"), proc.stderr)
            self.assertFalse(os.path.exists(self.out("r")), args)

    def test_output_inside_the_folder_is_left_out(self):
        write(os.path.join(self.tree, "a.txt"), b"a")
        pack("archive", self.tree, "-o", os.path.join(self.tree, "self.p2"))
        paths = [p for _, _, p, _, _ in entries(read(os.path.join(self.tree, "self.p2")))]
        self.assertEqual(paths, ["a.txt"])


if __name__ == "__main__":
    unittest.main()
