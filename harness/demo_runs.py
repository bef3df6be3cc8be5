"""Runs of a built launcher the way scripts/demo makes them, shared by
scripts/demo_run.py and the end-to-end test of the main job: the launcher run
twice in a fresh scratch directory, with what it left behind each time.

The demo game closes its window by itself after DEMO_GAME_SECONDS (set here);
under wine the session's end (wineserver -k) ends anything still running, and
on Linux a game still running after that time is ended by its process id.
"""

import os
import signal
import subprocess
import time
import zipfile
from pathlib import Path

from launcher_harness import read_record, run_windows_launcher
from wine_session import WineSession

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
