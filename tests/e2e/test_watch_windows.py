#!/usr/bin/env python3
"""The window watch of the Windows launcher under wine: 20 icon hand-overs
to the game's top-level windows and the exit 250 ms after the last, or the
exit by the time limit when the game shows no window.

Wine 8 does not deliver WM_SETICON to another process's window, so the game
cannot count what it got; what the launcher sent is read from wine's message
trace (WINEDEBUG +msg), and its exit from the trace of its DLLs' detach."""

import argparse
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

from launcher_harness import WineTestCase, fresh_dir, install_game, read_record

ARGS = None
TRACE = "+msg,+module,+pid,+timestamp"

SEND = re.compile(r"^(\d+\.\d+):([0-9a-f]+):[0-9a-f]+:trace:msg:call_messageAtoW "
                  r"\(hwnd=0x([0-9a-f]+),msg=WM_SETICON,wp=(?:0x)?([0-9a-f]+),"
                  r"lp=(?:0x)?([0-9a-f]+)\)")
DETACH = re.compile(r"^(\d+\.\d+):([0-9a-f]+):[0-9a-f]+:trace:module:MODULE_InitDLL "
                    r"\(.*PROCESS_DETACH")


def icon_messages(trace):
    """(time, sender pid, window, kind, icon) of every WM_SETICON sent."""
    out = []
    for line in trace.splitlines():
        match = SEND.match(line)
        if match:
            at, pid, window, kind, icon = match.groups()
            out.append((float(at), int(pid, 16), int(window, 16), int(kind, 16), int(icon, 16)))
    return out


def first_detach(trace, pid):
    """Wine's time of the first DLL detach of process `pid`: it is exiting."""
    for line in trace.splitlines():
        match = DETACH.match(line)
        if match and int(match.group(2), 16) == pid:
            return float(match.group(1))
    return None


class WatchUnderWine(WineTestCase):
    def run_launcher(self, folder, game_env):
        """Runs the launcher in `folder`; returns (exit code, seconds, trace).
        The game inherits the environment, `game_env` included."""
        trace_path = Path(folder).parent / (Path(folder).name + ".trace.txt")
        env = dict(game_env, WINEDEBUG=TRACE)
        with open(trace_path, "wb") as trace:
            started = time.monotonic()
            launcher = self.session.spawn(ARGS.launcher, cwd=folder, env=env,
                                          stdout=subprocess.DEVNULL, stderr=trace)
            try:
                code = launcher.wait(timeout=60)
            except subprocess.TimeoutExpired:
                launcher.kill()
                launcher.wait()
                self.fail("the launcher did not end within 60 s")
            seconds = time.monotonic() - started
        return code, seconds, trace_path

    def wait_for(self, path, seconds):
        deadline = time.monotonic() + seconds
        while not path.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(0.2)  # let the game finish writing
        self.assertTrue(path.exists(), "%s never appeared" % path)

    def check_handovers(self, name, game_env):
        """Runs the launcher with the window game; checks the 20 hand-overs and
        the exit, and returns the messages and the game's record."""
        folder = fresh_dir(self.scratch / name)
        install_game(folder, ARGS.window_game, ARGS.archive)
        code, seconds, trace_path = self.run_launcher(folder,
                                                      dict(game_env, WINDOW_GAME_SECONDS="6"))
        self.assertEqual(code, 0)
        self.assertLess(seconds, 6.0, "the watch did not end by its count")
        record_path = folder / "window-game.txt"
        self.wait_for(record_path, 15)
        record = read_record(record_path)
        game_pid = int(record["pid"])
        trace = trace_path.read_text(errors="replace")

        sent = icon_messages(trace)
        senders = {pid for _, pid, _, _, _ in sent}
        self.assertEqual(len(senders), 1, "WM_SETICON from processes %s" % senders)
        launcher_pid = senders.pop()
        self.assertNotEqual(launcher_pid, game_pid)

        # 20 hand-overs: small then big to one window, the same icon each time.
        self.assertEqual(len(sent), 40)
        self.assertEqual([kind for _, _, _, kind, _ in sent], [0, 1] * 20)
        for small, big in zip(sent[0::2], sent[1::2]):
            self.assertEqual(small[2], big[2])
        icons = {icon for _, _, _, _, icon in sent}
        self.assertEqual(len(icons), 1, icons)
        self.assertNotEqual(icons.pop(), 0)

        # About 250 ms after the 20th hand-over the launcher exits.
        last = sent[-1][0]
        exiting = first_detach(trace, launcher_pid)
        self.assertIsNotNone(exiting, "no exit of the launcher in the trace")
        self.assertGreaterEqual(exiting - last, 0.24)
        self.assertLess(exiting - last, 1.5)
        self.assertLess(last - sent[0][0], 3.0, "20 hand-overs took too long")
        return sent, record

    def test_game_windows_share_twenty_handovers(self):
        # The game's thread also owns the hidden "Default IME" window, another
        # top-level window of its process. It is made first, so it may take
        # every hand-over before the game's own window is listed.
        sent, record = self.check_handovers("window game", {})
        game_windows = {int(record["window"], 16), int(record["ime_window"], 16)}
        self.assertLessEqual({window for _, _, window, _, _ in sent}, game_windows)

    def test_single_game_window_gets_all_twenty(self):
        sent, record = self.check_handovers("window game without ime", {"WINDOW_GAME_NO_IME": "1"})
        self.assertEqual(record["ime_window"], "0")
        self.assertEqual({window for _, _, window, _, _ in sent}, {int(record["window"], 16)})

    def test_game_without_window_ends_the_watch_by_time(self):
        folder = fresh_dir(self.scratch / "windowless game")
        install_game(folder, ARGS.game, ARGS.archive)
        code, seconds, trace_path = self.run_launcher(folder, {})
        self.assertEqual(code, 0)
        # 250 ms pause plus 8.001 s of watching, and wine's own start-up.
        self.assertGreaterEqual(seconds, 8.25)
        self.assertLess(seconds, 20.0)
        self.assertTrue((folder / "game-record.txt").exists(), "the game never started")
        self.assertEqual(icon_messages(trace_path.read_text(errors="replace")), [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--game", "--window-game", "--archive", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
