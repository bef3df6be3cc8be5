#!/usr/bin/env python3
"""Makes a game archive for the unpacking end-to-end tests, with Info-ZIP's
`zip` writing to a pipe (every file entry then carries a data descriptor, as
in the real game's archive).

    unpack_payload.py --game <program> --output <zip> --kind small|big|crc|update_a|update_b|
                                                             partial_a|partial_b

small  the stand-in game as "Quill Mark.exe", its start-up map, data files in
       folders (one empty, one over many copy blocks), the executable in the
       middle of the archive, not at its end
big    small plus megabytes before and after the executable, with top-level
       markers the tests wait for: marker_early.txt before the executable,
       marker_late.txt after it
crc    small with the CRC of "data/after/checked.bin" (after the executable)
       made wrong in both headers
update_a, update_b
       two versions of one game: from a to b "data/changed.txt" changes,
       "data/removed.txt" and the folder "retired/" go, "data/added.txt" comes
partial_a, partial_b
       two versions of a game of some 300 files where about 1% change: from a
       to b the two files of 4 MiB "data/big_0.bin" and "data/big_1.bin" get
       other bytes of the same size, "data/many/007.txt" other bytes of
       another size, "data/removed.txt" goes and "data/added.txt" comes
"""

import argparse
import random
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

from zip_layout import central_offsets

EXE = "Quill Mark.exe"
MAP = "worlds/Quill Mark V1.1/Quill Mark V1.1.map"
CHECKED = "data/after/checked.bin"


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def write(root, name, content):
    path = root / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(content)


def make_version(root, game, kind):
    write(root, MAP, b"map of quill mark\n" * 50)
    write(root, "data/config/settings.ini", b"[video]\nwidth=800\n")
    shutil.copyfile(game, root / EXE)
    order = ["worlds", "data", EXE]
    if kind == "update_a":
        write(root, "data/changed.txt", b"version a\n")
        write(root, "data/removed.txt", b"only in a\n")
        write(root, "retired/old.bin", noise(3, 5000))
        order.append("retired")
    else:
        write(root, "data/changed.txt", b"version b, a little longer\n")
        write(root, "data/added.txt", b"only in b\n")
    return order


PARTIAL_CHANGED = ["data/big_0.bin", "data/big_1.bin", "data/many/007.txt"]


def make_partial_version(root, game, kind):
    write(root, MAP, b"map of quill mark\n" * 50)
    write(root, "data/config/settings.ini", b"[video]\nwidth=800\n")
    shutil.copyfile(game, root / EXE)
    for i in range(300):
        write(root, "data/many/%03d.txt" % i, b"entry %d\n" % i * (i % 7 + 1))
    b = kind == "partial_b"
    for i in range(2):
        write(root, "data/big_%d.bin" % i, noise(300 + 10 * b + i, 4 << 20))
    if b:
        write(root, "data/many/007.txt", b"entry 7, as version b has it\n")
        write(root, "data/added.txt", b"only in b\n")
    else:
        write(root, "data/removed.txt", b"only in a\n")
    return ["worlds", "data", EXE]


def make_tree(root, game, kind):
    if kind.startswith("update_"):
        return make_version(root, game, kind)
    if kind.startswith("partial_"):
        return make_partial_version(root, game, kind)
    order = []
    if kind == "big":
        for i in range(3):
            write(root, "early/pad_%02d.bin" % i, noise(100 + i, 1 << 20))
        write(root, "marker_early.txt", b"early\n")
        order += ["early", "marker_early.txt"]
    write(root, "data/config/settings.ini", b"[video]\nwidth=800\n")
    write(root, "data/empty.txt", b"")
    write(root, "data/blob.bin", noise(1, 70_000))
    write(root, MAP, b"map of quill mark\n" * 50)
    shutil.copyfile(game, root / EXE)
    order += ["data/config", "data/empty.txt", "data/blob.bin", "worlds", EXE]
    write(root, CHECKED, noise(2, 20_000))
    write(root, "readme.txt", b"read me\n")
    order += ["data/after", "readme.txt"]
    if kind == "big":
        write(root, "marker_late.txt", b"late\n")
        for i in range(16):
            write(root, "tail/tail_%02d.bin" % i, noise(200 + i, 1 << 20))
        order += ["marker_late.txt", "tail"]
    return order


def flip_crc(data, name):
    """Makes the entry's CRC wrong in its central record and data descriptor."""
    data = bytearray(data)
    for at in central_offsets(data):
        n = struct.unpack_from("<H", data, at + 28)[0]
        if bytes(data[at + 46:at + 46 + n]).decode() != name:
            continue
        (crc,) = struct.unpack_from("<I", data, at + 16)
        struct.pack_into("<I", data, at + 16, crc ^ 0x5A5A5A5A)
        local = struct.unpack_from("<I", data, at + 42)[0]
        size = struct.unpack_from("<I", data, at + 20)[0]
        ln, lm = struct.unpack_from("<HH", data, local + 26)
        descriptor = local + 30 + ln + lm + size
        if data[descriptor:descriptor + 4] == b"PK\x07\x08":
            struct.pack_into("<I", data, descriptor + 4, crc ^ 0x5A5A5A5A)
        return bytes(data)
    raise SystemExit("no entry " + name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--game", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--kind", choices=["small", "big", "crc", "update_a", "update_b",
                                                 "partial_a", "partial_b"], required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        root = Path(work)
        order = make_tree(root, args.game, args.kind)
        zipped = subprocess.run(["zip", "-q", "-r", "-X", "-", *order], cwd=root, check=True,
                                stdout=subprocess.PIPE).stdout
    if args.kind == "crc":
        zipped = flip_crc(zipped, CHECKED)
    Path(args.output).parent.mkdir(parents=True, exist_ok=True)
    Path(args.output).write_bytes(zipped)


if __name__ == "__main__":
    main()
