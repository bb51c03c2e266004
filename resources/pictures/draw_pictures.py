#!/usr/bin/python3
"""Draws the nine 87 x 68 wizard pictures as BMP files (reduced and written with Pillow).

Every picture is drawn four times larger with simple shapes and then reduced: each 4 x 4
block is averaged (smooth edges), and the 16-colour ones are quantised to their palette.
Run it to rewrite the .bmp files beside it.
"""
import math
import os
import struct
import sys

from PIL import Image

WIDTH, HEIGHT = 87, 68
SCALE = 4
BMP_FILE_HEADER_BYTES, BMP_INFO_HEADER_BYTES = 14, 40
PIXELS_PER_METRE = 2835  # 72 dots per inch
DPI = 72

# One 16-colour palette serves every picture; the 24-bit ones draw with it too and gain
# their extra shades from the smoothing.
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
LIGHT = (205, 205, 205)
MID = (150, 150, 150)
DARK = (80, 80, 80)
SKIN = (244, 196, 152)
SKIN_EDGE = (160, 100, 60)
NAIL = (255, 230, 215)
RED = (220, 30, 30)
GREEN = (40, 185, 40)
DARK_GREEN = (0, 105, 0)
BLUE = (40, 90, 205)
LCD = (172, 204, 150)
LCD_INK = (28, 48, 28)
YELLOW = (250, 220, 40)
BODY = (62, 72, 94)
PALETTE = [BLACK, WHITE, LIGHT, MID, DARK, SKIN, SKIN_EDGE, NAIL,
           RED, GREEN, DARK_GREEN, BLUE, LCD, LCD_INK, YELLOW, BODY]

# A 3 x 5 pixel font, enough for the labels on the keys, the switch and the display.
FONT = {
    "0": "111101101101111", "1": "010110010010111", "2": "111001111100111",
    "3": "111001111001111", "4": "101101111001001", "5": "111100111001111",
    "6": "111100111101111", "7": "111001010010010", "8": "111101111101111",
    "9": "111101111001111", "A": "010101111101101", "B": "110101110101110",
    "C": "011100100100011", "D": "110101101101110", "E": "111100110100111",
    "F": "111100110100100", "G": "011100101101011", "H": "101101111101101",
    "I": "111010010010111", "K": "101101110101101", "L": "100100100100111",
    "M": "101111111101101", "N": "110101101101101", "O": "010101101101010",
    "P": "110101110100100", "R": "110101110101101", "S": "011100010001110",
    "T": "111010010010010", "U": "101101101101111", "V": "101101101101010",
    "W": "101101111111101", "X": "101101010101101", "Y": "101101010010010",
    "v": "000101101101010", ".": "000000000000010", ":": "000010000010000",
    "(": "010100100100010", ")": "010001001001010", " ": "000000000000000",
    "-": "000000111000000",
}


# A 5 x 7 pixel font for the key caps.
BIG_FONT = {
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
}


class Canvas:
    """An RGB drawing surface in picture coordinates, sampled SCALE times finer."""

    def __init__(self, background=WHITE):
        self.w, self.h = WIDTH * SCALE, HEIGHT * SCALE
        self.px = [[background] * self.w for _ in range(self.h)]

    def _span(self, x0, y0, x1, y1):
        xs = max(0, int(math.floor(min(x0, x1) * SCALE)))
        xe = min(self.w, int(math.ceil(max(x0, x1) * SCALE)) + 1)
        ys = max(0, int(math.floor(min(y0, y1) * SCALE)))
        ye = min(self.h, int(math.ceil(max(y0, y1) * SCALE)) + 1)
        return xs, xe, ys, ye

    def fill(self, inside, bounds, colour):
        xs, xe, ys, ye = self._span(*bounds)
        for sy in range(ys, ye):
            y = (sy + 0.5) / SCALE
            row = self.px[sy]
            for sx in range(xs, xe):
                if inside((sx + 0.5) / SCALE, y):
                    row[sx] = colour

    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1), colour)

    def round_rect(self, x0, y0, x1, y1, r, colour):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.fill(inside, (x0, y0, x1, y1), colour)

    def framed_round_rect(self, x0, y0, x1, y1, r, edge, colour, width=1.0):
        self.round_rect(x0, y0, x1, y1, r, edge)
        self.round_rect(x0 + width, y0 + width, x1 - width, y1 - width, max(0.0, r - width), colour)

    def ellipse(self, cx, cy, rx, ry, colour):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), colour)

    def capsule(self, x0, y0, x1, y1, r, colour):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            px, py = x0 + t * dx - x, y0 + t * dy - y
            return px * px + py * py <= r * r
        self.fill(inside, (min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r), colour)

    def line(self, x0, y0, x1, y1, colour, width=1.0):
        self.capsule(x0, y0, x1, y1, width / 2.0, colour)

    def polygon(self, points, colour):
        def inside(x, y):
            result = False
            j = len(points) - 1
            for i, (xi, yi) in enumerate(points):
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    result = not result
                j = i
            return result
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), colour)

    def text(self, x, y, label, colour, size=1.0):
        """Draws label with its top-left corner at (x, y); size scales each font pixel."""
        for ch in label:
            glyph = FONT[ch]
            for row in range(5):
                for col in range(3):
                    if glyph[row * 3 + col] == "1":
                        self.rect(x + col * size, y + row * size,
                                  x + (col + 1) * size, y + (row + 1) * size, colour)
            x += 4 * size

    def big_text(self, x, y, label, colour):
        for ch in label:
            for row, bits in enumerate(BIG_FONT[ch]):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col, y + row, x + col + 1, y + row + 1, colour)
            x += 6

    def image(self):
        picture = Image.new("RGB", (self.w, self.h))
        picture.putdata([colour for row in self.px for colour in row])
        return picture


