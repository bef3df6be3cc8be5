#!/usr/bin/env python3
"""Checks a game's ZIP archive and turns it into the launcher's chunk table.

    pack_payload.py ARCHIVE --format {elf,pe} --asm OUT.s --table OUT.cpp [--game-exe NAME]
    pack_payload.py ARCHIVE --check [--game-exe NAME]

The archive is checked first, against what the launcher's unpacking relies
on; any problem ends the build with a message naming the archive and, where
there is one, the entry. Then two files are written:

  OUT.s    one constant byte array per 1,048,576 bytes of the archive (the
           last one shorter) in read-only data, each taken straight from the
           archive with .incbin and followed by one zero byte that is not
           counted;
  OUT.cpp  `payload_chunks` and `payload_chunk_count` (payload/chunks.hpp):
           each chunk's constant pointer and length, constant-initialised;
           and `embedded_payload_contents` (payload/contents.hpp): the
           archive's identity (its SHA-256), size, every entry's name and
           unpacked size in central-directory order, and their total.

The archive itself is never rewritten: the chunks are the archive, byte for
byte. ZIP64 records are read (their 64-bit sizes and offsets are checked like
the others) and an archive comment is allowed; both pass through untouched,
since the launcher's reader handles them.
"""

import argparse
import hashlib
import mmap
import os
import re
import struct
import sys

CHUNK_SIZE = 1 << 20
NAME_LIMIT = 512  # the launcher reads names into a buffer of this many bytes

LOCAL_SIG = b"PK\x03\x04"
CENTRAL_SIG = b"PK\x01\x02"
END_SIG = b"PK\x05\x06"
ZIP64_END_SIG = b"PK\x06\x06"
ZIP64_LOCATOR_SIG = b"PK\x06\x07"
ZIP64_EXTRA_ID = 0x0001
END_SIZE = 22
MAX_COMMENT = 0xFFFF
STORED, DEFLATED = 0, 8
ENCRYPTED_FLAG = 0x0001


# Names the launcher itself keeps in the data directory (payload/install.cpp
# and payload/extract.cpp form the same): an entry of one of these names would
# be overwritten by the launcher, or overwrite what it keeps there.
STAMP_NAME = ".launcher-stamp"
STAMP_TEMP_SUFFIX = ".writing"
UNFINISHED_EXE_SUFFIX = ".unpacking"


class PackError(Exception):
    pass


def launcher_names(game_exe):
    """The entry names the launcher keeps for itself, given the game's
    executable relative to the data directory (LAUNCHER_GAME_EXE)."""
    names = [STAMP_NAME, STAMP_NAME + STAMP_TEMP_SUFFIX]
    if game_exe:
        exe = game_exe[2:] if game_exe.startswith("./") else game_exe
        names.append(exe + UNFINISHED_EXE_SUFFIX)
    return [name.encode("utf-8", "surrogateescape") for name in names]


def entry_key(name):
    """What an entry names on disk: "." and empty elements do not count."""
    return b"/".join(element for element in name.split(b"/") if element not in (b"", b"."))


def show_name(name):
    """An entry name for a message: printable ASCII as is, other bytes as \\xNN."""
    text = "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02x" % b for b in name[:120])
    return text + ("..." if len(name) > 120 else "")


def name_problem(name):
    """Why the launcher must not unpack an entry of this name, or None."""
    if not name:
        return "its name is empty"
    if len(name) >= NAME_LIMIT:
        return "its name is %d bytes long (at most %d)" % (len(name), NAME_LIMIT - 1)
    if name.startswith(b"/"):
        return "its name is absolute"
    elements = name.split(b"/")
    if any(re.match(rb"[A-Za-z]:", element) for element in elements):
        return "its name holds a drive letter"
    if b"\\" in name:
        return "its name holds a backslash"
    if b".." in elements:
        return 'its name holds a ".." element'
    if b"\0" in name:
        return "its name holds a NUL byte"
    return None


