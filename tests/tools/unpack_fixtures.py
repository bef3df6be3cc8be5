#!/usr/bin/env python3
"""Makes the archives the extraction tests unpack, with real tools: Info-ZIP's
`zip` writing to a pipe (so its entries carry data descriptors, as the game's
archive does) and Python's zipfile, some of them damaged on purpose.

    unpack_fixtures.py <output directory>

For each archive <name>.zip it writes <name>.entries (the entry names in
central-directory order, one a line) and, when unpacking it must succeed,
<name>.expected/: the tree the data directory must hold afterwards.
"""

import random
import shutil
import struct
import subprocess
import sys
import warnings
import zipfile
from pathlib import Path

from zip_layout import central_offsets

EXE = "Quill Mark.exe"


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def text(seed, size):
    words = ["quill", "mark", "map", "world", "ink", "page", "line", "\n"]
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += (rng.choice(words) + " ").encode()
    return bytes(out[:size])


# -- writing --------------------------------------------------------------------

def write_tree(root, files):
    """files: [(relative name, bytes or None for a directory)]."""
    for name, content in files:
        path = root / name
        if content is None:
            path.mkdir(parents=True, exist_ok=True)
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)


def info_zip(out_dir, name, files, order, with_dirs=True):
    """Info-ZIP over a pipe: every entry gets the data-descriptor flag."""
    source = out_dir / (name + ".expected")
    shutil.rmtree(source, ignore_errors=True)
    source.mkdir(parents=True)
    write_tree(source, files)
    flags = ["-q", "-r", "-X"] + ([] if with_dirs else ["-D"])
    zipped = subprocess.run(["zip", *flags, "-", *order], cwd=source, check=True,
                            stdout=subprocess.PIPE).stdout
    archive = out_dir / (name + ".zip")
    archive.write_bytes(zipped)
    return archive


def python_zip(out_dir, name, entries, expected=None):
    """entries: [(name, bytes or None for a directory, method)]."""
    archive = out_dir / (name + ".zip")
    with zipfile.ZipFile(archive, "w") as zf:
        for entry_name, content, method in entries:
            info = zipfile.ZipInfo(entry_name, date_time=(2024, 1, 2, 3, 4, 6))
            info.compress_type = method
            if content is None:
                info.external_attr = 0o40755 << 16 | 0x10
                content = b""
            zf.writestr(info, content)
    if expected is not None:
        root = out_dir / (name + ".expected")
        shutil.rmtree(root, ignore_errors=True)
        root.mkdir(parents=True)
        write_tree(root, expected)
    return archive


# -- damaging -------------------------------------------------------------------

def local_offset(data, index):
    return struct.unpack_from("<I", data, central_offsets(data)[index] + 42)[0]


def data_offset(data, index):
    at = local_offset(data, index)
    n, m = struct.unpack_from("<HH", data, at + 26)
    return at + 30 + n + m


def damage(archive, change):
    data = bytearray(archive.read_bytes())
    change(data)
    archive.write_bytes(bytes(data))


def break_central_signature(index):
    def change(data):
        data[central_offsets(data)[index]:central_offsets(data)[index] + 4] = b"PK\x09\x09"
    return change


def break_local_signature(index):
    def change(data):
        at = local_offset(data, index)
        data[at:at + 4] = b"PK\x09\x09"
    return change


def set_method(index, method):
    def change(data):
        struct.pack_into("<H", data, local_offset(data, index) + 8, method)
        struct.pack_into("<H", data, central_offsets(data)[index] + 10, method)
    return change


def break_deflate_stream(index):
    # Block type 3 does not exist: inflate stops with a data error.
    def change(data):
        at = data_offset(data, index)
        data[at] = (data[at] & 1) | 0x06
    return change


def flip_crc(index):
    def change(data):
        for at in (local_offset(data, index) + 14, central_offsets(data)[index] + 16):
            (crc,) = struct.unpack_from("<I", data, at)
            struct.pack_into("<I", data, at, crc ^ 0x5A5A5A5A)
    return change


# -- the fixtures ---------------------------------------------------------------