def text_width(label, size=1.0):
    return (4 * len(label) - 1) * size


# ---------------------------------------------------------------- parts of the pictures

def finger(c, tip, towards_hand, length=22.0, radius=4.2):
    """A pointing hand: the index finger's tip at tip, the fist towards_hand (an angle in
    degrees, 0 = to the right, 90 = down), outlined so it reads on any background."""
    a = math.radians(towards_hand)
    ux, uy = math.cos(a), math.sin(a)          # from the tip towards the hand
    nx, ny = -uy, ux                           # across the finger
    tx, ty = tip[0] + ux * radius * 0.8, tip[1] + uy * radius * 0.8
    bx, by = tx + ux * length, ty + uy * length
    fist = (bx + ux * 7 + nx * 3, by + uy * 7 + ny * 3)
    thumb_from = (bx + nx * 6, by + ny * 6)
    thumb_to = (bx - ux * 3 + nx * 8, by - uy * 3 + ny * 8)
    edge = 1.0
    # outline first, then the skin on top
    c.capsule(tx, ty, bx, by, radius + edge, SKIN_EDGE)
    c.ellipse(fist[0], fist[1], 12 + edge, 12 + edge, SKIN_EDGE)
    c.capsule(*thumb_from, *thumb_to, 3.4 + edge, SKIN_EDGE)
    c.ellipse(fist[0], fist[1], 12, 12, SKIN)
    c.capsule(*thumb_from, *thumb_to, 3.4, SKIN)
    c.capsule(tx, ty, bx, by, radius, SKIN)
    # the curled fingers' knuckles, a crease across the index finger and the nail
    for k in (-0.2, 0.45):
        kx, ky = fist[0] - nx * 11 * k * 1.6 - ux * 2, fist[1] - ny * 11 * k * 1.6 - uy * 2
        c.line(kx - ux * 3, ky - uy * 3, kx + ux * 4, ky + uy * 4, SKIN_EDGE, 1.0)
    mid_x, mid_y = tx + ux * length * 0.55, ty + uy * length * 0.55
    c.line(mid_x - nx * radius * 0.6, mid_y - ny * radius * 0.6,
           mid_x + nx * radius * 0.6, mid_y + ny * radius * 0.6, SKIN_EDGE, 0.8)
    c.ellipse(tx + ux * 2.4 - nx * 0.3, ty + uy * 2.4 - ny * 0.3, radius * 0.55, radius * 0.55, NAIL)


def frame(c):
    c.rect(0, 0, WIDTH, 1, MID)
    c.rect(0, HEIGHT - 1, WIDTH, HEIGHT, MID)
    c.rect(0, 0, 1, HEIGHT, MID)
    c.rect(WIDTH - 1, 0, WIDTH, HEIGHT, MID)


def rocker_switch(c, pressed_on):
    """The unit's power rocker seen from the front: I on the upper half, O on the lower;
    the pressed half sits dark and low, the other stands out light."""
    c.framed_round_rect(14, 8, 44, 62, 4, BLACK, DARK, 1.5)
    up, down = (MID, LIGHT) if pressed_on else (LIGHT, MID)
    c.framed_round_rect(18, 12, 40, 35, 2, BLACK, up, 1.0)
    c.framed_round_rect(18, 35, 40, 58, 2, BLACK, down, 1.0)
    # the raised half catches the light along its outer edge
    if pressed_on:
        c.rect(19, 55, 39, 57, WHITE)
    else:
        c.rect(19, 13, 39, 15, WHITE)
    # the usual power marks: a bar for on, a ring for off
    c.rect(27.8, 17, 30.2, 30, BLACK)
    c.ellipse(29, 46.5, 5.5, 6.5, BLACK)
    c.ellipse(29, 46.5, 3.3, 4.3, LIGHT if pressed_on else MID)