class Archive:
    def __init__(self, data, size):
        self.data = data
        self.size = size

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def u64(self, at):
        return struct.unpack_from("<Q", self.data, at)[0]

    def has(self, at, signature):
        return 0 <= at and at + len(signature) <= self.size and \
            self.data[at:at + len(signature)] == signature

    def find_end_record(self):
        """The end-of-central-directory record that closes the file exactly
        (its comment running to the last byte)."""
        lowest = max(0, self.size - END_SIZE - MAX_COMMENT)
        at = self.data.rfind(END_SIG, lowest, self.size - END_SIZE + len(END_SIG))
        while at >= 0:
            if at + END_SIZE + self.u16(at + 20) == self.size:
                return at
            at = self.data.rfind(END_SIG, lowest, at + len(END_SIG) - 1)
        raise PackError("not a ZIP archive: no end-of-central-directory record at its end")

    def directory(self):
        """(entry count, central directory offset, where the directory must end)."""
        end = self.find_end_record()
        disk, directory_disk, disk_entries, entries, size, offset = \
            struct.unpack_from("<HHHHII", self.data, end + 4)
        directory_end = end
        locator = end - 20
        if self.has(locator, ZIP64_LOCATOR_SIG):
            record = self.u64(locator + 8)
            if not self.has(record, ZIP64_END_SIG) or record + 12 + self.u64(record + 4) != locator:
                raise PackError("the ZIP64 end record is not where its locator points "
                                "(offsets must count from the archive's first byte)")
            disk, directory_disk = struct.unpack_from("<II", self.data, record + 16)
            disk_entries, entries, size, offset = struct.unpack_from("<QQQQ", self.data, record + 24)
            directory_end = record
        elif 0xFFFF in (disk_entries, entries) or 0xFFFFFFFF in (size, offset):
            raise PackError("the end record refers to a ZIP64 end record that is missing")
        if disk != 0 or directory_disk != 0 or disk_entries != entries:
            raise PackError("the archive spans several disks")
        if offset + size != directory_end:
            raise PackError("the central directory (offset %d, %d bytes) does not end at the end "
                            "record (offset %d): offsets must count from the archive's first byte"
                            % (offset, size, directory_end))
        if entries and not self.has(offset, CENTRAL_SIG):
            raise PackError("no central directory at offset %d: offsets must count from the "
                            "archive's first byte" % offset)
        return entries, offset, directory_end

    def check(self, reserved=()):
        """Checks the whole archive; returns its entries in central-directory
        order, each as (name, unpacked size)."""
        reserved_keys = {entry_key(name) for name in reserved}
        listed = []
        entries, directory, directory_end = self.directory()
        if entries and not self.has(0, LOCAL_SIG):
            raise PackError("data before the first local header: the archive must begin with "
                            "a local file header at byte 0")
        at = directory
        offsets = []
        for index in range(entries):
            if at + 46 > directory_end or not self.has(at, CENTRAL_SIG):
                raise PackError("central directory entry #%d: no central directory header at "
                                "offset %d" % (index + 1, at))
            flags, method = struct.unpack_from("<HH", self.data, at + 8)
            compressed, uncompressed = struct.unpack_from("<II", self.data, at + 20)
            name_length, extra_length, comment_length, disk = \
                struct.unpack_from("<HHHH", self.data, at + 28)
            local = self.u32(at + 42)
            name = bytes(self.data[at + 46:at + 46 + name_length])
            extra_at = at + 46 + name_length
            following = extra_at + extra_length + comment_length
            label = 'entry #%d "%s"' % (index + 1, show_name(name))
            if following > directory_end:
                raise PackError("%s: its central directory header runs past the directory" % label)

            def fail(problem):
                raise PackError("%s: %s" % (label, problem))

            # ZIP64: each field that holds all ones is in the extra field, in this order.
            wide = self.zip64_extra(extra_at, extra_length)
            fields = [uncompressed == 0xFFFFFFFF, compressed == 0xFFFFFFFF,
                      local == 0xFFFFFFFF, disk == 0xFFFF]
            needed = 8 * sum(fields[:3]) + 4 * fields[3]
            if needed:
                if wide is None or len(wide) < needed:
                    fail("its ZIP64 extra field is missing or too short")
                values = iter(struct.unpack_from("<%dQ" % sum(fields[:3]), wide))
                if fields[0]:
                    uncompressed = next(values)
                if fields[1]:
                    compressed = next(values)
                if fields[2]:
                    local = next(values)
                if fields[3]:
                    disk = struct.unpack_from("<I", wide, 8 * sum(fields[:3]))[0]

            problem = name_problem(name)
            if problem:
                fail(problem)
            if entry_key(name) in reserved_keys:
                fail("the launcher keeps a file of this name in the data directory for itself")
            if flags & ENCRYPTED_FLAG:
                fail("it is encrypted")
            if method not in (STORED, DEFLATED):
                fail("its compression method is %d (only 0, stored, and 8, deflate, can be "
                     "unpacked)" % method)
            if disk != 0:
                fail("it starts on another disk")
            if not self.has(local, LOCAL_SIG) or local + 30 > directory:
                fail("its local header offset %d does not point at a local file header "
                     "(offsets must count from the archive's first byte)" % local)
            local_flags, local_method = struct.unpack_from("<HH", self.data, local + 6)
            local_name_length, local_extra_length = struct.unpack_from("<HH", self.data, local + 26)
            local_name = bytes(self.data[local + 30:local + 30 + local_name_length])
            if local_name != name:
                fail('its local header names it "%s"' % show_name(local_name))
            if local_flags & ENCRYPTED_FLAG:
                fail("it is encrypted")
            if local_method != method:
                fail("its local header gives compression method %d, the central directory %d"
                     % (local_method, method))
            if local + 30 + local_name_length + local_extra_length + compressed > directory:
                fail("its data runs past the start of the central directory")
            offsets.append(local)
            listed.append((name, uncompressed))
            at = following
        if at != directory_end:
            raise PackError("the central directory holds more than the %d entries its end "
                            "record counts" % entries)
        if entries and min(offsets) != 0:
            raise PackError("no entry starts at the local header at byte 0")
        return listed

    def zip64_extra(self, at, length):
        end = at + length
        while at + 4 <= end:
            tag, size = struct.unpack_from("<HH", self.data, at)
            if tag == ZIP64_EXTRA_ID:
                return bytes(self.data[at + 4:min(at + 4 + size, end)])
            at += 4 + size
        return None


