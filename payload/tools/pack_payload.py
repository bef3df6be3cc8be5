#!/usr/bin/env python3
"""Checks a game's ZIP archive and turns it into the launcher's chunk table.

    pack_payload.py ARCHIVE --format {elf,pe} --asm OUT.s --table OUT.cpp
                    --manifest OUT.json [--limit BYTES] [OPTIONS]
    pack_payload.py ARCHIVE --check [OPTIONS]

    OPTIONS: --rules {windows,posix}  --app-name NAME  --game-exe NAME
             --start-map NAME  --require-game  --prove PROGRAM --scratch DIR

For a Windows executable (pe) the archive's size is checked before anything
else: Windows runs no executable of 4 GiB or more, so an archive that would
make one is refused (a generous estimate of the launcher's own part; the
attach step checks the exact size again). The archive is then checked
against what the launcher's unpacking relies on and what the target's file
system can hold (--rules; by default the format's: windows for pe); with
--require-game it must hold the game's executable and start-up map. With
--prove, PROGRAM (payload/tools/unpack_proof, the launcher's own extraction)
then unpacks it once in the scratch folder DIR, which is removed afterwards.
Any problem ends the build with a message naming the archive and, where
there is one, the entry. Only the records are read into memory (the end
records, the central directory, each local header); the archive's identity
is hashed in pieces, so a game of gigabytes packs in little memory.

The archive's home follows from its size: up to --limit bytes (default
268,435,456) it is the image, above it the file. Then three files are
written:

  OUT.s    on the image home, one constant byte array per 1,048,576 bytes of
           the archive (the last one shorter) in read-only data, each taken
           straight from the archive with .incbin and followed by one zero
           byte that is not counted; on the file home, nothing: the
           archive goes through neither the assembler nor the linker;
  OUT.cpp  `payload_chunks` and `payload_chunk_count` (payload/chunks.hpp):
           each chunk's constant pointer and length, constant-initialised
           (none on the file home); and `embedded_payload_contents`
           (payload/contents.hpp): the archive's identity (its SHA-256),
           size, every entry's name, unpacked size and CRC-32 in
           central-directory order, their total, and its home; on the file home also the
           record in the section ".payload" that the attach step fills in;
  OUT.json what the attach step (attach_payload.py) needs after linking: the
           home, the archive, its size and identity, the format.

The archive itself is never rewritten: the chunks, or the bytes attached
after the executable, are the archive, byte for byte. ZIP64 records are read
(their 64-bit sizes and offsets are checked like the others) and an archive
comment is allowed; both pass through untouched, since the launcher's reader
handles them. An entry whose sizes or offset only a ZIP64 extra field gives
is refused: minizip does not read those on 64-bit Linux.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys

CHUNK_SIZE = 1 << 20
NAME_LIMIT = 512  # the launcher reads names into a buffer of this many bytes
DEFAULT_LIMIT = 256 << 20  # LAUNCHER_MAPPED_PAYLOAD_LIMIT's default

# Windows runs no executable file of this size or more.
WINDOWS_FILE_LIMIT = 1 << 32
# The launcher's own part of a Windows executable, generously: its code and
# resources (1.3 MB stripped with a listing of 2,263 entries), and per entry
# of the compiled-in listing its name, its record and a relocation or two.
LAUNCHER_CODE_ESTIMATE = 8 << 20
LISTING_BYTES_PER_ENTRY = 64

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


def narrow(text):
    return text.encode("utf-8", "surrogateescape")


def executable_entry(game_exe):
    """The entry that becomes the game's executable (payload/extract.cpp:
    LAUNCHER_GAME_EXE without its leading "./")."""
    return narrow(game_exe[2:] if game_exe.startswith("./") else game_exe)


def launcher_names(game_exe):
    """The entry names the launcher keeps for itself, given the game's
    executable relative to the data directory (LAUNCHER_GAME_EXE)."""
    names = [narrow(STAMP_NAME), narrow(STAMP_NAME + STAMP_TEMP_SUFFIX)]
    if game_exe:
        names.append(executable_entry(game_exe) + narrow(UNFINISHED_EXE_SUFFIX))
    return names


class Target:
    """What the archive is packed for: the file system's rules ("windows" or
    "posix") and the launcher's compiled-in names."""

    def __init__(self, rules="posix", app_name="QuillMark", game_exe="", start_map="",
                 require_game=False, binary_format=None):
        self.rules = rules
        self.binary_format = binary_format  # "pe", "elf", or None for a check alone
        self.app_name = app_name
        self.game_exe = game_exe
        self.start_map = start_map
        self.require_game = require_game


