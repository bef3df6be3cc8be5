"""Shared pieces of the end-to-end tests: scratch directories laid out like a
player's folder, the game's record, and a run of the launcher whose "app
throw" box (if any) is read and dismissed by msgbox_probe.exe."""

import argparse
import hashlib
import os
import pty
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from wine_session import WineSession

APP_NAME = "QuillMark"
DATA_DIR = "!QuillMark_data"
GAME_EXE = "Quill Mark.exe"
MAP_PARTS = ["worlds", "Quill Mark V1.1", "Quill Mark V1.1.map"]


def parse_args(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--game", required=True)
    parser.add_argument("--archive", required=True, help="the archive the launcher carries")
    parser.add_argument("--probe")
    parser.add_argument("--prefix")
    parser.add_argument("--scratch", required=True)
    return parser.parse_known_args(argv)


def fresh_dir(path):
    path = Path(path)
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def install_game(folder, game_program, archive):
    """Lays out a finished install of the launcher's `archive` whose game is
    `game_program`: the data directory with the game and a stamp of that
    archive, so that the launcher takes the installed road."""
    data = Path(folder) / DATA_DIR
    data.mkdir(parents=True, exist_ok=True)
    shutil.copy(game_program, data / GAME_EXE)
    os.chmod(data / GAME_EXE, 0o755)
    stamp_install(folder, archive)
    return data / GAME_EXE


def install_broken_game(folder, archive):
    """A finished install of `archive` whose executable is no program."""
    data = Path(folder) / DATA_DIR
    data.mkdir(parents=True, exist_ok=True)
    (data / GAME_EXE).write_text("this is not a program\n")
    stamp_install(folder, archive)


def stamp_install(folder, archive):
    """The stamp a finished unpacking of `archive` leaves: the launcher then
    takes the installed road, whatever else the data directory holds."""
    identity = hashlib.sha256(Path(archive).read_bytes()).hexdigest()
    (Path(folder) / DATA_DIR / ".launcher-stamp").write_text(
        "launcher-stamp %s\nf %s\n" % (identity, GAME_EXE))


def headless_env(**extra):
    """The environment without a display (and with `extra`): the native
    launcher shows no window and no box, and reports on standard error."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(extra)
    return env


def run_on_a_terminal(command, cwd=None, timeout=300):
    """Runs `command` without a display, its standard error on a terminal;
    returns (exit code, what the terminal received)."""
    master, terminal = pty.openpty()
    try:
        process = subprocess.Popen(command, cwd=cwd, env=headless_env(),
                                   stdout=subprocess.DEVNULL, stderr=terminal)
        os.close(terminal)
        terminal = None
        output = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other side is closed
                break
            if not chunk:
                break
            output += chunk
        return process.wait(timeout=timeout), output.decode()
    finally:
        os.close(master)
        if terminal is not None:
            os.close(terminal)


def run_headless(launcher, folder, timeout=300):
    """Runs the native launcher in `folder` without a display."""
    return subprocess.run([launcher], cwd=folder, env=headless_env(), capture_output=True,
                          text=True, timeout=timeout)


def read_record(path):
    record = {}
    for line in Path(path).read_text(errors="replace").splitlines():
        key, _, value = line.partition("=")
        record[key] = value
    return record


def wait_for_record(path, seconds=20):
    """The game's record once the game has written it, or None. The launcher
    does not wait for the game, and a test launcher's short watch may end
    before the game has got that far."""
    path = Path(path)
    deadline = time.monotonic() + seconds
    while True:
        try:
            text = path.read_text(errors="replace")
        except FileNotFoundError:
            text = ""
        if text.endswith("\n"):
            return read_record(path)
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.05)


def expect_game_record(test, path, seconds=20):
    """The game's record; fails `test` when the game wrote none in time."""
    record = wait_for_record(path, seconds)
    test.assertIsNotNone(record, "the game wrote no %s: it did not start" % Path(path).name)
    return record


def run_windows_launcher(session, launcher, probe, folder, timeout=60):
    """Runs the launcher in `folder`; returns (exit code, box record or None)."""
    box_record = Path(folder).parent / (Path(folder).name + ".box.txt")
    if box_record.exists():
        box_record.unlink()
    watcher = session.spawn(probe, [str(timeout * 1000), str(box_record)], cwd=folder)
    result = session.run(launcher, cwd=folder, timeout=timeout)
    if result.returncode == 0 and watcher.poll() is None:
        watcher.kill()
    watcher.wait(timeout=timeout)
    return result.returncode, (read_record(box_record) if box_record.exists() else None)


class WineTestCase(unittest.TestCase):
    """Test classes that share one wine session and a fresh scratch
    directory. Set `args` (with `prefix` and `scratch`) before the tests run."""

    args = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(cls.args.scratch)
        cls.prepare()
        cls.session = WineSession(cls.args.prefix).__enter__()

    @classmethod
    def prepare(cls):
        """What a test class makes before its wine session starts."""

    @classmethod
    def tearDownClass(cls):
        cls.session.__exit__(None, None, None)
