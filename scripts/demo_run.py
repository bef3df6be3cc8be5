#!/usr/bin/env python3
"""Runs a built launcher twice in a fresh scratch directory and tells what
happened: where the game was unpacked, whether the files match the archive
the launcher carries, what the game received, exit codes and any "app throw"
text. The first run unpacks; the second finds the game and launches it at once.
"""

import argparse
import sys
import zipfile
from pathlib import Path

# What a finished unpacking leaves beside the game's files.
STAMP_NAME = ".launcher-stamp"

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "harness"))

from demo_runs import RECORD, Build, Demo  # noqa: E402
from wine_session import unix_to_windows  # noqa: E402


def report(build, demo, runs):
    data_dir = demo.scratch / build.data_dir_name
    with zipfile.ZipFile(build.archive) as archive:
        entries = len(archive.infolist())
    print("launcher: %s (%d bytes)" % (build.launcher, build.launcher.stat().st_size))
    print("it carries: %s (%d bytes, %d entries)" % (build.archive, build.archive.stat().st_size,
                                                      entries))
    print("scratch directory: %s" % demo.scratch)
    if build.windows:
        print("  (under wine: %s)" % unix_to_windows(demo.scratch))
    ok = True
    previous = None
    for label, run in runs:
        print()
        print("%s: exit code %d after %.1f s" % (label, run.code, run.seconds))
        if run.message:
            ok = False
            print("  app throw: %s" % run.message)
        if not run.snapshot:
            ok = False
            print("  nothing was unpacked")
        elif previous is not None and run.snapshot == previous:
            print("  the data directory was left as it was (same files, same times): "
                  "the launcher went straight to the launch")
        else:
            stamp = run.snapshot.get(STAMP_NAME)
            game = {name: entry for name, entry in run.snapshot.items() if name != STAMP_NAME}
            files = sum(1 for is_dir, _, _ in game.values() if not is_dir)
            print("  unpacked into: %s (%d files, %d directories)"
                  % (data_dir, files, len(game) - files))
            print("  install stamp %s: %s" % (STAMP_NAME, "written last" if stamp else "MISSING"))
            if stamp is None:
                ok = False
            if run.mismatches:
                ok = False
                print("  NOT as in the archive: %s" % ", ".join(run.mismatches))
            else:
                print("  every entry matches the archive byte for byte")
        if run.temp_left:
            ok = False
        print("  temporary archive %s: %s" % (build.temp_name,
                                               "still there" if run.temp_left else "not there"))
        if run.record:
            print("  the game received:")
            for key in ("program", "map", "map_found", "cwd", "command_line", "shown"):
                if run.record.get(key):
                    print("    %-12s %s" % (key, run.record[key]))
            if run.record.get("map_found") != "yes":
                ok = False
        else:
            ok = False
            print("  the game left no %s (it did not start, or it is not the demo game)" % RECORD)
        shown = [line for line in run.printed.splitlines() if not line.startswith("app throw: ")]
        if shown:
            print("  printed on the terminal:")
            for line in shown:
                print("    | " + line)
        previous = run.snapshot
    print()
    print("demo: %s" % ("both runs worked" if ok else "something went wrong (see above)"))
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preset", choices=["windows", "linux"], required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--game-seconds", type=int, default=4,
                        help="how long the demo game keeps its window open")
    args = parser.parse_args()
    build = Build(args.build, args.preset)
    with Demo(build, build.dir / "demo" / "Player Folder", args.game_seconds) as demo:
        runs = [("first run", demo.run_once("first run"))]
        runs.append(("second run", demo.run_once("second run")))
    return 0 if report(build, demo, runs) else 1


if __name__ == "__main__":
    sys.exit(main())
