#!/usr/bin/env python3
"""The main job end to end: the launcher built with the demo game, run twice
in a scratch directory the way scripts/demo runs it. The demo archive is laid
out as a game should be; the first run unpacks it byte for byte and starts the
game with the start-up map, which is there; the second run launches at once."""

import argparse
import sys
import unittest
import zipfile
from pathlib import Path

from demo_runs import Build, Demo
from wine_session import unix_to_windows

ARGS = None


def entry_name(relative):
    return "/".join(part for part in relative.split("/") if part not in ("", "."))


class DemoArchive(unittest.TestCase):
    def setUp(self):
        with zipfile.ZipFile(Build(ARGS.build, ARGS.preset).archive) as archive:
            self.names = [info.filename for info in archive.infolist()]

    def test_holds_the_game_map_and_data_under_the_configured_names(self):
        self.assertIn(entry_name(ARGS.game_exe), self.names)
        self.assertIn(entry_name(ARGS.start_map), self.names)
        data_files = [name for name in self.names
                      if name.startswith("data/") and not name.endswith("/")]
        self.assertGreaterEqual(len(data_files), 3)
        self.assertTrue(all(name.count("/") >= 2 for name in data_files))

    def test_every_directory_has_an_entry_before_its_contents(self):
        for index, name in enumerate(self.names):
            parts = name.rstrip("/").split("/")
            for depth in range(1, len(parts)):
                parent = "/".join(parts[:depth]) + "/"
                with self.subTest(name=name, parent=parent):
                    self.assertIn(parent, self.names[:index])


class DemoRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = Build(ARGS.build, ARGS.preset, ARGS.launcher)
        cls.scratch = Path(ARGS.scratch).resolve() / "Player Folder"
        with Demo(cls.build, cls.scratch, game_seconds=1) as demo:
            cls.first = demo.run_once("first run")
            cls.second = demo.run_once("second run")

    def expected_map(self):
        parts = [self.build.data_dir_name, *entry_name(ARGS.start_map).split("/")]
        if self.build.windows:
            return "\\".join([unix_to_windows(self.scratch), *parts])
        return "/".join([str(self.scratch), *parts])

    def assert_game_started(self, run):
        self.assertEqual(run.code, 0)
        self.assertIsNone(run.message)
        self.assertIsNotNone(run.record, "the game left no record")
        self.assertEqual(run.record["map"], self.expected_map())
        self.assertEqual(run.record["map_found"], "yes")
        expected_cwd = unix_to_windows(self.scratch) if self.build.windows else str(self.scratch)
        self.assertEqual(run.record["cwd"], expected_cwd)
        self.assertIn(run.record["shown"], ("window", "terminal"))
        self.assertFalse(run.temp_left)

    def test_first_run_unpacks_the_archive_and_starts_the_game(self):
        self.assert_game_started(self.first)
        self.assertTrue(self.first.snapshot)
        self.assertEqual(self.first.mismatches, [])

    def test_second_run_launches_without_touching_the_data_directory(self):
        self.assert_game_started(self.second)
        self.assertEqual(self.second.snapshot, self.first.snapshot)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--preset", choices=["windows", "linux"], required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--game-exe", required=True)
    parser.add_argument("--start-map", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