# What Windows does not allow in a name (the launcher's target file system).
WINDOWS_FORBIDDEN = frozenset(b'<>:"|?*') | frozenset(range(1, 32))
WINDOWS_DEVICES = frozenset([b"con", b"prn", b"aux", b"nul"] +
                            [b"com%d" % n for n in range(1, 10)] +
                            [b"lpt%d" % n for n in range(1, 10)])
PATH_LIMIT = 260       # Windows' path limit, its terminating NUL included
FOLDER_ROOM = 100      # what a player's own folder should be left of it


def elements_of(name):
    """The elements that name a file: "." and empty ones do not count."""
    return [element for element in name.split(b"/") if element not in (b"", b".")]


def entry_key(name, rules="posix"):
    """What an entry names on disk. Windows ignores case and drops trailing
    dots and spaces (case here for ASCII letters: other bytes depend on the
    player's code page, and are compared as they are)."""
    elements = elements_of(name)
    if rules == "windows":
        elements = [element.rstrip(b". ").lower() for element in elements]
    return b"/".join(elements)


def windows_name_problem(name):
    """Why Windows cannot hold a file of this name, or None."""
    for element in elements_of(name):
        forbidden = [byte for byte in element if byte in WINDOWS_FORBIDDEN]
        if forbidden:
            byte = forbidden[0]
            shown = '"%c"' % byte if byte >= 0x20 else "the byte 0x%02x" % byte
            return "its name holds %s, which Windows forbids in names" % shown
        if element.split(b".")[0].rstrip(b" ").lower() in WINDOWS_DEVICES:
            return ('its name holds "%s", a device name Windows reserves (CON, PRN, AUX, NUL, '
                    "COM1 to COM9, LPT1 to LPT9, with or without an extension)"
                    % show_name(element))
        if element.endswith((b".", b" ")):
            return ('its name holds "%s", which ends in a dot or a space: Windows drops them'
                    % show_name(element))
    return None


