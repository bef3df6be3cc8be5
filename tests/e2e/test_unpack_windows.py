#!/usr/bin/env python3
"""The Windows launcher's unpacking road under wine, with a chosen payload:
what `unzip` makes of the archive, byte for byte, then the game started; a
second start that goes straight to the game; a stale temporary archive and an
old data directory removed first; a damaged entry in the "app throw" box."""

import argparse
import sys
import unittest
from pathlib import Path

from launcher_harness import (DATA_DIR, GAME_EXE, WineTestCase, expect_game_record, fresh_dir,
                              run_windows_launcher)
from lifecycle_common import install_problem
from unpack_common import TEMP_ARCHIVE, unzip_tree
from wine_session import unix_to_windows

ARGS = None


class UnpackUnderWine(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.expected = unzip_tree(ARGS.small_archive, cls.scratch / "unzip small")

    def run_launcher(self, launcher, folder):
        return run_windows_launcher(self.session, launcher, ARGS.probe, folder)

    def assert_unpacked(self, folder):
        """What unzip makes of the archive, and a stamp of it: nothing else."""
        self.assertEqual(install_problem(folder, ARGS.small_archive, self.expected), "",
                         "the data directory is not what unzip makes")

    def assert_game_started(self, folder):
        record = expect_game_record(self, folder / "game-record.txt")
        self.assertEqual(record["argc"], "2")
        self.assertEqual(record["cwd"], unix_to_windows(folder))

    def test_first_run_unpacks_what_unzip_unpacks_and_starts_the_game(self):
        folder = fresh_dir(self.scratch / "first run")
        code, box = self.run_launcher(ARGS.small, folder)
        self.assertIsNone(box)
        self.assertEqual(code, 0)
        self.assert_unpacked(folder)
        self.assert_game_started(folder)

    def test_second_run_goes_straight_to_the_game(self):
        folder = fresh_dir(self.scratch / "second run")
        self.assertEqual(self.run_launcher(ARGS.small, folder), (0, None))
        expect_game_record(self, folder / "game-record.txt")  # the first run's game is done
        (folder / "game-record.txt").unlink()
        keep = folder / DATA_DIR / "saved game.txt"  # an unpacking would wipe it
        keep.write_text("mine\n")
        self.assertEqual(self.run_launcher(ARGS.small, folder), (0, None))
        self.assertTrue(keep.exists())
        self.assert_game_started(folder)

    def test_stale_archive_and_old_data_directory_are_removed_first(self):
        folder = fresh_dir(self.scratch / "stale")
        (folder / TEMP_ARCHIVE).write_bytes(b"half an archive" * 100_000)
        old = folder / DATA_DIR / "data" / "old"
        old.mkdir(parents=True)
        (old / "stray.txt").write_text("from an earlier version\n")
        self.assertEqual(self.run_launcher(ARGS.small, folder), (0, None))
        self.assert_unpacked(folder)
        self.assert_game_started(folder)

    def test_damaged_entry_is_reported_and_leaves_no_game(self):
        folder = fresh_dir(self.scratch / "damaged")
        code, box = self.run_launcher(ARGS.crc, folder)
        self.assertIsNotNone(box, "no app throw box appeared")
        self.assertNotEqual(code, 0)
        self.assertEqual(box["text"],
                         'archive entry "data/after/checked.bin" is damaged: CRC mismatch')
        self.assertFalse((folder / DATA_DIR / GAME_EXE).exists())
        self.assertTrue((folder / TEMP_ARCHIVE).exists())
        self.assertFalse((folder / "game-record.txt").exists())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", required=True, help="launcher carrying the small archive")
    parser.add_argument("--crc", required=True, help="launcher carrying the damaged archive")
    parser.add_argument("--small-archive", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("small", "crc", "small_archive", "probe"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
