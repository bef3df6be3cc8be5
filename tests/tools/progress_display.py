"""Looking at progress windows from outside: screenshots of an X display,
the colours along one row of a screenshot, and waiting for a file that a
program under test writes."""

import os
import re
import subprocess
import time
from pathlib import Path


def screenshot(display, path):
    """The whole X display as a PNG (ImageMagick's import)."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["import", "-window", "root", str(path)], env=env, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return path


def crop(path, out, x, y, width, height):
    subprocess.run(["convert", str(path), "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                    "+repage", str(out)], check=True, timeout=60)
    return Path(out)


_PIXEL = re.compile(r"^(\d+),(\d+):.*#([0-9A-Fa-f]{6})")


def row_colours(path, x, y, width):
    """The colours (0xRRGGBB) of `width` pixels from (x, y) to the right."""
    text = subprocess.run(["convert", str(path), "-crop", "%dx1+%d+%d" % (width, x, y),
                           "+repage", "-depth", "8", "txt:-"],
                          check=True, timeout=60, capture_output=True, text=True).stdout
    colours = {}
    for line in text.splitlines():
        match = _PIXEL.match(line)
        if match:
            colours[int(match.group(1))] = int(match.group(3), 16)
    return [colours[i] for i in sorted(colours)]


def wait_for_file(path, processes=(), limit=120.0):
    """Waits until `path` exists. Returns False if one of `processes` ended
    first or `limit` seconds passed (a stuck run, not a slow one)."""
    deadline = time.monotonic() + limit
    path = Path(path)
    while not path.exists():
        if any(p.poll() is not None for p in processes) or time.monotonic() > deadline:
            return path.exists()
        time.sleep(0.02)
    return True