def show_name(name, limit=120):
    """An entry name for a message: printable ASCII as is, other bytes as \\xNN."""
    text = "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02x" % b for b in name[:limit])
    return text + ("..." if len(name) > limit else "")


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
    """The archive's records, read from the file where they are: nothing but
    the end records, the central directory and the local headers is read."""

    def __init__(self, fd, size):
        self.fd = fd
        self.size = size
        self.held_at = 0
        self.held = b""  # the central directory, once found

    def read(self, at, length):
        if at < 0 or at + length > self.size:
            raise PackError("a record runs past the end of the archive")
        offset = at - self.held_at
        if 0 <= offset and offset + length <= len(self.held):
            return self.held[offset:offset + length]
        data = os.pread(self.fd, length, at)
        if len(data) != length:
            raise PackError("a record runs past the end of the archive")
        return data

    def hold(self, at, length):
        self.held, self.held_at = b"", 0
        self.held, self.held_at = self.read(at, length), at

    def unpack(self, layout, at):
        return struct.unpack(layout, self.read(at, struct.calcsize(layout)))

    def u16(self, at):
        return self.unpack("<H", at)[0]

    def u32(self, at):
        return self.unpack("<I", at)[0]

    def u64(self, at):
        return self.unpack("<Q", at)[0]

    def has(self, at, signature):
        return 0 <= at and at + len(signature) <= self.size and \
            self.read(at, len(signature)) == signature

    def find_end_record(self):
        """The end-of-central-directory record that closes the file exactly
        (its comment running to the last byte)."""
        lowest = max(0, self.size - END_SIZE - MAX_COMMENT)
        tail = self.read(lowest, self.size - lowest)
        at = tail.rfind(END_SIG, 0, len(tail) - END_SIZE + len(END_SIG))
        while at >= 0:
            if lowest + at + END_SIZE + struct.unpack_from("<H", tail, at + 20)[0] == self.size:
                return lowest + at
            at = tail.rfind(END_SIG, 0, at + len(END_SIG) - 1)
        raise PackError("not a ZIP archive: no end-of-central-directory record at its end")

    def directory(self):
        """(entry count, central directory offset, where the directory must end)."""
        end = self.find_end_record()
        disk, directory_disk, disk_entries, entries, size, offset = \
            self.unpack("<HHHHII", end + 4)
        directory_end = end
        locator = end - 20
        if self.has(locator, ZIP64_LOCATOR_SIG):
            record = self.u64(locator + 8)
            if not self.has(record, ZIP64_END_SIG) or record + 12 + self.u64(record + 4) != locator:
                raise PackError("the ZIP64 end record is not where its locator points "
                                "(offsets must count from the archive's first byte)")
            disk, directory_disk = self.unpack("<II", record + 16)
            disk_entries, entries, size, offset = self.unpack("<QQQQ", record + 24)
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

    def check(self):
        """Checks the whole archive's layout and each name on its own; returns
        its entries in central-directory order, each as (name, unpacked size,
        CRC-32)."""
        listed = []
        entries, directory, directory_end = self.directory()
        self.hold(directory, directory_end - directory)
        if entries and not self.has(0, LOCAL_SIG):
            raise PackError("data before the first local header: the archive must begin with "
                            "a local file header at byte 0")
        at = directory
        offsets = []
        for index in range(entries):
            if at + 46 > directory_end or not self.has(at, CENTRAL_SIG):
                raise PackError("central directory entry #%d: no central directory header at "
                                "offset %d" % (index + 1, at))
            flags, method = self.unpack("<HH", at + 8)
            crc, compressed, uncompressed = self.unpack("<III", at + 16)
            name_length, extra_length, comment_length, disk = self.unpack("<HHHH", at + 28)
            local = self.u32(at + 42)
            name = self.read(at + 46, min(name_length, max(0, directory_end - at - 46)))
            extra_at = at + 46 + name_length
            following = extra_at + extra_length + comment_length
            label = 'entry #%d "%s"' % (index + 1, show_name(name))
            if following > directory_end:
                raise PackError("%s: its central directory header runs past the directory" % label)
            narrow_fields = (uncompressed, compressed, local)

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
            # minizip reads these only where unsigned long has 32 bits: on
            # 64-bit Linux it keeps the all-ones of the header. Below 4 GiB
            # the header's own fields hold every size and offset.
            if narrow_fields != (uncompressed, compressed, local):
                fail("its sizes or offset are kept in a ZIP64 extra field (as Python's zipfile "
                     "writes them for entries of 2 GiB and more), which minizip does not read on "
                     "64-bit Linux, where the build proves the archive; an archive below 4 GiB "
                     "needs none: write it with Info-ZIP's zip, 7-Zip or bsdtar")

            problem = name_problem(name)
            if problem:
                fail(problem)
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
            local_flags, local_method = self.unpack("<HH", local + 6)
            local_name_length, local_extra_length = self.unpack("<HH", local + 26)
            local_name = self.read(local + 30, min(local_name_length, directory - local - 30))
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
            listed.append((name, uncompressed, crc))
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
            tag, size = self.unpack("<HH", at)
            if tag == ZIP64_EXTRA_ID:
                return self.read(at + 4, max(0, min(at + 4 + size, end) - at - 4))
            at += 4 + size
        return None


def label_of(index, name):
    return 'entry #%d "%s"' % (index + 1, show_name(name))


