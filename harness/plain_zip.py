"""A ZIP writer for archives of gigabytes that carries no ZIP64 field: every
size and offset below 4 GiB sits in the headers' own 32-bit fields, where
minizip reads it on every platform. (Python's zipfile moves sizes of 2 GiB
and more into ZIP64 extra fields, which minizip does not read on 64-bit
Linux.) Entries are streamed from pieces, so nothing is held whole."""

import struct
import zlib

LIMIT = 0xFFFFFFFF  # all ones means "see the ZIP64 field": never written
STORED, DEFLATED = 0, 8
# 1980-01-01 00:00, the earliest time a ZIP header holds: archives come out
# byte for byte the same from the same input.
DOS_TIME, DOS_DATE = 0, (0 << 9) | (1 << 5) | 1


class PlainZip:
    def __init__(self, path):
        self.out = open(path, "wb")
        self.central = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if exc[0] is None:
            self.close()
        else:
            self.out.close()

    def add(self, name, pieces=(), deflate=True, level=6):
        """An entry of the bytes `pieces` yields (none for a directory, whose
        name ends in "/")."""
        raw = name.encode()
        method = DEFLATED if deflate and not name.endswith("/") else STORED
        offset = self.out.tell()
        if offset >= LIMIT:
            raise ValueError("%s: the archive reaches 4 GiB: it would need ZIP64" % name)
        header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, DOS_TIME, DOS_DATE,
                             0, 0, 0, len(raw), 0)
        self.out.write(header + raw)
        crc, size, written = 0, 0, 0
        compressor = zlib.compressobj(level, zlib.DEFLATED, -15) if method == DEFLATED else None
        for piece in pieces:
            crc = zlib.crc32(piece, crc)
            size += len(piece)
            data = compressor.compress(piece) if compressor else piece
            self.out.write(data)
            written += len(data)
        if compressor:
            tail = compressor.flush()
            self.out.write(tail)
            written += len(tail)
        if size >= LIMIT or written >= LIMIT:
            raise ValueError("%s: %d bytes: an entry of 4 GiB would need ZIP64" % (name, size))
        end = self.out.tell()
        self.out.seek(offset + 14)
        self.out.write(struct.pack("<III", crc, written, size))
        self.out.seek(end)
        self.central.append(struct.pack(
            "<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, DOS_TIME, DOS_DATE, crc,
            written, size, len(raw), 0, 0, 0, 0, 0, offset) + raw)

    def close(self):
        start = self.out.tell()
        for record in self.central:
            self.out.write(record)
        size = self.out.tell() - start
        if start + size >= LIMIT or len(self.central) >= 0xFFFF:
            raise ValueError("the central directory would need ZIP64")
        self.out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(self.central),
                                   len(self.central), size, start, 0))
        self.out.close()


def zeros(size, piece=16 << 20):
    """`size` zero bytes in pieces."""
    block = bytes(min(piece, size))
    while size > 0:
        yield block if size >= len(block) else block[:size]
        size -= len(block)
