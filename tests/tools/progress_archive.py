#!/usr/bin/env python3
"""Makes a game archive big enough that unpacking it takes a while, so that
the progress window can be watched moving:
  progress_archive.py --game <test game> --output <zip> [--files N] [--large M]
N small files spread over directories (each directory with its own entry),
M larger deflated files, the map, and the game's executable as the fourth
entry from the end, as in the real game's archive. The same inputs always
give the same archive."""

import argparse
import random
from pathlib import Path

from game_archive import GAME_EXE, MAP, archive_at, entry


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--game", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--large", type=int, default=8)
    args = parser.parse_args()

    rng = random.Random(3)
    with archive_at(args.output) as archive:
        for d in range(max(1, args.files // 100)):
            archive.writestr(entry("assets/pack%03d/" % d), b"")
            for f in range(100):
                if d * 100 + f >= args.files:
                    break
                size = rng.randint(64, 2048)
                archive.writestr(entry("assets/pack%03d/item%03d.dat" % (d, f)),
                                 rng.randbytes(size))
        # Half random, half repeated: real work for inflate.
        for n in range(args.large):
            half = rng.randbytes(1 << 20)
            archive.writestr(entry("media/track%02d.bin" % n), half + half[:4096] * 256)
        archive.writestr(entry("worlds/"), b"")
        archive.writestr(entry(GAME_EXE), Path(args.game).read_bytes())
        archive.writestr(entry("worlds/Quill Mark V1.1/"), b"")
        archive.writestr(entry(MAP), b"start map\n")
        archive.writestr(entry("readme.txt"), b"A game for watching the progress window.\n")


if __name__ == "__main__":
    main()
