#!/usr/bin/env python3
"""The Linux launcher's failure report: on a display (a private Xvfb) an X11
box titled "app throw" with the error's text, wrapped so that every line
shows, and one OK button; it goes on OK, Return, Escape or a window manager's
close, and the launcher then ends with its failure code. The standard error
line is written either way; without a display it is all there is."""

import argparse
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from launcher_harness import (DATA_DIR, GAME_EXE, fresh_dir, headless_env, install_broken_game,
                              read_record, run_on_a_terminal)
from progress_display import crop, row_colours, screenshot, wait_for_file
from xvfb import PrivateXvfb

ARGS = None
FAILURE_CODE = 1


def blocked_start(folder):
    """A folder whose start fails right away: a non-empty directory stands
    where the stale temporary archive would be removed."""
    (folder / "~QuillMark_temp" / "in the way").mkdir(parents=True)
    return 'remove: Directory not empty: "./~QuillMark_temp"'


def broken_game(folder):
    """A folder whose game cannot start; the message names its absolute path."""
    install_broken_game(folder, ARGS.archive)


class ErrorBoxOnADisplay(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.artifacts = Path(ARGS.artifacts)
        cls.artifacts.mkdir(parents=True, exist_ok=True)

    def setUp(self):
        self.xvfb = PrivateXvfb(size="1024x768x24").__enter__()
        self.addCleanup(self.xvfb.__exit__, None, None, None)

    def run_with_probe(self, folder, action, shot=None):
        """Runs the launcher in `folder` with the probe dismissing its box;
        returns (launcher result, probe record, screenshot path or None)."""
        record_file = folder.parent / (folder.name + ".box.txt")
        found = folder.parent / (folder.name + ".found")
        for stale in (record_file, found):
            if stale.exists():
                stale.unlink()
        probe = subprocess.Popen([ARGS.probe, "60000", str(record_file), action, str(found),
                                  "1500" if shot else "0"], env=self.xvfb.env())
        launcher = subprocess.Popen([ARGS.launcher], cwd=folder, env=self.xvfb.env(),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        picture = None
        try:
            if shot and wait_for_file(found, [probe, launcher], limit=60):
                picture = screenshot(self.xvfb.display, self.artifacts / shot)
            out, err = launcher.communicate(timeout=60)
        finally:
            if launcher.poll() is None:
                launcher.kill()
                launcher.communicate()
        self.assertEqual(probe.wait(timeout=60), 0, "no box was found, or it did not go")
        return (subprocess.CompletedProcess(launcher.args, launcher.returncode, out, err),
                read_record(record_file), picture)

    def check_box(self, record, text):
        self.assertEqual(record["title"], "app throw")
        self.assertEqual(record["children"], "2")
        self.assertEqual(record["text"], text)
        width, height = int(record["width"]), int(record["height"])
        text_bottom = int(record["text_y"]) + int(record["text_height"])
        # Every line inside the box, above the button; the button inside too.
        self.assertLessEqual(int(record["text_x"]) + int(record["text_width"]), width)
        self.assertLess(text_bottom, int(record["button_y"]))
        self.assertLessEqual(int(record["button_y"]) + int(record["button_height"]), height)
        self.assertLessEqual(int(record["button_x"]) + int(record["button_width"]), width)

    def test_each_way_of_dismissing_the_box_ends_with_the_failure_code(self):
        for action in ("ok", "return", "escape", "close"):
            with self.subTest(action=action):
                folder = fresh_dir(self.scratch / ("dismissed by " + action))
                text = blocked_start(folder)
                result, record, _ = self.run_with_probe(folder, action)
                self.assertEqual(result.returncode, FAILURE_CODE, result.stderr)
                self.assertEqual(result.stderr, "app throw: %s\n" % text)
                self.assertEqual(result.stdout, "")
                self.check_box(record, text)
                self.assertFalse((folder / DATA_DIR).exists())

    def test_a_long_text_is_wrapped_and_every_line_shows(self):
        # The screenshot (docs/error_box_linux.png) shows the folder's path:
        # one that says nothing of the machine, not the build tree's.
        neutral = Path(tempfile.mkdtemp(prefix="player-", dir="/tmp"))
        self.addCleanup(shutil.rmtree, neutral, True)
        folder = fresh_dir(neutral / "Games" / ("a folder with a rather long name " * 3).strip() /
                           ("and_one_word_longer_than_any_line_of_the_box_" * 3))
        broken_game(folder)
        result, record, shot = self.run_with_probe(folder, "ok", shot="error_box_linux.png")
        self.assertEqual(result.returncode, FAILURE_CODE, result.stderr)
        prefix = 'app throw: could not start "%s/./%s/./%s": ' % (folder, DATA_DIR, GAME_EXE)
        self.assertTrue(result.stderr.startswith(prefix), result.stderr)
        text = result.stderr[len("app throw: "):].rstrip("\n")
        self.check_box(record, text)
        self.assertIsNotNone(shot, "no screenshot was taken")

        # One line is 15 pixels high in the fixed font: far more than one here.
        line_height = 15
        lines = int(record["text_height"]) // line_height
        self.assertGreaterEqual(lines, 4, record)
        # Ink on every line: the middle row of each has more than one colour.
        x, y = int(record["screen_x"]), int(record["screen_y"])
        for line in range(lines):
            with self.subTest(line=line):
                row = row_colours(shot, x + int(record["text_x"]),
                                  y + int(record["text_y"]) + line * line_height + 8,
                                  int(record["text_width"]))
                self.assertGreater(len(set(row)), 1, "line %d is blank" % line)
        crop(shot, self.artifacts / "error_box_linux_frame.png", x - 10, y - 10,
             int(record["width"]) + 20, int(record["height"]) + 20)


class ErrorWithoutADisplay(unittest.TestCase):
    def test_standard_error_alone(self):
        folder = fresh_dir(Path(ARGS.scratch) / "no display")
        text = blocked_start(folder)
        result = subprocess.run([ARGS.launcher], cwd=folder, env=headless_env(),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, FAILURE_CODE)
        self.assertEqual(result.stderr, "app throw: %s\n" % text)

    def test_a_terminal_gets_the_line_alone(self):
        folder = fresh_dir(Path(ARGS.scratch) / "terminal")
        text = blocked_start(folder)
        code, output = run_on_a_terminal([ARGS.launcher], cwd=folder, timeout=60)
        self.assertEqual(code, FAILURE_CODE)
        # The progress line was erased before the report; a terminal turns
        # the newline into CR LF.
        self.assertTrue(output.endswith("app throw: %s\r\n" % text), repr(output))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--archive", "--probe", "--scratch", "--artifacts"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