def check_names(entries, target, label=label_of):
    """Refuses what the target's file system cannot hold, or what would clash
    with the launcher's own names, in central-directory order. `label(index,
    name)` names an entry in a message (scripts/pack names the file instead)."""
    windows = target.rules == "windows"
    key = lambda name: entry_key(name, target.rules)
    # The launcher's own files; the executable, whose path must stay a file.
    kept = {key(name): name for name in launcher_names(target.game_exe)}
    exe_key = key(executable_entry(target.game_exe)) if target.game_exe else None
    files = {}        # key -> (index, name) of the file entry
    directories = {}  # key -> (index, name) of the first entry that makes it a directory
    same = " (Windows ignores case and trailing dots and spaces)" if windows else ""
    for index, (name, *_) in enumerate(entries):
        def fail(problem):
            raise PackError("%s: %s" % (label(index, name), problem))

        if windows:
            problem = windows_name_problem(name)
            if problem:
                fail(problem)
        elements = elements_of(name)
        folded = key(name).split(b"/") if elements else []
        is_directory = name.endswith(b"/")
        # Every directory the entry makes or needs, outermost first.
        needed = [(b"/".join(folded[:n]), b"/".join(elements[:n]))
                  for n in range(1, len(elements) + (1 if is_directory else 0))]
        if not elements and not is_directory:
            fail("it names the data directory itself, not a file in it")
        if key(name) in kept and not is_directory:
            fail("the launcher keeps a file of this name in the data directory for itself")
        for directory, shown in needed:
            if directory in kept:
                fail('it needs "%s" as a directory, but the launcher keeps a file of that name '
                     "in the data directory for itself" % show_name(shown))
            if directory == exe_key:
                fail('it would make the game\'s executable\'s path "%s" (LAUNCHER_GAME_EXE) a '
                     "directory" % show_name(shown))
            if directory in files:
                other, other_name = files[directory]
                fail('it needs "%s" as a directory, which %s makes a file'
                     % (show_name(shown), label(other, other_name)))
        if not is_directory:
            if key(name) in files:
                other, other_name = files[key(name)]
                fail("it names the same file as %s%s" % (label(other, other_name), same))
            if key(name) in directories:
                other, other_name = directories[key(name)]
                fail('it makes "%s" a file, which %s needs as a directory'
                     % (show_name(b"/".join(elements)), label(other, other_name)))
            files[key(name)] = (index, name)
        for directory, _ in needed:
            directories.setdefault(directory, (index, name))

    if target.require_game:
        for what, variable, path in (("executable", "LAUNCHER_GAME_EXE", target.game_exe),
                                     ("start-up map", "LAUNCHER_START_MAP", target.start_map)):
            if key(narrow(path)) not in files:
                raise PackError('the archive holds no entry for the game\'s %s "%s" (%s); an '
                                "archive that carries no game needs LAUNCHER_REQUIRE_GAME=OFF"
                                % (what, path, variable))


def longest_destination(entries, target):
    """The longest path the launcher writes below the player's folder, on
    Windows: (its length, the entry, the path)."""
    exe_key = entry_key(executable_entry(target.game_exe), target.rules) \
        if target.game_exe else None
    data_dir = narrow("!%s_data" % target.app_name)
    longest = (0, None, b"")
    for index, (name, *_) in enumerate(entries):
        elements = elements_of(name)
        if exe_key is not None and entry_key(name, target.rules) == exe_key:
            elements[-1] += narrow(UNFINISHED_EXE_SUFFIX)  # unpacked under this name first
        path = b"\\".join([data_dir] + elements)
        if len(path) > longest[0]:
            longest = (len(path), index, path)
    return longest


def path_length_warning(archive, entries, target):
    """A warning when the longest path leaves the player's folder less than
    FOLDER_ROOM characters of Windows' path limit; None otherwise."""
    length, index, path = longest_destination(entries, target)
    # <folder> "\" <path> and the terminating NUL
    room = PATH_LIMIT - 2 - length
    if index is None or room >= FOLDER_ROOM:
        return None
    return ('pack_payload: warning: "%s": %s unpacks to "%s", %d characters below the player\'s '
            "folder: within Windows' %d-character path limit that leaves the folder only %d "
            "characters (less than %d)\n"
            % (archive, label_of(index, entries[index][0]), show_name(path, PATH_LIMIT), length,
               PATH_LIMIT,
               room, FOLDER_ROOM))


def prove(prover, archive, scratch, entries, target):
    """Unpacks the archive once with the launcher's own extraction (PROGRAM:
    payload/tools/unpack_proof) in `scratch`, removed afterwards."""
    shutil.rmtree(scratch, ignore_errors=True)
    try:
        result = subprocess.run([prover, archive, scratch, target.app_name, target.game_exe,
                                 target.start_map], capture_output=True)
    except OSError as error:
        raise PackError("the unpacking proof %s cannot run: %s" % (prover, error.strerror))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if result.returncode == 0:
        return
    if result.returncode != 1:
        raise PackError("the unpacking proof %s failed (exit code %d): %s" % (
            prover, result.returncode, result.stderr.decode("utf-8", "replace").strip()))
    handled, _, message = result.stdout.partition(b"\n")
    message = message.rstrip(b"\n")
    # It fails at the entry it had not yet moved the bar for, unless its
    # message quotes the one before (the reader's verdict on its checksum).
    index = int(handled)
    if 0 < index <= len(entries) and b'"%s"' % entries[index - 1][0] in message:
        index -= 1
    where = "%s: " % label_of(index, entries[index][0]) if index < len(entries) else ""
    raise PackError("%sthe launcher's unpacking fails on it: %s" % (
        where, message.decode("utf-8", "replace")))


