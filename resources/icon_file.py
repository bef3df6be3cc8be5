#!/usr/bin/env python3
"""Checks a Windows icon file (.ico) and turns it into the pixels a Linux
desktop takes.

    icon_file.py check ICON
    icon_file.py desktop ICON --cpp OUT.cpp

check    refuses, naming the file, an icon that is not one Windows reads: a
         bad header, an image outside the file, an image that is neither a
         PNG nor a device-independent bitmap, sizes other than 1 to 256
         pixels, an image that does not decode. Exit code 1 and one line on
         standard error.
desktop  writes OUT.cpp: `launcher_icon_file` (launch/desktop_icon.hpp), an
         .ico of the same sizes in which every image is an uncompressed
         32-bit bitmap with alpha (the best image of each size: PNG images
         and bitmaps of fewer colours decoded), which the X11 desktop hands
         over as _NET_WM_ICON without decoding PNG itself.

Only the standard library: the build runs this with whatever Python 3 it finds.
"""

import argparse
import os
import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
BITMAP_HEADER_SIZE = 40
DIRECTORY_SIZE, ENTRY_SIZE = 6, 16
BI_RGB = 0


class IconError(Exception):
    pass


class Image:
    """One image of an icon: its directory entry's size and bit count, and its
    bytes; once decoded, its own bits per pixel (32 for a PNG image)."""

    def __init__(self, index, width, height, bit_count, data):
        self.index = index
        self.width = width
        self.height = height
        self.bit_count = bit_count
        self.data = data
        self.pixel_bits = None

    @property
    def is_png(self):
        return self.data.startswith(PNG_SIGNATURE)

    def label(self):
        return "image #%d (%d x %d)" % (self.index + 1, self.width, self.height)


def read_images(data):
    """The images of an .ico file, checked for layout only."""
    if len(data) < DIRECTORY_SIZE:
        raise IconError("it is too short for an icon header (%d bytes)" % len(data))
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise IconError("it does not start with an icon header (0, 1): found %d, %d"
                        % (reserved, kind))
    if count == 0:
        raise IconError("it holds no image")
    if len(data) < DIRECTORY_SIZE + ENTRY_SIZE * count:
        raise IconError("its directory of %d images runs past the end of the file" % count)
    images = []
    for index in range(count):
        width, height, _, _, _, bit_count, size, offset = struct.unpack_from(
            "<BBBBHHII", data, DIRECTORY_SIZE + ENTRY_SIZE * index)
        image = Image(index, width or 256, height or 256, bit_count, data[offset:offset + size])
        if size == 0 or offset + size > len(data):
            raise IconError("%s: its %d bytes at offset %d run past the end of the file (%d bytes)"
                            % (image.label(), size, offset, len(data)))
        images.append(image)
    return images


def decode(image):
    """(width, height, RGBA bytes with the top row first) of one image."""
    if image.is_png:
        width, height, rgba = decode_png(image.data)
        image.pixel_bits = 32
    else:
        width, height, rgba = decode_bitmap(image.data)
        image.pixel_bits = struct.unpack_from("<H", image.data, 14)[0]
    if (width, height) != (image.width, image.height):
        raise IconError("the icon's directory says %d x %d, the image itself is %d x %d"
                        % (image.width, image.height, width, height))
    return width, height, rgba


# -- device-independent bitmaps: colours bottom row first, then a 1-bit mask ------------------

