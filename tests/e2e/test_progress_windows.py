#!/usr/bin/env python3
"""The progress window under wine, looked at from outside: a probe finds the
frame and its two children and follows the bar's pixels on the screen, first
in a demo that moves the bar slowly, then while a real launcher unpacks a
large archive; screenshots of the X display are kept as artifacts; and the
launcher's failure boundary destroys the window before the "app throw" box
appears."""

import argparse
import re
import subprocess
import sys
import time
import unittest

from launcher_harness import DATA_DIR, WineTestCase, fresh_dir, read_record
from progress_display import crop, row_colours, screenshot, wait_for_file
from wine_session import unix_to_windows

ARGS = None

FRAME = {"class": "Static", "width": "420", "height": "120"}
# (z-order index, class, x, y, width, height, style, text)
CHILDREN = [
    ("0", "msctls_progress32", 20, 40, 360, 20, "50000000", ""),
    ("1", "Static", 20, 20, 260, 20, "50000000", "Loading..."),
]
WS_BORDER, WS_VISIBLE, WS_CHILD = 0x00800000, 0x10000000, 0x40000000


def parse_args(argv):
    parser = argparse.ArgumentParser()
    for name in ("--demo", "--probe", "--msgbox-probe", "--launcher", "--unpack-launcher",
                 "--prefix", "--scratch", "--artifacts"):
        parser.add_argument(name, required=True)
    return parser.parse_known_args(argv)


def fills(record):
    return [int(v) for v in record["bar_fills"].split(",") if v]


def positions(record):
    return [int(v) for v in record["bar_positions"].split(",") if v]


