#!/usr/bin/env python3
"""The native Linux launcher's unpacking road with a chosen payload, for an
archive in the launcher's image and the same archive attached to its file:
what `unzip` makes of the archive, byte for byte; a second start that goes
straight to the game; a damaged entry reported; a run killed half-way that
the next start repairs; too little free space, on a small tmpfs; and for the
file home, bytes appended after the archive, a launcher cut short and one
whose archive was never attached."""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import unittest
from pathlib import Path

from launcher_harness import (DATA_DIR, GAME_EXE, expect_game_record, fresh_dir, headless_env,
                              run_headless)
from lifecycle_common import install_problem
from attached_copies import attached_region, copy_of
from unpack_common import TEMP_ARCHIVE, unzip_tree
from unpack_watch import Watch

ARGS = None


def roads():
    """(home, launcher of the small archive, launcher of the damaged one)."""
    return [("image", ARGS.small, ARGS.crc), ("file", ARGS.small_file, ARGS.crc_file)]



def private_mount_namespace():
    """unshare's arguments for a mount namespace of the test's own: root needs
    no user namespace (which the kernel refuses inside a chroot); anyone else
    becomes root in one of their own."""
    if os.geteuid() == 0:
        return ["unshare", "--mount"]
    return ["unshare", "--user", "--map-root-user", "--mount"]


