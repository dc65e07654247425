#!/usr/bin/env python3
"""Draws the program icon (a chip with an arrow pointing into it) and writes
quobin.ico: 16, 32 and 48 pixels at 8 and 32 bits per pixel, 16 and 32 pixels
at 4 bits per pixel. Standard library only; the ICO and BMP structures are
written by hand.

Usage: make_icon.py [output path]   (default: quobin.ico beside this script)
"""

import os
import struct
import sys

# The few colours of the artwork (R, G, B).
BODY = (0x2B, 0x30, 0x38)      # chip body
EDGE = (0x10, 0x12, 0x16)      # chip outline
PIN = (0xC8, 0xCC, 0xD2)       # pins
DOT = (0x80, 0x88, 0x94)       # pin-1 mark
ARROW = (0x2F, 0xB3, 0x44)     # arrow
ARROW_EDGE = (0xFF, 0xFF, 0xFF)

# The 16 colours of a 4-bit icon: the standard VGA palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def shape_at(x, y):
    """The colour at a point of the unit square (0..1, y downwards), or None
    where the icon is transparent."""
    # Arrow pointing down into the chip, drawn over everything.
    cx = 0.5
    head_top, head_tip, head_half = 0.38, 0.66, 0.24
    shaft_top, shaft_half = 0.02, 0.09
    outline = 0.045

    def in_arrow(grow):
        if shaft_top - grow <= y <= head_top and abs(x - cx) <= shaft_half + grow:
            return True
        if head_top - grow <= y <= head_tip + grow * 1.8:
            half = head_half * (head_tip - y) / (head_tip - head_top) + grow * 1.6
            return abs(x - cx) <= half
        return False

    if in_arrow(0.0):
        return ARROW
    if in_arrow(outline):
        return ARROW_EDGE

    # Chip body with an outline.
    left, right, top, bottom = 0.22, 0.78, 0.22, 0.86
    if left <= x <= right and top <= y <= bottom:
        if x < left + 0.035 or x > right - 0.035 or y < top + 0.035 or y > bottom - 0.035:
            return EDGE
        if (x - 0.32) ** 2 + (y - 0.76) ** 2 <= 0.045 ** 2:
            return DOT
        return BODY

    # Four pins on each side.
    for i in range(4):
        py = 0.30 + i * 0.15
        if py <= y <= py + 0.08:
            if 0.06 <= x < left or right < x <= 0.94:
                return PIN
    return None


def render_rgba(size, samples):
    """RGBA rows (top row first), averaged over samples x samples points per pixel."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = shape_at((px + (sx + 0.5) / samples) / size,
                                 (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        a += 1
            n = samples * samples
            if a:
                row.append((r // a, g // a, b // a, 255 * a // n))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def padded(row_bytes):
    return row_bytes + b"\0" * ((-len(row_bytes)) % 4)


def and_mask(rows):
    """1 bit per pixel, 1 = transparent, bottom row first."""
    out = b""
    for row in reversed(rows):
        bits = 0
        data = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p[3] < 128 else 0)
            if i % 8 == 7:
                data.append(bits)
                bits = 0
        if len(row) % 8:
            data.append(bits << (8 - len(row) % 8))
        out += padded(bytes(data))
    return out


def dib(size, bpp, rows, palette=None):
    """A BITMAPINFOHEADER image as an ICO entry holds it: height doubled for
    the mask, colour table, XOR bitmap, AND mask; rows bottom up."""
    colours = len(palette) if palette else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)
    table = b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in (palette or []))
    pixels = b""
    for row in reversed(rows):
        if bpp == 32:
            data = b"".join(struct.pack("<BBBB", p[2], p[1], p[0], p[3]) for p in row)
        elif bpp == 8:
            data = bytes(0 if p[3] < 128 else nearest(palette, p) for p in row)
        elif bpp == 4:
            idx = [0 if p[3] < 128 else nearest(palette, p) for p in row]
            data = bytes((idx[i] << 4) | (idx[i + 1] if i + 1 < len(idx) else 0)
                         for i in range(0, len(idx), 2))
        else:
            raise ValueError(bpp)
        pixels += padded(data)
    return header + table + pixels + and_mask(rows)


def palette256():
    """The artwork's colours first, then a 6x6x6 colour cube and greys."""
    colours = [(0, 0, 0), BODY, EDGE, PIN, DOT, ARROW, ARROW_EDGE]
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    level = 8
    while len(colours) < 256:
        colours.append((level, level, level))
        level = min(255, level + 10)
    return colours[:256]


def build_ico():
    images = []
    for size, bpp in [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]:
        if bpp == 32:
            rows = render_rgba(size, 4)
            data = dib(size, 32, rows)
            colour_count = 0
        elif bpp == 8:
            rows = render_rgba(size, 1)
            data = dib(size, 8, rows, palette256())
            colour_count = 0  # 256 is written as 0
        else:
            rows = render_rgba(size, 1)
            data = dib(size, 4, rows, VGA16)
            colour_count = 16
        images.append((size, bpp, colour_count, data))

    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, colour_count, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    for *_, data in images:
        out += data
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "quobin.ico")
    with open(target, "wb") as f:
        f.write(build_ico())


if __name__ == "__main__":
    main()