def decode_bitmap(data):
    if len(data) < BITMAP_HEADER_SIZE:
        raise IconError("neither a PNG image nor a bitmap: too short for a bitmap header")
    header_size, width, double_height, planes, bit_count, compression = struct.unpack_from(
        "<IiiHHI", data, 0)
    colors_used, = struct.unpack_from("<I", data, 32)
    if header_size != BITMAP_HEADER_SIZE:
        raise IconError("neither a PNG image nor a bitmap with a %d-byte header (its header "
                        "says %d bytes)" % (BITMAP_HEADER_SIZE, header_size))
    if not 1 <= width <= 256 or double_height <= 0 or double_height % 2 or \
            not 1 <= double_height // 2 <= 256:
        raise IconError("its bitmap is %d x %d: an icon's bitmap is 1 to 256 pixels wide and "
                        "twice as high as the image (colours, then the mask)"
                        % (width, double_height))
    if bit_count not in (1, 4, 8, 24, 32):
        raise IconError("its bitmap has %d bits per pixel (1, 4, 8, 24 or 32 can be read)"
                        % bit_count)
    if compression != BI_RGB:
        raise IconError("its bitmap is compressed (method %d): an icon's bitmap is not"
                        % compression)
    height = double_height // 2
    at = BITMAP_HEADER_SIZE
    palette = []
    if bit_count <= 8:
        entries = colors_used or (1 << bit_count)
        if entries > (1 << bit_count) or at + 4 * entries > len(data):
            raise IconError("its bitmap's palette of %d colours does not fit" % entries)
        palette = [data[at + 4 * i:at + 4 * i + 3] for i in range(entries)]  # B, G, R
        at += 4 * entries
    color_row = (width * bit_count + 31) // 32 * 4
    mask_row = (width + 31) // 32 * 4
    if at + color_row * height > len(data):
        raise IconError("its bitmap's %d x %d pixels run past the image's end" % (width, height))
    mask_at = at + color_row * height
    has_mask = mask_at + mask_row * height <= len(data)

    pixels = []  # (b, g, r, a) bottom row first
    for y in range(height):
        row = data[at + y * color_row:at + (y + 1) * color_row]
        for x in range(width):
            if bit_count == 32:
                pixels.append(tuple(row[4 * x:4 * x + 4]))
            elif bit_count == 24:
                pixels.append(tuple(row[3 * x:3 * x + 3]) + (0,))
            else:
                per_byte = 8 // bit_count
                value = row[x // per_byte] >> (8 - bit_count * (x % per_byte + 1))
                value &= (1 << bit_count) - 1
                if value >= len(palette):
                    raise IconError("its bitmap uses colour %d of a palette of %d"
                                    % (value, len(palette)))
                pixels.append(tuple(palette[value]) + (0,))
    # Bitmaps of 32 bits with any alpha say transparency with it; all others
    # (and old 32-bit icons that leave alpha at zero) with the mask.
    alpha_used = bit_count == 32 and any(p[3] for p in pixels)
    rgba = bytearray()
    for y in reversed(range(height)):
        for x in range(width):
            b, g, r, a = pixels[y * width + x]
            if not alpha_used:
                clear = has_mask and data[mask_at + y * mask_row + x // 8] & (0x80 >> (x % 8))
                a = 0 if clear else 0xFF
            rgba += bytes((r, g, b, a))
    return width, height, bytes(rgba)


# -- PNG (the usual form of 256-pixel images) ------------------------------------------------

def png_chunks(data):
    at = len(PNG_SIGNATURE)
    while at + 12 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        if len(body) != length or at + 12 + length > len(data):
            raise IconError("its PNG image's %s chunk runs past the image's end"
                            % kind.decode("latin-1"))
        crc, = struct.unpack_from(">I", data, at + 8 + length)
        if zlib.crc32(kind + body) != crc:
            raise IconError("its PNG image's %s chunk is damaged (CRC mismatch)"
                            % kind.decode("latin-1"))
        yield kind, body
        if kind == b"IEND":
            return
        at += 12 + length
    raise IconError("its PNG image ends without an IEND chunk")


def unfilter(raw, rows, row_bytes, pixel_bytes):
    """The scanlines of one (sub)image with their filters undone."""
    out = bytearray()
    previous = bytearray(row_bytes)
    at = 0
    for _ in range(rows):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + row_bytes])
        at += 1 + row_bytes
        if len(line) != row_bytes:
            raise IconError("its PNG image's pixel data is shorter than its size")
        if kind == 1:
            for i in range(pixel_bytes, row_bytes):
                line[i] = (line[i] + line[i - pixel_bytes]) & 0xFF
        elif kind == 2:
            for i in range(row_bytes):
                line[i] = (line[i] + previous[i]) & 0xFF
        elif kind == 3:
            for i in range(row_bytes):
                left = line[i - pixel_bytes] if i >= pixel_bytes else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(row_bytes):
                a = line[i - pixel_bytes] if i >= pixel_bytes else 0
                b = previous[i]
                c = previous[i - pixel_bytes] if i >= pixel_bytes else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + predictor) & 0xFF
        elif kind != 0:
            raise IconError("its PNG image uses filter type %d (0 to 4 exist)" % kind)
        out += line
        previous = line
    return bytes(out), at


