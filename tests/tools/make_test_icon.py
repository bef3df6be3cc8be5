#!/usr/bin/env python3
"""Makes the tests' game icon with ImageMagick (an encoder other than the
launcher's own): five sizes, each one colour, so that whoever shows the icon
can be told which image it took, and a top-left pixel of another kind:

    make_test_icon.py OUT.ico

   16 x 16   red      32-bit bitmap with alpha, top-left pixel clear
   24 x 24   orange   palette bitmap without alpha, top-left pixel yellow
   32 x 32   green    32-bit bitmap with alpha, top-left pixel clear
   48 x 48   blue     32-bit bitmap with alpha, top-left pixel clear
  256 x 256  magenta  PNG, top-left pixel clear
"""

import subprocess
import sys
import tempfile
from pathlib import Path

# side: (colour as #rrggbb, top-left pixel, ImageMagick options for the image)
SIZES = {16: ("#ff0000", "none", []),
         24: ("#ff8000", "#ffff00", ["-alpha", "off", "-type", "Palette", "-colors", "4"]),
         32: ("#00ff00", "none", []),
         48: ("#0000ff", "none", []),
         256: ("#ff00ff", "none", [])}


def make(output):
    output = Path(output)
    output.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        images = []
        for side, (colour, corner, options) in SIZES.items():
            image = Path(work) / ("%d.png" % side)
            subprocess.run(["convert", "-size", "%dx%d" % (side, side), "xc:" + colour,
                            "-alpha", "set", "-fill", corner, "-draw", "color 0,0 point",
                            *options, str(image)], check=True)
            images.append(str(image))
        partial = output.with_name(output.name + ".part")
        subprocess.run(["convert", *images, "ico:" + str(partial)], check=True)
        partial.replace(output)


if __name__ == "__main__":
    make(sys.argv[1])