def chunk_lengths(size):
    return [min(CHUNK_SIZE, size - start) for start in range(0, size, CHUNK_SIZE)]


def assembler_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def comment_text(text):
    return "".join(c if c.isprintable() else "?" for c in text)


def assembly(archive, size, binary_format, home="image"):
    if home == "file":
        lines = ["# Generated from %s (%d bytes) by pack_payload.py: nothing, since the archive "
                 "is attached to the linked executable." % (comment_text(archive), size)]
        if binary_format == "elf":
            lines += ['\t.section .note.GNU-stack,"",@progbits']
        return "\n".join(lines) + "\n"
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


ATTACHED_SECTION = ".payload"   # payload/contents.hpp: attached_archive_section
ATTACHED_MAGIC = b"attached-archive"  # and attached_archive_magic
RECORD_LAYOUT = "<16sQQ"          # attached_archive_record: magic, offset, size


def table(archive, size, identity, entries, home="image"):
    lengths = chunk_lengths(size) if home == "image" else []
    symbols = ["payload_chunk_%d" % index for index in range(len(lengths))]
    what = "the chunk table" if home == "image" else "the record of the attached archive"
    lines = ["// Generated from %s (%d bytes) by pack_payload.py: %s."
             % (comment_text(archive), size, what),
             '#include "payload/chunks.hpp"', '#include "payload/contents.hpp"', ""]
    lines += ['extern "C" const unsigned char %s[];' % symbol for symbol in symbols]
    lines += ["", "namespace {", "// Each chunk's constant pointer to its first byte."]
    lines += ["constexpr const unsigned char* %s_address = %s;" % (symbol, symbol)
              for symbol in symbols]
    lines += ["}  // namespace", "", "const payload_chunk payload_chunks[] = {"]
    lines += ["    {%s_address, %du}," % (symbol, length) for symbol, length in zip(symbols, lengths)]
    if not lengths:
        lines.append("    {nullptr, 0u},  // in the file, not the image: an array may not be empty")
    lines += ["};", "const std::size_t payload_chunk_count = %d;" % len(lengths)]
    attached = "nullptr"
    if home == "file":
        magic = ", ".join("'%s'" % chr(byte) for byte in ATTACHED_MAGIC)
        lines += ["", "namespace {",
                  "// Zeros until the attach step writes the archive's offset and size.",
                  '__attribute__((section("%s"), used))' % ATTACHED_SECTION,
                  "const volatile attached_archive_record attached_record = {{%s}, 0u, 0u};"
                  % magic,
                  "}  // namespace"]
        attached = "&attached_record"
    lines += ["", "namespace {", "const payload_entry entries[] = {"]
    lines += ["    {%s, %du, 0x%08Xu}," % (c_string(name), unpacked, crc)
              for name, unpacked, crc in entries]
    if not entries:
        lines.append("    {nullptr, 0u, 0u},  // no entries: an array may not be empty")
    lines += ["};", "}  // namespace", "",
              "const payload_contents embedded_payload_contents = {",
              '    "%s",' % identity,
              "    %du," % size,
              "    %du," % sum(unpacked for _, unpacked, _ in entries),
              "    entries,",
              "    %d," % len(entries),
              "    payload_home::%s," % home,
              "    %s," % attached,
              "};"]
    return "\n".join(lines) + "\n"


def grouped(number):
    return "{:,}".format(number)


def windows_size_problem(archive_size, launcher_size, exact):
    """Why a Windows executable of the launcher's own part and the archive
    cannot run, or None. Shared with the attach step, which knows the exact
    size where the packer estimates."""
    total = archive_size + launcher_size
    if total < WINDOWS_FILE_LIMIT:
        return None
    part = ("%s bytes" if exact else "about %s bytes at most") % grouped(launcher_size)
    return ("the archive is %s bytes: with the launcher's own part (%s) the Windows executable "
            "would be %s bytes, and Windows runs no executable of %s bytes (4 GiB) or more"
            % (grouped(archive_size), part, grouped(total), grouped(WINDOWS_FILE_LIMIT)))


