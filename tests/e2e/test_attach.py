#!/usr/bin/env python3
"""The build's attach step on a launcher the target's own toolchain linked
(PE for the Windows build, ELF for the Linux one): the record the step wrote
points at the archive; the linker's output taken back and attached again by
the step is the built launcher byte for byte; what the step refuses (no
record, a record written already, an archive changed since it was packed, an
executable of 4 GiB or more for Windows) removes the executable. And the
packer's own refusal of an archive that would make a Windows executable of
4 GiB or more, checked before a byte of the archive is read: a sparse file of
that size, which holds no ZIP archive at all, is enough."""

import argparse
import hashlib
import json
import os
import struct
import subprocess
import sys
import unittest
from pathlib import Path

from attached_copies import attached_region, copy_of
from launcher_harness import fresh_dir

ARGS = None
FOUR_GIB = 1 << 32


def checksum_field(pe):
    return int.from_bytes(pe[0x3C:0x40], "little") + 24 + 64


def stored_checksum(pe):
    at = checksum_field(pe)
    return int.from_bytes(pe[at:at + 4], "little")


def pe_checksum(pe):
    """The PE CheckSum as the format describes it, word by word: 16-bit
    words summed with the carry folded back in, the field itself left out,
    plus the file's length."""
    at = checksum_field(pe)
    data = pe[:at] + bytes(4) + pe[at + 4:] + bytes(len(pe) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(pe)) & 0xFFFFFFFF


def sparse(path, size):
    """A file of `size` bytes that takes no room on the disk."""
    with open(path, "wb") as out:
        out.truncate(size)
    return path


