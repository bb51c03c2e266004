#!/usr/bin/python3
"""Draws the program icon (resources/program.ico): a serial plug with a download arrow on a
rounded blue tile, at 16, 32 and 48 pixels, 32-bit colour with alpha, written by Pillow."""
import sys
from pathlib import Path

from PIL import Image

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
    picture = Image.new("RGBA", (size, size))
    picture.putdata([pixel(x, y, size) for y in range(size) for x in range(size)])
    return picture


def main(out):
    # Each size is drawn for itself; bitmap entries (not PNG) keep the icon readable by
    # every Windows version and by the resource compiler.
    images = [image(s) for s in SIZES]
    images[-1].save(out, format="ICO", sizes=[(s, s) for s in SIZES], bitmap_format="bmp",
                    append_images=images[:-1])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else str(Path(__file__).with_name("program.ico")))
