#!/usr/bin/env python3
"""Draws the program icon (resources/program.ico): a serial plug with a download arrow on a
rounded blue tile, at 16, 32 and 48 pixels, 32-bit colour with alpha. Standard library only."""
import struct
import sys
from pathlib import Path

SIZES = (16, 32, 48)
TILE = (0x1F, 0x5F, 0xA8)      # blue
ARROW = (0xFF, 0xFF, 0xFF)     # white
PLUG = (0xF2, 0xB1, 0x34)      # amber


def inside_rounded(x, y, size, radius):
    cx = min(max(x, radius), size - 1 - radius)
    cy = min(max(y, radius), size - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def pixel(x, y, size):
    """Colour (r, g, b, a) of one pixel, in a 48-unit design space scaled to size."""
    u = x * 48.0 / size
    v = y * 48.0 / size
    if not inside_rounded(x, y, size, max(2, size // 6)):
        return (0, 0, 0, 0)
    # the plug: a bar along the bottom with two pins
    if 34 <= v <= 42 and 8 <= u <= 40:
        return PLUG + (255,)
    if 42 < v <= 45 and (13 <= u <= 17 or 31 <= u <= 35):
        return PLUG + (255,)
    # the arrow: a shaft and a head pointing at the plug
    if 6 <= v <= 20 and 20 <= u <= 28:
        return ARROW + (255,)
    if 20 <= v <= 31 and abs(u - 24) <= (31 - v) * 1.1:
        return ARROW + (255,)
    return TILE + (255,)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as bitmaps are stored
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha decides; the AND mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(out):
    images = [image(s) for s in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip(SIZES, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    Path(out).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else str(Path(__file__).with_name("program.ico")))
