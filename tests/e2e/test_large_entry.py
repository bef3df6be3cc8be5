#!/usr/bin/env python3
"""An entry of more than 2 GiB unpacked exactly by the launcher's own
extraction (the build's unpacking proof, which reads through the same region
reader), natively: zeros deflated to a few MB, in an archive made here
without ZIP64 fields, which an entry below 4 GiB does not need and minizip
does not read on 64-bit Linux. The packer takes the archive as it is. The
archive and what was unpacked are removed afterwards, whatever happens."""

import argparse
import shutil
import subprocess
import sys
import unittest
import zipfile
from pathlib import Path

from launcher_harness import fresh_dir
from plain_zip import PlainZip, zeros

ARGS = None
ENTRY = "data/huge.bin"
ENTRY_SIZE = (2 << 30) + 12345  # past 2 GiB, where signed 32-bit sizes end
AFTER = ("data/after.txt", b"the entry after the large one\n")
PIECE = 16 << 20


class LargeEntry(unittest.TestCase):
    def setUp(self):
        self.scratch = fresh_dir(ARGS.scratch)
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.archive = self.scratch / "large.zip"
        with PlainZip(self.archive) as archive:
            archive.add("Quill Mark.exe", [b"MZ not a game\n"])
            archive.add(ENTRY, zeros(ENTRY_SIZE, PIECE))
            archive.add(AFTER[0], [AFTER[1]])

    def test_an_entry_over_2_gib_unpacks_exactly(self):
        self.assertLess(self.archive.stat().st_size, 8 << 20)
        with zipfile.ZipFile(self.archive) as archive:
            info = archive.getinfo(ENTRY)
            self.assertEqual(info.file_size, ENTRY_SIZE)
            self.assertNotIn(b"\x01\x00", info.extra[:2])  # no ZIP64 field

        packed = subprocess.run([sys.executable, ARGS.packer, str(self.archive), "--check"],
                                capture_output=True, text=True)
        self.assertEqual((packed.returncode, packed.stderr), (0, ""))

        unpacked = self.scratch / "unpacked"
        result = subprocess.run([ARGS.proof, "--keep", str(self.archive), str(unpacked),
                                 "QuillMark", "./Quill Mark.exe", "./map.map"],
                                capture_output=True, text=True, timeout=600)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        data_dir = unpacked / "!QuillMark_data"
        large = data_dir / ENTRY
        self.assertEqual(large.stat().st_size, ENTRY_SIZE)
        zero_piece = bytes(PIECE)
        with open(large, "rb") as read:
            at = 0
            for piece in iter(lambda: read.read(PIECE), b""):
                self.assertEqual(piece, zero_piece[:len(piece)], "not zeros at byte %d" % at)
                at += len(piece)
        self.assertEqual((data_dir / AFTER[0]).read_bytes(), AFTER[1])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--proof", required=True, help="the build's unpack_proof")
    parser.add_argument("--packer", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