def chunk_lengths(size):
    return [min(CHUNK_SIZE, size - start) for start in range(0, size, CHUNK_SIZE)]


def assembler_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def comment_text(text):
    return "".join(c if c.isprintable() else "?" for c in text)


def assembly(archive, size, binary_format):
    lines = ["# Generated from %s (%d bytes) by pack_payload.py: the archive in chunks."
             % (comment_text(archive), size)]
    if binary_format == "pe":
        lines.append('\t.section .rdata,"dr"')
    else:
        lines.append('\t.section .rodata,"a",@progbits')
    start = 0
    for index, length in enumerate(chunk_lengths(size)):
        symbol = "payload_chunk_%d" % index
        lines += ["", "\t.globl %s" % symbol, "\t.p2align 4"]
        if binary_format == "elf":
            lines += ["\t.type %s, @object" % symbol, "\t.size %s, %d" % (symbol, length + 1)]
        lines += ["%s:" % symbol,
                  "\t.incbin %s, %d, %d" % (assembler_string(archive), start, length),
                  "\t.byte 0  # not counted: ends the chunk"]
        start += length
    if binary_format == "elf":
        lines += ["", '\t.section .note.GNU-stack,"",@progbits']
    return "\n".join(lines) + "\n"


def c_string(name):
    """A C++ string literal of the entry name's bytes, octal escapes for all
    but plain printable ASCII, so that no byte is read as another."""
    return '"%s"' % "".join(chr(b) if 0x20 <= b < 0x7F and b not in b'"\\?' else "\\%03o" % b
                            for b in name)


