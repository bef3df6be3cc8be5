#!/usr/bin/env python3
"""The Windows launcher's install reaches the disk before the stamp vouches
for it, under wine: the launcher's own process (which writes and flushes the
files through descriptors wine's server hands it) and the session's server
(which opens, renames and removes them) are both traced with strace, and the
two records merged by time (tests/tools/flush_trace.py). A first install and
an update, from either home of the archive."""

import argparse
import os
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

from flush_trace import (WINE_CLIENT_OPTIONS, WINE_SERVER_OPTIONS, event_problems, wine_events)
from launcher_harness import DATA_DIR, WineTestCase, fresh_dir
from lifecycle_common import STAMP, install_problem
from unpack_common import unzip_tree
from wine_session import WINE

ARGS = None


class InstallOnDiskUnderWine(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.trees = {name: unzip_tree(archive, cls.scratch / ("unzip " + name))
                     for name, archive in [("a", ARGS.version_a_archive),
                                           ("b", ARGS.version_b_archive)]}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Wine's own services start with its first program and stay: started
        # outside the trace, they are not waited for with the launcher.
        cls.session.run("cmd", ["/c", "exit"], timeout=300)

    def run_traced(self, launcher, folder, label):
        """Runs the launcher with its process and the server traced; returns
        the exit code and both records."""
        client, server = (self.scratch / (label + suffix) for suffix in (".client", ".server"))
        tracer = subprocess.Popen(["strace", *WINE_SERVER_OPTIONS, "-o", str(server), "-p",
                                   str(self.session.server.pid)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        # strace says so once it holds the server: nothing before that is missed.
        attached = tracer.stderr.readline()
        self.assertIn("attached", attached)
        try:
            result = subprocess.run(["strace", *WINE_CLIENT_OPTIONS, "-o", str(client), WINE,
                                     str(launcher)], cwd=folder, env=self.session.env(),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    timeout=120)
        finally:
            time.sleep(0.5)  # the server's last replies
            tracer.send_signal(signal.SIGINT)
            tracer.communicate(timeout=60)
        return (result.returncode, client.read_text().splitlines(),
                server.read_text().splitlines())

    def check_run(self, launcher, folder, label, archive, tree, before):
        code, client, server = self.run_traced(launcher, folder, label)
        self.assertEqual(code, 0)
        self.assertEqual(install_problem(folder, archive, tree), "")
        data = os.path.realpath(folder / DATA_DIR)
        events = list(wine_events(client, server, data))
        problems, renames = event_problems(events, data, STAMP)
        self.assertEqual(problems, [])
        self.assertEqual(renames, 2, "the unfinished stamp, then the final one")
        # Not an empty check: the files that had to change were seen written
        # and flushed, one by one, under their own names.
        flushed = {os.path.relpath(e[1], data).replace(os.sep, "/")
                   for e in events if e[0] == "flush"}
        changed = {name for name, content in tree.items()
                   if content is not None and before.get(name) != content}
        self.assertTrue(changed)
        self.assertLessEqual(changed, flushed)

    def test_first_install_and_update_from_either_home(self):
        homes = [("image", ARGS.version_a, ARGS.version_b),
                 ("file", ARGS.version_a_file, ARGS.version_b_file)]
        for home, version_a, version_b in homes:
            with self.subTest(home):
                folder = fresh_dir(self.scratch / home)
                self.check_run(version_a, folder, home + " first install",
                               ARGS.version_a_archive, self.trees["a"], {})
                self.check_run(version_b, folder, home + " update", ARGS.version_b_archive,
                               self.trees["b"], self.trees["a"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--version-a", required=True)
    parser.add_argument("--version-a-archive", required=True)
    parser.add_argument("--version-b", required=True)
    parser.add_argument("--version-b-archive", required=True)
    parser.add_argument("--version-a-file", required=True)
    parser.add_argument("--version-b-file", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    for option in ("version_a", "version_a_archive", "version_b", "version_b_archive",
                   "version_a_file", "version_b_file"):
        setattr(ARGS, option, str(Path(getattr(ARGS, option)).resolve()))
    InstallOnDiskUnderWine.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