def keypad(c, highlight):
    """The unit's keypad: 1 to 9, then C, 0 and ENTER; the key named by highlight is lit.
    Labels sit towards the upper left so that a finger on the lower right leaves them
    readable."""
    c.framed_round_rect(1, 1, 75, 62, 4, BLACK, BODY, 1.0)
    rows = [["1", "2", "3"], ["4", "5", "6"], ["7", "8", "9"], ["C", "0", "ENTER"]]
    key_w, key_h, gap = 22, 12, 2
    x0, y0 = 4, 4
    keys = {}
    for r, labels in enumerate(rows):
        for k, label in enumerate(labels):
            x = x0 + k * (key_w + gap)
            y = y0 + r * (key_h + gap)
            lit = label == highlight
            c.framed_round_rect(x, y, x + key_w, y + key_h, 2, BLACK, YELLOW if lit else LIGHT, 1.0)
            c.rect(x + 1.5, y + key_h - 2, x + key_w - 1.5, y + key_h - 1, SKIN_EDGE if lit else MID)
            if len(label) > 1:
                c.text(x + 2, y + 3, label, BLACK, 1.0)
            else:
                c.big_text(x + 4, y + 2, label, BLACK)
            keys[label] = (x, y, key_w, key_h)
    return keys


def pc(c, x, y, screen=BLUE):
    """A desktop PC: monitor on a stand with its case beside it."""
    c.framed_round_rect(x, y, x + 26, y + 20, 1.5, BLACK, LIGHT, 1.0)
    c.rect(x + 3, y + 3, x + 23, y + 16, screen)
    c.rect(x + 10, y + 20, x + 16, y + 24, MID)
    c.rect(x + 6, y + 24, x + 20, y + 26, DARK)
    c.framed_round_rect(x - 2, y + 28, x + 28, y + 38, 1.0, BLACK, LIGHT, 1.0)
    c.rect(x + 2, y + 31, x + 12, y + 33, DARK)
    c.ellipse(x + 23, y + 33, 1.6, 1.6, GREEN)
    c.text(x + 8, y + 7, "PC", WHITE, 1.4)


def unit(c, x, y):
    """The readout unit: a display above a small keypad in a dark case."""
    c.framed_round_rect(x, y, x + 28, y + 40, 2.5, BLACK, BODY, 1.0)
    c.framed_round_rect(x + 3, y + 3, x + 25, y + 14, 1.0, BLACK, LCD, 0.8)
    for line in range(2):
        c.rect(x + 5, y + 6 + line * 4, x + 21 - line * 6, y + 7.5 + line * 4, LCD_INK)
    for r in range(3):
        for k in range(3):
            kx, ky = x + 4 + k * 7, y + 18 + r * 6
            c.rect(kx, ky, kx + 5.5, ky + 4.5, LIGHT)


def cable(c, start, end, colour, width=2.6):
    """A serial lead sagging between two plugs."""
    (x0, y0), (x1, y1) = start, end
    steps = 24
    sag = 6.0
    points = []
    for i in range(steps + 1):
        t = i / steps
        points.append((x0 + (x1 - x0) * t, y0 + (y1 - y0) * t + sag * math.sin(math.pi * t)))
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        c.line(ax, ay, bx, by, BLACK, width + 1.6)
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        c.line(ax, ay, bx, by, colour, width)
    for (px, py) in (start, end):
        c.framed_round_rect(px - 3, py - 3, px + 3, py + 3, 1.0, BLACK, MID, 0.8)


def display(c, lines, x0=4, y0=6, x1=83, y1=56):
    """The unit's display in its case, showing the given text lines."""
    c.framed_round_rect(x0 - 3, y0 - 4, x1 + 3, y1 + 8, 4, BLACK, BODY, 1.0)
    c.framed_round_rect(x0, y0, x1, y1, 1.5, BLACK, LCD, 1.0)
    for i, text in enumerate(lines):
        c.text(x0 + 4, y0 + 4 + i * 9, text, LCD_INK, 1.0)


# ---------------------------------------------------------------- the nine pictures

def switch_off():
    c = Canvas()
    rocker_switch(c, pressed_on=False)
    c.text(52, 6, "OFF", RED, 2.0)
    finger(c, (33, 49), 25, length=24)
    frame(c)
    return c


