#!/usr/bin/env python3
"""Two clean builds of the launcher in build trees at different paths, from
the same sources and settings, must give the same bytes, for Windows and for
Linux (the unsigned launchers: a signature carries its own time).

    two_builds.py --root SOURCE --scratch DIR [--jobs N] [--keep]

Only the launcher targets are built (no tests), so that the check stays
cheap; the trees are removed afterwards unless --keep. Prints one line per
platform and a closing count; exits 1 when any pair differs, naming the
first differing offsets."""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

PLATFORMS = {"windows": ("QuillMark.exe", ["-DCMAKE_TOOLCHAIN_FILE=%s"]),
             "linux": ("QuillMark", [])}


def build(root, tree, platform, jobs):
    output, extra = PLATFORMS[platform]
    configure = ["cmake", "-S", str(root), "-B", str(tree), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DLAUNCHER_BUILD_TESTS=OFF"]
    configure += [option % (root / "cmake" / "mingw-w64-x86_64.cmake") for option in extra]
    log = tree.parent / (tree.name + ".log")
    with open(log, "w") as sink:
        for command in (configure, ["cmake", "--build", str(tree), "--target", "launcher",
                                    "-j", str(jobs)]):
            if subprocess.run(command, stdout=sink, stderr=subprocess.STDOUT).returncode != 0:
                raise RuntimeError("%s build in %s failed (log: %s)" % (platform, tree, log))
    return (tree / output).read_bytes()


def first_differences(a, b, count=8):
    offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]][:count]
    return "sizes %d and %d; first differing offsets: %s" % (
        len(a), len(b), ", ".join("0x%x" % offset for offset in offsets) or "none")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    root = Path(args.root).resolve()
    scratch = Path(args.scratch).resolve()
    shutil.rmtree(scratch, ignore_errors=True)
    passed = failed = 0
    for platform in PLATFORMS:
        # Two trees whose paths differ in length as well as in name.
        trees = [scratch / platform / "first", scratch / platform / "a" / "deeper" / "second tree"]
        for tree in trees:
            tree.mkdir(parents=True)
        first, second = (build(root, tree, platform, args.jobs) for tree in trees)
        if first == second:
            print("%s: the two builds are the same %d bytes" % (platform, len(first)))
            passed += 1
        else:
            print("%s: the two builds differ: %s" % (platform, first_differences(first, second)))
            failed += 1
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