def make(out_dir):
    D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
    exe = noise(1, 3000)
    ok = b"unpacked before the failure\n"

    # A small game: directories, a file over many copy blocks, a well
    # compressed text, an empty file; the executable is not the last entry.
    info_zip(out_dir, "game_tree", [
        ("data/big.bin", noise(2, 100_000)),
        ("data/text.txt", text(3, 60_000)),
        ("data/empty.txt", b""),
        ("data/sub/deep/leaf.txt", b"leaf\n"),
        (EXE, exe),
        ("worlds/Quill Mark V1.1/start.map", text(4, 2_000)),
        ("readme.txt", b"read me\n"),
    ], order=["data", EXE, "worlds", "readme.txt"])

    # Files whose directories have no entries of their own.
    info_zip(out_dir, "no_dir_entries", [
        ("a/b/c.bin", noise(5, 9_000)),
        ("a/b/d.txt", b"d\n"),
        ("x/y/z/w.txt", b"w\n"),
        (EXE, exe),
    ], order=["a", "x", EXE], with_dirs=False)

    # Enough entries that i/N is not a round number.
    many = [("many/%03d.txt" % i, b"%d\n" % i) for i in range(300)]
    info_zip(out_dir, "many", many, order=["many"])

    # N = 0. minizip takes an end record at offset 0 for none at all, so one
    # local entry stands before it, listed nowhere.
    archive = python_zip(out_dir, "empty", [("unlisted.txt", b"not listed\n", D)], expected=[])
    data = archive.read_bytes()
    start = central_offsets(data)[0]
    archive.write_bytes(data[:start] + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, start, 0))
    # A bare end record: what zipfile writes for no entries.
    python_zip(out_dir, "bare_end_record", [])

    python_zip(out_dir, "mixed", [
        ("a/b.txt", text(6, 20_000), D),
        ("a/", None, S),                       # already made as a parent
        ("stored.bin", noise(7, 20_000), S),
        ("zero.bin", b"", D),
        ("same.txt", text(8, 30_000), D),
        ("same.txt", b"shorter\n", D),         # the first copy is truncated
        ("deep/er/", None, S),                 # its parent has no entry
        (EXE, exe, D),
    ], expected=[
        ("a/b.txt", text(6, 20_000)), ("stored.bin", noise(7, 20_000)),
        ("zero.bin", b""), ("same.txt", b"shorter\n"), ("deep/er", None), (EXE, exe),
    ])

    python_zip(out_dir, "backslash", [
        ("notes\\", b"a file, not a directory\n", D),
        ("plain.txt", b"plain\n", D),
    ], expected=[("notes\\", b"a file, not a directory\n"), ("plain.txt", b"plain\n")])

    # The executable somewhere in the middle of a nested game.
    python_zip(out_dir, "nested_exe", [
        ("bin/", None, S),
        ("bin/game.exe", exe, D),
        ("bin/after.txt", b"after\n", D),
    ], expected=[("bin/game.exe", exe), ("bin/after.txt", b"after\n")])

    # Entries on both sides of the size from which the bar moves by bytes
    # (8 MiB), and a large one first, where the bar has nowhere to move;
    # repeated noise, so that the archive stays small.
    mib = 1024 * 1024
    first_large = noise(13, 4096) * (8 * mib // 4096) + b"!"
    exactly = noise(15, 4096) * (8 * mib // 4096)
    just_under = exactly[:-1]
    python_zip(out_dir, "large_entries", [
        ("first large.bin", first_large, D),
        ("small.txt", text(14, 20_000), D),
        ("exactly 8 MiB.bin", exactly, D),
        ("just under.bin", just_under, D),
        ("worlds/", None, S),
        (EXE, exe, D),
    ], expected=[
        ("first large.bin", first_large), ("small.txt", text(14, 20_000)),
        ("exactly 8 MiB.bin", exactly), ("just under.bin", just_under),
        ("worlds", None), (EXE, exe),
    ])

    # A file long enough that its data starts on its way to the disk while it
    # is still being written (every 32 MiB); zeros, so that the archive is small.
    python_zip(out_dir, "long_file", [
        ("long.bin", bytes(40 * mib), D),
        (EXE, exe, D),
    ])

    # Damaged archives: the executable and one good file come first.
    def failing(name, last, change=None, method=D):
        archive = python_zip(out_dir, name, [(EXE, exe, D), ("ok.txt", ok, D),
                                             (last[0], last[1], method)])
        if change:
            damage(archive, change)

    failing("bad_central_first", ("third.txt", b"3\n"), break_central_signature(0))
    failing("bad_central_second", ("third.txt", b"3\n"), break_central_signature(1))
    failing("bad_local_header", ("sub/dir/file.bin", b"never\n"), break_local_signature(2))
    failing("unknown_method", ("sub/dir/lzma.bin", b"never\n"), set_method(2, 14), S)
    failing("damaged_deflate", ("broken.bin", noise(9, 50_000)), break_deflate_stream(2))
    failing("crc_deflated", ("bad crc.txt", text(10, 40_000)), flip_crc(2))
    failing("crc_stored", ("bad crc.bin", noise(11, 12_000)), flip_crc(2), S)
    failing("crc_executable", ("later.txt", b"later\n"))
    damage(out_dir / "crc_executable.zip", flip_crc(0))
    python_zip(out_dir, "dir_then_file", [(EXE, exe, D), ("ok.txt", ok, D), ("x/", None, S),
                                          ("x", b"x\n", D)])
    python_zip(out_dir, "file_then_nested", [(EXE, exe, D), ("ok.txt", ok, D), ("a", b"a\n", D),
                                             ("a/b.txt", b"b\n", D)])

    unsafe = {
        "unsafe_dotdot": "../evil.txt",
        "unsafe_nested_dotdot": "a/../../evil.txt",
        "unsafe_backslash_dotdot": "..\\evil.txt",
        "unsafe_absolute": "/evil.txt",
        "unsafe_backslash_absolute": "\\evil.txt",
        "unsafe_drive": "C:/evil.txt",
        "unsafe_drive_relative": "c:evil.txt",
        "unsafe_dotdot_directory": "../evil/",
        "empty_name": "",
        "long_name": "n/" * 200 + "x" * 111 + ".txt",   # 515 bytes
    }
    for name, entry in unsafe.items():
        python_zip(out_dir, name, [(EXE, exe, D), ("ok.txt", ok, D), (entry, b"evil\n", D)])

    (out_dir / "not_a_zip.zip").write_bytes(text(12, 5_000))
    (out_dir / "empty_file.zip").write_bytes(b"")
    whole = (out_dir / "game_tree.zip").read_bytes()
    (out_dir / "truncated.zip").write_bytes(whole[:-30])

    for archive in out_dir.glob("*.zip"):
        try:
            with zipfile.ZipFile(archive) as zf:
                names = [info.filename for info in zf.infolist()]
        except (zipfile.BadZipFile, ValueError):
            continue
        # zipfile turns a backslash into "/" only on Windows; the raw name is wanted.
        (out_dir / (archive.stem + ".entries")).write_text(
            "".join(n + "\n" for n in names), encoding="utf-8")


def main():
    warnings.filterwarnings("ignore", "Duplicate name")  # a duplicate is wanted
    out_dir = Path(sys.argv[1])
    out_dir.mkdir(parents=True, exist_ok=True)
    make(out_dir)


if __name__ == "__main__":
    main()