def switch_on():
    c = Canvas()
    rocker_switch(c, pressed_on=True)
    c.text(56, 6, "ON", DARK_GREEN, 2.0)
    finger(c, (33, 26), 35, length=26)
    frame(c)
    return c


def cable_connected(colour=DARK, arrow=False):
    c = Canvas()
    pc(c, 5, 14)
    unit(c, 54, 12)
    cable(c, (19, 55), (68, 55), colour)
    if arrow:
        c.polygon([(22, 5), (58, 5), (58, 1.5), (68, 8), (58, 14.5), (58, 11), (22, 11)], BLACK)
        c.polygon([(23, 6), (59, 6), (59, 3.5), (66.5, 8), (59, 12.5), (59, 10), (23, 10)], GREEN)
    frame(c)
    return c


def key_picture(label):
    """The keypad with a finger pressing one key on its lower right, the label left readable."""
    c = Canvas()
    x, y, w, h = keypad(c, label)[label]
    if label == "1":
        finger(c, (x + w - 5, y + h - 3), 42, length=48)
    elif label == "C":
        finger(c, (x + w - 5, y + h - 2), 32, length=12)
    else:
        finger(c, (x + w - 5, y + h - 2), 40, length=22)
    frame(c)
    return c


def menu_display():
    c = Canvas()
    display(c, ["BOOTLOADER", "v1.1.2", "", "1: 115200", "2: 57600"], y1=56)
    frame(c)
    return c


def count_display():
    c = Canvas()
    display(c, ["DOWNLOAD", "COMPLETE"], y1=56)
    # the bottom line is what the operator reads off: mark it
    c.framed_round_rect(6, 41, 48, 50, 1.0, RED, LCD, 0.8)
    c.text(8, 43, "(4402584)", LCD_INK, 1.0)
    finger(c, (50, 46), 20, length=18)
    frame(c)
    return c


# Bitmap id, file name, drawing, 16 colours (else 24-bit).
PICTURES = [
    (197, "enter_key.bmp", lambda: key_picture("ENTER"), False),
    (199, "switch_off.bmp", switch_off, True),
    (200, "switch_on.bmp", switch_on, True),
    (201, "cable.bmp", cable_connected, True),
    (202, "c_key.bmp", lambda: key_picture("C"), True),
    (204, "menu_display.bmp", menu_display, True),
    (205, "key_one.bmp", lambda: key_picture("1"), False),
    (206, "cable_active.bmp", lambda: cable_connected(GREEN, arrow=True), True),
    (208, "display_count.bmp", count_display, False),
]


# ---------------------------------------------------------------- BMP files

def palette_image():
    holder = Image.new("P", (1, 1))
    holder.putpalette([level for colour in PALETTE for level in colour])
    return holder


def reduced(canvas, sixteen_colours):
    """The picture at its real size: each SCALE x SCALE block averaged (smooth edges), and for
    the 16-colour pictures every pixel then taken to the nearest colour of the palette."""
    small = canvas.image().reduce(SCALE)
    if sixteen_colours:
        small = small.quantize(palette=palette_image(), dither=Image.Dither.NONE)
    return small


def bmp_16_colours(picture):
    """Pillow writes palette bitmaps at 8 bits a pixel only; the 16-colour pictures keep their
    4 bits, so this packs the quantised indices two to a byte."""
    indices = picture.tobytes()
    row_bytes = (WIDTH + 1) // 2
    stride = (row_bytes + 3) & ~3
    body = bytearray()
    for y in reversed(range(HEIGHT)):  # BMP rows run bottom-up
        line = bytearray(stride)
        for x in range(WIDTH):
            line[x // 2] |= indices[y * WIDTH + x] << (4 if x % 2 == 0 else 0)
        body += line
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    header_size = BMP_FILE_HEADER_BYTES + BMP_INFO_HEADER_BYTES + len(palette)
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(body), 0, 0, header_size)
    info_header = struct.pack("<IiiHHIIiiII", BMP_INFO_HEADER_BYTES, WIDTH, HEIGHT, 1, 4, 0, len(body),
                              PIXELS_PER_METRE, PIXELS_PER_METRE, len(PALETTE), 0)
    return file_header + info_header + palette + bytes(body)


def save(picture, path, sixteen_colours):
    if sixteen_colours:
        with open(path, "wb") as out:
            out.write(bmp_16_colours(picture))
    else:
        picture.save(path, format="BMP", dpi=(DPI, DPI))


def main(argv):
    out_dir = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for bitmap_id, name, draw, sixteen in PICTURES:
        save(reduced(draw(), sixteen), os.path.join(out_dir, name), sixteen)
        print(f"{bitmap_id} {name} ({'16 colours' if sixteen else '24-bit'})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
