#!/usr/bin/env python3
"""The Windows launcher's update under wine where about 1% of the files
differ, from either home of the archive: only the changed and added files are
written (told from the files' times of last write, read from the host); a
stamp of a launcher from before records has everything written; a file a
running game holds open does not stop the update when the update leaves it
alone; an update killed part-way is finished by the next start, which leaves
alone exactly the files nobody touched."""

import argparse
import signal
import sys
import time
import unittest
from pathlib import Path

from launcher_harness import DATA_DIR, WineTestCase, run_windows_launcher
from lifecycle_common import with_player_files
from partial_update_common import (InstallSteps, archive_changes, archive_files, file_times,
                                   settle, strip_records, written_between)
from unpack_common import unzip_tree

ARGS = None


class PartialUpdateUnderWine(InstallSteps, WineTestCase):
    @classmethod
    def prepare(cls):
        cls.b_tree = with_player_files(unzip_tree(ARGS.b_archive, cls.scratch / "unzip b"))
        cls.changed, cls.added, _ = archive_changes(ARGS.a_archive, ARGS.b_archive)
        cls.b_files = archive_files(ARGS.b_archive)

    def run_ok(self, launcher, folder):
        self.assertEqual(run_windows_launcher(self.session, launcher, ARGS.probe, folder),
                         (0, None))

    def test_only_the_changed_and_added_files_are_written_then_the_game_is_current(self):
        self.assertEqual((len(self.changed), len(self.added)), (3, 1))
        for label, a, b in (("image to image", ARGS.a, ARGS.b),
                            ("file to file", ARGS.a_file, ARGS.b_file)):
            with self.subTest(label):
                folder = self.install_a("partial " + label, a)
                before = file_times(folder)
                self.run_ok(b, folder)
                self.assertEqual(written_between(before, file_times(folder)),
                                 self.changed | self.added)
                self.assert_b_installed(folder)
                settle()
                current = file_times(folder, with_stamp=True)
                self.run_ok(b, folder)
                self.assertEqual(written_between(current, file_times(folder, with_stamp=True)),
                                 set())

    def test_a_stamp_of_the_old_format_has_every_file_written(self):
        folder = self.install_a("partial old stamp")
        strip_records(folder)
        before = file_times(folder)
        self.run_ok(ARGS.b, folder)
        self.assertEqual(written_between(before, file_times(folder)), self.b_files)
        self.assert_b_installed(folder)

    def test_a_held_file_the_update_leaves_alone_does_not_stop_it(self):
        folder = self.install_a("partial held unchanged")
        ready = folder.parent / "partial held unchanged.ready"
        ready.unlink(missing_ok=True)
        holder = self.session.spawn(ARGS.hold, ["data\\many\\050.txt", "120000", str(ready)],
                                    cwd=folder / DATA_DIR)
        try:
            deadline = time.monotonic() + 60
            while not ready.exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertTrue(ready.exists(), "the file was never held")
            self.run_ok(ARGS.b, folder)
        finally:
            holder.kill()
            holder.wait()
        self.assert_b_installed(folder)

    def test_an_update_killed_part_way_is_finished_and_untouched_files_stay_untouched(self):
        untouched = self.b_files - self.changed - self.added
        landed = 0
        for home, b in (("image", ARGS.b), ("file", ARGS.b_file)):
            for point in (1, 3):
                with self.subTest(home=home, killed_after_files=point):
                    folder = self.install_a("partial %s killed after %d" % (home, point))
                    before = file_times(folder)
                    with_stamp = file_times(folder, with_stamp=True)
                    launcher = self.session.spawn(b, cwd=folder)
                    deadline = time.monotonic() + 60
                    while (launcher.poll() is None and time.monotonic() < deadline and
                           len(written_between(with_stamp, file_times(folder, True))) < point):
                        time.sleep(0.001)
                    landed += launcher.poll() is None
                    launcher.send_signal(signal.SIGKILL)
                    launcher.wait()
                    settle()
                    self.run_ok(b, folder)
                    self.assert_b_installed(folder)
                    written = written_between(before, file_times(folder))
                    self.assertEqual(written & untouched, set())
                    self.assertEqual(written, self.changed | self.added)
        self.assertGreaterEqual(landed, 2, "too few kills landed while the launcher was unpacking")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--a", "--a-file", "--a-archive", "--b", "--b-file", "--b-archive", "--hold",
                 "--probe", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("a", "a_file", "a_archive", "b", "b_file", "b_archive", "hold", "probe"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
