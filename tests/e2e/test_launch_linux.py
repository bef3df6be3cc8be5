#!/usr/bin/env python3
"""The native Linux launcher: an unpacked game is started with the same two
texts as arguments and the launcher's directory, and failures are reported
on standard error with a non-zero exit code."""

import os
import subprocess
import sys
import unittest

from launcher_harness import (APP_NAME, DATA_DIR, GAME_EXE, MAP_PARTS, expect_game_record,
                              fresh_dir, install_broken_game, install_game, parse_args)

ARGS = None


class LaunchOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)

    def run_launcher(self, folder):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        return subprocess.run([ARGS.launcher], cwd=folder, env=env, capture_output=True,
                              text=True, timeout=60)

    def test_installed_game_gets_both_texts_and_the_directory(self):
        folder = fresh_dir(self.scratch / "My Games" / "Quill Mark Folder")
        install_game(folder, ARGS.game, ARGS.archive)
        result = self.run_launcher(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        record = expect_game_record(self, folder / "game-record.txt")
        self.assertEqual(record["argc"], "2")
        self.assertEqual(record["argv0"], "%s/./%s/./%s" % (folder, DATA_DIR, GAME_EXE))
        self.assertEqual(record["argv1"], "/".join([str(folder), DATA_DIR, *MAP_PARTS]))
        self.assertEqual(record["cwd"], str(folder))

    def test_game_that_cannot_start_is_reported(self):
        folder = fresh_dir(self.scratch / "broken game")
        install_broken_game(folder, ARGS.archive)
        result = self.run_launcher(folder)
        self.assertNotEqual(result.returncode, 0)
        prefix = 'app throw: could not start "%s/./%s/./%s": ' % (folder, DATA_DIR, GAME_EXE)
        self.assertTrue(result.stderr.startswith(prefix), result.stderr)
        self.assertFalse((folder / "game-record.txt").exists())

    def test_game_missing_takes_the_unpacking_road_and_starts_the_carried_game(self):
        folder = fresh_dir(self.scratch / "nothing unpacked")
        result = self.run_launcher(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("app throw", result.stderr)
        self.assertTrue((folder / DATA_DIR / GAME_EXE).is_file())
        self.assertFalse((folder / ("~%s_temp" % APP_NAME)).exists())


if __name__ == "__main__":
    ARGS, rest = parse_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
