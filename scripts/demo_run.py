#!/usr/bin/env python3
"""Runs a built launcher twice in a fresh scratch directory and tells what
happened: where the game was unpacked and what the game received."""

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "tools"))

from launcher_harness import run_windows_launcher  # noqa: E402
from wine_session import WineSession  # noqa: E402


def describe(folder):
    data = sorted(p for p in folder.iterdir())
    for path in data:
        kind = "dir " if path.is_dir() else "file"
        print("    %s %s" % (kind, path.name))
    record = folder / "game-record.txt"
    if record.exists():
        print("  the game recorded:")
        for line in record.read_text(errors="replace").splitlines():
            print("    " + line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preset", choices=["windows", "linux"], required=True)
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    build = Path(args.build)
    scratch = build / "demo" / "Player Folder"
    subprocess.run(["rm", "-rf", str(scratch)], check=True)
    scratch.mkdir(parents=True)

    names = [p for p in build.iterdir() if p.is_file() and p.name.endswith(".exe") is (args.preset == "windows")
             and os.access(p, os.X_OK) and p.parent == build]
    launcher = next(p for p in names if p.stem not in ("test_game", "msgbox_probe"))
    print("launcher: %s (%d bytes)" % (launcher, launcher.stat().st_size))
    print("scratch directory: %s" % scratch)

    def run_once():
        started = time.monotonic()
        if args.preset == "windows":
            code, box = run_windows_launcher(session, launcher, build / "tests" / "msgbox_probe.exe", scratch)
            message = box["text"] if box else None
        else:
            result = subprocess.run([str(launcher)], cwd=scratch, capture_output=True, text=True)
            code, message = result.returncode, (result.stderr.strip() or None)
        return code, message, time.monotonic() - started

    session = WineSession(build / "wine" / "prefix") if args.preset == "windows" else None
    if session:
        session.__enter__()
    try:
        for label in ("first run", "second run"):
            code, message, seconds = run_once()
            print("%s: exit code %d after %.2f s" % (label, code, seconds))
            if message:
                print("  app throw: %s" % message)
            print("  the scratch directory now holds:")
            describe(scratch)
    finally:
        if session:
            session.__exit__(None, None, None)


if __name__ == "__main__":
    main()
