#!/usr/bin/env python3
"""Runs the native launcher on small private tmpfs mounts and says what each
run left, one JSON line per run. Started inside a mount namespace of its own
(`namespace_command` gives unshare's arguments), so the mounts are nobody
else's and go away with it.

    tmpfs_runs.py fresh  --launcher L --archive A --expected DIR --mount DIR MIB...
        a tmpfs of each size in MiB, the launcher run once in it
    tmpfs_runs.py update --launcher L --archive A --expected DIR --mount DIR
                  --size MIB FREE_MIB...
        one tmpfs of --size, the game installed there; then for each free
        figure the stamp made to name another archive (so the launcher updates
        every file in place) and the tmpfs filled until exactly that many MiB
        are free, the launcher run again

Each line: {"mib", "rc", "stderr", "outcome", "problem", "used"} where the
outcome is "refused" (nothing of the launcher's changed), "installed" (the
data directory is exactly the archive with a current stamp) or "broken";
"used" is what the install took on the volume, in bytes.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

from launcher_harness import DATA_DIR, headless_env
from lifecycle_common import STAMP, install_problem
from unpack_common import TEMP_ARCHIVE, read_tree, tree_difference

MIB = 1 << 20


def namespace_command():
    """unshare's arguments for a mount namespace of the caller's own: root
    needs no user namespace (which the kernel refuses inside a chroot); anyone
    else becomes root in one of their own."""
    if os.geteuid() == 0:
        return ["unshare", "--mount"]
    return ["unshare", "--user", "--map-root-user", "--mount"]


def used_bytes(folder):
    volume = os.statvfs(folder)
    return (volume.f_blocks - volume.f_bfree) * volume.f_frsize


def free_bytes(folder):
    volume = os.statvfs(folder)
    return volume.f_bavail * volume.f_frsize


def mount(folder, size_bytes):
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size_bytes, "tmpfs", str(folder)],
                   check=True)


def unmount(folder):
    # Emptied first, so that the memory comes back even if the game that the
    # launcher started still holds the folder and the unmount has to wait.
    for path in folder.iterdir():
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path, ignore_errors=True)
        else:
            path.unlink(missing_ok=True)
    subprocess.run(["umount", "-l", str(folder)], check=True)


def run_launcher(launcher, folder):
    result = subprocess.run([launcher], cwd=folder, env=headless_env(), capture_output=True,
                            text=True, timeout=300)
    if result.returncode == 0:
        # The game the launcher started writes its files there: let it finish.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not ((folder / "game-record.txt").exists() and
                                                   list(folder.glob("game-start-*.txt"))):
            time.sleep(0.02)
    return result


def forget_game_files(folder):
    for path in list(folder.glob("game-*.txt")):
        path.unlink()


def report(mib, result, outcome, problem, used):
    print(json.dumps({"mib": mib, "rc": result.returncode, "stderr": result.stderr,
                      "outcome": outcome, "problem": problem, "used": used}), flush=True)


def fresh(args, expected):
    for mib in args.figures:
        folder = Path(args.mount) / ("fresh %d" % mib)
        mount(folder, mib * MIB)
        try:
            result = run_launcher(args.launcher, folder)
            left = sorted(p.name for p in folder.iterdir())
            if not left:
                outcome, problem = "refused", ""
            else:
                problem = install_problem(folder, args.archive, expected)
                outcome = "installed" if not problem and result.returncode == 0 else "broken"
            forget_game_files(folder)
            report(mib, result, outcome, problem or " ".join(left), used_bytes(folder))
        finally:
            unmount(folder)


def point_stamp_elsewhere(folder):
    """Makes the stamp name another archive: to the launcher, an old version."""
    stamp = folder / DATA_DIR / STAMP
    lines = stamp.read_bytes().split(b"\n", 1)
    stamp.write_bytes(b"launcher-stamp " + b"0" * 64 + b"\n" + lines[1])


def update(args, expected):
    folder = Path(args.mount) / "update"
    mount(folder, args.size * MIB)
    try:
        first = run_launcher(args.launcher, folder)
        problem = install_problem(folder, args.archive, expected)
        if first.returncode != 0 or problem:
            report(args.size, first, "broken", "the first install failed: " + problem,
                   used_bytes(folder))
            return
        forget_game_files(folder)
        used = used_bytes(folder)
        for mib in args.figures:
            point_stamp_elsewhere(folder)
            forget_game_files(folder)
            before = read_tree(folder / DATA_DIR), sorted(p.name for p in folder.iterdir())
            filler = folder / "filler"
            with open(filler, "wb") as out:
                out.truncate(0)
                spare = free_bytes(folder) - mib * MIB
                if spare < 0:
                    raise SystemExit("the tmpfs has less than %d MiB free" % mib)
                # Written, not sparse: a tmpfs gives a sparse file no pages.
                block = b"\0" * MIB
                while spare > 0:
                    spare -= out.write(block[:min(spare, len(block))])
            result = run_launcher(args.launcher, folder)
            filler.unlink()
            forget_game_files(folder)
            after = read_tree(folder / DATA_DIR), sorted(p.name for p in folder.iterdir())
            if result.returncode != 0 and after == before:
                outcome, problem = "refused", ""
            else:
                problem = install_problem(folder, args.archive, expected)
                if result.returncode != 0 and not problem:
                    problem = "the launcher failed"
                outcome = "installed" if not problem else "broken"
                if outcome == "broken" and result.returncode != 0:
                    problem += "\n" + tree_difference(after[0], before[0])
            report(mib, result, outcome, problem, used)
            if outcome == "broken":
                return
    finally:
        unmount(folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["fresh", "update"])
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--archive", required=True)
    parser.add_argument("--expected", required=True, help="what unzip makes of the archive")
    parser.add_argument("--mount", required=True, help="where the tmpfs mounts go")
    parser.add_argument("--size", type=int, help="update: the tmpfs's size in MiB")
    parser.add_argument("figures", type=int, nargs="+",
                        help="fresh: tmpfs sizes; update: MiB left free")
    args = parser.parse_args()
    expected = read_tree(args.expected)
    if args.mode == "fresh":
        fresh(args, expected)
    else:
        update(args, expected)


if __name__ == "__main__":
    sys.exit(main())
