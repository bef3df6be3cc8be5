#!/usr/bin/env python3
"""Runs one Windows program under wine in its own X server and wineserver.
   run_in_wine.py <wine prefix> <program.exe> [arguments...]
Exits with the program's exit code."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "harness"))
from wine_session import WineSession  # noqa: E402


def main():
    prefix, exe, *args = sys.argv[1:]
    with WineSession(prefix) as session:
        result = session.run(exe, args, timeout=900)
    sys.stdout.flush()
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
