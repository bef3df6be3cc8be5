"""The game's ZIP archive made from its folder, the same bytes from the same
folder on any machine (scripts/pack):

- every folder gets an entry of its own, listed before its contents, empty
  folders included; names are sorted element by element, byte by byte, and
  nothing is added that is not in the folder;
- every entry carries one fixed time (SOURCE_DATE_EPOCH when set, else
  1 January 1980, the earliest a ZIP time can say) and a mode that keeps only
  whether the file is executable;
- files are deflated, or stored where deflating does not make them smaller;
- names beyond ASCII are UTF-8 and say so (general purpose flag bit 11);
- ZIP64 fields are written only where a size, an offset or the number of
  entries needs them: Debian's minizip on 64-bit Linux cannot read ZIP64
  fields in the central directory, and Python's zipfile writes them for any
  entry over 2 GiB - 1, so the archive is written here rather than by zipfile.
"""

import calendar
import os
import struct
import time
import zlib

LOCAL_SIG = 0x04034B50
CENTRAL_SIG = 0x02014B50
END_SIG = 0x06054B50
ZIP64_END_SIG = 0x06064B50
ZIP64_LOCATOR_SIG = 0x07064B50
STORED, DEFLATED = 0, 8
UTF8_FLAG = 0x0800
MADE_BY_UNIX = 3 << 8
VERSION_DEFAULT, VERSION_ZIP64 = 20, 45
LIMIT_32, LIMIT_16 = 0xFFFFFFFF, 0xFFFF
BLOCK = 1 << 20
DOS_EPOCH = calendar.timegm((1980, 1, 1, 0, 0, 0))
DOS_END = calendar.timegm((2107, 12, 31, 23, 59, 58))


class FolderEntry:
    """One entry to write: its name (bytes, "/" separated, folders ending in
    "/"), the file it comes from (None for a folder) and its size."""

    def __init__(self, name, path, size, executable=False):
        self.name = name
        self.path = path
        self.size = size
        self.executable = executable

    @property
    def is_directory(self):
        return self.path is None


def sort_key(name):
    """Element by element: a folder right before its contents."""
    return name.rstrip(b"/").split(b"/")


def fixed_time():
    """(DOS time, DOS date) of SOURCE_DATE_EPOCH, or of 1 January 1980; a
    DOS date holds the years 1980 to 2107 only."""
    seconds = int(os.environ.get("SOURCE_DATE_EPOCH", DOS_EPOCH))
    moment = time.gmtime(min(max(seconds, DOS_EPOCH), DOS_END))
    dos_time = moment.tm_hour << 11 | moment.tm_min << 5 | moment.tm_sec // 2
    dos_date = (moment.tm_year - 1980) << 9 | moment.tm_mon << 5 | moment.tm_mday
    return dos_time, dos_date


class Written:
    """What the central directory needs of a written entry."""

    def __init__(self, entry, offset, method, crc, compressed, flags, mode):
        self.entry = entry
        self.offset = offset
        self.method = method
        self.crc = crc
        self.compressed = compressed
        self.flags = flags
        self.mode = mode


def local_header(name, flags, method, dos, crc, compressed, size, zip64):
    extra = b""
    if zip64:
        extra = struct.pack("<HHQQ", 1, 16, size, compressed)
        compressed = size = LIMIT_32
    return struct.pack("<IHHHHHIIIHH", LOCAL_SIG, VERSION_ZIP64 if zip64 else VERSION_DEFAULT,
                       flags, method, dos[0], dos[1], crc, compressed, size, len(name),
                       len(extra)) + name + extra


def copy_data(out, path, compress):
    """Writes the file's bytes, deflated or not; returns (CRC, bytes written)."""
    crc, written = 0, 0
    deflater = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -15) if compress else None
    with open(path, "rb") as source:
        while True:
            block = source.read(BLOCK)
            if not block:
                break
            crc = zlib.crc32(block, crc)
            data = deflater.compress(block) if compress else block
            out.write(data)
            written += len(data)
    if compress:
        data = deflater.flush()
        out.write(data)
        written += len(data)
    return crc, written


def write_entry(out, entry, dos):
    offset = out.tell()
    flags = 0 if all(b < 0x80 for b in entry.name) else UTF8_FLAG
    if entry.is_directory:
        mode = 0o40755 << 16 | 0x10  # and the MS-DOS directory attribute
        out.write(local_header(entry.name, flags, STORED, dos, 0, 0, 0, False))
        return Written(entry, offset, STORED, 0, 0, flags, mode)
    mode = (0o100755 if entry.executable else 0o100644) << 16
    zip64 = entry.size >= LIMIT_32
    header = local_header(entry.name, flags, DEFLATED, dos, 0, 0, entry.size, zip64)
    out.write(header)
    data_at = out.tell()
    method = DEFLATED
    crc, compressed = copy_data(out, entry.path, compress=entry.size > 0)
    if entry.size == 0 or compressed >= entry.size:
        # Deflating did not help: store the bytes as they are.
        method = STORED
        out.seek(data_at)
        out.truncate()
        crc, compressed = copy_data(out, entry.path, compress=False)
    if compressed != entry.size and method == STORED or os.path.getsize(entry.path) != entry.size:
        raise OSError("the file changed while it was being packed: %s" % entry.path)
    end = out.tell()
    out.seek(offset)
    out.write(local_header(entry.name, flags, method, dos, crc, compressed, entry.size, zip64))
    out.seek(end)
    return Written(entry, offset, method, crc, compressed, flags, mode)


def central_header(written, dos):
    entry = written.entry
    size = 0 if entry.is_directory else entry.size
    wide = []  # in the order the format gives: size, compressed size, offset
    fields = [size, written.compressed, written.offset]
    for index, value in enumerate(fields):
        if value >= LIMIT_32:
            wide.append(value)
            fields[index] = LIMIT_32
    extra = struct.pack("<HH%dQ" % len(wide), 1, 8 * len(wide), *wide) if wide else b""
    version = VERSION_ZIP64 if wide else VERSION_DEFAULT
    return struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL_SIG, MADE_BY_UNIX | version, version,
                       written.flags, written.method, dos[0], dos[1], written.crc, fields[1],
                       fields[0], len(entry.name), len(extra), 0, 0, 0, written.mode,
                       fields[2]) + entry.name + extra


def write_archive(path, entries):
    """Writes `entries` (FolderEntry, any order) to the archive at `path`."""
    dos = fixed_time()
    ordered = sorted(entries, key=lambda entry: sort_key(entry.name))
    partial = str(path) + ".part"
    with open(partial, "wb") as out:
        written = [write_entry(out, entry, dos) for entry in ordered]
        directory_at = out.tell()
        for item in written:
            out.write(central_header(item, dos))
        directory_size = out.tell() - directory_at
        count = len(written)
        if count >= LIMIT_16 or directory_at >= LIMIT_32 or directory_size >= LIMIT_32:
            record_at = out.tell()
            out.write(struct.pack("<IQHHIIQQQQ", ZIP64_END_SIG, 44, MADE_BY_UNIX | VERSION_ZIP64,
                                  VERSION_ZIP64, 0, 0, count, count, directory_size,
                                  directory_at))
            out.write(struct.pack("<IIQI", ZIP64_LOCATOR_SIG, 0, record_at, 1))
            count = min(count, LIMIT_16)
            directory_size = min(directory_size, LIMIT_32)
            directory_at = min(directory_at, LIMIT_32)
        out.write(struct.pack("<IHHHHIIH", END_SIG, 0, 0, count, count, directory_size,
                              directory_at, 0))
    os.replace(partial, path)
