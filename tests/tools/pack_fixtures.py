#!/usr/bin/env python3
"""Archives for the packer's tests, made at test time by real tools (Info-ZIP
zip, also writing to a pipe; Python's zipfile; bsdtar; 7-Zip), written by
hand, and small hand-damaged variants of them.

    pack_fixtures.py --split OUT.zip    an archive just over 1 MiB (two chunks)

As a module: VALID and INVALID are tables of rows; `make(row, folder)` writes
a row's archive into `folder` and returns its path.
"""

import argparse
import random
import struct
import subprocess
import zipfile
import zlib
from collections import namedtuple
from pathlib import Path

from zip_layout import central_offsets, end_record


def show_name(name):
    """An entry name as the packer's messages show it."""
    return "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02x" % b for b in name)

MIB = 1 << 20
STAMP = (2024, 5, 6, 7, 8, 10)

GAME_EXE = "./Quill Mark.exe"
START_MAP = "./worlds/Quill Mark V1.1/Quill Mark V1.1.map"

# entry: the name the packer's message must show (None: an archive-wide fault),
#        or a function of the archive's path giving it
# phrase: what the message must say about it
# game: the archive carries the game (GAME_EXE and START_MAP), so it is packed
#       with the game required; otherwise with LAUNCHER_REQUIRE_GAME off
# rules: the file system the names are checked for ("windows": the product's)
Valid = namedtuple("Valid", "name make game rules", defaults=(False, "windows"))
Invalid = namedtuple("Invalid", "name make entry phrase game rules", defaults=(False, "windows"))


def noise(size, seed):
    return random.Random(seed).randbytes(size)


def game_tree(folder):
    """A small game laid out on disk: directories, text, and incompressible data."""
    root = Path(folder) / "tree"
    (root / "worlds" / "Quill Mark V1.1").mkdir(parents=True, exist_ok=True)
    (root / "data" / "empty").mkdir(parents=True, exist_ok=True)
    (root / "Quill Mark.exe").write_bytes(b"MZ" + noise(3000, 1))
    (root / "worlds" / "Quill Mark V1.1" / "Quill Mark V1.1.map").write_text("map\n" * 200)
    (root / "data" / "zero.bin").write_bytes(b"")
    (root / "data" / "noise.bin").write_bytes(noise(5000, 2))
    return root


def run_zip(folder, args, output, stdin=None, pipe=False):
    """Info-ZIP zip in the game tree; with `pipe` it writes to a pipe, so that
    every file entry carries a data descriptor."""
    tree = game_tree(folder)
    output = Path(folder) / output
    if output.exists():
        output.unlink()  # zip would add to it
    if pipe:
        with open(output, "wb") as out:
            zipper = subprocess.Popen(["zip", "-q", *args], cwd=tree, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE)
            reader = subprocess.Popen(["cat"], stdin=zipper.stdout, stdout=out)
            zipper.stdout.close()
            zipper.stdin.write(stdin or b"")
            zipper.stdin.close()
            if zipper.wait() != 0 or reader.wait() != 0:
                raise RuntimeError("zip to a pipe failed")
    else:
        subprocess.run(["zip", "-q", *args], cwd=tree, input=stdin, check=True)
    return output


def write_zipfile(path, entries, comment=b"", compression=zipfile.ZIP_DEFLATED):
    """Python's zipfile: (name, bytes) pairs, a name ending in "/" a directory."""
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = comment
        for name, data in entries:
            info = zipfile.ZipInfo(name, STAMP)
            if name.endswith("/"):
                archive.writestr(info, b"", zipfile.ZIP_STORED)
            else:
                archive.writestr(info, data, compression)
    return Path(path)


def plain_entries():
    return [("Quill Mark.exe", b"MZ" + noise(2000, 3)), ("worlds/", b""),
            ("worlds/a.map", b"map\n" * 100), ("worlds/b.map", b"other\n" * 50),
            (START_MAP[2:], b"start\n" * 20)]


def game_entries():
    """plain_entries less the one named (the executable or the map)."""
    def make(folder, row_name, leave_out):
        entries = [(name, data) for name, data in plain_entries() if name != leave_out]
        return write_zipfile(Path(folder) / (row_name + ".zip"), entries)
    return make


def without(name):
    return lambda folder, row_name: game_entries()(folder, row_name, name)


