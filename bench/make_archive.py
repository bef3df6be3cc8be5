#!/usr/bin/env python3
"""Makes the benchmark's game archive, the same bytes for the same seed.

Shaped like a real game's payload: about 63 MB, about 2,263 entries of which
21 are directories (each listed before what it holds), the rest deflated files
with data descriptors (Info-ZIP zip writing to a pipe), names up to about 86
bytes, a mix of well-compressible and incompressible content, sizes from a
few bytes to several megabytes.
With --game, the given program stands in the archive as the game's
executable and an empty start-up map beside it, so a launcher built with the
archive can start it. With --update, the next version of the same game (same
seed): a share of its files (1% by default, never the game's executable or
map) hold other bytes of the same size, one file is gone and one is new.
   make_archive.py <output.zip> [--seed N] [--files N] [--variant N] [--game PROGRAM]
                   [--update [--changed-share F]]
"""

import argparse
import os
import random
import shutil
import subprocess
import tempfile
from pathlib import Path

DIRECTORIES = [
    "worlds/", "worlds/Quill Mark V1.1/", "worlds/Quill Mark V1.1/regions/",
    "data/", "data/textures/", "data/textures/environment/", "data/textures/characters/",
    "data/textures/interface/", "data/models/", "data/models/props/", "data/models/actors/",
    "data/sounds/", "data/sounds/ambience/", "data/sounds/effects/", "data/music/",
    "data/scripts/", "data/scripts/quests/", "data/shaders/", "data/fonts/", "locale/",
    "locale/en/",
]
STEMS = ["bark", "stone", "river", "lantern", "quill", "parchment", "tower", "meadow",
         "ember", "harbor", "crystal", "archway", "mossy_wall", "cobble", "banner"]
EXTENSIONS = {"textures": ".dds", "models": ".mdl", "sounds": ".ogg", "music": ".ogg",
              "scripts": ".lua", "shaders": ".glsl", "fonts": ".fnt", "locale": ".txt",
              "worlds": ".chunk"}
WORDS = ("the quill marks every page of the old map while lanterns burn along the "
         "harbor road and the tower keeps its watch over meadow river and stone").split()


def text_block(rng, size):
    words = []
    length = 0
    while length < size:
        word = rng.choice(WORDS)
        words.append(word)
        length += len(word) + 1
    return (" ".join(words))[:size].encode()


def file_size(rng):
    # Log-uniform from a few bytes to a few MB, with a handful of big files.
    if rng.random() < 0.006:
        return rng.randint(2_000_000, 6_000_000)
    return int(10 ** rng.uniform(0.7, 5.1))


def make_tree(root, rng, files):
    for directory in DIRECTORIES:
        (root / directory).mkdir(parents=True, exist_ok=True)
    leaves = [d for d in DIRECTORIES if d.count("/") >= 2 or d in ("data/music/", "locale/en/")]
    for index in range(files):
        directory = rng.choice(leaves)
        kind = next((k for k in EXTENSIONS if k in directory), "data")
        stem = "_".join(rng.sample(STEMS, rng.randint(1, 4)))
        variant = "_high_detail_variant" if rng.random() < 0.1 else ""
        name = "%s%s_%04d%s" % (stem, variant, index, EXTENSIONS.get(kind, ".bin"))
        size = file_size(rng)
        # Audio and textures are already compressed; scripts, text and maps are not.
        if kind in ("sounds", "music", "textures", "models") and rng.random() < 0.95:
            content = rng.randbytes(size)
        else:
            content = text_block(rng, size)
        (root / directory / name).write_bytes(content)
    fixed = 1_700_000_000
    for path in sorted(root.rglob("*"), reverse=True):
        os.utime(path, (fixed, fixed))
    os.utime(root, (fixed, fixed))


def apply_update(root, seed, share):
    """The next version of the tree: `share` of the files changed, one
    removed, one added; chosen by their own generator, so the first version's
    bytes do not depend on it."""
    rng = random.Random("update %d" % seed)
    files = sorted(p for p in root.rglob("*") if p.is_file())
    count = max(1, round(len(files) * share))
    picked = rng.sample(files, count + 1)
    for path in picked[:count]:
        path.write_bytes(rng.randbytes(path.stat().st_size))
    picked[count].unlink()
    (root / "data" / "scripts" / "added_in_update.lua").write_bytes(text_block(rng, 4000))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--seed", type=int, default=20261210)
    parser.add_argument("--files", type=int, default=2242)
    parser.add_argument("--variant", type=int, default=0,
                        help="a different archive of the same shape: one small file more")
    parser.add_argument("--game", help="program to store as the game's executable")
    parser.add_argument("--update", action="store_true",
                        help="the next version: some files changed, one removed, one added")
    parser.add_argument("--changed-share", type=float, default=0.01)
    parser.add_argument("--game-name", default="Quill Mark.exe")
    parser.add_argument("--map", default="worlds/Quill Mark V1.1/Quill Mark V1.1.map")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    work = Path(tempfile.mkdtemp(prefix="bench-archive-"))
    try:
        make_tree(work, rng, args.files)
        if args.update:
            apply_update(work, args.seed, args.changed_share)
        if args.variant:
            (work / "data" / "variant.txt").write_text("variant %d\n" % args.variant)
            os.utime(work / "data" / "variant.txt", (1_700_000_000, 1_700_000_000))
        if args.game:
            shutil.copyfile(args.game, work / args.game_name)
            (work / args.map).parent.mkdir(parents=True, exist_ok=True)
            (work / args.map).write_bytes(b"start-up map\n")
            for path in (work / args.game_name, work / args.map):
                os.utime(path, (1_700_000_000, 1_700_000_000))
        # One fixed time for everything, folders written into since included:
        # the same bytes from the same seed.
        for path in work.rglob("*"):
            os.utime(path, (1_700_000_000, 1_700_000_000))
        listing = sorted(str(p.relative_to(work)) + ("/" if p.is_dir() else "")
                         for p in work.rglob("*"))
        output = Path(args.output).resolve()
        # Names on standard input, the archive through a pipe: zip cannot seek
        # back, so every entry carries a data descriptor.
        with open(output, "wb") as out:
            zipper = subprocess.Popen(["zip", "-q", "-X", "-@", "-"], cwd=work,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            copier = subprocess.Popen(["cat"], stdin=zipper.stdout, stdout=out)
            zipper.stdout.close()
            zipper.stdin.write("\n".join(_with_dirs(listing)).encode() + b"\n")
            zipper.stdin.close()
            if zipper.wait() != 0 or copier.wait() != 0:
                raise SystemExit("zip failed")
    finally:
        shutil.rmtree(work)


def _with_dirs(listing):
    # Directory entries first, each before what it holds.
    seen = set()
    ordered = []
    for name in listing:
        parts = name.rstrip("/").split("/")
        for depth in range(1, len(parts)):
            directory = "/".join(parts[:depth]) + "/"
            if directory not in seen:
                seen.add(directory)
                ordered.append(directory)
        if name.endswith("/"):
            if name not in seen:
                seen.add(name)
                ordered.append(name)
        else:
            ordered.append(name)
    return ordered


if __name__ == "__main__":
    main()
