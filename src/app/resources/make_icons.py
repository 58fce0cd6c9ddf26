#!/usr/bin/env python3
"""Draws the program's icons: a green check mark on a dark disc with a light rim.

    make_icons.py OUT_DIR

writes OUT_DIR/repair.ico (64, 48 and 16 pixels) and OUT_DIR/repair_small.ico (16 pixels).
Every image is a 24-bit bottom-up DIB followed by its 1-bit AND mask (1 = transparent), the
form that every Windows version reads. Only the standard library is used, and the output is
the same byte for byte on every run.
"""

import math
import os
import struct
import sys

SUBSAMPLES = 4  # per axis: 16 samples per pixel for smooth edges

DISC_TOP = (0x33, 0x45, 0x58)
DISC_BOTTOM = (0x15, 0x1e, 0x28)
RIM = (0x7f, 0x9c, 0xb8)
CHECK = (0x4c, 0xd9, 0x7b)
CHECK_SHADOW = (0x0b, 0x12, 0x18)

# The check mark as a polyline in unit coordinates (y grows downwards).
CHECK_POINTS = ((0.27, 0.53), (0.44, 0.70), (0.75, 0.34))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def in_check(x, y, half_width, dx=0.0, dy=0.0):
    points = CHECK_POINTS
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        if segment_distance(x - dx, y - dy, ax, ay, bx, by) <= half_width:
            return True
    return False


def mix(a, b, share):
    return tuple(round(a[i] * (1.0 - share) + b[i] * share) for i in range(3))


def draw(size):
    """Returns rows top to bottom of (colour or None for transparent) pixels."""
    # Small icons get relatively thicker strokes, so that one pixel still reads as a line.
    radius = 0.48
    rim_width = max(1.0 / size, 0.045)
    half_stroke = 0.085 if size >= 32 else 0.11
    shadow = 1.2 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            disc = rim = check = shade = 0
            total = SUBSAMPLES * SUBSAMPLES
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = (px + (sx + 0.5) / SUBSAMPLES) / size
                    y = (py + (sy + 0.5) / SUBSAMPLES) / size
                    r = math.hypot(x - 0.5, y - 0.5)
                    if r > radius:
                        continue
                    disc += 1
                    if r > radius - rim_width:
                        rim += 1
                    elif in_check(x, y, half_stroke):
                        check += 1
                    elif in_check(x, y, half_stroke, shadow, shadow):
                        shade += 1
            if disc * 2 < total:
                row.append(None)
                continue
            y_share = (py + 0.5) / size
            colour = mix(DISC_TOP, DISC_BOTTOM, y_share)
            colour = mix(colour, CHECK_SHADOW, 0.6 * shade / disc)
            colour = mix(colour, RIM, rim / disc)
            colour = mix(colour, CHECK, check / disc)
            row.append(colour)
        rows.append(row)
    return rows


def icon_image(size):
    """The DIB of one icon image: header, 24-bit colours, AND mask, both bottom-up."""
    rows = draw(size)
    colour_stride = (size * 3 + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colours = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray()
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel is None:
                line += b"\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                red, green, blue = pixel
                line += bytes((blue, green, red))
        line += bytes(colour_stride - len(line))
        colours += line
        mask += bits
    # Height counts colours and mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + bytes(colours) + bytes(mask)


def icon_file(sizes):
    images = [icon_image(size) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icons.py OUT_DIR\n")
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, sizes in (("repair.ico", (64, 48, 16)), ("repair_small.ico", (16,))):
        path = os.path.join(out_dir, name)
        with open(path + ".tmp", "wb") as handle:
            handle.write(icon_file(sizes))
        os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
