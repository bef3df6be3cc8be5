#!/usr/bin/env python3
"""The Windows launcher under wine: an unpacked game is started with the exact
command line and current directory, and failures reach the "app throw" box."""

import sys
import unittest
from pathlib import Path

from launcher_harness import (APP_NAME, DATA_DIR, GAME_EXE, MAP_PARTS, WineTestCase,
                              expect_game_record, fresh_dir, install_broken_game, install_game,
                              parse_args, run_windows_launcher)
from wine_session import unix_to_windows

ARGS = None


def expected_command_line(windows_dir):
    joint = "\\\\"
    map_path = windows_dir.rstrip("\\") + "\\" + DATA_DIR + "\\" + "\\".join(MAP_PARTS)
    return '"%s%s./%s/./%s" "%s"' % (windows_dir, joint, DATA_DIR, GAME_EXE, map_path)


class LaunchUnderWine(WineTestCase):
    def run_launcher(self, folder):
        return run_windows_launcher(self.session, ARGS.launcher, ARGS.probe, folder)

    def test_installed_game_gets_the_exact_command_line_and_directory(self):
        folder = fresh_dir(self.scratch / "My Games" / "Quill Mark Folder")
        install_game(folder, ARGS.game, ARGS.archive)
        code, box = self.run_launcher(folder)
        self.assertIsNone(box)
        self.assertEqual(code, 0)
        record = expect_game_record(self, folder / "game-record.txt")
        windows_dir = unix_to_windows(folder)
        self.assertEqual(record["command_line"], expected_command_line(windows_dir))
        self.assertEqual(record["argc"], "2")
        self.assertEqual(record["cwd"], windows_dir)

    def test_drive_root_gives_three_backslashes(self):
        root = fresh_dir(self.scratch / "drive root")
        drive = Path(self.session.prefix) / "dosdevices" / "r:"
        if drive.is_symlink() or drive.exists():
            drive.unlink()
        drive.symlink_to(root)
        try:
            install_game(root, ARGS.game, ARGS.archive)
            code, box = self.run_launcher(root)
            self.assertIsNone(box)
            self.assertEqual(code, 0)
            record = expect_game_record(self, root / "game-record.txt")
            self.assertEqual(record["cwd"], "R:\\")
            self.assertEqual(record["command_line"], expected_command_line("R:\\"))
            self.assertIn('"R:\\\\\\./', record["command_line"])
        finally:
            drive.unlink()

    def test_game_that_cannot_start_is_reported(self):
        folder = fresh_dir(self.scratch / "broken game")
        install_broken_game(folder, ARGS.archive)
        code, box = self.run_launcher(folder)
        self.assertIsNotNone(box, "no app throw box appeared")
        self.assertNotEqual(code, 0)
        prefix = 'could not start "%s\\\\./%s/./%s": ' % (unix_to_windows(folder), DATA_DIR, GAME_EXE)
        self.assertTrue(box["text"].startswith(prefix), box["text"])
        self.assertGreater(len(box["text"]), len(prefix))
        self.assertFalse((folder / "game-record.txt").exists())

    def test_game_missing_takes_the_unpacking_road_and_starts_the_carried_game(self):
        folder = fresh_dir(self.scratch / "nothing unpacked")
        code, box = self.run_launcher(folder)
        self.assertIsNone(box)
        self.assertEqual(code, 0)
        self.assertTrue((folder / DATA_DIR / GAME_EXE).is_file())
        self.assertFalse((folder / ("~%s_temp" % APP_NAME)).exists())


if __name__ == "__main__":
    ARGS, rest = parse_args(sys.argv[1:])
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
