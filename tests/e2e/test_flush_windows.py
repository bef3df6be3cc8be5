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

from flush_runs import (FirstInstallAndUpdate, add_version_options, files_to_change,
                        resolve_version_options, version_trees)
from flush_trace import (WINE_CLIENT_OPTIONS, WINE_SERVER_OPTIONS, event_problems, wine_events)
from launcher_harness import DATA_DIR, WineTestCase
from lifecycle_common import STAMP, install_problem
from wine_session import WINE


class InstallOnDiskUnderWine(FirstInstallAndUpdate, WineTestCase):
    @classmethod
    def prepare(cls):
        cls.trees = version_trees(cls.args, cls.scratch)

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
        changed = files_to_change(tree, before)
        self.assertTrue(changed)
        self.assertLessEqual(changed, flushed)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    add_version_options(parser)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    resolve_version_options(ARGS)
    InstallOnDiskUnderWine.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
