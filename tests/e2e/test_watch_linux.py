#!/usr/bin/env python3
"""The window watch of the Linux launcher on a private Xvfb: the game's X11
window (found among the root's children, or in a window manager's client
list) receives _NET_WM_ICON, the launcher's 32 x 32 image, in 20
hand-overs, and a game's icon of several sizes whole; without a game window
the launcher ends by the time limit, and without a display right after
starting the game."""

import argparse
import os
import subprocess
import sys
import time
import unittest

from launcher_harness import fresh_dir, install_game, read_record
from make_test_icon import SIZES
from xvfb import PrivateXvfb

ARGS = None
ICON_VALUES = 2 + 32 * 32


class WatchOnX11(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)

    def setUp(self):
        self.display = PrivateXvfb(size="1024x768x24").__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)

    def run_launcher(self, folder, env, launcher=None):
        """Runs the launcher; returns (exit code and its standard error, seconds).
        Only the launcher is waited for: the game lives on with its own files."""
        errors = folder.parent / (folder.name + ".stderr.txt")
        with open(errors, "wb") as sink:
            started = time.monotonic()
            launcher = subprocess.Popen([launcher or ARGS.launcher], cwd=folder, env=env,
                                        stdout=subprocess.DEVNULL, stderr=sink)
            try:
                code = launcher.wait(timeout=60)
            except subprocess.TimeoutExpired:
                launcher.kill()
                launcher.wait()
                self.fail("the launcher did not end within 60 s")
            seconds = time.monotonic() - started
        return subprocess.CompletedProcess(launcher.args, code, None,
                                           errors.read_text(errors="replace")), seconds

    def read_game_record(self, folder, seconds=15):
        path = folder / "window-game.txt"
        deadline = time.monotonic() + seconds
        while not path.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(0.2)  # let the game finish writing
        self.assertTrue(path.exists(), "the game wrote no record")
        return read_record(path)

    def check_handed_over(self, framed):
        folder = fresh_dir(self.scratch / ("framed game" if framed else "game"))
        install_game(folder, ARGS.window_game, ARGS.archive)
        env = self.display.env({"WINDOW_GAME_SECONDS": "3",
                                "WINDOW_GAME_FRAMED": "1" if framed else "0"})
        result, seconds = self.run_launcher(folder, env)
        self.assertEqual(result.returncode, 0, result.stderr)
        # 250 ms before the watch, 250 ms after its 20th hand-over; far less
        # than the time limit.
        self.assertGreaterEqual(seconds, 0.5)
        self.assertLess(seconds, 3.0)
        record = self.read_game_record(folder)
        self.assertEqual(record["icon_values"], str(ICON_VALUES))
        self.assertEqual(record["icon_head"].split(",")[:2], ["32", "32"])
        # Small and big replace the one property: two changes a hand-over.
        self.assertEqual(record["icon_changes"], "40")

    def test_window_among_the_root_children_gets_the_icon(self):
        self.check_handed_over(framed=False)

    def test_window_in_the_client_list_gets_the_icon(self):
        # Only the inner window carries the game's pid: the root's children
        # alone would never lead to it.
        self.check_handed_over(framed=True)

    def test_a_game_icon_of_several_sizes_reaches_the_window_whole(self):
        # Every size of the branded launcher's icon, its PNG image decoded
        # and its palette bitmap made opaque by its mask.
        folder = fresh_dir(self.scratch / "branded game")
        install_game(folder, ARGS.window_game, ARGS.archive)
        env = self.display.env({"WINDOW_GAME_SECONDS": "3"})
        result, _ = self.run_launcher(folder, env, ARGS.branded)
        self.assertEqual(result.returncode, 0, result.stderr)
        record = self.read_game_record(folder)
        expected = []
        for side, (colour, corner, _) in sorted(SIZES.items()):
            top_left = "00000000" if corner == "none" else "ff" + corner[1:]
            expected.append("%dx%d:%s/ff%s" % (side, side, top_left, colour[1:]))
        self.assertEqual(record["icon_images"], ",".join(expected))
        self.assertEqual(record["icon_values"], str(sum(2 + side * side for side in SIZES)))

    def test_game_without_window_ends_by_time_and_others_get_nothing(self):
        other = fresh_dir(self.scratch / "other program")
        bystander = subprocess.Popen([ARGS.window_game], cwd=other,
                                     env=self.display.env({"WINDOW_GAME_SECONDS": "10"}))
        self.addCleanup(bystander.wait)
        folder = fresh_dir(self.scratch / "windowless game")
        install_game(folder, ARGS.game, ARGS.archive)
        result, seconds = self.run_launcher(folder, self.display.env())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreaterEqual(seconds, 8.25)
        self.assertLess(seconds, 15.0)
        record = self.read_game_record(other)
        self.assertEqual(record["icon_values"], "0")
        self.assertEqual(record["icon_changes"], "0")

    def test_no_display_ends_right_after_the_game_starts(self):
        # No windows can be walked, which ends the watch at once: only the
        # 250 ms pause after starting the game is left.
        for label, display in (("unset", None), ("no server there", ":9999")):
            with self.subTest(display=label):
                folder = fresh_dir(self.scratch / ("no display, " + label))
                install_game(folder, ARGS.game, ARGS.archive)
                env = dict(os.environ)
                env.pop("DISPLAY", None)
                if display:
                    env["DISPLAY"] = display
                result, seconds = self.run_launcher(folder, env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                self.assertGreaterEqual(seconds, 0.25)
                self.assertLess(seconds, 1.0)
                self.assertTrue((folder / "game-record.txt").exists(), "the game never started")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--game", "--window-game", "--archive", "--scratch", "--branded"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
