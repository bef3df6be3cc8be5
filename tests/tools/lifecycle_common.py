"""Pieces the install-lifecycle tests share on both platforms: the player's
own files, and what a complete, current install of an archive looks like."""

import hashlib
import time
from pathlib import Path

from launcher_harness import DATA_DIR
from unpack_common import TEMP_ARCHIVE, read_tree, tree_difference

STAMP = ".launcher-stamp"

# A save at the top, one in a folder of the game's, one in a folder of the
# player's own: none of them may ever go.
PLAYER_FILES = {
    "save.dat": b"the player's save\n",
    "worlds/my world.sav": b"the player's world\n",
    "My Saves/slot 1.sav": b"the player's slot\n",
}


def add_player_files(folder):
    data = Path(folder) / DATA_DIR
    for name, content in PLAYER_FILES.items():
        (data / name).parent.mkdir(parents=True, exist_ok=True)
        (data / name).write_bytes(content)


def with_player_files(tree):
    expected = dict(tree)
    expected.update(PLAYER_FILES)
    for name in PLAYER_FILES:
        parts = name.split("/")[:-1]
        for depth in range(1, len(parts) + 1):
            expected.setdefault("/".join(parts[:depth]), None)
    return expected


def stamp_header(archive):
    return b"launcher-stamp " + hashlib.sha256(Path(archive).read_bytes()).hexdigest().encode() + b"\n"


def without_write_times(tree):
    """`tree` (of a data directory) with the time of last write left out of
    each of the stamp's file records: two installs of one archive record the
    same entries and sizes, but the moments their files were written differ."""
    if tree.get(STAMP) is None:
        return tree
    lines = []
    for line in tree[STAMP].split(b"\n"):
        if line.startswith(b"r "):
            line = line.rsplit(b" ", 1)[0] + b" (time)"
        lines.append(line)
    same = dict(tree)
    same[STAMP] = b"\n".join(lines)
    return same


def install_problem(folder, archive, expected_tree):
    """Why `folder` does not hold exactly `expected_tree` and a current stamp
    of `archive`, or "" when it does."""
    folder = Path(folder)
    tree = read_tree(folder / DATA_DIR)
    stamp = tree.pop(STAMP, None)
    problems = []
    if stamp is None or not stamp.startswith(stamp_header(archive)):
        problems.append("no current stamp of " + Path(archive).name)
    difference = tree_difference(tree, expected_tree)
    if difference:
        problems.append(difference)
    if (folder / TEMP_ARCHIVE).exists():
        problems.append("the temporary archive is still there")
    return "\n".join(problems)


def game_starts(folder):
    """How many times the test game started in `folder` (one file each)."""
    return len(list(Path(folder).glob("game-start-*.txt")))


def forget_starts(folder):
    for start in Path(folder).glob("game-start-*.txt"):
        start.unlink()


def wait_for_starts(folder, count, seconds=30):
    """The number of game starts recorded once `count` are there, or after
    `seconds`: the launcher does not wait for the game to get that far."""
    deadline = time.monotonic() + seconds
    while game_starts(folder) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.2)  # a start beyond `count` would show now
    return game_starts(folder)
