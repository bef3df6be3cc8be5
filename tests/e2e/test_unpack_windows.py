#!/usr/bin/env python3
"""The Windows launcher's unpacking road under wine, with a chosen payload,
for an archive in the launcher's image and the same archive attached to its
file: what `unzip` makes of the archive, byte for byte, then the game
started; a second start that goes straight to the game; a stale temporary
archive and an old data directory removed first; a damaged entry in the "app
throw" box. For the file home also: a launcher signed with osslsigncode (its
certificate table appended after the archive) or with bytes appended still
unpacks; one cut short or never given its archive says so in the box."""

import argparse
import os
import sys
import unittest
from pathlib import Path

from launcher_harness import (DATA_DIR, GAME_EXE, WineTestCase, expect_game_record, fresh_dir,
                              run_windows_launcher)
from attached_copies import attached_region, certificate_table, copy_of, signed_copy
from lifecycle_common import install_problem
from unpack_common import TEMP_ARCHIVE, unzip_tree
from wine_session import unix_to_windows

ARGS = None


def roads():
    """(home, launcher of the small archive, launcher of the damaged one)."""
    return [("image", ARGS.small, ARGS.crc), ("file", ARGS.small_file, ARGS.crc_file)]


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
        for home, small, _ in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("first run " + home))
                code, box = self.run_launcher(small, folder)
                self.assertIsNone(box)
                self.assertEqual(code, 0)
                self.assert_unpacked(folder)
                self.assert_game_started(folder)

    def test_second_run_goes_straight_to_the_game(self):
        for home, small, _ in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("second run " + home))
                self.assertEqual(self.run_launcher(small, folder), (0, None))
                expect_game_record(self, folder / "game-record.txt")  # the first game is done
                (folder / "game-record.txt").unlink()
                keep = folder / DATA_DIR / "saved game.txt"  # an unpacking would wipe it
                keep.write_text("mine\n")
                self.assertEqual(self.run_launcher(small, folder), (0, None))
                self.assertTrue(keep.exists())
                self.assert_game_started(folder)

    def test_stale_archive_and_old_data_directory_are_removed_first(self):
        for home, small, _ in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("stale " + home))
                (folder / TEMP_ARCHIVE).write_bytes(b"half an archive" * 100_000)
                old = folder / DATA_DIR / "data" / "old"
                old.mkdir(parents=True)
                (old / "stray.txt").write_text("from an earlier version\n")
                self.assertEqual(self.run_launcher(small, folder), (0, None))
                self.assert_unpacked(folder)
                self.assert_game_started(folder)

    def test_damaged_entry_is_reported_and_leaves_no_game(self):
        for home, _, crc in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("damaged " + home))
                code, box = self.run_launcher(crc, folder)
                self.assertIsNotNone(box, "no app throw box appeared")
                self.assertNotEqual(code, 0)
                self.assertEqual(box["text"],
                                 'archive entry "data/after/checked.bin" is damaged: CRC mismatch')
                self.assertFalse((folder / DATA_DIR / GAME_EXE).exists())
                self.assertEqual((folder / TEMP_ARCHIVE).exists(), home == "image")
                self.assertFalse((folder / "game-record.txt").exists())

    def test_a_signed_launcher_or_one_with_bytes_after_its_archive_unpacks(self):
        offset, size = attached_region(ARGS.small_file)
        signed = signed_copy(ARGS.small_file, self.scratch / "launchers" / "signed.exe",
                             self.scratch / "signing")
        # osslsigncode appended the certificate table after the archive and
        # left the archive and its record where they were.
        table_at, table_size = certificate_table(signed)
        self.assertGreaterEqual(table_at, offset + size)
        self.assertGreater(table_size, 0)
        self.assertEqual(attached_region(signed), (offset, size))
        appended = copy_of(ARGS.small_file, self.scratch / "launchers" / "appended.exe",
                           appended=bytes(range(256)) * 64)
        for label, launcher in (("signed", signed), ("bytes appended", appended)):
            with self.subTest(label):
                folder = fresh_dir(self.scratch / ("run " + label))
                self.assertEqual(self.run_launcher(str(launcher), folder), (0, None))
                self.assert_unpacked(folder)
                self.assert_game_started(folder)

    def test_a_launcher_without_its_whole_archive_says_so_and_changes_nothing(self):
        offset, size = attached_region(ARGS.small_file)
        cases = [("never attached", dict(unpatched=True),
                  "could not find the game's archive in \"{0}\": the build never attached it "
                  "to the launcher"),
                 ("cut short", dict(cut=1000),
                  "could not read the game's archive from \"{0}\": the file is %d bytes long, "
                  "but the archive ends at byte %d. The launcher is incomplete (was its download "
                  "cut short?): get it again." % (os.path.getsize(ARGS.small_file) - 1000,
                                                  offset + size))]
        for label, change, message in cases:
            with self.subTest(label):
                launcher = copy_of(ARGS.small_file, self.scratch / "launchers" / (label + ".exe"),
                                   **change)
                folder = fresh_dir(self.scratch / ("run " + label))
                code, box = self.run_launcher(str(launcher), folder)
                self.assertEqual(code, 1)
                self.assertIsNotNone(box, "no app throw box appeared")
                self.assertEqual(box["text"], message.format(unix_to_windows(launcher)))
                self.assertEqual(list(folder.iterdir()), [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", required=True, help="launcher carrying the small archive")
    parser.add_argument("--crc", required=True, help="launcher carrying the damaged archive")
    parser.add_argument("--small-file", required=True, help="--small's twin: the archive attached")
    parser.add_argument("--crc-file", required=True, help="--crc's twin: the archive attached")
    parser.add_argument("--small-archive", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("small", "crc", "small_file", "crc_file", "small_archive", "probe"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
