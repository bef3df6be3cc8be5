#!/usr/bin/env python3
"""The native launcher's install reaches the disk before the stamp vouches for
it: a first install and an update, from either home of the archive, run under
strace, and the trace read back (tests/tools/flush_trace.py). The trace reader
is first shown small traces with the faults it must see."""

import argparse
import subprocess
import sys
import unittest
from pathlib import Path

from flush_runs import (FirstInstallAndUpdate, add_version_options, files_to_change,
                        resolve_version_options, version_trees)
from flush_trace import STRACE_OPTIONS, files_written, stamp_problems
from launcher_harness import DATA_DIR, fresh_dir, headless_env
from lifecycle_common import STAMP, install_problem


FOLDER = "/games/qm"


def trace(*calls):
    """A trace as strace -f -xx prints it, from (pid, call) pairs: paths are
    written plainly and turned into -xx's hex here."""
    def hexed(text):
        out, i = "", 0
        while i < len(text):
            if text[i] == "'":
                end = text.index("'", i + 1)
                out += '"' + "".join("\\x%02x" % b for b in text[i + 1:end].encode()) + '"'
                i = end + 1
            else:
                out += text[i]
                i += 1
        return out
    return ["%d %s" % (pid, hexed(call)) for pid, call in calls]


# The calls of a correct install, in parts the cases below put together.
UNFINISHED_STAMP = [
    (7, "mkdir('./!QuillMark_data/', 0777) = 0"),
    (7, "openat(AT_FDCWD, './!QuillMark_data/.launcher-stamp.writing', O_WRONLY|O_CREAT|O_TRUNC, 0666) = 4"),
    (7, "write(4, '\\x6c'..., 241) = 241"),
    (7, "close(4) = 0"),
    (7, "openat(AT_FDCWD, './!QuillMark_data/.launcher-stamp.writing', O_RDONLY|O_CLOEXEC) = 4"),
    (7, "fsync(4) = 0"),
    (7, "close(4) = 0"),
    (7, "rename('./!QuillMark_data/.launcher-stamp.writing', './!QuillMark_data/.launcher-stamp') = 0"),
    (7, "openat(AT_FDCWD, './!QuillMark_data', O_RDONLY|O_CLOEXEC|O_DIRECTORY) = 4"),
    (7, "fsync(4) = 0"),
    (7, "close(4) = 0"),
]
WRITE_A = [
    (7, "openat(AT_FDCWD, './!QuillMark_data/a.txt', O_WRONLY|O_CREAT|O_TRUNC, 0666) = 5"),
    (7, "writev(5, [{iov_base=NULL, iov_len=0}, {iov_base='\\x61', iov_len=1}], 2) = 1"),
    (7, "close(5) = 0"),
]
FLUSH_A = [
    (7, "openat(AT_FDCWD, './!QuillMark_data/a.txt', O_RDONLY|O_CLOEXEC) = 5"),
    (7, "fdatasync(5) = 0"),
    (7, "close(5) = 0"),
]
FINAL_STAMP = [
    (7, "openat(AT_FDCWD, './!QuillMark_data/.launcher-stamp.writing', O_WRONLY|O_CREAT|O_TRUNC, 0666) = 4"),
    (7, "write(4, '\\x6c'..., 100) = 100"),
    (7, "close(4) = 0"),
    (7, "openat(AT_FDCWD, './!QuillMark_data/.launcher-stamp.writing', O_RDONLY|O_CLOEXEC) = 4"),
    (7, "fsync(4) = 0"),
    (7, "close(4) = 0"),
    (7, "renameat2(AT_FDCWD, './!QuillMark_data/.launcher-stamp.writing', AT_FDCWD, './!QuillMark_data/.launcher-stamp', RENAME_NOREPLACE) = 0"),
    (7, "openat(AT_FDCWD, './!QuillMark_data', O_RDONLY|O_CLOEXEC|O_DIRECTORY) = 4"),
    (7, "fsync(4) = 0"),
    (7, "close(4) = 0"),
]


