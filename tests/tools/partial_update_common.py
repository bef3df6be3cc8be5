"""Pieces the partial-update tests share on both platforms: which entries
differ between two archives, and which files a launcher run wrote, told from
the files' times of last write (and inodes) before and after the run."""

import os
import time
import zipfile
from pathlib import Path

from launcher_harness import DATA_DIR, fresh_dir
from lifecycle_common import STAMP, add_player_files, install_problem


def archive_changes(old, new):
    """The file entries of `new` that differ from `old`'s (by CRC or size),
    those only `new` has, and those only `old` has: three sets of names."""
    def files(archive):
        with zipfile.ZipFile(archive) as listing:
            return {info.filename: (info.CRC, info.file_size) for info in listing.infolist()
                    if not info.is_dir()}
    a, b = files(old), files(new)
    changed = {name for name in b if name in a and a[name] != b[name]}
    return changed, set(b) - set(a), set(a) - set(b)


def archive_files(archive):
    with zipfile.ZipFile(archive) as listing:
        return {info.filename for info in listing.infolist() if not info.is_dir()}


def file_times(folder, with_stamp=False):
    """{name below the data directory: (time of last write in ns, inode)} of
    every file there (the stamp only when asked). A launcher may be running:
    a file it renames or removes between the listing and its look is left
    out, as it would be had the listing come a moment later."""
    data = Path(folder) / DATA_DIR
    times = {}
    for root, _, names in os.walk(data):
        for name in names:
            path = Path(root) / name
            relative = path.relative_to(data).as_posix()
            if relative == STAMP and not with_stamp:
                continue
            try:
                facts = path.stat()
            except FileNotFoundError:
                continue
            times[relative] = (facts.st_mtime_ns, facts.st_ino)
    return times


def written_between(before, after):
    """The files of `after` that are new or were written since `before`."""
    return {name for name, facts in after.items() if before.get(name) != facts}


def settle():
    """Lets the clock move on, so that a file written next has another time
    than one written just before, even on a file system counting coarsely."""
    time.sleep(0.05)


def strip_records(folder):
    """Makes the stamp one of a launcher from before records: the "r" lines go."""
    stamp = Path(folder) / DATA_DIR / STAMP
    lines = stamp.read_bytes().split(b"\n")
    kept = [line for line in lines if not line.startswith(b"r ")]
    assert len(kept) < len(lines), "the stamp held no records to strip"
    stamp.write_bytes(b"\n".join(kept))


class InstallSteps:
    """The steps both platforms' test cases take alike. The class using it
    holds `args` (a, b_archive), `scratch` and `b_tree`, and runs a launcher
    to success in its own run_ok(launcher, folder)."""

    def install_a(self, label, launcher=None):
        """A fresh folder with version a installed and the player's files added."""
        folder = fresh_dir(self.scratch / label)
        self.run_ok(launcher or self.args.a, folder)
        add_player_files(folder)
        settle()
        return folder

    def assert_b_installed(self, folder):
        self.assertEqual(install_problem(folder, self.args.b_archive, self.b_tree), "")
