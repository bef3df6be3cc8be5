#!/usr/bin/env python3
"""The icon checker and converter (resources/icon_file.py): icons made by
ImageMagick, an encoder of its own, decode to ImageMagick's pixels, PNG
images of every colour type included; invalid icons are refused with the
rule they break and the file's name; the desktop's icon holds one
uncompressed 32-bit image per size, the best of each, with the same pixels."""

import argparse
import struct
import subprocess
import sys
import unittest
from pathlib import Path

from launcher_harness import fresh_dir
from make_test_icon import make as make_test_icon

ARGS = None
icon_file = None  # resources/icon_file.py, imported once the root is known


def magick_rgba(source):
    """ImageMagick's decoding of an image file: RGBA bytes, top row first."""
    return subprocess.run(["convert", str(source), "-depth", "8", "-type", "TrueColorAlpha",
                           "rgba:-"], check=True, capture_output=True).stdout


def ico_of(images):
    """An .ico file holding `images`, each (width, height, bit count, bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, bits, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(image[3] for image in images)


def bitmap(rows, bits, mask, palette=()):
    """An icon's bitmap: `rows` top row first, of (r, g, b, a) for 24 and 32
    bits, of palette indexes below; `mask` rows of 0 and 1 (1: clear)."""
    height, width = len(rows), len(rows[0])
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    colors = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    for row in reversed(rows):
        line = bytearray()
        if bits >= 24:
            for r, g, b, a in row:
                line += bytes((b, g, r) + ((a,) if bits == 32 else ()))
        else:
            value = 0
            for x, index in enumerate(row):
                value |= index << (8 - bits * (x % (8 // bits) + 1))
                if (x + 1) % (8 // bits) == 0 or x + 1 == width:
                    line.append(value)
                    value = 0
        colors += bytes(line) + bytes(-len(line) % 4)
    masks = b""
    for row in reversed(mask):
        line = bytearray((width + 31) // 32 * 4)
        for x, clear in enumerate(row):
            line[x // 8] |= (0x80 >> (x % 8)) if clear else 0
        masks += bytes(line)
    return header + colors + masks


class IconFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.multi = cls.scratch / "multi.ico"
        make_test_icon(cls.multi)

    def png(self, name, *options):
        """A PNG made by ImageMagick from a 40 x 40 picture with alpha."""
        path = self.scratch / (name + ".png")
        subprocess.run(["convert", "-size", "40x40", "gradient:#ff8000-#0040ff", "-alpha", "set",
                        "-channel", "A", "-fx", "j/h", "+channel", *options, str(path)],
                       check=True)
        return path

    def test_ico_images_decode_as_imagemagick_decodes_them(self):
        decoded = icon_file.check(self.multi)
        self.assertEqual([(image.width, image.is_png) for image, *_ in decoded],
                         [(16, False), (24, False), (32, False), (48, False), (256, True)])
        self.assertEqual(decoded[1][0].pixel_bits, 4)  # a palette bitmap with a mask
        for index, (image, width, height, rgba) in enumerate(decoded):
            with self.subTest(image=image.label()):
                self.assertEqual(rgba, magick_rgba("ico:%s[%d]" % (self.multi, index)))

    def test_png_images_of_every_kind_decode_as_imagemagick_decodes_them(self):
        kinds = {
            "rgba_8_bits": ["png32:"],
            "rgba_16_bits": ["png64:"],
            "rgb_16_bits": ["-alpha", "off", "-depth", "16", "png48:"],
            "rgb_interlaced": ["-alpha", "off", "-interlace", "PNG", "png24:"],
            "grey_16_bits": ["-alpha", "off", "-colorspace", "Gray", "-depth", "16", "png:"],
            "grey_alpha_16_bits": ["-colorspace", "Gray", "-define", "png:color-type=4", "png:"],
            "grey_1_bit": ["-alpha", "off", "-colorspace", "Gray", "-colors", "2", "-depth", "1",
                           "png:"],
            "palette_with_clear_colours": ["png8:"],
            "palette_2_bits": ["-alpha", "off", "-colors", "4", "-define", "png:bit-depth=2",
                               "png8:"],
        }
        for name, options in kinds.items():
            with self.subTest(kind=name):
                *convert_options, prefix = options
                path = self.scratch / (name + ".png")
                source = self.png(name + "-source")
                subprocess.run(["convert", str(source), *convert_options, prefix + str(path)],
                               check=True)
                data = path.read_bytes()
                ico = self.scratch / (name + ".ico")
                ico.write_bytes(ico_of([(40, 40, 32, data)]))
                (_, width, height, rgba), = icon_file.check(ico)
                self.assertEqual((width, height), (40, 40))
                self.assert_same_pixels(rgba, magick_rgba(path), exact="16" not in name)

    def test_bitmaps_of_every_depth_take_alpha_or_the_mask(self):
        red, green, blue, white = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)
        mask = [[1, 0, 0], [0, 0, 1]]
        palette = [red, green, blue, white]
        indexes = [[0, 1, 2], [3, 0, 1]]
        by_mask = [[red + (0,), green + (255,), blue + (255,)],
                   [white + (255,), red + (255,), green + (0,)]]
        with_alpha = [[red + (10,), green + (0,), blue + (255,)],
                      [white + (128,), red + (1,), green + (200,)]]
        zero_alpha = [[c[:3] + (0,) for c in row] for row in by_mask]
        cases = {
            # name: (bitmap, the pixels expected, top row first)
            "32_bits_with_alpha_ignores_the_mask": (bitmap(with_alpha, 32, mask), with_alpha),
            "32_bits_without_alpha_takes_the_mask": (bitmap(zero_alpha, 32, mask), by_mask),
            "24_bits_takes_the_mask": (bitmap(by_mask, 24, mask), by_mask),
            "8_bit_palette": (bitmap(indexes, 8, mask, palette), by_mask),
            "4_bit_palette": (bitmap(indexes, 4, mask, palette), by_mask),
            "1_bit_palette": (bitmap([[0, 1, 1], [1, 0, 0]], 1, mask, [red, white]),
                              [[red + (0,), white + (255,), white + (255,)],
                               [white + (255,), red + (255,), red + (0,)]]),
        }
        for name, (data, expected) in cases.items():
            with self.subTest(case=name):
                path = self.scratch / (name + ".ico")
                path.write_bytes(ico_of([(3, 2, 32, data)]))
                (_, width, height, rgba), = icon_file.check(path)
                self.assertEqual((width, height), (3, 2))
                self.assertEqual(rgba, b"".join(bytes(pixel) for row in expected for pixel in row))

    def assert_same_pixels(self, rgba, expected, exact=True):
        """Equal bytes; or, from 16-bit samples, each at most 1 off (8 bits
        are made from 16 by rounding in one decoder, truncating in another)."""
        if exact:
            self.assertEqual(rgba, expected)
            return
        self.assertEqual(len(rgba), len(expected))
        worst = max(abs(a - b) for a, b in zip(rgba, expected))
        self.assertLessEqual(worst, 1)

    def invalid_icons(self):
        """(name, bytes, phrase of the refusal)."""
        good = self.multi.read_bytes()
        png = self.png("plain").read_bytes()
        cursor = bytearray(good)
        cursor[2] = 2
        past_end = bytearray(good)
        struct.pack_into("<I", past_end, 6 + 16 * 4 + 12, len(good) - 10)  # last image's offset
        wrong_size = ico_of([(64, 64, 32, png)])  # the image is 40 x 40
        damaged = bytearray(png)
        damaged[40] ^= 0xFF  # inside the header or the pixel data: its chunk's CRC fails
        sixteen_bits = bytearray(ico_of([(16, 16, 16, bytes(40 + 16 * 16 * 2 + 64))]))
        struct.pack_into("<IiiHH", sixteen_bits, 22, 40, 16, 32, 1, 16)
        truncated_bitmap = bytearray(ico_of([(16, 16, 32, bytes(40 + 100))]))
        struct.pack_into("<IiiHH", truncated_bitmap, 22, 40, 16, 32, 1, 32)
        return [
            ("empty", b"", "too short for an icon header"),
            ("a_png_file", png, "does not start with an icon header"),
            ("a_cursor", bytes(cursor), "does not start with an icon header (0, 1): found 0, 2"),
            ("no_image", struct.pack("<HHH", 0, 1, 0), "it holds no image"),
            ("directory_cut_off", good[:6 + 16 * 2], "its directory of 5 images runs past"),
            ("image_past_the_end", bytes(past_end), "image #5 (256 x 256): its"),
            ("neither_png_nor_bitmap", ico_of([(16, 16, 32, b"GIF89a" + bytes(100))]),
             "neither a PNG image nor a bitmap"),
            ("directory_size_differs", wrong_size,
             "the icon's directory says 64 x 64, the image itself is 40 x 40"),
            ("damaged_png", ico_of([(40, 40, 32, bytes(damaged))]), "CRC mismatch"),
            ("sixteen_bit_bitmap", bytes(sixteen_bits), "16 bits per pixel"),
            ("truncated_bitmap", bytes(truncated_bitmap), "run past the image's end"),
        ]

    def test_invalid_icons_are_refused_naming_the_file_and_the_rule(self):
        tool = Path(ARGS.root) / "resources" / "icon_file.py"
        for name, data, phrase in self.invalid_icons():
            with self.subTest(icon=name):
                path = self.scratch / ("bad " + name + ".ico")
                path.write_bytes(data)
                with self.assertRaises(icon_file.IconError) as caught:
                    icon_file.check(path)
                self.assertIn(phrase, str(caught.exception))
                result = subprocess.run([sys.executable, str(tool), "check", str(path)],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 1)
                self.assertIn('"%s" is not a valid icon: ' % path, result.stderr)
                self.assertIn(phrase, result.stderr)

    def test_missing_file_is_refused(self):
        with self.assertRaises(icon_file.IconError) as caught:
            icon_file.check(self.scratch / "no such.ico")
        self.assertIn("it cannot be read", str(caught.exception))

    def test_desktop_icon_holds_the_best_image_of_each_size_as_32_bit_pixels(self):
        # Two 32 x 32 images: a 4-bit one first, then the 32-bit one Windows would pick.
        multi = self.multi.read_bytes()
        decoded = icon_file.check(self.multi)
        low = self.scratch / "low.ico"
        bitmap = self.scratch / "low.bmp"  # through BMP3, ImageMagick keeps the palette
        subprocess.run(["convert", "-size", "32x32", "xc:#808080", "-fill", "white", "-draw",
                        "color 1,1 point", "-alpha", "off", "-type", "Palette", "-colors", "2",
                        "BMP3:" + str(bitmap)], check=True)
        subprocess.run(["convert", str(bitmap), "ico:" + str(low)], check=True)
        self.assertEqual(icon_file.check(low)[0][0].pixel_bits, 1)
        count = struct.unpack_from("<H", multi, 4)[0]
        images = []
        for source in (low.read_bytes(), multi):
            for index in range(struct.unpack_from("<H", source, 4)[0]):
                width, height, _, _, _, bits, size, offset = struct.unpack_from(
                    "<BBBBHHII", source, 6 + 16 * index)
                images.append((width or 256, height or 256, bits, source[offset:offset + size]))
        mixed = self.scratch / "mixed.ico"
        mixed.write_bytes(ico_of(images))
        self.assertEqual(len(images), count + 1)

        converted = icon_file.bitmap_icon(icon_file.best_of_each_size(icon_file.check(mixed)))
        out = self.scratch / "desktop.ico"
        out.write_bytes(converted)
        again = icon_file.check(out)
        self.assertEqual([(image.width, image.pixel_bits, image.is_png) for image, *_ in again],
                         [(side, 32, False) for side in (16, 24, 32, 48, 256)])
        for (image, _, _, rgba), (_, _, _, original) in zip(again, decoded):
            with self.subTest(size=image.width):
                self.assertEqual(rgba, original)
        # ImageMagick reads the converted file too, to the same pixels.
        self.assertEqual(magick_rgba("ico:%s[4]" % out), decoded[4][3])

    def test_desktop_command_writes_the_launchers_source(self):
        tool = Path(ARGS.root) / "resources" / "icon_file.py"
        source = self.scratch / "desktop_icon.cpp"
        subprocess.run([sys.executable, str(tool), "desktop", str(self.multi), "--cpp",
                        str(source)], check=True)
        text = source.read_text()
        self.assertIn("const unsigned char launcher_icon_file[] = {", text)
        self.assertIn("launcher_icon_file_size = sizeof launcher_icon_file", text)
        body = text.split("{", 1)[1].split("}", 1)[0]
        data = bytes(int(value) for value in body.replace("\n", "").split(",") if value.strip())
        expected = icon_file.bitmap_icon(icon_file.best_of_each_size(icon_file.check(self.multi)))
        self.assertEqual(data, expected)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    sys.path.insert(0, str(Path(ARGS.root) / "resources"))
    import icon_file  # noqa: E402,F811
    unittest.main(argv=[sys.argv[0], "-v", *rest])