class ProgressWindowUnderWine(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.artifacts = fresh_dir(ARGS.artifacts)

    def check_layout(self, record):
        for key, value in FRAME.items():
            self.assertEqual(record["frame_" + key], value, key)
        style = int(record["frame_style"], 16)
        self.assertTrue(style & WS_BORDER and style & WS_VISIBLE, hex(style))
        self.assertFalse(style & WS_CHILD, hex(style))
        self.assertEqual(record["frame_text"], "")
        self.assertEqual(int(record["frame_parent"], 16), 0)
        self.assertEqual(record["children"], "2")
        for index, cls_name, x, y, width, height, style, text in CHILDREN:
            with self.subTest(child=cls_name):
                key = "child%s_" % index
                self.assertEqual(record[key + "class"], cls_name)
                self.assertEqual((int(record[key + "x"]), int(record[key + "y"])), (x, y))
                self.assertEqual((int(record[key + "width"]), int(record[key + "height"])),
                                 (width, height))
                self.assertEqual(record[key + "style"], style)
                self.assertEqual(record[key + "exstyle"], "0")
                self.assertEqual(record[key + "parent_is_frame"], "1")
                self.assertEqual(record[key + "text"], text)
                # The module of the running executable: the same as the frame's
                # for these programs.
                self.assertEqual(record[key + "instance"], record["frame_instance"])

    def bar_fill_in(self, shot, record):
        """How much of the bar's inside is filled in a screenshot, 0 to 1."""
        width = int(record["child0_width"])
        x, y = int(record["bar_screen_x"]), int(record["bar_screen_y"])
        row = row_colours(shot, x + 1, y + int(record["child0_height"]) // 2, width - 2)
        self.assertEqual(len(row), width - 2)
        return sum(1 for c in row if c == int(record["bar_fill_colour"], 16)) / len(row)

    def test_window_is_laid_out_as_planned_and_its_bar_only_grows(self):
        folder = fresh_dir(self.scratch / "demo")
        record_file, hold = folder / "probe.txt", folder / "hold"
        probe = self.session.spawn(ARGS.probe, ["120000", record_file])
        # 40 steps of 50 ms, held at the middle one (position 50).
        demo = self.session.spawn(ARGS.demo, ["40", "50", hold])
        try:
            self.assertTrue(wait_for_file(str(hold) + ".reached", [demo]), "demo never got halfway")
            shot = screenshot(self.session.display, self.artifacts / "progress_window_windows.png")
            crop(shot, self.artifacts / "progress_window_windows_frame.png", 0, 0, 440, 140)
        finally:
            hold.touch()
            self.assertEqual(demo.wait(timeout=120), 0)
            self.assertEqual(probe.wait(timeout=120), 0, "the probe found no progress window")
        record = read_record(record_file)
        self.check_layout(record)
        self.assertEqual(record["label_texts"], "Loading...")

        seen = fills(record)
        self.assertGreater(len(seen), 2, record["bar_fills"])
        self.assertEqual(seen, sorted(seen), "the bar went back: " + record["bar_fills"])
        self.assertLess(seen[-1], int(record["child0_width"]) - 2, "the bar reached full")
        # Held at step 20 of 40: the screenshot shows the bar half filled.
        self.assertAlmostEqual(self.bar_fill_in(shot, record), 0.5, delta=0.03)

    def test_launcher_unpacking_moves_the_bar_and_closes_the_window_before_the_game(self):
        folder = fresh_dir(self.scratch / "unpack")
        record_file, found = self.scratch / "unpack.probe.txt", self.scratch / "unpack.found"
        box_file = self.scratch / "unpack.box.txt"
        for stale in (record_file, found, box_file):
            if stale.exists():
                stale.unlink()
        game_record = folder / "game-record.txt"
        probe = self.session.spawn(ARGS.probe, ["120000", record_file, found,
                                                unix_to_windows(game_record)])
        box_probe = self.session.spawn(ARGS.msgbox_probe, ["120000", box_file])
        launcher = self.session.spawn(ARGS.unpack_launcher, cwd=folder)
        try:
            if wait_for_file(found, [launcher, probe]):
                # For a person to look at: unpacking goes on while these are
                # taken, so only the probe's record is checked.
                for moment in ("start", "later"):
                    shot = screenshot(self.session.display, self.artifacts /
                                      ("progress_window_windows_unpacking_%s.png" % moment))
                    crop(shot, shot.with_name(shot.stem + "_frame.png"), 0, 0, 440, 140)
                    time.sleep(1.5)
            self.assertEqual(launcher.wait(timeout=300), 0)
            self.assertEqual(probe.wait(timeout=120), 0, "the probe found no progress window")
        finally:
            if box_probe.poll() is None:
                box_probe.kill()
            box_probe.wait()
        self.assertFalse(box_file.exists(), box_file.exists() and box_file.read_text())
        record = read_record(record_file)
        self.check_layout(record)
        self.assertEqual(record["label_texts"], "Loading...")
        seen = fills(record)
        self.assertGreater(len(seen), 2, record["bar_fills"])
        self.assertEqual(seen, sorted(seen), "the bar went back: " + record["bar_fills"])
        self.assertLess(seen[-1], int(record["child0_width"]) - 2, "the bar reached full")
        # The window answers while the launcher unpacks: it handles its
        # messages after every entry.
        answered = positions(record)
        self.assertGreater(int(record["bar_answers"]), 10, record)
        self.assertGreater(len(answered), 2, record["bar_positions"])
        self.assertEqual(answered, sorted(answered), "the bar went back: " + record["bar_positions"])
        self.assertLess(answered[-1], 100, record["bar_positions"])
        self.assertGreaterEqual(answered[0], 0, record["bar_positions"])
        # The game starts only after the window is gone.
        self.assertEqual(record["watch_file_seen_with_window"], "0")
        self.assertTrue(wait_for_file(game_record, limit=60), "the game never started")
        self.assertFalse((folder / "~QuillMark_temp").exists())

    def test_a_close_request_while_unpacking_ends_nothing_but_the_window(self):
        folder = fresh_dir(self.scratch / "closed")
        record_file = self.scratch / "closed.probe.txt"
        box_file = self.scratch / "closed.box.txt"
        for stale in (record_file, box_file):
            if stale.exists():
                stale.unlink()
        game_record = folder / "game-record.txt"
        probe = self.session.spawn(ARGS.probe, ["120000", record_file, self.scratch / "closed.found",
                                                unix_to_windows(game_record), "close"])
        box_probe = self.session.spawn(ARGS.msgbox_probe, ["120000", box_file])
        started = time.monotonic()
        launcher = self.session.spawn(ARGS.unpack_launcher, cwd=folder)
        try:
            self.assertEqual(probe.wait(timeout=120), 0, "the probe found no progress window")
            window_gone = time.monotonic()
            self.assertEqual(launcher.wait(timeout=300), 0)
            finished = time.monotonic()
        finally:
            if box_probe.poll() is None:
                box_probe.kill()
            box_probe.wait()
        self.assertFalse(box_file.exists(), box_file.exists() and box_file.read_text())
        record = read_record(record_file)
        # The window went at once, long before the unpacking was done...
        self.assertLess(len(positions(record)), 5, record["bar_positions"])
        self.assertLess(window_gone - started, (finished - started) * 0.8,
                        "the window stayed until the end")
        # ...and the unpacking went on to the end and started the game.
        self.assertTrue(wait_for_file(game_record, limit=60), "the game never started")
        self.assertTrue((folder / DATA_DIR / "readme.txt").is_file(), "the last entry is missing")
        self.assertFalse((folder / "~QuillMark_temp").exists())

    def test_failure_boundary_destroys_the_window_before_the_box(self):
        folder = fresh_dir(self.scratch / "failure")
        # Removing a stale temporary archive fails when a non-empty directory
        # stands in its place: the unpacking road fails right after showing
        # the window, whatever the payload.
        (folder / "~QuillMark_temp" / "in the way").mkdir(parents=True)
        box_file = self.scratch / "failure.box.txt"
        box_probe = self.session.spawn(ARGS.msgbox_probe, ["120000", box_file], cwd=folder)
        # Into a file, not a pipe: wine's helper processes started on the way
        # inherit it and would hold a pipe open long after the launcher ends.
        trace_file = self.artifacts / "failure_boundary_win_trace.txt"
        with open(trace_file, "wb") as trace_out:
            self.session.run(ARGS.launcher, cwd=folder, env={"WINEDEBUG": "+win"},
                             stdout=subprocess.DEVNULL, stderr=trace_out, timeout=120)
        self.assertEqual(box_probe.wait(timeout=120), 0, "no app throw box appeared")
        box = read_record(box_file)
        self.assertIn("remove", box["text"])
        self.assertEqual(box["progress_window_present"], "0")
        events = window_events(trace_file.read_text(errors="replace"))

        frame = [e for e in events if e["kind"] == "create" and e["class"] == 'L"STATIC"'
                 and e["size"] == (420, 120)]
        self.assertEqual(len(frame), 1, "no single progress frame was made")
        frame = frame[0]
        thread = frame["thread"]
        mine = [e for e in events if e["thread"] == thread]
        start = mine.index(frame)
        bar, label = [e for e in mine[start + 1:] if e["kind"] == "create"][:2]
        self.assertEqual(frame["line"], (
            '"" L"STATIC" ex=00000000 style=00800000 -2147483648,-2147483648 420x120 '
            'parent=0000000000000000 menu=0000000000000000'))
        # The manifest is in force: the standard classes are Common Controls 6.0's.
        self.assertRegex(frame["redirect"] or "", r'^L"6\.0\.[0-9.]+!Static"$')
        self.assertEqual(bar["class"], 'L"msctls_progress32"')
        self.assertEqual(label["class"], 'L"STATIC"')
        handle = bar["parent"]
        self.assertEqual(label["parent"], handle)
        self.assertEqual(bar["line"], '"" L"msctls_progress32" ex=00000000 style=50000000 20,40 '
                                      '360x20 parent=%016X menu=0000000000000000' % handle)
        self.assertEqual(label["line"], '"Loading..." L"STATIC" ex=00000000 style=50000000 20,20 '
                                        '260x20 parent=%016X menu=0000000000000000' % handle)
        # The launcher passes its own instance; the children get the module
        # handle of the running executable, which for the launcher is the same.
        self.assertEqual(bar["instance"], frame["instance"])
        self.assertEqual(label["instance"], frame["instance"])
        self.assertNotEqual(frame["instance"], 0)

        destroyed = [i for i, e in enumerate(mine) if e["kind"] == "destroy" and e["hwnd"] == handle]
        box_made = [i for i, e in enumerate(mine) if e["kind"] == "create" and e["class"] == "#8002"]
        self.assertTrue(destroyed, "the progress window was never destroyed")
        self.assertTrue(box_made, "no dialog was made for the box")
        self.assertLess(start, destroyed[0])
        self.assertLess(destroyed[0], box_made[0], "the box came before the window went")
        self.assertFalse((folder / DATA_DIR).exists())


# Wine's own record of window creation and destruction (WINEDEBUG=+win).
# With the Common Controls 6.0 manifest a standard class name is redirected to
# its versioned class ('L"STATIC"->L"6.0.2600.2982!Static"'); the line kept is
# the request as the launcher made it.
_CREATE = re.compile(
    r"^(?P<thread>[0-9a-f]+):trace:win:WIN_CreateWindowEx (?P<head>(?P<text>\(null\)|L?\".*?\") "
    r"(?P<cls>\(null\)|L\"[^\"]*\"|#[0-9a-f]+))(?:->(?P<redirect>L\"[^\"]*\"))?"
    r"(?P<tail> ex=[0-9a-f]+ style=[0-9a-f]+ -?\d+,-?\d+ "
    r"(?P<w>\d+)x(?P<h>\d+) parent=(?P<parent>[0-9A-F]+) menu=[0-9A-F]+) "
    r"inst=(?P<inst>[0-9A-F]+)")
_DESTROY = re.compile(r"^(?P<thread>[0-9a-f]+):trace:win:NtUserDestroyWindow \((?P<hwnd>0x[0-9a-f]+)\)")


def window_events(trace):
    events = []
    for line in trace.splitlines():
        match = _CREATE.match(line)
        if match:
            events.append({"kind": "create", "thread": match["thread"],
                           "line": match["head"] + match["tail"], "class": match["cls"],
                           "redirect": match["redirect"], "size": (int(match["w"]), int(match["h"])),
                           "parent": int(match["parent"], 16), "instance": int(match["inst"], 16)})
            continue
        match = _DESTROY.match(line)
        if match:
            events.append({"kind": "destroy", "thread": match["thread"],
                           "hwnd": int(match["hwnd"], 16)})
    return events


if __name__ == "__main__":
    ARGS, rest = parse_args(sys.argv[1:])
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