# Adam7: (first column, first row, column step, row step) of each pass.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}


def decode_png(data):
    header = palette = transparency = None
    compressed = bytearray()
    for kind, body in png_chunks(data):
        if kind == b"IHDR":
            if len(body) != 13:
                raise IconError("its PNG image's header is %d bytes (13 expected)" % len(body))
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body) - 2, 3)]
        elif kind == b"tRNS":
            transparency = body
        elif kind == b"IDAT":
            compressed += body
    if header is None:
        raise IconError("its PNG image has no header (IHDR)")
    width, height, depth, color, method, filtering, interlace = header
    if not (1 <= width <= 256 and 1 <= height <= 256):
        raise IconError("its PNG image is %d x %d (an icon's images are 1 to 256 pixels)"
                        % (width, height))
    if color not in CHANNELS or depth not in DEPTHS[color] or method or filtering or \
            interlace not in (0, 1):
        raise IconError("its PNG image's header is invalid (colour type %d, %d bits, "
                        "compression %d, filter %d, interlace %d)"
                        % (color, depth, method, filtering, interlace))
    if color == 3 and not palette:
        raise IconError("its PNG image is indexed but has no palette (PLTE)")
    try:
        raw = zlib.decompress(bytes(compressed))
    except zlib.error as error:
        raise IconError("its PNG image's pixel data does not inflate: %s" % error)

    channels = CHANNELS[color]
    bits_per_pixel = channels * depth
    pixel_bytes = max(1, bits_per_pixel // 8)
    samples = [[None] * width for _ in range(height)]  # per pixel: tuple of samples
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    at = 0
    for x0, y0, dx, dy in passes:
        columns = (width - x0 + dx - 1) // dx if width > x0 else 0
        rows = (height - y0 + dy - 1) // dy if height > y0 else 0
        if not columns or not rows:
            continue
        row_bytes = (columns * bits_per_pixel + 7) // 8
        lines, used = unfilter(raw[at:], rows, row_bytes, pixel_bytes)
        at += used
        for row in range(rows):
            line = lines[row * row_bytes:(row + 1) * row_bytes]
            for column in range(columns):
                samples[y0 + row * dy][x0 + column * dx] = read_samples(line, column, channels,
                                                                        depth)
    maximum = (1 << depth) - 1
    rgba = bytearray()
    for row in samples:
        for pixel in row:
            rgba += png_rgba(pixel, color, depth, maximum, palette, transparency)
    return width, height, bytes(rgba)


def read_samples(line, column, channels, depth):
    if depth == 8:
        return tuple(line[column * channels:(column + 1) * channels])
    if depth == 16:
        return tuple(struct.unpack_from(">%dH" % channels, line, column * channels * 2))
    per_byte = 8 // depth  # only one channel below 8 bits
    value = line[column // per_byte] >> (8 - depth * (column % per_byte + 1))
    return (value & ((1 << depth) - 1),)


def png_rgba(pixel, color, depth, maximum, palette, transparency):
    def eight(value):
        return (value * 255 + maximum // 2) // maximum  # rounded, as 16 bits become 8

    if color == 3:
        index = pixel[0]
        if index >= len(palette):
            raise IconError("its PNG image uses colour %d of a palette of %d"
                            % (index, len(palette)))
        alpha = transparency[index] if transparency and index < len(transparency) else 255
        return bytes(palette[index]) + bytes((alpha,))
    if color in (0, 4):
        grey = eight(pixel[0])
        if color == 4:
            alpha = eight(pixel[1])
        else:
            key = struct.unpack(">H", transparency[:2])[0] if transparency else None
            alpha = 0 if key == pixel[0] else 255
        return bytes((grey, grey, grey, alpha))
    r, g, b = (eight(v) for v in pixel[:3])
    if color == 6:
        alpha = eight(pixel[3])
    else:
        key = struct.unpack(">HHH", transparency[:6]) if transparency else None
        alpha = 0 if key == tuple(pixel[:3]) else 255
    return bytes((r, g, b, alpha))


# -- checking and converting -----------------------------------------------------------------

def decoded_images(data):
    """Every image decoded, in the file's order: (image, width, height, RGBA)."""
    out = []
    for image in read_images(data):
        try:
            out.append((image,) + decode(image))
        except IconError as error:
            raise IconError("%s: %s" % (image.label(), error))
        except (struct.error, IndexError):
            raise IconError("%s: its data ends too early" % image.label())
    return out


def check(path):
    """The decoded images of the icon at `path`; IconError names the rule broken."""
    try:
        with open(path, "rb") as source:
            data = source.read()
    except OSError as error:
        raise IconError("it cannot be read: %s" % (error.strerror or error))
    return decoded_images(data)


def best_of_each_size(decoded):
    """One image per size, as Windows picks: the most bits per pixel (a PNG
    counts as 32), the first of equals; smallest size first."""
    best = {}
    for image, width, height, rgba in decoded:
        bits = image.pixel_bits
        size = (width, height)
        if size not in best or bits > best[size][0]:
            best[size] = (bits, rgba)
    return [(size, best[size][1]) for size in sorted(best)]


def bitmap_icon(images):
    """An .ico of uncompressed 32-bit images with alpha (and a mask from it)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    bodies = []
    for (width, height), rgba in images:
        mask_row = (width + 31) // 32 * 4
        colors = bytearray()
        mask = bytearray()
        for y in reversed(range(height)):  # bottom row first
            row_mask = bytearray(mask_row)
            for x in range(width):
                r, g, b, a = rgba[4 * (y * width + x):4 * (y * width + x) + 4]
                colors += bytes((b, g, r, a))
                if a == 0:
                    row_mask[x // 8] |= 0x80 >> (x % 8)
            mask += row_mask
        header = struct.pack("<IiiHHIIiiII", BITMAP_HEADER_SIZE, width, 2 * height, 1, 32, BI_RGB,
                             len(colors) + len(mask), 0, 0, 0, 0)
        bodies.append(header + bytes(colors) + bytes(mask))
    offset = len(directory) + ENTRY_SIZE * len(images)
    entries = b""
    for ((width, height), _), body in zip(images, bodies):
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(body),
                               offset)
        offset += len(body)
    return directory + entries + b"".join(bodies)


def desktop_source(icon_name, data):
    lines = ["// Made by the build from %s: every size of the icon as 32-bit pixels with alpha."
             % "".join(c if c.isprintable() else "?" for c in icon_name),
             '#include "launch/desktop_icon.hpp"', "",
             "const unsigned char launcher_icon_file[] = {"]
    for start in range(0, len(data), 24):
        lines.append("    " + ",".join(str(b) for b in data[start:start + 24]) + ",")
    lines += ["};", "const std::size_t launcher_icon_file_size = sizeof launcher_icon_file;"]
    return "\n".join(lines) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["check", "desktop"])
    parser.add_argument("icon")
    parser.add_argument("--cpp", help="desktop: the C++ source to write")
    args = parser.parse_args(argv)
    if args.command == "desktop" and not args.cpp:
        parser.error("desktop needs --cpp")
    try:
        decoded = check(args.icon)
    except IconError as error:
        sys.stderr.write('icon_file: error: "%s" is not a valid icon: %s\n'
                         % (os.path.abspath(args.icon), error))
        return 1
    if args.command == "desktop":
        text = desktop_source(os.path.basename(args.icon),
                              bitmap_icon(best_of_each_size(decoded)))
        partial = args.cpp + ".part"
        with open(partial, "w", encoding="utf-8", newline="\n") as out:
            out.write(text)
        os.replace(partial, args.cpp)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
