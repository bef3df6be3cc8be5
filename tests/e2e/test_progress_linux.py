#!/usr/bin/env python3
"""The Linux stand-in for the progress window: a plain X window of 420 x 120
with a text line and a bar on a display (here a private Xvfb), a line on a
terminal's standard error without one, and nothing at all otherwise. Losing
the display never fails the program. A real launcher drives it while
unpacking, and closes it before the game starts."""

import argparse
import re
import subprocess
import sys
import unittest
from pathlib import Path

from launcher_harness import expect_game_record, fresh_dir, headless_env, run_on_a_terminal
from progress_display import crop, row_colours, screenshot, wait_for_file
from xvfb import PrivateXvfb

ARGS = None

_WINDOW = re.compile(r"^(?P<indent>\s*)0x[0-9a-f]+ .*\)\s+(?P<w>\d+)x(?P<h>\d+)\+(?P<x>-?\d+)\+(?P<y>-?\d+)\s")


def parse_args(argv):
    parser = argparse.ArgumentParser()
    for name in ("--demo", "--launcher", "--unpack-launcher", "--box-probe", "--scratch",
                 "--artifacts"):
        parser.add_argument(name, required=True)
    return parser.parse_known_args(argv)


def window_tree(xvfb):
    """The root's children, each with its own children, as geometries
    (width, height, x, y) from xwininfo."""
    text = subprocess.run(["xwininfo", "-root", "-tree"], env=xvfb.env(), capture_output=True,
                          text=True, check=True, timeout=60).stdout
    tops, depth = [], None
    for line in text.splitlines():
        match = _WINDOW.match(line)
        if not match:
            continue
        indent = len(match["indent"])
        geometry = tuple(int(match[k]) for k in ("w", "h", "x", "y"))
        if depth is None or indent <= depth:
            depth = indent
            tops.append((geometry, []))
        else:
            tops[-1][1].append(geometry)
    return tops