def table(archive, size, identity, entries):
    lengths = chunk_lengths(size)
    symbols = ["payload_chunk_%d" % index for index in range(len(lengths))]
    lines = ["// Generated from %s (%d bytes) by pack_payload.py: the chunk table."
             % (comment_text(archive), size),
             '#include "payload/chunks.hpp"', '#include "payload/contents.hpp"', ""]
    lines += ['extern "C" const unsigned char %s[];' % symbol for symbol in symbols]
    lines += ["", "namespace {", "// Each chunk's constant pointer to its first byte."]
    lines += ["constexpr const unsigned char* %s_address = %s;" % (symbol, symbol)
              for symbol in symbols]
    lines += ["}  // namespace", "", "const payload_chunk payload_chunks[] = {"]
    lines += ["    {%s_address, %du}," % (symbol, length) for symbol, length in zip(symbols, lengths)]
    lines += ["};", "const std::size_t payload_chunk_count = %d;" % len(lengths)]
    lines += ["", "namespace {", "const payload_entry entries[] = {"]
    lines += ["    {%s, %du}," % (c_string(name), unpacked) for name, unpacked in entries]
    if not entries:
        lines.append("    {nullptr, 0u},  // no entries: an array may not be empty")
    lines += ["};", "}  // namespace", "",
              "const payload_contents embedded_payload_contents = {",
              '    "%s",' % identity,
              "    %du," % size,
              "    %du," % sum(unpacked for _, unpacked in entries),
              "    entries,",
              "    %d," % len(entries),
              "};"]
    return "\n".join(lines) + "\n"


def check_file(archive, reserved=()):
    """Checks the archive at `archive`; returns its size, its identity (the
    SHA-256 of its bytes, in hex) and its entries."""
    try:
        with open(archive, "rb") as source:
            size = os.fstat(source.fileno()).st_size
            if size < END_SIZE:
                raise PackError("not a ZIP archive: no end-of-central-directory record at its end")
            with mmap.mmap(source.fileno(), 0, access=mmap.ACCESS_READ) as data:
                entries = Archive(data, size).check(reserved)
                identity = hashlib.sha256(data).hexdigest()
    except OSError as error:
        raise PackError(error.strerror or str(error))
    except struct.error:
        raise PackError("a record runs past the end of the archive")
    return size, identity, entries


def write_text(path, text):
    # Always rewritten, even when equal: the archive changed, so the chunks must be assembled again.
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("archive")
    parser.add_argument("--check", action="store_true", help="only check the archive")
    parser.add_argument("--format", choices=["elf", "pe"])
    parser.add_argument("--asm")
    parser.add_argument("--table")
    parser.add_argument("--game-exe", default="",
                        help="the game's executable relative to the data directory")
    args = parser.parse_args(argv)
    if not args.check and not (args.format and args.asm and args.table):
        parser.error("--format, --asm and --table are needed unless --check is given")
    archive = os.path.abspath(args.archive)
    outputs = [] if args.check else [args.asm, args.table]
    try:
        size, identity, entries = check_file(archive, launcher_names(args.game_exe))
    except PackError as error:
        # No stale chunks of an earlier archive may be linked after a refusal.
        for path in outputs:
            if os.path.exists(path):
                os.remove(path)
        sys.stderr.write('pack_payload: error: cannot pack "%s": %s\n' % (archive, error))
        return 1
    for path in outputs:
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    if not args.check:
        write_text(args.asm, assembly(archive, size, args.format))
        write_text(args.table, table(archive, size, identity, entries))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
