#!/usr/bin/env python3
"""The Windows launcher's install over its life, under wine: two launchers
started together or 0.3 s apart unpack once and both start the game; a
launcher killed part-way leaves a folder that the next start completes,
whether it unpacked from a temporary archive or from its own file; an
update from a launcher carrying the archive in its image to one carrying it
in its file, and back, keeps the player's files; an update that finds a file
held open names it, changes nothing that a later start cannot finish, and
that later start does."""

import argparse
import signal
import sys
import time
import unittest
from pathlib import Path

from launcher_harness import DATA_DIR, WineTestCase, fresh_dir, run_windows_launcher
from lifecycle_common import (add_player_files, forget_starts, install_problem, stamp_header,
                              wait_for_starts, with_player_files)
from unpack_common import unzip_tree

ARGS = None


class LifecycleUnderWine(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.many_tree = unzip_tree(ARGS.many_archive, cls.scratch / "unzip many")
        cls.b_tree = unzip_tree(ARGS.version_b_archive, cls.scratch / "unzip b")

    def run_launcher(self, launcher, folder):
        return run_windows_launcher(self.session, launcher, ARGS.probe, folder)

    def start_box_watch(self, folder, seconds):
        """A probe that dismisses (and records) any "app throw" box."""
        record = Path(folder).parent / (Path(folder).name + ".box.txt")
        record.unlink(missing_ok=True)
        probe = self.session.spawn(ARGS.probe, [str(seconds * 1000), str(record)], cwd=folder)
        return probe, record

    def test_two_launchers_together_or_apart_unpack_once_and_both_start_the_game(self):
        for delay in (0.0, 0.3):
            with self.subTest(delay=delay):
                folder = fresh_dir(self.scratch / ("second after %.1f s" % delay))
                probe, record = self.start_box_watch(folder, 120)
                first = self.session.spawn(ARGS.many, cwd=folder)
                time.sleep(delay)
                second = self.session.spawn(ARGS.many, cwd=folder)
                codes = [first.wait(timeout=180), second.wait(timeout=180)]
                probe.kill()
                probe.wait()
                self.assertFalse(record.exists(), record.read_text() if record.exists() else "")
                self.assertEqual(codes, [0, 0])
                self.assertEqual(wait_for_starts(folder, 2), 2, "not both launchers started the game")
                self.assertEqual(install_problem(folder, ARGS.many_archive, self.many_tree), "")

    def test_a_launcher_killed_part_way_leaves_what_the_next_start_completes(self):
        for home, many in (("image", ARGS.many), ("file", ARGS.many_file)):
            for seconds in (0.5, 1.0, 2.0):
                with self.subTest(home=home, killed_after=seconds):
                    folder = fresh_dir(self.scratch / ("%s killed after %.1f s" % (home, seconds)))
                    launcher = self.session.spawn(many, cwd=folder)
                    time.sleep(seconds)
                    launcher.send_signal(signal.SIGKILL)
                    launcher.wait()
                    forget_starts(folder)
                    self.assertEqual(self.run_launcher(many, folder), (0, None))
                    self.assertEqual(install_problem(folder, ARGS.many_archive, self.many_tree),
                                     "")
                    self.assertEqual(wait_for_starts(folder, 1), 1)

    def test_an_update_across_the_archives_homes_keeps_the_players_files(self):
        for label, version_a, version_b in (("image to file", ARGS.version_a, ARGS.version_b_file),
                                            ("file to image", ARGS.version_a_file, ARGS.version_b)):
            with self.subTest(label):
                folder = fresh_dir(self.scratch / ("update " + label))
                self.assertEqual(self.run_launcher(version_a, folder), (0, None))
                add_player_files(folder)
                self.assertEqual(self.run_launcher(version_b, folder), (0, None))
                self.assertEqual(install_problem(folder, ARGS.version_b_archive,
                                                 with_player_files(self.b_tree)), "")
                self.assertEqual(wait_for_starts(folder, 2), 2)

    def test_an_update_over_a_file_held_open_names_it_and_a_later_start_finishes(self):
        folder = fresh_dir(self.scratch / "held file")
        self.assertEqual(self.run_launcher(ARGS.version_a, folder), (0, None))
        add_player_files(folder)
        ready = folder.parent / "held file.ready"
        ready.unlink(missing_ok=True)
        holder = self.session.spawn(ARGS.hold, ["data\\changed.txt", "120000", str(ready)],
                                    cwd=folder / DATA_DIR)
        try:
            deadline = time.monotonic() + 60
            while not ready.exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertTrue(ready.exists(), "the file was never held")
            code, box = self.run_launcher(ARGS.version_b, folder)
        finally:
            holder.kill()
            holder.wait()
        self.assertNotEqual(code, 0)
        self.assertIsNotNone(box, "no app throw box appeared")
        self.assertEqual(box["text"], 'could not replace "./%s/data/changed.txt": the game is '
                                      "running and holds it. Close the game, then start again."
                                      % DATA_DIR)
        stamp = (folder / DATA_DIR / ".launcher-stamp").read_bytes()
        self.assertFalse(stamp.startswith(stamp_header(ARGS.version_b_archive)))

        self.assertEqual(self.run_launcher(ARGS.version_b, folder), (0, None))
        self.assertEqual(install_problem(folder, ARGS.version_b_archive,
                                         with_player_files(self.b_tree)), "")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--many", "--many-file", "--many-archive", "--version-a", "--version-a-archive",
                 "--version-b", "--version-b-archive", "--version-a-file", "--version-b-file",
                 "--hold", "--probe", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("many", "many_file", "many_archive", "version_a", "version_a_archive",
                   "version_b", "version_b_archive", "version_a_file", "version_b_file", "hold",
                   "probe"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
