#!/usr/bin/env python3
"""Runs a built launcher twice in a fresh scratch directory and tells what
happened: where the game was unpacked, whether the files match the archive
the launcher carries, what the game received, exit codes and any "app throw"
text. The first run unpacks; the second finds the game and launches it at once.

The demo game closes its window by itself after DEMO_GAME_SECONDS (set here);
under wine the session's end (wineserver -k) ends anything still running, and
on Linux a game still running after that time is ended by its process id.
"""

import argparse
import os
import signal
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "tools"))

from launcher_harness import read_record, run_windows_launcher  # noqa: E402
from wine_session import WineSession, unix_to_windows  # noqa: E402

RECORD = "game-record.txt"


def cache_value(build, name):
    for line in (Path(build) / "CMakeCache.txt").read_text().splitlines():
        key, _, value = line.partition("=")
        if key.split(":")[0] == name:
            return value
    return ""


class Build:
    """What a configured and built tree holds: the launcher and its archive."""

    def __init__(self, build, preset, launcher=None):
        self.dir = Path(build).resolve()
        self.windows = preset == "windows"
        self.app_name = cache_value(self.dir, "LAUNCHER_APP_NAME")
        # The tests run a twin with a short window watch; people run the real one.
        self.launcher = (Path(launcher).resolve() if launcher else
                         self.dir / (self.app_name + (".exe" if self.windows else "")))
        payload = cache_value(self.dir, "LAUNCHER_PAYLOAD")
        self.archive = Path(payload) if payload else self.dir / "demo" / "demo-game.zip"
        self.probe = self.dir / "tests" / "msgbox_probe.exe"
        self.prefix = self.dir / "wine" / "prefix"
        self.data_dir_name = "!%s_data" % self.app_name
        self.temp_name = "~%s_temp" % self.app_name


class Run:
    """One start of the launcher and what it left behind."""

    def __init__(self):
        self.code = None
        self.message = None
        self.seconds = 0.0
        self.record = None
        self.printed = ""
        self.temp_left = False
        self.snapshot = {}
        self.mismatches = []


def snapshot(folder):
    """Every path below `folder` with its size and modification time."""
    return {str(path.relative_to(folder)): (path.is_dir(), path.stat().st_size if path.is_file() else 0,
                                            path.stat().st_mtime_ns)
            for path in sorted(folder.rglob("*"))}


def compare_with_archive(archive, data_dir):
    """The entries of `archive` that are not unpacked identically below `data_dir`."""
    wrong = []
    with zipfile.ZipFile(archive) as source:
        for info in source.infolist():
            target = data_dir / info.filename
            if info.is_dir():
                if not target.is_dir():
                    wrong.append(info.filename + " (directory missing)")
            elif not target.is_file():
                wrong.append(info.filename + " (missing)")
            elif target.read_bytes() != source.read(info):
                wrong.append(info.filename + " (different bytes)")
    return wrong


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def process_running(pid):
    try:
        state = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state not in ("Z", "X")


class Demo:
    def __init__(self, build, scratch, game_seconds=4):
        self.build = build
        self.scratch = Path(scratch)
        self.game_seconds = game_seconds
        self.session = None

    def __enter__(self):
        subprocess.run(["rm", "-rf", str(self.scratch)], check=True)
        self.scratch.mkdir(parents=True)
        # Inherited by the launcher and from it by the game (through wine too).
        os.environ["DEMO_GAME_SECONDS"] = str(self.game_seconds)
        if self.build.windows:
            self.session = WineSession(self.build.prefix).__enter__()
        return self

    def __exit__(self, *exc):
        if self.session:
            self.session.__exit__(None, None, None)  # wineserver -k ends the game too
        return False

    def run_once(self, label):
        run = Run()
        record = self.scratch / RECORD
        if record.exists():
            record.unlink()
        log = self.scratch.parent / ("%s %s.log" % (self.scratch.name, label))
        started = time.monotonic()
        if self.build.windows:
            run.code, box = run_windows_launcher(self.session, self.build.launcher,
                                                 self.build.probe, self.scratch)
            run.message = box["text"] if box else None
        else:
            # A file, not a pipe: the game inherits it and outlives the launcher.
            with open(log, "w") as out:
                result = subprocess.run([str(self.build.launcher)], cwd=self.scratch, stdout=out,
                                        stderr=subprocess.STDOUT, timeout=120)
            run.code = result.returncode
        run.seconds = time.monotonic() - started

        # The launcher does not wait for the game: give it time to write its record.
        if run.code == 0 and wait_for(record.exists, 20):
            # It adds "shown=" once its window is up (or it has printed instead).
            wait_for(lambda: "\nshown=" in record.read_text(errors="replace"), 10)
            run.record = read_record(record)
        if not self.build.windows:
            self.end_linux_game(run)
            output = log.read_text(errors="replace")
            lines = output.splitlines()
            errors = [line[len("app throw: "):] for line in lines if line.startswith("app throw: ")]
            run.message = errors[0] if errors else None
            run.printed = output
        data_dir = self.scratch / self.build.data_dir_name
        run.temp_left = (self.scratch / self.build.temp_name).exists()
        if data_dir.is_dir():
            run.snapshot = snapshot(data_dir)
            run.mismatches = compare_with_archive(self.build.archive, data_dir)
        return run

    def end_linux_game(self, run):
        if not run.record or not run.record.get("pid", "").isdigit():
            return
        pid = int(run.record["pid"])
        if not wait_for(lambda: not process_running(pid), self.game_seconds + 5):
            os.kill(pid, signal.SIGTERM)
            wait_for(lambda: not process_running(pid), 5)


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
            files = sum(1 for is_dir, _, _ in run.snapshot.values() if not is_dir)
            print("  unpacked into: %s (%d files, %d directories)"
                  % (data_dir, files, len(run.snapshot) - files))
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
