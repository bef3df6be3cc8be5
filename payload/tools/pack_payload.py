#!/usr/bin/env python3
"""Checks a game's ZIP archive and turns it into the launcher's chunk table.

    pack_payload.py ARCHIVE --format {elf,pe} --asm OUT.s --table OUT.cpp [OPTIONS]
    pack_payload.py ARCHIVE --check [OPTIONS]

    OPTIONS: --rules {windows,posix}  --app-name NAME  --game-exe NAME
             --start-map NAME  --require-game  --prove PROGRAM --scratch DIR

The archive is checked first, against what the launcher's unpacking relies
on and what the target's file system can hold (--rules; by default the
format's: windows for pe); with --require-game it must hold the game's
executable and start-up map. With --prove, PROGRAM (payload/tools/
unpack_proof, the launcher's own extraction) then unpacks it once in the
scratch folder DIR, which is removed afterwards. Any problem ends the build
with a message naming the archive and, where there is one, the entry. Then
two files are written:

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
import shutil
import struct
import subprocess
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
                 require_game=False):
        self.rules = rules
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

    def check(self):
        """Checks the whole archive's layout and each name on its own; returns
        its entries in central-directory order, each as (name, unpacked size)."""
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
    for index, (name, _) in enumerate(entries):
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
    for index, (name, _) in enumerate(entries):
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


def check_file(archive, target=None):
    """Checks the archive at `archive` for `target`; returns its size, its
    identity (the SHA-256 of its bytes, in hex) and its entries."""
    target = target or Target()
    try:
        with open(archive, "rb") as source:
            size = os.fstat(source.fileno()).st_size
            if size < END_SIZE:
                raise PackError("not a ZIP archive: no end-of-central-directory record at its end")
            with mmap.mmap(source.fileno(), 0, access=mmap.ACCESS_READ) as data:
                entries = Archive(data, size).check()
                identity = hashlib.sha256(data).hexdigest()
    except OSError as error:
        raise PackError(error.strerror or str(error))
    except struct.error:
        raise PackError("a record runs past the end of the archive")
    check_names(entries, target)
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
    if not args.check and not (args.format and args.asm and args.table):
        parser.error("--format, --asm and --table are needed unless --check is given")
    if args.prove and not args.scratch:
        parser.error("--prove needs --scratch")
    if args.require_game and not (args.game_exe and args.start_map):
        parser.error("--require-game needs --game-exe and --start-map")
    rules = args.rules or ("windows" if args.format == "pe" else "posix")
    target = Target(rules, args.app_name, args.game_exe, args.start_map, args.require_game)
    archive = os.path.abspath(args.archive)
    outputs = [] if args.check else [args.asm, args.table]
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
        write_text(args.asm, assembly(archive, size, args.format))
        write_text(args.table, table(archive, size, identity, entries))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
