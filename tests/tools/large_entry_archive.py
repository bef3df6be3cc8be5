#!/usr/bin/env python3
"""Makes a game archive with one large stored entry of incompressible bytes,
so that both the temporary archive and the entry's copy are long writes:
  large_entry_archive.py --game <test game> --output <zip> [--mib N]
The entries: the start-up map's folder, the map, the large entry (third of
five, so that the bar has somewhere to move while it is copied), the game's
executable and a readme. The same inputs always give the same archive; it is
written a mebibyte at a time."""

import argparse
import random
import zipfile
from pathlib import Path

from game_archive import GAME_EXE, MAP, archive_at, entry

MIB = 1024 * 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--game", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--mib", type=int, default=300)
    args = parser.parse_args()

    rng = random.Random(17)
    with archive_at(args.output) as archive:
        archive.writestr(entry("worlds/Quill Mark V1.1/"), b"")
        archive.writestr(entry(MAP), b"start map\n")
        large = entry("media/intro movie.bin", zipfile.ZIP_STORED)
        large.file_size = args.mib * MIB
        with archive.open(large, "w") as out:
            for _ in range(args.mib):
                out.write(rng.randbytes(MIB))
        archive.writestr(entry(GAME_EXE), Path(args.game).read_bytes())
        archive.writestr(entry("readme.txt"), b"A game with one large entry.\n")


if __name__ == "__main__":
    main()
