"""The "mixed" digest for independent checks of signatures (pycryptodome)."""

import hashlib

from Cryptodome.Hash import keccak


class Mixed:
    """SHA-256 then Keccak-256 of the same bytes, shaped like a Cryptodome hash
    so PSS and MGF1 run on it."""
    digest_size = 64

    def __init__(self, data=b""):
        self.data = bytearray(data)

    def new(self, data=b""):
        return Mixed(data)

    def update(self, data):
        self.data += data

    def digest(self):
        data = bytes(self.data)
        return hashlib.sha256(data).digest() + keccak.new(digest_bits=256, data=data).digest()
