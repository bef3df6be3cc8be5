#!/usr/bin/env python3
"""The progress window keeps answering under wine while a launcher writes a
large temporary archive and copies one large entry: a probe asks the bar its
position again and again (PBM_GETPOS with a 1 s time limit) and every
question must be answered. The unpacked game is removed afterwards."""

import argparse
import shutil
import sys
import unittest

from launcher_harness import DATA_DIR, WineTestCase, fresh_dir, read_record
from progress_display import wait_for_file

ARGS = None
ANSWER_TIMEOUT_MS = 1000
ENTRY = "media/intro movie.bin"


def parse_args(argv):
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--probe", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    parser.add_argument("--entry-mib", type=int, required=True)
    return parser.parse_known_args(argv)


class WindowAnswersThroughLargeWrites(WineTestCase):
    def test_every_question_is_answered_while_a_large_entry_unpacks(self):
        folder = fresh_dir(self.scratch / "player")
        record_file = self.scratch / "answers.txt"
        try:
            probe = self.session.spawn(ARGS.probe, ["120000", str(ANSWER_TIMEOUT_MS), record_file])
            launcher = self.session.spawn(ARGS.launcher, cwd=folder)
            self.assertEqual(launcher.wait(timeout=600), 0)
            self.assertEqual(probe.wait(timeout=120), 0, "the probe found no progress window")

            record = read_record(record_file)
            print("answers under wine: %(asked)s asked, %(answered)s answered; longest wait "
                  "%(longest_wait_ms)s ms (from %(longest_wait_began_ms)s ms, then at "
                  "%(position_after_longest_wait)s), longest time between answers "
                  "%(longest_gap_ms)s ms" % record)
            self.assertEqual(record["unanswered"], "0", record)
            self.assertGreater(int(record["answered"]), 10, record)
            positions = [int(p) for p in record["positions"].split(",") if p]
            self.assertEqual(positions, sorted(positions), record["positions"])
            # Five entries, the large one third: while it is copied the bar
            # moves by its bytes between 20 and 40.
            self.assertTrue([p for p in positions if 20 < p < 40], record["positions"])
            self.assertLess(positions[-1], 100, record["positions"])

            game_record = folder / "game-record.txt"
            self.assertTrue(wait_for_file(game_record, limit=60), "the game never started")
            unpacked = folder / DATA_DIR / ENTRY
            self.assertEqual(unpacked.stat().st_size, ARGS.entry_mib * 1024 * 1024)
            self.assertFalse((folder / "~QuillMark_temp").exists())
        finally:
            # Hundreds of megabytes: gone whatever happened.
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    ARGS, rest = parse_args(sys.argv[1:])
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