def launcher_estimate(entries=()):
    """The launcher's own part of the executable, generously: its code and
    the listing compiled into it, which grows with the entries."""
    return LAUNCHER_CODE_ESTIMATE + sum(len(entry[0]) + LISTING_BYTES_PER_ENTRY
                                        for entry in entries)


def check_windows_size(size, entries=()):
    if windows_size_problem(size, launcher_estimate(entries), exact=False):
        raise PackError(windows_size_problem(size, launcher_estimate(entries), exact=False))


def sha256_of(source):
    """The SHA-256 of an open file, read in pieces: never all in memory."""
    digest = hashlib.sha256()
    for piece in iter(lambda: source.read(CHUNK_SIZE), b""):
        digest.update(piece)
    return digest.hexdigest()


def check_file(archive, target=None):
    """Checks the archive at `archive` for `target`; returns its size, its
    identity (the SHA-256 of its bytes, in hex) and its entries."""
    target = target or Target()
    windows = target.binary_format == "pe"
    try:
        with open(archive, "rb") as source:
            size = os.fstat(source.fileno()).st_size
            # Before a byte is read: a file of that size is refused whatever it holds.
            if windows:
                check_windows_size(size)
            if size < END_SIZE:
                raise PackError("not a ZIP archive: no end-of-central-directory record at its end")
            entries = Archive(source.fileno(), size).check()
            if windows:
                check_windows_size(size, entries)
            check_names(entries, target)
            identity = sha256_of(source)
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
    parser.add_argument("--manifest", help="what the attach step needs (JSON)")
    parser.add_argument("--limit", type=int, default=DEFAULT_LIMIT, metavar="BYTES",
                        help="the largest archive kept in the image (LAUNCHER_MAPPED_PAYLOAD_LIMIT)")
    parser.add_argument("--rules", choices=["windows", "posix"],
                        help="the names the target's file system holds (default: the format's)")
    parser.add_argument("--app-name", default="QuillMark", help="LAUNCHER_APP_NAME")
    parser.add_argument("--game-exe", default="",
                        help="the game's executable relative to the data directory")
    parser.add_argument("--start-map", default="",
                        help="the start-up map relative to the data directory")
    parser.add_argument("--require-game", action="store_true",
                        help="refuse an archive without the executable or the start-up map")
    parser.add_argument("--prove", metavar="PROGRAM",
                        help="unpack the archive once with this program (unpack_proof)")
    parser.add_argument("--scratch", help="the proof's scratch folder")
    args = parser.parse_args(argv)
    if not args.check and not (args.format and args.asm and args.table and args.manifest):
        parser.error("--format, --asm, --table and --manifest are needed unless --check is given")
    if args.limit < 0:
        parser.error("--limit is a number of bytes")
    if args.prove and not args.scratch:
        parser.error("--prove needs --scratch")
    if args.require_game and not (args.game_exe and args.start_map):
        parser.error("--require-game needs --game-exe and --start-map")
    rules = args.rules or ("windows" if args.format == "pe" else "posix")
    target = Target(rules, args.app_name, args.game_exe, args.start_map, args.require_game,
                    args.format)
    archive = os.path.abspath(args.archive)
    outputs = [] if args.check else [args.asm, args.table, args.manifest]
    try:
        size, identity, entries = check_file(archive, target)
        if rules == "windows":
            warning = path_length_warning(archive, entries, target)
            if warning:
                sys.stderr.write(warning)
        if args.prove:
            prove(os.path.abspath(args.prove), archive, os.path.abspath(args.scratch), entries,
                  target)
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
        # Decided here, at build time: test and demo archives are made by the build.
        home = "image" if size <= args.limit else "file"
        write_text(args.asm, assembly(archive, size, args.format, home))
        write_text(args.table, table(archive, size, identity, entries, home))
        write_text(args.manifest, json.dumps({
            "home": home, "archive": archive, "size": size, "identity": identity,
            "format": args.format}, indent=1) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
