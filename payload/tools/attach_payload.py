#!/usr/bin/env python3
"""Attaches the game's archive to a linked launcher, on the file home.

    attach_payload.py EXECUTABLE --manifest OUT.json

OUT.json is what pack_payload.py wrote for the launcher's archive. On the
image home the archive is already in the executable and nothing is done. On
the file home the archive is appended to the executable's file, after
everything the loader maps (a PE's overlay, the bytes after an ELF's last
section), and its offset and size are written into the launcher's record
(payload/contents.hpp: attached_archive_record). The record is found through
the executable's own section table, by the section's name (".payload") and
the record's magic, never by a distance from the end of the file: a
signature appended later (the certificate table of an Authenticode
signature) leaves both where they are. A PE file is then padded to 8 bytes
and its header's CheckSum counted anew, as a signing tool leaves them, so
that removing a signature gives back the launcher's very bytes.

Refused, with the executable removed so that no half-made launcher is left
to run: an executable without the record or with one already written, an
archive that is not the one packed (its size or SHA-256 differ), and for
Windows an executable that would be 4 GiB or more.
"""

import argparse
import hashlib
import json
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pack_payload import (ATTACHED_MAGIC, ATTACHED_SECTION, CHUNK_SIZE,  # noqa: E402
                          RECORD_LAYOUT, windows_size_problem)

RECORD_SIZE = struct.calcsize(RECORD_LAYOUT)
COPY_PIECE = 4 * CHUNK_SIZE
SHT_NOBITS = 8


class AttachError(Exception):
    pass


def read_at(source, at, length):
    source.seek(at)
    data = source.read(length)
    if len(data) != length:
        raise AttachError("its headers run past the end of the file")
    return data


def elf_sections(source):
    """(name, file offset, size, has bytes in the file) of each section of an
    ELF64 little-endian file."""
    ident = read_at(source, 0, 16)
    if ident[4] != 2 or ident[5] != 1:
        raise AttachError("it is not a 64-bit little-endian ELF file")
    shoff, = struct.unpack("<Q", read_at(source, 0x28, 8))
    shentsize, shnum, shstrndx = struct.unpack("<HHH", read_at(source, 0x3A, 6))
    if shoff == 0 or shnum == 0 or shstrndx >= shnum:
        raise AttachError("it has no section table")
    headers = []
    for index in range(shnum):
        name, kind, _, _, offset, size = struct.unpack(
            "<IIQQQQ", read_at(source, shoff + index * shentsize, 40))
        headers.append((name, kind, offset, size))
    _, _, strings_at, strings_size = headers[shstrndx]
    strings = read_at(source, strings_at, strings_size)
    sections = []
    for name, kind, offset, size in headers:
        end = strings.find(b"\0", name)
        sections.append((strings[name:end if end >= 0 else None], offset, size,
                         kind != SHT_NOBITS))
    return sections


def pe_sections(source):
    """The same for a PE file; a section's name is its 8 bytes in the table."""
    lfanew, = struct.unpack("<I", read_at(source, 0x3C, 4))
    if read_at(source, lfanew, 4) != b"PE\0\0":
        raise AttachError("it has no PE header")
    count, = struct.unpack("<H", read_at(source, lfanew + 6, 2))
    optional_size, = struct.unpack("<H", read_at(source, lfanew + 20, 2))
    table = lfanew + 24 + optional_size
    sections = []
    for index in range(count):
        name, virtual_size, _, raw_size, raw_at = struct.unpack(
            "<8sIIII", read_at(source, table + 40 * index, 24))
        sections.append((name.rstrip(b"\0"), raw_at, min(raw_size, virtual_size), raw_size > 0))
    return sections


def find_record(path, binary_format=None):
    """The file offset of the launcher's record, and the record as it stands
    (magic, offset, size)."""
    with open(path, "rb") as source:
        start = read_at(source, 0, 4)
        found = "elf" if start == b"\x7fELF" else "pe" if start[:2] == b"MZ" else None
        if found is None:
            raise AttachError("it is neither an ELF nor a PE executable")
        if binary_format and found != binary_format:
            raise AttachError("it is an %s file, not the %s the archive was packed for"
                              % (found.upper(), binary_format.upper()))
        sections = elf_sections(source) if found == "elf" else pe_sections(source)
        matches = [s for s in sections if s[0] == ATTACHED_SECTION.encode()]
        if not matches:
            raise AttachError('it has no section "%s" for the archive\'s record' % ATTACHED_SECTION)
        if len(matches) > 1:
            raise AttachError('it has %d sections named "%s"' % (len(matches), ATTACHED_SECTION))
        _, at, size, in_file = matches[0]
        if not in_file or size < RECORD_SIZE:
            raise AttachError('its section "%s" holds no record' % ATTACHED_SECTION)
        record = struct.unpack(RECORD_LAYOUT, read_at(source, at, RECORD_SIZE))
    if record[0] != ATTACHED_MAGIC:
        raise AttachError('its section "%s" does not begin with the record\'s magic'
                          % ATTACHED_SECTION)
    return at, record


