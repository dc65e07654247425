#!/usr/bin/env python3
"""Writes a sample firmware image in Intel HEX: COUNT data records of 16 bytes
each (extended linear address records where the address passes 64 KiB), then
the end-of-file record. Lines end in CR LF.

Usage: make_hex.py OUTPUT [COUNT]   (COUNT defaults to 3000)
"""
import random
import sys


def record(address, kind, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip())
    count = int(sys.argv[2]) if len(sys.argv) == 3 else 3000
    rng = random.Random(1)  # the same image every time
    lines = []
    upper = None
    for index in range(count):
        address = index * 16
        if address >> 16 != upper:
            upper = address >> 16
            lines.append(record(0, 0x04, upper.to_bytes(2, "big")))
        lines.append(record(address & 0xFFFF, 0x00, bytes(rng.randrange(256) for _ in range(16))))
    lines.append(":00000001FF")
    with open(sys.argv[1], "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in lines))


if __name__ == "__main__":
    main()
