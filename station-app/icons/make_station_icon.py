#!/usr/bin/env python3
"""Draws the station window's icon, four slot tiles in a grid (a pass with a
check mark, a failure with a cross, a board waiting, a board flashing), and
writes quobin-station.png at 256 pixels. Standard library only; the PNG
structure is written by hand.

Usage: make_station_icon.py [output path]   (default: beside this script)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 256
PASS = (0x1B, 0x7F, 0x2A)
FAIL = (0xB7, 0x1C, 0x1C)
WAIT = (0xE4, 0xE7, 0xEB)
FLASH = (0x15, 0x5F, 0xA8)
FRAME = (0x2B, 0x30, 0x38)
MARK = (0xFF, 0xFF, 0xFF)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def pixel(x, y):
    """The colour at (x, y), or None where the icon is transparent."""
    margin, gap = 8, 12
    if not (margin <= x < SIZE - margin and margin <= y < SIZE - margin):
        return None
    inner = SIZE - 2 * margin
    half = (inner - gap) // 2
    lx, ly = x - margin, y - margin
    column = 0 if lx < half else (1 if lx >= half + gap else None)
    row = 0 if ly < half else (1 if ly >= half + gap else None)
    if column is None or row is None:
        return FRAME
    tx = lx - column * (half + gap)
    ty = ly - row * (half + gap)
    if tx < 4 or ty < 4 or tx >= half - 4 or ty >= half - 4:
        return FRAME
    colour = [[PASS, FAIL], [WAIT, FLASH]][row][column]
    s = half / 100.0
    if colour is PASS and (segment_distance(tx, ty, 25 * s, 52 * s, 43 * s, 70 * s) < 8 * s
                           or segment_distance(tx, ty, 43 * s, 70 * s, 76 * s, 32 * s) < 8 * s):
        return MARK
    if colour is FAIL and (segment_distance(tx, ty, 30 * s, 30 * s, 70 * s, 70 * s) < 8 * s
                           or segment_distance(tx, ty, 70 * s, 30 * s, 30 * s, 70 * s) < 8 * s):
        return MARK
    if colour is WAIT and abs(math.hypot(tx - 50 * s, ty - 50 * s) - 22 * s) < 5 * s:
        return FRAME
    if colour is FLASH and 20 * s <= tx < 80 * s and 62 * s <= ty < 74 * s:
        return MARK if tx < 55 * s else (0x0B, 0x3A, 0x6A)
    if colour is FLASH and 34 * s <= tx < 66 * s and abs(ty - 38 * s) < (66 * s - tx) * 0.6:
        return MARK
    return colour


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "quobin-station.png")
    rows = []
    for y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            colour = pixel(x, y)
            row += bytes(colour) + b"\xff" if colour else b"\x00\x00\x00\x00"
        rows.append(bytes(row))
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))


main()
