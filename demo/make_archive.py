#!/usr/bin/env python3
"""Makes the demo game's archive, laid out as the launcher expects a game:

    make_archive.py --output ZIP --game PROGRAM --game-name EXE --map FILE
                    --map-name MAP --data DIR

  EXE  the game's executable relative to the data directory (LAUNCHER_GAME_EXE)
  MAP  the start-up map relative to the data directory (LAUNCHER_START_MAP)
  DIR  further files, stored below "data/" with their subdirectories

Every directory gets its own entry, listed before anything inside it. Files
are deflated; time stamps are fixed, so the same inputs give the same bytes.
"""

import argparse
import sys
import zipfile
from pathlib import Path

STAMP = (2024, 1, 1, 0, 0, 0)


def entry_name(relative):
    """'./worlds/a.map' -> 'worlds/a.map': the name an entry carries."""
    parts = [part for part in relative.replace("\\", "/").split("/") if part not in ("", ".")]
    if not parts or ".." in parts:
        sys.exit("make_archive.py: %r is not a path inside the data directory" % relative)
    return "/".join(parts)


def main():
    parser = argparse.ArgumentParser()
    for option in ("output", "game", "game-name", "map", "map-name", "data"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()

    files = {entry_name(args.game_name): Path(args.game),
             entry_name(args.map_name): Path(args.map)}
    data = Path(args.data)
    for path in sorted(data.rglob("*")):
        if path.is_file():
            files["data/" + path.relative_to(data).as_posix()] = path

    names = set()
    for name in files:
        parts = name.split("/")
        names.update("/".join(parts[:depth]) + "/" for depth in range(1, len(parts)))
    names.update(files)

    # Sorting by path elements puts each directory right before its contents.
    ordered = sorted(names, key=lambda name: name.rstrip("/").split("/"))
    output = Path(args.output)
    output.parent.mkdir(parents=True, exist_ok=True)
    partial = output.with_name(output.name + ".part")
    with zipfile.ZipFile(partial, "w") as archive:
        for name in ordered:
            info = zipfile.ZipInfo(name, STAMP)
            if name.endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10
                archive.writestr(info, b"", zipfile.ZIP_STORED)
            else:
                executable = name == entry_name(args.game_name)
                info.external_attr = (0o100755 if executable else 0o100644) << 16
                archive.writestr(info, files[name].read_bytes(), zipfile.ZIP_DEFLATED)
    partial.replace(output)


if __name__ == "__main__":
    main()