class AttachStep(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.archive = Path(ARGS.archive).read_bytes()
        cls.manifest = cls.write_manifest("packed.json", ARGS.archive)

    @classmethod
    def write_manifest(cls, name, archive, size=None, identity=None):
        """What the packer writes for the attach step, for `archive`."""
        data = Path(archive).read_bytes() if size is None else b""
        manifest = {"home": "file", "archive": str(archive),
                    "size": len(data) if size is None else size,
                    "identity": identity or hashlib.sha256(data).hexdigest(),
                    "format": ARGS.format}
        path = cls.scratch / name
        path.write_text(json.dumps(manifest))
        return path

    def attach(self, executable, manifest):
        return subprocess.run([sys.executable, ARGS.attacher, str(executable), "--manifest",
                               str(manifest)], capture_output=True, text=True)

    def assert_refused(self, result, executable, reason):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('attach_payload: error: cannot attach "', result.stderr)
        self.assertIn('" to "%s": %s' % (executable, reason), result.stderr)
        self.assertFalse(Path(executable).exists(), "a launcher without its archive was left")

    def test_the_record_points_at_the_archive_after_the_linked_program(self):
        offset, size = attached_region(ARGS.launcher)
        launcher = Path(ARGS.launcher).read_bytes()
        self.assertEqual(size, len(self.archive))
        self.assertEqual(launcher[offset:offset + size], self.archive)
        if ARGS.format == "pe":
            # Padded to 8 bytes, as a signature would pad it, and summed anew.
            tail = launcher[offset + size:]
            self.assertEqual((len(launcher) % 8, tail), (0, bytes(len(tail))))
            self.assertLess(len(tail), 8)
            self.assertEqual(stored_checksum(launcher), pe_checksum(launcher))
        else:
            self.assertEqual(offset + size, len(launcher))
        # Before the archive, the linker's output alone: the archive is not in it.
        self.assertEqual(launcher[:offset].find(self.archive[:4096]), -1)

    def test_the_linkers_output_attached_again_is_the_launcher_byte_for_byte(self):
        linked = copy_of(ARGS.launcher, self.scratch / "again" / Path(ARGS.launcher).name,
                         unpatched=True)
        self.assertEqual(attached_region(linked), (0, 0))
        result = self.attach(linked, self.manifest)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(linked.read_bytes(), Path(ARGS.launcher).read_bytes())

    def test_refusals_remove_the_executable(self):
        changed = self.scratch / "changed.zip"
        changed.write_bytes(self.archive[:-1] + b"?")
        cases = [
            ("attached already", dict(), self.manifest, "an archive was attached to it already"),
            ("archive changed since packed", dict(unpatched=True),
             self.write_manifest("stale.json", changed, len(self.archive), "0" * 64),
             "the archive changed after it was packed: build again"),
        ]
        for label, change, manifest, reason in cases:
            with self.subTest(label):
                executable = copy_of(ARGS.launcher, self.scratch / label / "launcher", **change)
                self.assert_refused(self.attach(executable, manifest), executable, reason)
        plain = copy_of(ARGS.plain, self.scratch / "no record" / "program")
        self.assert_refused(self.attach(plain, self.manifest), plain,
                            'it has no section ".payload" for the archive\'s record')

    def test_windows_executables_of_4_gib_or_more_are_refused_when_attached(self):
        if ARGS.format != "pe":
            # ELF has no such limit, and proving it would take 4 GiB of disk.
            self.assertEqual(ARGS.format, "elf")
            return
        linked = copy_of(ARGS.launcher, self.scratch / "too big" / "launcher.exe", unpatched=True)
        linked_size = linked.stat().st_size
        for label, archive_size in (("one byte over", FOUR_GIB - linked_size),
                                    ("far over", FOUR_GIB + 12345)):
            with self.subTest(label):
                executable = copy_of(linked, self.scratch / label / "launcher.exe")
                archive = sparse(self.scratch / (label + ".zip"), archive_size)
                manifest = self.write_manifest(label + ".json", archive, archive_size, "0" * 64)
                self.assert_refused(
                    self.attach(executable, manifest), executable,
                    "the archive is {:,} bytes: with the launcher's own part ({:,} bytes) the "
                    "Windows executable would be {:,} bytes, and Windows runs no executable of "
                    "4,294,967,296 bytes (4 GiB) or more".format(
                        archive_size, linked_size, archive_size + linked_size))
                archive.unlink()
        # One byte less fits: the step goes on to copy, and finds the archive changed.
        executable = copy_of(linked, self.scratch / "just fits" / "launcher.exe")
        archive = sparse(self.scratch / "just fits.zip", 16)
        result = self.attach(executable, self.write_manifest("fits.json", archive, 16, "0" * 64))
        self.assert_refused(result, executable, "the archive changed after it was packed")


class PackerSizeLimit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(Path(ARGS.scratch) / "packer")

    def pack(self, archive, binary_format):
        outputs = [self.scratch / name for name in ("chunks.s", "table.cpp", "home.json")]
        result = subprocess.run(
            [sys.executable, ARGS.packer, str(archive), "--format", binary_format,
             "--asm", str(outputs[0]), "--table", str(outputs[1]), "--manifest", str(outputs[2])],
            capture_output=True, text=True, timeout=60)
        return result, outputs

    def test_an_archive_that_would_make_a_windows_executable_of_4_gib_is_refused_unread(self):
        cases = [("4 GiB", FOUR_GIB),
                 # The launcher's own part, estimated generously, tips this one over.
                 ("4 GiB less 1 MiB", FOUR_GIB - (1 << 20))]
        for label, size in cases:
            with self.subTest(label):
                archive = sparse(self.scratch / (label + ".zip"), size)
                try:
                    result, outputs = self.pack(archive, "pe")
                finally:
                    archive.unlink()
                self.assertEqual(result.returncode, 1)
                self.assertRegex(
                    result.stderr,
                    r'^pack_payload: error: cannot pack "%s": the archive is %s bytes: with the '
                    r"launcher's own part \(about [0-9,]+ bytes at most\) the Windows executable "
                    r"would be [0-9,]+ bytes, and Windows runs no executable of 4,294,967,296 "
                    r"bytes \(4 GiB\) or more\n$" % (archive, "{:,}".format(size)))
                self.assertEqual([path for path in outputs if path.exists()], [])

    def test_linux_has_no_such_limit(self):
        archive = sparse(self.scratch / "linux.zip", FOUR_GIB)
        try:
            result, _ = self.pack(archive, "elf")
        finally:
            archive.unlink()
        # Read as an archive, and found to be none.
        self.assertEqual(result.returncode, 1)
        self.assertIn("not a ZIP archive", result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True, help="a launcher whose archive is attached")
    parser.add_argument("--archive", required=True, help="the archive it carries")
    parser.add_argument("--plain", required=True, help="a program of the same format, no record")
    parser.add_argument("--format", required=True, choices=["pe", "elf"])
    parser.add_argument("--packer", required=True)
    parser.add_argument("--attacher", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