def in_order(*names):
    """A zipfile archive of exactly these entries, in this order."""
    def make(folder, row_name):
        return write_zipfile(Path(folder) / (row_name + ".zip"),
                             [(name, b"" if name.endswith("/") else b"data of %s\n" % name.encode())
                              for name in names])
    return make


def zip64_all_ones(folder, row_name):
    """Written by hand as Go's archive/zip writes a ZIP64 entry of known size:
    the sizes in the local header and in the central directory are all ones,
    the real ones in ZIP64 extra fields, and there is no data descriptor."""
    path = Path(folder) / (row_name + ".zip")
    out, central = bytearray(), bytearray()
    for name, data in plain_entries():
        raw = name.encode()
        crc = zlib.crc32(data)
        extra = struct.pack("<HHQQ", 1, 16, len(data), len(data))
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x21, crc,
                           0xFFFFFFFF, 0xFFFFFFFF, len(raw), len(extra)) + raw + extra + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0x21, crc,
                               0xFFFFFFFF, 0xFFFFFFFF, len(raw), len(extra), 0, 0, 0, 0,
                               offset) + raw + extra
    count = len(plain_entries())
    path.write_bytes(bytes(out + central + struct.pack(
        "<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(out), 0)))
    return path


def with_names(*names):
    """A zipfile archive whose file entries carry the given names."""
    def make(folder, row_name):
        entries = [("ok.txt", b"fine\n")] + [(name, b"payload\n") for name in names]
        return write_zipfile(Path(folder) / (row_name + ".zip"), entries)
    return make


def sized(total):
    """A stored archive of exactly `total` bytes, padded by its comment."""
    def make(folder, row_name):
        path = Path(folder) / (row_name + ".zip")
        body = noise(max(0, total - 4096), 4)
        write_zipfile(path, [("data/", b""), ("data/blob.bin", body)],
                      compression=zipfile.ZIP_STORED)
        short = total - path.stat().st_size
        assert 0 <= short < 0x10000, short
        write_zipfile(path, [("data/", b""), ("data/blob.bin", body)], comment=b"#" * short,
                      compression=zipfile.ZIP_STORED)
        assert path.stat().st_size == total
        return path
    return make


# --- hand-made changes to a finished archive ---------------------------------

def changed(source, change):
    """A row made by changing the bytes of another row's archive."""
    def make(folder, row_name):
        data = bytearray(source(folder, row_name + "-source").read_bytes())
        data = change(data)
        path = Path(folder) / (row_name + ".zip")
        path.write_bytes(bytes(data))
        return path
    return make


def zipfile_plain(folder, row_name):
    return write_zipfile(Path(folder) / (row_name + ".zip"), plain_entries())


def drop_last_byte(data):
    return data[:-1]


def add_trailing_bytes(data):
    return data + b"junk"


def add_leading_bytes(data):
    return b"MZ-stub!" + data


def shift_directory_offset(data):
    at, _ = end_record(data)
    struct.pack_into("<I", data, at + 16, struct.unpack_from("<I", data, at + 16)[0] - 2)
    return data


def shift_second_local_offset(data):
    header = central_offsets(data)[1]
    struct.pack_into("<I", data, header + 42, struct.unpack_from("<I", data, header + 42)[0] + 4)
    return data


def rename_in_central_directory(data):
    header = central_offsets(data)[1]  # "worlds/" -> "worldz/"
    data[header + 46 + 5] = ord("z")
    return data


def empty_second_name(data):
    """The second entry's name becomes empty: its bytes move into the extra
    field, in the local and the central header alike, so nothing else shifts."""
    header = central_offsets(data)[1]
    local = struct.unpack_from("<I", data, header + 42)[0]
    for at, lengths in ((header, header + 28), (local, local + 26)):
        name_length, extra_length = struct.unpack_from("<HH", data, lengths)
        struct.pack_into("<HH", data, lengths, 0, extra_length + name_length)
    return data


def zip64_end(data):
    """The same archive closed by a ZIP64 end record, its locator and an end
    record whose fields point to them."""
    at, (_, _, _, _, count, size, offset, _) = end_record(data)
    zip64 = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, at, 1)
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:at] + zip64 + locator + end


def zip64_end_without_record(data):
    at, _ = end_record(data)
    struct.pack_into("<HH", data, at + 8, 0xFFFF, 0xFFFF)
    return data


# --- the tables --------------------------------------------------------------

def infozip_files(folder, name):
    return run_zip(folder, ["-r", "../%s.zip" % name, "."], name + ".zip")


def infozip_pipe(folder, name):
    return run_zip(folder, ["-r", "-", "."], name + ".zip", pipe=True)


def infozip_stdin(folder, name):
    # A file read from standard input: ZIP64 extra field and a data descriptor.
    return run_zip(folder, ["-", "-"], name + ".zip", stdin=b"from a pipe\n" * 30, pipe=True)


def infozip_comment(folder, name):
    path = infozip_files(folder, name)
    subprocess.run(["zip", "-q", "-z", str(path)], input=b"Quill Mark, packed for the launcher\n",
                   check=True)
    return path


def first_encrypted(path):
    """Info-ZIP encrypts files only, in the order it finds them on disk."""
    with zipfile.ZipFile(path) as archive:
        return next(info.filename for info in archive.infolist() if info.flag_bits & 1)


def infozip_encrypted(folder, name):
    return run_zip(folder, ["-r", "-P", "secret", "../%s.zip" % name, "."], name + ".zip")


def infozip_prefix_adjusted(folder, name):
    """A stub before the archive, its offsets adjusted by zip -A (as for a
    self-extractor): offsets are consistent but do not count from byte 0."""
    path = infozip_files(folder, name)
    path.write_bytes(b"MZ-stub!" * 64 + path.read_bytes())
    subprocess.run(["zip", "-q", "-A", str(path)], check=True)
    return path


def infozip_stray_local_header(folder, name):
    """Offsets adjusted by zip -A past a prefix that looks like a local header,
    so the archive begins with one that no entry uses."""
    path = infozip_files(folder, name)
    path.write_bytes(b"PK\x03\x04" + bytes(60) + path.read_bytes())
    subprocess.run(["zip", "-q", "-A", str(path)], check=True)
    return path


def zipfile_stored(folder, name):
    return write_zipfile(Path(folder) / (name + ".zip"), plain_entries(),
                         compression=zipfile.ZIP_STORED)


def zipfile_force_zip64(folder, name):
    path = Path(folder) / (name + ".zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for entry, data in plain_entries():
            if entry.endswith("/"):
                archive.writestr(zipfile.ZipInfo(entry, STAMP), b"")
                continue
            with archive.open(zipfile.ZipInfo(entry, STAMP), "w", force_zip64=True) as out:
                out.write(data)
    return path


def bsdtar_zip(folder, name):
    tree = game_tree(folder)
    path = Path(folder) / (name + ".zip")
    subprocess.run(["bsdtar", "--format", "zip", "-cf", str(path), "."], cwd=tree, check=True)
    return path


def sevenzip_zip(folder, name):
    tree = game_tree(folder)
    path = Path(folder) / (name + ".zip")
    if path.exists():
        path.unlink()  # 7z would add to it
    subprocess.run(["7z", "a", "-tzip", str(path), "."], cwd=tree, check=True,
                   stdout=subprocess.DEVNULL)
    return path


def zipfile_empty(folder, name):
    return write_zipfile(Path(folder) / (name + ".zip"), [])


def method(compression):
    def make(folder, name):
        return write_zipfile(Path(folder) / (name + ".zip"), plain_entries(), compression=compression)
    return make


def not_a_zip(folder, name):
    path = Path(folder) / (name + ".zip")
    path.write_text("This is a text file, not an archive.\n" * 10)
    return path


LONG_511 = "/".join(["d" * 100] * 5) + "/" + "f" * 6       # 511 bytes
LONG_512 = LONG_511 + "g"

VALID = [
    Valid("infozip_files", infozip_files, game=True),
    Valid("infozip_pipe_data_descriptors", infozip_pipe, game=True),
    Valid("infozip_stdin_zip64_local", infozip_stdin),
    Valid("infozip_archive_comment", infozip_comment, game=True),
    Valid("zipfile_deflated", zipfile_plain, game=True),
    Valid("zipfile_stored", zipfile_stored, game=True),
    Valid("zipfile_force_zip64", zipfile_force_zip64, game=True),
    Valid("bsdtar_zip", bsdtar_zip, game=True),
    Valid("sevenzip_zip", sevenzip_zip, game=True),
    Valid("zip64_end_record", changed(zipfile_plain, zip64_end), game=True),
    Valid("no_executable_game_not_required", without("Quill Mark.exe")),
    Valid("no_start_map_game_not_required", without(START_MAP[2:])),
    Valid("case_only_names_on_linux", in_order("Data/x", "data/X"), rules="posix"),
    Valid("file_and_directory_cased_apart_on_linux", in_order("a/b", "A/b/", "A/b/c"),
          rules="posix"),
    Valid("name_511_bytes_and_dots", with_names(LONG_511, "a..b/c..d.txt", "./here.txt")),
    Valid("exactly_one_chunk", sized(MIB)),
    Valid("one_byte_over_a_chunk", sized(MIB + 1)),
    Valid("two_chunks_and_a_half", sized(2 * MIB + MIB // 2)),
]

INVALID = [
    Invalid("not_a_zip", not_a_zip, None, "not a ZIP archive"),
    Invalid("truncated", changed(zipfile_plain, drop_last_byte), None, "not a ZIP archive"),
    Invalid("bytes_after_the_end", changed(zipfile_plain, add_trailing_bytes), None,
            "not a ZIP archive"),
    Invalid("stub_before_the_archive", changed(zipfile_plain, add_leading_bytes), None,
            "offsets must count from the archive's first byte"),
    Invalid("stub_with_adjusted_offsets", infozip_prefix_adjusted, None,
            "data before the first local header"),
    Invalid("stray_local_header_first", infozip_stray_local_header, None,
            "no entry starts at the local header at byte 0"),
    Invalid("directory_offset_wrong", changed(zipfile_plain, shift_directory_offset), None,
            "offsets must count from the archive's first byte"),
    Invalid("local_offset_wrong", changed(zipfile_plain, shift_second_local_offset), "worlds/",
            "does not point at a local file header"),
    Invalid("names_disagree", changed(zipfile_plain, rename_in_central_directory), "worldz/",
            'its local header names it "worlds/"'),
    Invalid("zip64_record_missing", changed(zipfile_plain, zip64_end_without_record), None,
            "ZIP64 end record that is missing"),
    Invalid("empty_name", changed(zipfile_plain, empty_second_name), "", "its name is empty"),
    Invalid("name_512_bytes", with_names(LONG_512), LONG_512[:120] + "...",
            "its name is 512 bytes long"),
    Invalid("absolute_name", with_names("/etc/game.cfg"), "/etc/game.cfg", "its name is absolute"),
    Invalid("drive_letter", with_names("C:/game/x.txt"), "C:/game/x.txt",
            "its name holds a drive letter"),
    Invalid("drive_relative", with_names("data/D:x.txt"), "data/D:x.txt",
            "its name holds a drive letter"),
    Invalid("backslash", with_names("data\\x.txt"), "data\\x.txt", "its name holds a backslash"),
    Invalid("dot_dot_first", with_names("../outside.txt"), "../outside.txt",
            'its name holds a ".." element'),
    Invalid("dot_dot_inside", with_names("data/../../outside.txt"), "data/../../outside.txt",
            'its name holds a ".." element'),
    Invalid("dot_dot_last", with_names("data/.."), "data/..", 'its name holds a ".." element'),
    Invalid("bzip2", method(zipfile.ZIP_BZIP2), "Quill Mark.exe", "compression method is 12"),
    Invalid("lzma", method(zipfile.ZIP_LZMA), "Quill Mark.exe", "compression method is 14"),
    Invalid("encrypted", infozip_encrypted, first_encrypted, "it is encrypted"),
    # What the launcher's own extraction refuses when the build unpacks it once:
    # minizip takes an end record at byte 0 for none at all.
    Invalid("no_entries", zipfile_empty, None,
            "the launcher's unpacking fails on it: could not read file global info"),
    # minizip reads ZIP64 extra fields of the central directory only where
    # unsigned long is 32 bits wide: on 64-bit Linux the sizes stay all ones.
    Invalid("zip64_all_ones_no_descriptor", zip64_all_ones, "Quill Mark.exe",
            "its sizes or offset are kept in a ZIP64 extra field"),
    # What the player's file system cannot hold.
    Invalid("file_then_directory", in_order("a/b", "a/b/", "a/b/c"), "a/b/",
            'it needs "a/b" as a directory, which entry #1 "a/b" makes a file'),
    Invalid("file_below_a_file", in_order("a/b", "a/b/c"), "a/b/c",
            'it needs "a/b" as a directory, which entry #1 "a/b" makes a file'),
    Invalid("directory_then_file", in_order("a/b/c", "a/b"), "a/b",
            'it makes "a/b" a file, which entry #1 "a/b/c" needs as a directory'),
    Invalid("same_name_twice_on_linux", in_order("data/x", "./data//x"), "./data//x",
            'it names the same file as entry #1 "data/x"', rules="posix"),
    Invalid("case_only_duplicates", in_order("Data/x", "data/X"), "data/X",
            'it names the same file as entry #1 "Data/x" (Windows ignores case'),
    Invalid("trailing_dot", with_names("data./x.txt"), "data./x.txt",
            'its name holds "data.", which ends in a dot or a space'),
    Invalid("trailing_space", with_names("notes.txt "), "notes.txt ",
            'its name holds "notes.txt ", which ends in a dot or a space'),
    Invalid("executable_as_a_directory", in_order("Quill Mark.exe/", "Quill Mark.exe/x"),
            "Quill Mark.exe/", "it would make the game's executable's path \"Quill Mark.exe\""),
    Invalid("below_the_executable", in_order("Quill Mark.exe/x"), "Quill Mark.exe/x",
            "it would make the game's executable's path"),
    Invalid("executable_temporary_name", with_names("Quill Mark.exe.unpacking"),
            "Quill Mark.exe.unpacking", "the launcher keeps a file of this name"),
    Invalid("executable_temporary_name_cased", with_names("quill mark.EXE.unpacking"),
            "quill mark.EXE.unpacking", "the launcher keeps a file of this name"),
    Invalid("stamp", with_names(".launcher-stamp"), ".launcher-stamp",
            "the launcher keeps a file of this name"),
    Invalid("stamp_temporary_name", with_names("./.Launcher-Stamp.writing"),
            "./.Launcher-Stamp.writing", "the launcher keeps a file of this name"),
    Invalid("below_the_stamp", with_names(".launcher-stamp/x"), ".launcher-stamp/x",
            'it needs ".launcher-stamp" as a directory, but the launcher keeps a file'),
    Invalid("no_executable", without("Quill Mark.exe"), None,
            "no entry for the game's executable \"./Quill Mark.exe\" (LAUNCHER_GAME_EXE)",
            game=True),
    Invalid("no_start_map", without(START_MAP[2:]), None,
            "no entry for the game's start-up map \"%s\" (LAUNCHER_START_MAP)" % START_MAP,
            game=True),
    Invalid("start_map_only_as_a_directory", in_order("Quill Mark.exe", START_MAP[2:] + "/"),
            None, "no entry for the game's start-up map", game=True),
]

# Each reserved device name and each forbidden character, with and without an
# extension, at the top and below a folder.
DEVICES = ["CON", "PRN", "AUX", "NUL"] + ["COM%d" % n for n in range(1, 10)] + \
    ["LPT%d" % n for n in range(1, 10)]
for number, device in enumerate(DEVICES):
    name = ["%s", "data/%s.txt", "data/%s.tar.gz/x", "%s /y"][number % 4] % \
        (device if number % 2 else device.lower())
    INVALID.append(Invalid("device_" + device.lower(), with_names(name), name,
                           "a device name Windows reserves"))
for number, char in enumerate('<>:"|?*'):
    name = "data/a%sb.txt" % char if number % 2 else "a%s" % char
    if char == ":":
        name = "data/ab:c"  # "x:" at an element's start is a drive letter
    INVALID.append(Invalid("forbidden_%02x" % ord(char), with_names(name), name,
                           'its name holds "%s", which Windows forbids in names' % char))
for byte in range(1, 32):
    name = "data/a%cb.txt" % byte
    INVALID.append(Invalid("control_%02x" % byte, with_names(name), show_name(name.encode()),
                           "its name holds the byte 0x%02x, which Windows forbids" % byte))


def make(row, folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    return Path(row.make(folder, row.name)).resolve()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--split", required=True, help="write an archive just over 1 MiB here")
    args = parser.parse_args()
    out = Path(args.split)
    out.parent.mkdir(parents=True, exist_ok=True)
    # Two file entries, one stored across the chunk boundary.
    write_zipfile(out, [("data/", b""), ("data/a.bin", noise(MIB, 5)),
                        ("data/b.txt", b"after the boundary\n" * 40)],
                  compression=zipfile.ZIP_STORED)


if __name__ == "__main__":
    main()