# Authenticode pads a file to 8 bytes before it appends the certificate table;
# a launcher padded already gives its very bytes back when a signature is removed.
SIGNATURE_ALIGNMENT = 8


class PeChecksum:
    """The PE header's CheckSum over a file read piece by piece: its 16-bit
    words summed with end-around carry, plus the file's length. The sum with
    carry is the file's bytes, read as one little-endian number, modulo
    0xFFFF (2^16 leaves 1), so each piece adds its own value, shifted by a
    byte where it starts at an odd offset."""

    def __init__(self):
        self.total = 0
        self.length = 0

    def add(self, piece):
        value = int.from_bytes(piece, "little") % 0xFFFF
        self.total = (self.total + (value * 256 if self.length % 2 else value)) % 0xFFFF
        self.length += len(piece)

    def value(self):
        folded = self.total or 0xFFFF  # a non-zero sum folds to 1..0xFFFF
        return (folded + self.length) & 0xFFFFFFFF


def pe_checksum_field(source):
    """Where the optional header keeps CheckSum."""
    lfanew, = struct.unpack("<I", read_at(source, 0x3C, 4))
    return lfanew + 24 + 64


def write_record(path, at, offset, size):
    with open(path, "r+b") as target:
        target.seek(at)
        target.write(struct.pack(RECORD_LAYOUT, ATTACHED_MAGIC, offset, size))


def attach(executable, manifest):
    if manifest["home"] != "file":
        return
    record_at, (_, offset, size) = find_record(executable, manifest["format"])
    if offset or size:
        raise AttachError("an archive was attached to it already (at byte %d)" % offset)
    launcher_size = os.path.getsize(executable)
    archive_size = manifest["size"]
    if manifest["format"] == "pe":
        problem = windows_size_problem(archive_size, launcher_size, exact=True)
        if problem:
            raise AttachError(problem)
    pe = manifest["format"] == "pe"
    checksum = PeChecksum()
    digest = hashlib.sha256()
    copied = 0
    with open(manifest["archive"], "rb") as source, open(executable, "r+b") as target:
        if pe:
            # The linker's sum is stale once the file grows: count it anew, with
            # the record as it will be and the old sum left out.
            checksum_at = pe_checksum_field(target)
            image = bytearray(read_at(target, 0, launcher_size))
            image[checksum_at:checksum_at + 4] = bytes(4)
            image[record_at:record_at + RECORD_SIZE] = struct.pack(
                RECORD_LAYOUT, ATTACHED_MAGIC, launcher_size, archive_size)
            checksum.add(image)
        target.seek(launcher_size)
        for piece in iter(lambda: source.read(COPY_PIECE), b""):
            digest.update(piece)
            target.write(piece)
            if pe:
                checksum.add(piece)
            copied += len(piece)
        if copied != archive_size or digest.hexdigest() != manifest["identity"]:
            raise AttachError("the archive changed after it was packed: build again")
        if pe:
            padding = bytes(-(launcher_size + copied) % SIGNATURE_ALIGNMENT)
            target.write(padding)
            checksum.add(padding)
            target.seek(checksum_at)
            target.write(struct.pack("<I", checksum.value()))
    write_record(executable, record_at, launcher_size, archive_size)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("executable")
    parser.add_argument("--manifest", required=True, help="pack_payload.py's OUT.json")
    args = parser.parse_args(argv)
    with open(args.manifest, encoding="utf-8") as source:
        manifest = json.load(source)
    try:
        attach(args.executable, manifest)
    except (AttachError, OSError) as error:
        # The linker's output without its archive must not pass for a launcher.
        if os.path.exists(args.executable):
            os.remove(args.executable)
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        sys.stderr.write('attach_payload: error: cannot attach "%s" to "%s": %s\n'
                         % (manifest["archive"], args.executable, reason))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