class UnpackOnLinux(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.small_tree = unzip_tree(ARGS.small_archive, cls.scratch / "unzip small")
        cls.big_tree = unzip_tree(ARGS.big_archive, cls.scratch / "unzip big")

    def assert_unpacked(self, folder, expected, archive):
        """What unzip makes of the archive, and a stamp of it: nothing else."""
        self.assertEqual(install_problem(folder, archive, expected), "",
                         "the data directory is not what unzip makes")

    def assert_game_started(self, folder):
        record = expect_game_record(self, folder / "game-record.txt")
        self.assertEqual(record["argc"], "2")
        self.assertEqual(record["cwd"], str(folder))

    def test_the_launchers_carry_the_archive_where_their_home_says(self):
        archive_size = Path(ARGS.small_archive).stat().st_size
        offset, size = attached_region(ARGS.small_file)
        self.assertEqual(size, archive_size)
        with open(ARGS.small_file, "rb") as launcher:
            launcher.seek(offset)
            self.assertEqual(launcher.read(size), Path(ARGS.small_archive).read_bytes())
        # The image's twin carries no record at all.
        with self.assertRaisesRegex(Exception, 'no section ".payload"'):
            attached_region(ARGS.small)

    def test_first_run_unpacks_what_unzip_unpacks_and_starts_the_game(self):
        for home, small, _ in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("first run " + home))
                result = run_headless(small, folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                self.assert_unpacked(folder, self.small_tree, ARGS.small_archive)
                self.assert_game_started(folder)

    def test_second_run_goes_straight_to_the_game(self):
        for home, small, _ in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("second run " + home))
                self.assertEqual(run_headless(small, folder).returncode, 0)
                expect_game_record(self, folder / "game-record.txt")  # the first game is done
                (folder / "game-record.txt").unlink()
                keep = folder / DATA_DIR / "saved game.txt"  # an unpacking would wipe it
                keep.write_text("mine\n")
                result = run_headless(small, folder)
                self.assertEqual(result.returncode, 0, result.stderr)
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
                result = run_headless(small, folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assert_unpacked(folder, self.small_tree, ARGS.small_archive)

    def test_damaged_entry_is_reported_and_leaves_no_game(self):
        for home, _, crc in roads():
            with self.subTest(home=home):
                folder = fresh_dir(self.scratch / ("damaged " + home))
                result = run_headless(crc, folder)
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(result.stderr, 'app throw: archive entry "data/after/checked.bin" '
                                                "is damaged: CRC mismatch\n")
                self.assertFalse((folder / DATA_DIR / GAME_EXE).exists())
                # The image's temporary archive stays for the next start; the file has none.
                self.assertEqual((folder / TEMP_ARCHIVE).exists(), home == "image")
                self.assertFalse((folder / "game-record.txt").exists())

    def test_bytes_appended_after_the_attached_archive_change_nothing(self):
        # What a signature appends, and worse: a whole other archive, whose end
        # record a reader looking from the file's end would take.
        cases = [("zeros", bytes(4096)),
                 ("another archive", Path(ARGS.big_archive).read_bytes()[-200_000:]),
                 ("one byte", b"\x01")]
        for label, appended in cases:
            with self.subTest(label):
                launcher = copy_of(ARGS.small_file, self.scratch / "appended" / label / "launcher",
                                   appended=appended)
                folder = fresh_dir(self.scratch / ("appended " + label))
                result = run_headless(str(launcher), folder)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assert_unpacked(folder, self.small_tree, ARGS.small_archive)

    def test_a_launcher_without_its_whole_archive_says_so_and_changes_nothing(self):
        offset, size = attached_region(ARGS.small_file)
        total = offset + size
        cases = [
            ("never attached", dict(unpatched=True),
             'app throw: could not find the game\'s archive in "{0}": the build never attached '
             "it to the launcher\n"),
            ("cut inside the archive", dict(cut=1000),
             'app throw: could not read the game\'s archive from "{0}": the file is %d bytes '
             "long, but the archive ends at byte %d. The launcher is incomplete (was its "
             "download cut short?): get it again.\n" % (total - 1000, total)),
            ("cut before the archive", dict(cut=size + 10),
             'app throw: could not read the game\'s archive from "{0}": the file is %d bytes '
             "long, but the archive ends at byte %d. The launcher is incomplete (was its "
             "download cut short?): get it again.\n" % (offset - 10, total)),
        ]
        for label, change, message in cases:
            with self.subTest(label):
                launcher = copy_of(ARGS.small_file, self.scratch / "broken" / label / "launcher",
                                   **change)
                folder = fresh_dir(self.scratch / ("broken " + label))
                saved = folder / DATA_DIR / "save.dat"
                saved.parent.mkdir()
                saved.write_text("the player's save\n")
                result = run_headless(str(launcher), folder)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, message.format(launcher))
                self.assertEqual(sorted(p.name for p in folder.rglob("*")),
                                 [DATA_DIR, "save.dat"])

    def test_run_killed_half_way_is_unpacked_again_by_the_next(self):
        points = [
            ("temporary archive written", TEMP_ARCHIVE),
            ("before the executable's entry", DATA_DIR + "/marker_early.txt"),
            ("after the executable's entry", DATA_DIR + "/marker_late.txt"),
        ]
        for label, marker in points:
            with self.subTest(label):
                folder = fresh_dir(self.scratch / ("killed " + label))
                watch = Watch(folder, DATA_DIR)
                with open(self.scratch / ("killed " + label + ".log"), "wb") as log:
                    process = subprocess.Popen([ARGS.big], cwd=folder, env=headless_env(),
                                               stdout=log, stderr=log)
                    reached = watch.wait_closed(marker, process)
                    process.send_signal(signal.SIGKILL)
                    process.wait()
                watch.close()
                self.assertTrue(reached, "the launcher ended before " + label)
                self.assertEqual(process.returncode, -signal.SIGKILL,
                                 "the launcher finished before it could be killed")
                self.assertFalse((folder / DATA_DIR / GAME_EXE).exists(),
                                 "a killed unpacking left the game's executable")

                result = run_headless(ARGS.big, folder)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assert_unpacked(folder, self.big_tree, ARGS.big_archive)
                self.assert_game_started(folder)

    def test_too_little_space_is_refused_before_anything_is_written(self):
        # scripts/setup installs unshare: a missing one is a broken machine, not a reason to skip.
        self.assertIsNotNone(shutil.which("unshare"), "unshare is not installed (util-linux)")
        size = Path(ARGS.big_archive).stat().st_size
        # Neither the temporary archive alone nor the archive and the unpacked
        # files together fit: both are refused up front, in megabytes. The
        # file home needs no temporary archive: the unpacked files alone must
        # not fit (the big archive's data does not compress: about its size).
        cases = [
            ("temporary archive does not fit", ARGS.big, size // 2),
            ("unpacked files do not fit", ARGS.big, size + (4 << 20)),
            ("file home: unpacked files do not fit", ARGS.big_file, size // 2),
        ]
        # A private tmpfs of the given size, the launcher run in it, then what
        # it left there (the mount goes away with the namespace).
        script = ('mount -t tmpfs -o size="$1" tmpfs "$2" || exit 97\n'
                  'cd "$2" || exit 98\n'
                  '"$3"\n'
                  'echo "rc=$?"\n'
                  'ls -A\n')
        for label, launcher, tmpfs_size in cases:
            with self.subTest(label):
                mount_point = fresh_dir(self.scratch / ("full disk " + label))
                result = subprocess.run(
                    [*private_mount_namespace(), "sh", "-c", script, "sh",
                     str(tmpfs_size), str(mount_point), launcher],
                    env=headless_env(), capture_output=True, text=True, timeout=120)
                if result.returncode == 97 or "rc=" not in result.stdout:
                    self.fail("cannot mount a private tmpfs here, so the free-space check goes "
                              "untested: " + (result.stderr.strip() or "unshare refused"))
                self.assertIn("rc=1", result.stdout)
                self.assertRegex(result.stderr,
                                 r"^app throw: not enough free disk space to unpack the game: it "
                                 r"needs (\d+) MB, and (\d+) MB are free\. Free some space, then "
                                 r"start again\.\n$")
                needed, free = map(int, re.findall(r"(\d+) MB", result.stderr))
                self.assertGreater(needed, free)
                self.assertLessEqual(free, tmpfs_size >> 20)
                # Nothing at all was written.
                self.assertEqual(result.stdout.split("rc=1\n", 1)[1], "")

    def test_file_home_unpacks_where_only_the_unpacked_files_fit(self):
        # Room for the unpacked files and a little more, not for a copy of the
        # archive too: the image's launcher is refused, the file's unpacks.
        size = Path(ARGS.big_archive).stat().st_size
        script = ('mount -t tmpfs -o size="$1" tmpfs "$2" || exit 97\n'
                  'cd "$2" || exit 98\n'
                  '"$3" >/dev/null\n'
                  'echo "rc=$?"\n'
                  'test -e "$4" && echo "game there"\n')
        for launcher, code in ((ARGS.big, "rc=1"), (ARGS.big_file, "rc=0")):
            with self.subTest(launcher=Path(launcher).name):
                mount_point = fresh_dir(self.scratch / ("room " + Path(launcher).name))
                result = subprocess.run(
                    [*private_mount_namespace(), "sh", "-c", script, "sh", str(size + (4 << 20)),
                     str(mount_point), launcher, DATA_DIR + "/" + GAME_EXE],
                    env=headless_env(), capture_output=True, text=True, timeout=120)
                self.assertNotEqual(result.returncode, 97, result.stderr)
                self.assertIn(code, result.stdout, result.stderr)
                self.assertEqual("game there" in result.stdout, code == "rc=0", result.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", required=True, help="launcher carrying the small archive")
    parser.add_argument("--big", required=True, help="launcher carrying the big archive")
    parser.add_argument("--crc", required=True, help="launcher carrying the damaged archive")
    parser.add_argument("--small-file", required=True, help="--small's twin: the archive attached")
    parser.add_argument("--big-file", required=True, help="--big's twin: the archive attached")
    parser.add_argument("--crc-file", required=True, help="--crc's twin: the archive attached")
    parser.add_argument("--small-archive", required=True)
    parser.add_argument("--big-archive", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("small", "big", "crc", "small_file", "big_file", "crc_file", "small_archive",
                   "big_archive"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    unittest.main(argv=[sys.argv[0], "-v", *rest])