class TraceReader(unittest.TestCase):
    """Each small trace with the problem it must show (or none)."""

    def problems(self, calls):
        problems, renames = stamp_problems(trace(*calls), FOLDER, DATA_DIR, STAMP)
        return problems, renames

    def test_cases(self):
        cases = [
            ("in order", UNFINISHED_STAMP + WRITE_A + FLUSH_A + FINAL_STAMP, []),
            ("file never flushed", UNFINISHED_STAMP + WRITE_A + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: a.txt"]),
            ("flushed before its last write",
             UNFINISHED_STAMP + WRITE_A + FLUSH_A + WRITE_A + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: a.txt"]),
            ("one syncfs after the last write",
             UNFINISHED_STAMP + WRITE_A + [(7, "openat(AT_FDCWD, '.', O_RDONLY) = 6"),
                                           (7, "syncfs(6) = 0")] + FINAL_STAMP, []),
            ("a syncfs that failed counts for nothing",
             UNFINISHED_STAMP + WRITE_A + [(7, "syncfs(6) = -1 EIO (Input/output error)")]
             + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: a.txt"]),
            # The descriptor of a.txt is closed and its number given to b.txt:
            # b's flush says nothing of a.
            ("number reused for another file",
             UNFINISHED_STAMP + WRITE_A + [
                 (7, "openat(AT_FDCWD, './!QuillMark_data/b.txt', O_RDONLY|O_CLOEXEC) = 5"),
                 (7, "fdatasync(5) = 0"), (7, "close(5) = 0")] + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: a.txt"]),
            # Written under its unfinished name, flushed under the one it keeps.
            ("renamed, then flushed",
             UNFINISHED_STAMP + [
                 (7, "openat(AT_FDCWD, './!QuillMark_data/g.exe.unpacking', O_WRONLY|O_CREAT|O_TRUNC, 0666) = 5"),
                 (7, "close(5) = 0"),
                 (7, "rename('./!QuillMark_data/g.exe.unpacking', './!QuillMark_data/g.exe') = 0"),
                 (7, "openat(AT_FDCWD, './!QuillMark_data/g.exe', O_RDONLY|O_CLOEXEC) = 5"),
                 (7, "fdatasync(5) = 0"), (7, "close(5) = 0")] + FINAL_STAMP, []),
            ("flushed under the old name only",
             UNFINISHED_STAMP + [
                 (7, "openat(AT_FDCWD, './!QuillMark_data/g.exe.unpacking', O_WRONLY|O_CREAT|O_TRUNC, 0666) = 5"),
                 (7, "close(5) = 0"),
                 (7, "rename('./!QuillMark_data/g.exe.unpacking', './!QuillMark_data/g.exe') = 0")]
             + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: g.exe"]),
            ("stamp's temporary not flushed",
             UNFINISHED_STAMP[:4] + UNFINISHED_STAMP[7:] + FINAL_STAMP,
             ["the stamp's temporary was renamed before it was flushed"]),
            ("folder not flushed before the files change",
             UNFINISHED_STAMP[:8] + WRITE_A + FLUSH_A + FINAL_STAMP,
             ["the data directory changed before the stamp's rename was flushed: write "
              + FOLDER + "/" + DATA_DIR + "/a.txt"]),
            ("folder never flushed after the last stamp",
             UNFINISHED_STAMP + WRITE_A + FLUSH_A + FINAL_STAMP[:7],
             ["the data directory was never flushed after the stamp's last rename"]),
            # -f: another process's calls cut in between a call's two halves,
            # and use the same descriptor numbers for files of their own.
            ("split calls and other processes",
             UNFINISHED_STAMP + WRITE_A + [
                 (7, "openat(AT_FDCWD, './!QuillMark_data/a.txt', O_RDONLY|O_CLOEXEC <unfinished ...>"),
                 (9, "openat(AT_FDCWD, '/tmp/other', O_WRONLY|O_CREAT, 0666) = 5"),
                 (7, "<... openat resumed>) = 6"),
                 (9, "fdatasync(5) = 0"),
                 (7, "fdatasync(6 <unfinished ...>"),
                 (9, "+++ exited with 0 +++"),
                 (7, "<... fdatasync resumed>) = 0"),
                 (7, "close(6) = 0")] + FINAL_STAMP, []),
            ("split calls, the flush on the other process's file",
             UNFINISHED_STAMP + WRITE_A + [
                 (9, "openat(AT_FDCWD, './!QuillMark_data/a.txt', O_RDONLY <unfinished ...>"),
                 (7, "openat(AT_FDCWD, '/tmp/other', O_RDONLY|O_CLOEXEC) = 6"),
                 (9, "<... openat resumed>) = 5"),
                 (7, "fdatasync(6) = 0")] + FINAL_STAMP,
             ["renamed the stamp over 1 file(s) not flushed since written: a.txt"]),
        ]
        for label, calls, expected in cases:
            with self.subTest(label):
                problems, renames = self.problems(calls)
                self.assertEqual(problems, expected)
                self.assertEqual(renames, 2 if FINAL_STAMP[6] in calls else 1)


def run_traced(launcher, folder, trace_path):
    result = subprocess.run(["strace", *STRACE_OPTIONS, "-o", str(trace_path), launcher],
                            cwd=folder, env=headless_env(), capture_output=True, text=True,
                            timeout=300)
    return result, Path(trace_path).read_text().splitlines()


class InstallOnDisk(FirstInstallAndUpdate, unittest.TestCase):
    """The launcher's own runs: a first install, and an update from a to b."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(cls.args.scratch)
        cls.trees = version_trees(cls.args, cls.scratch)

    def check_run(self, launcher, folder, label, archive, tree, before):
        result, lines = run_traced(launcher, folder, self.scratch / (label + ".trace"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(install_problem(folder, archive, tree), "")
        problems, renames = stamp_problems(lines, str(folder), DATA_DIR, STAMP)
        self.assertEqual(problems, [])
        self.assertEqual(renames, 2, "the unfinished stamp, then the final one")
        # Not an empty check: the trace saw every file that had to change written.
        written = {Path(p).relative_to(folder / DATA_DIR).as_posix()
                   for p in files_written(lines, str(folder), DATA_DIR)}
        changed = files_to_change(tree, before)
        self.assertTrue(changed)
        self.assertLessEqual(changed, written)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    add_version_options(parser)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    resolve_version_options(ARGS)
    InstallOnDisk.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