class StandInOnADisplay(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.artifacts = fresh_dir(ARGS.artifacts)

    def start_held_demo(self, xvfb, name):
        folder = fresh_dir(self.scratch / name)
        hold = folder / "hold"
        # 40 steps of 20 ms, held at the middle one (position 50).
        demo = subprocess.Popen([ARGS.demo, "40", "20", str(hold)], env=xvfb.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if not wait_for_file(str(hold) + ".reached", [demo]):
            demo.kill()
            out, err = demo.communicate()
            self.fail("demo never got halfway: %r" % err)
        return demo, hold

    def test_x_window_of_420_by_120_with_text_line_and_bar(self):
        with PrivateXvfb() as xvfb:
            demo, hold = self.start_held_demo(xvfb, "x11")
            try:
                tops = window_tree(xvfb)
                shot = screenshot(xvfb.display, self.artifacts / "progress_window_linux.png")
            finally:
                hold.touch()
                out, err = demo.communicate(timeout=120)
            self.assertEqual(demo.returncode, 0)
            self.assertEqual(err, b"")
            frames = [t for t in tops if t[0][:2] == (420, 120)]
            self.assertEqual(len(frames), 1, tops)
            (width, height, x, y), children = frames[0]
            crop(shot, self.artifacts / "progress_window_linux_frame.png", x, y, 440, 140)
            # Text line at 20,20 of 260 x 20; bar at 20,40 of 360 x 20.
            self.assertEqual(sorted(children), [(260, 20, 20, 20), (360, 20, 20, 40)])

            # The bar's inside, along its middle row: held at 50, the fill
            # (the colour at its left end) covers half of it.
            row = row_colours(shot, x + 20 + 1, y + 40 + 10, 360 - 2)
            filled = 0
            while filled < len(row) and row[filled] == row[0]:
                filled += 1
            self.assertAlmostEqual(filled / len(row), 0.5, delta=0.03, msg=row[:4])
            # The text line is drawn: more than one colour in its middle row.
            self.assertGreater(len(set(row_colours(shot, x + 20, y + 30, 260))), 1)

            # Gone with the program.
            self.assertEqual([t for t in window_tree(xvfb) if t[0][:2] == (420, 120)], [])

    def test_losing_the_display_fails_nothing(self):
        with PrivateXvfb() as xvfb:
            demo, hold = self.start_held_demo(xvfb, "lost display")
            xvfb.stop()
            hold.touch()
            out, err = demo.communicate(timeout=120)
        self.assertEqual(demo.returncode, 0)
        self.assertEqual(err, b"")


_LINE = re.compile(r"\rLoading\.\.\. \[([#.]{20})\] +(-?\d+)%\x1b\[K")


class StandInWithoutADisplay(unittest.TestCase):
    def test_nothing_is_written_to_a_standard_error_that_is_no_terminal(self):
        for label, env in (("unset", headless_env()),
                           ("no server there", headless_env(DISPLAY=":9999"))):
            with self.subTest(display=label):
                result = subprocess.run([ARGS.demo, "10", "1"], env=env, capture_output=True,
                                        timeout=120)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(result.stdout, b"")

    def test_a_terminal_gets_one_line_that_is_erased_at_the_end(self):
        code, text = run_on_a_terminal([ARGS.demo, "4", "1"])
        self.assertEqual(code, 0)
        # 0, then 1/4, 2/4, 3/4 of the way; the repeated 0 is not redrawn.
        for percent, cells in ((0, 0), (25, 5), (50, 10), (75, 15)):
            self.assertIn("\rLoading... [%s%s] %3d%%\x1b[K" % ("#" * cells, "." * (20 - cells),
                                                                 percent), text)
        self.assertEqual(text.count("  0%"), 1, text)
        self.assertTrue(text.endswith("\r\x1b[K"), repr(text))
        self.assertNotIn("\n", text)


class Launcher(unittest.TestCase):
    def test_unpacking_moves_the_line_and_erases_it(self):
        folder = fresh_dir(Path(ARGS.scratch) / "launcher unpacking")
        code, text = run_on_a_terminal([ARGS.unpack_launcher], cwd=folder)
        self.assertEqual(code, 0, text)
        self.assertTrue(text.startswith("\rLoading... [....................]   0%\x1b[K"),
                        repr(text[:80]))
        self.assertTrue(text.endswith("\r\x1b[K"), repr(text[-80:]))
        self.assertEqual(_LINE.sub("", text), "\r\x1b[K", "more than progress lines")
        percents = [int(p) for _, p in _LINE.findall(text)]
        self.assertEqual(percents, sorted(percents), percents)
        self.assertEqual(len(percents), len(set(percents)), "a line drawn twice")
        self.assertGreater(len(percents), 50, percents)
        self.assertEqual(percents[-1], 99)  # never full before the window closes
        expect_game_record(self, folder / "game-record.txt")

    def test_failure_report_is_the_only_output(self):
        folder = fresh_dir(Path(ARGS.scratch) / "launcher failure")
        # A non-empty directory where the stale temporary archive would be:
        # removing it fails right after the window was shown.
        (folder / "~QuillMark_temp" / "in the way").mkdir(parents=True)
        with PrivateXvfb() as xvfb:
            # On a display the report is also a box, which waits for OK.
            probe = subprocess.Popen([ARGS.box_probe, "60000", str(folder.parent / "failure.box.txt"),
                                      "ok"], env=xvfb.env())
            result = subprocess.run([ARGS.launcher], cwd=folder, env=xvfb.env(),
                                    capture_output=True, text=True, timeout=120)
            self.assertEqual(probe.wait(timeout=60), 0, "no error box appeared")
        self.assertTrue(result.stderr.startswith("app throw: "), result.stderr)
        self.assertIn("remove", result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1, result.stderr)


if __name__ == "__main__":
    ARGS, rest = parse_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
