#!/usr/bin/env python3
"""Makes a game archive of gigabytes for the benchmark, the same bytes for
the same seed: one large incompressible entry (stored, as a game's packed
data file is; none with --large-mib 0), a number of files beside it, and
the game's executable and start-up map, written without ZIP64 fields
(harness/plain_zip.py), so that the launcher's minizip reads it on both
targets.

   make_large_game.py <output.zip> [--large-mib N] [--files N]
                      [--big-share F] [--seed N] [--game PROGRAM]
                      [--update [--changed-share F]]

The files are mostly small (100 B to 300 KB, log-uniform), a share of them
(--big-share, default 0) from 0.5 to 3.5 MB; three in five hold
incompressible bytes (deflated anyway, as a zip tool does), the rest text.
The default, a 3,110 MiB entry (3.26 GB) and 3,000 small files, makes an
archive of about 3.3 GB; --large-mib 0 --files 5570 --big-share 0.07 one of
about 0.65 GB shaped like a real game's data. With --game the given program
stands in the archive as the game's executable. --update makes the next
version of the same game (same seed): a share of the files beside the large
entry (1% by default) hold other bytes of the same size, one of them is gone
and one is new; the large entry, the executable and the map stay as they are.
"""

import argparse
import random
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
from plain_zip import PlainZip  # noqa: E402

GAME_EXE = "Quill Mark.exe"
START_MAP = "worlds/Quill Mark V1.1/Quill Mark V1.1.map"
PIECE = 8 << 20


def noise(rng, size):
    """Incompressible bytes in pieces: a fast generator, not a secure one."""
    while size > 0:
        take = min(PIECE, size)
        yield rng.randbytes(take)
        size -= take


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--large-mib", type=int, default=3110)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--big-share", type=float, default=0.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--game", help="the program that stands in for the game")
    parser.add_argument("--update", action="store_true",
                        help="the next version: some files changed, one removed, one added")
    parser.add_argument("--changed-share", type=float, default=0.01)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    # The update's choices come from a generator of their own, so every file
    # it leaves alone keeps the first version's bytes.
    changes = random.Random("update %d" % args.seed)
    changed, removed = set(), None
    if args.update and args.files:
        count = max(1, round(args.files * args.changed_share))
        picked = changes.sample(range(args.files), count + 1)
        changed, removed = set(picked[:count]), picked[count]
    game = Path(args.game).read_bytes() if args.game else b"MZ a stand-in for the game\n"
    with PlainZip(args.output) as archive:
        archive.add(GAME_EXE, [game])
        archive.add(START_MAP, [b"map of quill mark\n"])
        if args.large_mib:
            archive.add("data/packed.pak", noise(rng, args.large_mib << 20), deflate=False)
        for index in range(args.files):
            if rng.random() < args.big_share:
                size = rng.randrange(500_000, 3_500_000)
            else:
                size = int(10 ** rng.uniform(2, 5.48))
            if rng.random() < 0.6:
                content = noise(rng, size)
            else:
                content = [b"".join(rng.choice([b"stone ", b"river ", b"ember ", b"quill "])
                                    for _ in range(size // 6))]
            if index == removed:
                for _ in content:  # drawn all the same: the next files keep their bytes
                    pass
                continue
            if index in changed:
                content = noise(changes, sum(len(piece) for piece in content))
            archive.add("data/files/%02d/file_%05d.bin" % (index % 50, index), content)
        if args.update:
            archive.add("data/files/added_in_update.bin", noise(changes, 150_000))


if __name__ == "__main__":
    main()
