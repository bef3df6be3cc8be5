#!/usr/bin/env python3
"""The native launcher's install over its life: launchers started together or
while another unpacks, launchers killed part-way through a first install and
an update, an update from one version of a game to the next over the player's
own files (from and to either home of the archive: the launcher's image or
its file), an install made before stamps existed. Every check ends in the
same question: does the folder hold exactly the new archive's entries plus
the player's files, with a current stamp?"""

import argparse
import os
import signal
import subprocess
import sys
import time
import unittest
import zipfile
from pathlib import Path

from launcher_harness import DATA_DIR, GAME_EXE, fresh_dir, headless_env, run_headless
from lifecycle_common import (add_player_files, forget_starts, game_starts, install_problem,
                              wait_for_starts, with_player_files)
from unpack_common import TEMP_ARCHIVE, unzip_tree

ARGS = None


def files_written_since(root, since_ns):
    """How many files below `root` were last written at `since_ns` or later."""
    count = 0
    for folder, _, names in os.walk(root):
        for name in names:
            try:
                count += os.stat(os.path.join(folder, name)).st_mtime_ns >= since_ns
            except FileNotFoundError:
                pass
    return count



def start(launcher, folder):
    return subprocess.Popen([launcher], cwd=folder, env=headless_env(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)



class LifecycleOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.trees = {name: unzip_tree(archive, cls.scratch / ("unzip " + name))
                     for name, archive in [("many", ARGS.many_archive), ("big", ARGS.big_archive),
                                           ("a", ARGS.version_a_archive),
                                           ("b", ARGS.version_b_archive)]}

    def assert_installed(self, folder, name, archive, player_files=False):
        expected = self.trees[name]
        if player_files:
            expected = with_player_files(expected)
        self.assertEqual(install_problem(folder, archive, expected), "")

    def assert_all_succeeded(self, processes, folder):
        for process in processes:
            out, err = process.communicate(timeout=300)
            self.assertEqual((process.returncode, err), (0, ""))
        self.assertEqual(wait_for_starts(folder, len(processes)), len(processes),
                         "not every launcher started the game")

    def test_launchers_started_together_unpack_once_and_all_start_the_game(self):
        for count in (2, 5):
            with self.subTest(launchers=count):
                folder = fresh_dir(self.scratch / ("together %d" % count))
                processes = [start(ARGS.many, folder) for _ in range(count)]
                self.assert_all_succeeded(processes, folder)
                self.assert_installed(folder, "many", ARGS.many_archive)

    def test_a_launcher_started_while_another_unpacks_waits_and_starts_the_game(self):
        for delay in (0.1, 0.3, 0.6, 1.0):
            with self.subTest(delay=delay):
                folder = fresh_dir(self.scratch / ("second after %.1f s" % delay))
                first = start(ARGS.many, folder)
                time.sleep(delay)
                second = start(ARGS.many, folder)
                self.assert_all_succeeded([first, second], folder)
                self.assert_installed(folder, "many", ARGS.many_archive)

    def test_update_replaces_the_old_game_and_keeps_the_players_files(self):
        pairs = [("image to image", ARGS.version_a, ARGS.version_b),
                 ("image to file", ARGS.version_a, ARGS.version_b_file),
                 ("file to image", ARGS.version_a_file, ARGS.version_b),
                 ("file to file", ARGS.version_a_file, ARGS.version_b_file)]
        for label, version_a, version_b in pairs:
            with self.subTest(label):
                folder = fresh_dir(self.scratch / ("update " + label))
                self.assertEqual(run_headless(version_a, folder).returncode, 0)
                add_player_files(folder)
                result = run_headless(version_b, folder)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assert_installed(folder, "b", ARGS.version_b_archive, player_files=True)
                self.assertEqual(wait_for_starts(folder, 2), 2)

                # Now current: the next start launches what is there, unexamined.
                changed = folder / DATA_DIR / "data" / "changed.txt"
                changed.write_bytes(b"edited by the player\n")
                self.assertEqual(run_headless(version_b, folder).returncode, 0)
                self.assertEqual(changed.read_bytes(), b"edited by the player\n")
                self.assertEqual(wait_for_starts(folder, 3), 3)

    def test_an_install_made_before_stamps_is_updated_without_losing_a_file(self):
        folder = fresh_dir(self.scratch / "no stamp")
        self.assertEqual(run_headless(ARGS.version_a, folder).returncode, 0)
        (folder / DATA_DIR / ".launcher-stamp").unlink()
        add_player_files(folder)
        result = run_headless(ARGS.version_b, folder)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        # Without a stamp nothing tells version a's own files from the
        # player's, so they stay: b's entries, the player's files, and those.
        expected = with_player_files(self.trees["b"])
        expected.update({name: content for name, content in self.trees["a"].items()
                         if name not in self.trees["b"]})
        self.assertIn("retired/old.bin", expected)
        self.assertEqual(install_problem(folder, ARGS.version_b_archive, expected), "")

    def kill_when(self, launcher, folder, written):
        """Starts the launcher and kills it once it has written `written` files
        of the data directory (0: once its temporary archive is there), which
        marks a point of its progress however fast the machine is. Returns
        whether it was still unpacking then (the game not yet started)."""
        time.sleep(0.05)  # what `prepare` wrote is older than this run's files
        began_ns = time.time_ns()
        process = start(launcher, folder)
        while process.poll() is None and game_starts(folder) == 0:
            if written == 0 and (folder / TEMP_ARCHIVE).exists():
                break
            if written > 0 and files_written_since(folder / DATA_DIR, began_ns) >= written:
                break
            time.sleep(0.001)
        unpacking = game_starts(folder) == 0 and process.poll() is None
        process.send_signal(signal.SIGKILL)
        process.communicate()
        return unpacking

    def check_kills(self, label, prepare, player_files, launcher=None):
        """Kills at points spread over the unpacking, each followed by a start
        that must finish it. The image home's first point is its temporary
        archive written; the file home writes none."""
        launcher = launcher or ARGS.big
        with zipfile.ZipFile(ARGS.big_archive) as archive:
            files = sum(1 for info in archive.infolist() if not info.is_dir())
        points = list(range(1, files, max(1, files // 10)))
        if launcher == ARGS.big:
            points.insert(0, 0)
        interrupted = 0
        for point in points:
            with self.subTest(label, killed_after_files=point):
                folder = fresh_dir(self.scratch / ("%s killed after %d files" % (label, point)))
                prepare(folder)
                interrupted += self.kill_when(launcher, folder, point)
                forget_starts(folder)
                result = run_headless(launcher, folder)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assert_installed(folder, "big", ARGS.big_archive, player_files)
                self.assertTrue((folder / DATA_DIR / GAME_EXE).exists())
        self.assertGreaterEqual(interrupted, len(points) // 2,
                                "too few kills landed while the launcher was unpacking")

    def test_a_first_install_killed_anywhere_is_completed_by_the_next_start(self):
        self.check_kills("first install", lambda folder: None, False)

    def test_a_first_install_from_the_file_killed_anywhere_is_completed_by_the_next_start(self):
        self.check_kills("first install from the file", lambda folder: None, False, ARGS.big_file)

    def test_an_update_killed_anywhere_is_completed_by_the_next_start(self):
        def prepare(folder):
            self.assertEqual(run_headless(ARGS.version_a, folder).returncode, 0)
            add_player_files(folder)
            forget_starts(folder)
        self.check_kills("update", prepare, True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--many", required=True, help="launcher of an archive of 3,000 entries")
    parser.add_argument("--many-archive", required=True)
    parser.add_argument("--big", required=True, help="launcher of an archive of some MB")
    parser.add_argument("--big-file", required=True, help="--big's twin: the archive attached")
    parser.add_argument("--big-archive", required=True)
    parser.add_argument("--version-a", required=True)
    parser.add_argument("--version-a-archive", required=True)
    parser.add_argument("--version-b", required=True)
    parser.add_argument("--version-b-archive", required=True)
    parser.add_argument("--version-a-file", required=True)
    parser.add_argument("--version-b-file", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("many", "many_archive", "big", "big_file", "big_archive", "version_a",
                   "version_a_archive", "version_b", "version_b_archive", "version_a_file",
                   "version_b_file"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    unittest.main(argv=[sys.argv[0], "-v", *rest])
