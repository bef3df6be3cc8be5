#!/usr/bin/env python3
"""The free-space check against a real game's shape, on private tmpfs mounts:
for each home of the archive, a tmpfs of every size in 1 MiB steps from below
what the files' bytes come to, to above what the launcher says it needs. At
every size the launcher either refuses before it writes anything or installs
the whole game; it refuses exactly where the space it names is not free. The
same for an update that replaces every file on a tmpfs filled until only so
many MiB are free."""

import argparse
import json
import re
import shutil
import subprocess
import sys
import time
import unittest
import zipfile
from pathlib import Path

from launcher_harness import fresh_dir, headless_env
from tmpfs_runs import namespace_command
from unpack_common import unzip_tree

ARGS = None
MIB = 1 << 20
REFUSAL = (r"^app throw: not enough free disk space to unpack the game: it needs (\d+) MB, and "
           r"(\d+) MB are free\. Free some space, then start again\.\n$")


def start_runs(mode, launcher, mount, *figures, size=None):
    """The runner in a mount namespace of its own, started."""
    command = [*namespace_command(), sys.executable, ARGS.runner, mode, "--launcher", launcher,
               "--archive", ARGS.archive, "--expected", str(ARGS.expected), "--mount", str(mount)]
    if size is not None:
        command += ["--size", str(size)]
    command += [str(figure) for figure in figures]
    return subprocess.Popen(command, env=headless_env(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def finish_runs(test, process):
    out, err = process.communicate(timeout=800)
    test.assertEqual(process.returncode, 0, "the runs could not be made: " + err)
    return [json.loads(line) for line in out.splitlines()]


def needed_mib(test, run):
    """The figure a refusal names."""
    match = re.match(REFUSAL, run["stderr"])
    test.assertIsNotNone(match, "not a refusal for space: %r" % run["stderr"])
    return int(match.group(1))


class SpaceOnTmpfs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # scripts/setup installs unshare: a missing one is a broken machine, not a reason to skip.
        if shutil.which("unshare") is None:
            raise AssertionError("unshare is not installed (util-linux)")
        cls.scratch = fresh_dir(ARGS.scratch)
        ARGS.expected = cls.scratch / "unzip"
        unzip_tree(ARGS.archive, ARGS.expected)
        with zipfile.ZipFile(ARGS.archive) as archive:
            cls.unpacked = sum(entry.file_size for entry in archive.infolist())
        cls.archive_size = Path(ARGS.archive).stat().st_size

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(ARGS.expected, ignore_errors=True)  # a game's worth of bytes, made again each run

    def homes(self):
        """(home, launcher, the bytes an unpacking writes, not counting units)."""
        return [("image", ARGS.image, self.archive_size + self.unpacked),
                ("file", ARGS.file, self.unpacked)]

    def assert_refused_or_whole(self, runs, needed, what):
        """Each run refused (naming `needed`) exactly where that is more than
        is free, and installed the whole game everywhere else."""
        outcomes = []
        for run in runs:
            with self.subTest(what, mib=run["mib"]):
                self.assertNotEqual(run["outcome"], "broken",
                                    "%d MiB: %s\n%s" % (run["mib"], run["problem"], run["stderr"]))
                if run["outcome"] == "refused":
                    self.assertEqual(run["rc"], 1)
                    self.assertEqual(needed_mib(self, run), needed)
                else:
                    self.assertEqual((run["rc"], run["stderr"]), (0, ""))
                self.assertEqual(run["outcome"] == "installed", run["mib"] >= needed,
                                 "%d MiB free, %d MB needed" % (run["mib"], needed))
                outcomes.append(run["outcome"])
        # The sizes reach from one side of the figure to the other.
        with self.subTest(what):
            self.assertEqual(set(outcomes), {"refused", "installed"})

    def test_every_size_refuses_up_front_or_installs_the_whole_game(self):
        began = time.monotonic()
        probes = {home: start_runs("fresh", launcher, self.scratch / ("probe " + home), 1)
                  for home, launcher, _ in self.homes()}
        needed = {home: needed_mib(self, finish_runs(self, probe)[0])
                  for home, probe in probes.items()}
        sweeps = {}
        for home, launcher, written in self.homes():
            # The files' bytes alone fall short of what the game takes on a
            # volume of whole units: the sweep starts below them.
            self.assertGreater(needed[home], written / MIB, home)
            sizes = range(written // MIB - 2, needed[home] + 3)
            sweeps[home] = start_runs("fresh", launcher, self.scratch / ("sweep " + home), *sizes)
        for home, sweep in sweeps.items():
            runs = finish_runs(self, sweep)
            self.assert_refused_or_whole(runs, needed[home], home)
            used = max(run["used"] for run in runs if run["outcome"] == "installed")
            print("%s home: needs %d MB; an install takes %.1f MiB when done"
                  % (home, needed[home], used / MIB))
        print("sizes swept in %.1f s" % (time.monotonic() - began))

    def test_an_update_onto_a_nearly_full_tmpfs_refuses_up_front_or_replaces_every_file(self):
        began = time.monotonic()
        size = (self.archive_size + self.unpacked) // MIB + 16
        probes = {home: start_runs("update", launcher, self.scratch / ("update probe " + home), 0,
                                   size=size)
                  for home, launcher, _ in self.homes()}
        needed = {}
        for home, probe in probes.items():
            runs = finish_runs(self, probe)
            self.assertNotEqual(runs[0]["outcome"], "broken", runs[0]["problem"])
            needed[home] = needed_mib(self, runs[0])
        sweeps = {home: start_runs("update", launcher, self.scratch / ("update " + home),
                                   *range(max(needed[home] - 3, 0), needed[home] + 3), size=size)
                  for home, launcher, _ in self.homes()}
        for home, sweep in sweeps.items():
            self.assert_refused_or_whole(finish_runs(self, sweep), needed[home], home + " update")
            print("%s home: an update of every file needs %d MB" % (home, needed[home]))
        print("updates swept in %.1f s" % (time.monotonic() - began))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True, help="launcher carrying the archive in its image")
    parser.add_argument("--file", required=True, help="the same archive attached to its file")
    parser.add_argument("--archive", required=True)
    parser.add_argument("--runner", required=True, help="tests/tools/tmpfs_runs.py")
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("image", "file", "archive", "runner"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    unittest.main(argv=[sys.argv[0], "-v", *rest])
