#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: a few tiny valid ZIP archives laid out as
a game (directories, stored and deflated files, the executable last).
   make_seeds.py <folder>"""

import sys
import zipfile
from pathlib import Path

STAMP = (2024, 5, 6, 7, 8, 10)


def write(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = method
            archive.writestr(info, data)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    write(out / "one_stored_file.zip", [("game.exe", b"MZ game", stored)])
    write(out / "one_deflated_file.zip", [("game.exe", b"game " * 40, deflated)])
    write(out / "directories_then_files.zip", [
        ("data/", b"", stored),
        ("data/a.txt", b"alpha\n", deflated),
        ("data/sub/", b"", stored),
        ("data/sub/b.bin", bytes(range(256)), stored),
        ("map.map", b"map\n", deflated),
        ("game.exe", b"MZ" + bytes(64), deflated),
    ])
    write(out / "empty_file.zip", [("empty.txt", b"", stored), ("game.exe", b"x", stored)])


if __name__ == "__main__":
    main()
