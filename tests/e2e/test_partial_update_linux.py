#!/usr/bin/env python3
"""The native launcher's update from one version of a game to the next where
about 1% of the files differ, from either home of the archive: only the
changed and added files are written (told from the files' times of last
write), the rest are left alone; a file the player edited or damaged is
written anew; a stamp of a launcher from before records has everything
written; an update killed part-way is finished by the next start, which
still leaves alone exactly the files nobody touched."""

import argparse
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

from launcher_harness import DATA_DIR, GAME_EXE, fresh_dir, headless_env, run_headless
from lifecycle_common import with_player_files
from partial_update_common import (InstallSteps, archive_changes, archive_files, file_times,
                                   settle, strip_records, written_between)
from unpack_common import unzip_tree

ARGS = None


class PartialUpdateOnLinux(InstallSteps, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.b_tree = with_player_files(unzip_tree(ARGS.b_archive, cls.scratch / "unzip b"))
        cls.changed, cls.added, cls.removed = archive_changes(ARGS.a_archive, ARGS.b_archive)
        cls.b_files = archive_files(ARGS.b_archive)

    def run_ok(self, launcher, folder):
        result = run_headless(launcher, folder)
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_the_fixture_changes_about_one_file_in_a_hundred(self):
        self.assertEqual(len(self.changed), 3)
        self.assertEqual((len(self.added), len(self.removed)), (1, 1))
        self.assertGreater(len(self.b_files), 250)

    def test_only_the_changed_and_added_files_are_written_then_the_game_is_current(self):
        for label, a, b in (("image to image", ARGS.a, ARGS.b),
                            ("file to file", ARGS.a_file, ARGS.b_file),
                            ("image to file", ARGS.a, ARGS.b_file)):
            with self.subTest(label):
                folder = self.install_a("partial " + label, a)
                before = file_times(folder)
                self.run_ok(b, folder)
                self.assertEqual(written_between(before, file_times(folder)),
                                 self.changed | self.added)
                self.assert_b_installed(folder)
                self.assertFalse((folder / DATA_DIR / GAME_EXE).with_name(GAME_EXE + ".unpacking")
                                 .exists())

                # The installed road: nothing is written, the stamp neither.
                settle()
                current = file_times(folder, with_stamp=True)
                self.run_ok(b, folder)
                self.assertEqual(written_between(current, file_times(folder, with_stamp=True)),
                                 set())

    def test_files_the_player_edited_or_damaged_are_written_anew(self):
        folder = self.install_a("partial edited")
        data = folder / DATA_DIR
        edited, damaged = "data/many/050.txt", "data/many/060.txt"
        (data / edited).write_bytes((data / edited).read_bytes().upper())  # same size
        with open(data / damaged, "r+b") as cut:
            cut.truncate(2)
        settle()
        before = file_times(folder)
        self.run_ok(ARGS.b, folder)
        self.assertEqual(written_between(before, file_times(folder)),
                         self.changed | self.added | {edited, damaged})
        self.assert_b_installed(folder)

    def test_a_stamp_of_the_old_format_has_every_file_written(self):
        folder = self.install_a("partial old stamp")
        strip_records(folder)
        before = file_times(folder)
        self.run_ok(ARGS.b, folder)
        self.assertEqual(written_between(before, file_times(folder)), self.b_files)
        self.assert_b_installed(folder)

    def kill_after(self, launcher, folder, written, before):
        """Starts the launcher and kills it once it has written `written`
        files of the data directory (the stamp counts); returns whether it
        was still running then."""
        process = subprocess.Popen([launcher], cwd=folder, env=headless_env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while process.poll() is None:
            if len(written_between(before, file_times(folder, with_stamp=True))) >= written:
                break
            time.sleep(0.001)
        running = process.poll() is None
        process.send_signal(signal.SIGKILL)
        process.wait()
        return running

    def test_an_update_killed_part_way_is_finished_and_untouched_files_stay_untouched(self):
        untouched = self.b_files - self.changed - self.added
        landed = 0
        for home, b in (("image", ARGS.b), ("file", ARGS.b_file)):
            for point in (1, 2, 3):
                with self.subTest(home=home, killed_after_files=point):
                    folder = self.install_a("partial %s killed after %d" % (home, point))
                    before = file_times(folder)
                    landed += self.kill_after(b, folder, point,
                                              file_times(folder, with_stamp=True))
                    settle()
                    self.run_ok(b, folder)
                    self.assert_b_installed(folder)
                    written = written_between(before, file_times(folder))
                    self.assertEqual(written & untouched, set())
                    self.assertEqual(written, self.changed | self.added)
        self.assertGreaterEqual(landed, 2, "too few kills landed while the launcher was unpacking")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--a", "--a-file", "--a-archive", "--b", "--b-file", "--b-archive", "--scratch"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("a", "a_file", "a_archive", "b", "b_file", "b_archive"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    PartialUpdateOnLinux.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
