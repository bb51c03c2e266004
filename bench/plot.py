"""A small PNG line chart drawn with the standard library alone (zlib for the image data),
so the benchmark needs no plotting package: download progress against the line limit."""
import struct
import zlib

WHITE, BLACK, GREY, LIGHT = (255, 255, 255), (0, 0, 0), (150, 150, 150), (225, 225, 225)
BLUE, RED = (31, 90, 200), (200, 50, 40)

# 5 x 7 glyphs, one string of five bits per row.
GLYPHS = {
    "0": "01110 10001 10011 10101 11001 10001 01110", "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111", "3": "11110 00001 00001 01110 00001 00001 11110",
    "4": "00010 00110 01010 10010 11111 00010 00010", "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110", "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110", "9": "01110 10001 10001 01111 00001 00010 01100",
    "a": "00000 00000 01110 00001 01111 10001 01111", "b": "10000 10000 10110 11001 10001 10001 11110",
    "c": "00000 00000 01110 10000 10000 10001 01110", "d": "00001 00001 01101 10011 10001 10001 01111",
    "e": "00000 00000 01110 10001 11111 10000 01110", "f": "00110 01001 01000 11100 01000 01000 01000",
    "g": "00000 01111 10001 10001 01111 00001 01110", "h": "10000 10000 10110 11001 10001 10001 10001",
    "i": "00100 00000 01100 00100 00100 00100 01110", "k": "10000 10000 10010 10100 11000 10100 10010",
    "l": "01100 00100 00100 00100 00100 00100 01110", "m": "00000 00000 11010 10101 10101 10001 10001",
    "n": "00000 00000 10110 11001 10001 10001 10001", "o": "00000 00000 01110 10001 10001 10001 01110",
    "p": "00000 00000 11110 10001 11110 10000 10000", "r": "00000 00000 10110 11001 10000 10000 10000",
    "s": "00000 00000 01110 10000 01110 00001 11110", "t": "01000 01000 11100 01000 01000 01001 00110",
    "u": "00000 00000 10001 10001 10001 10011 01101", "v": "00000 00000 10001 10001 10001 01010 00100",
    "w": "00000 00000 10001 10001 10101 10101 01010", "x": "00000 00000 10001 01010 00100 01010 10001",
    "y": "00000 00000 10001 10001 01111 00001 01110", "z": "00000 00000 11111 00010 00100 01000 11111",
    "(": "00010 00100 01000 01000 01000 00100 00010", ")": "01000 00100 00010 00010 00010 00100 01000",
    ".": "00000 00000 00000 00000 00000 01100 01100", ",": "00000 00000 00000 00000 01100 00100 01000",
    "-": "00000 00000 00000 11111 00000 00000 00000", "/": "00001 00010 00010 00100 01000 01000 10000",
    " ": "00000 00000 00000 00000 00000 00000 00000",
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [bytearray(WHITE * width) for _ in range(height)]

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][3 * x:3 * x + 3] = bytes(colour)

    def line(self, x0, y0, x1, y1, colour, thick=1):
        x0, y0, x1, y1 = int(round(x0)), int(round(y0)), int(round(x1)), int(round(y1))
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        error = dx + dy
        while True:
            for ox in range(thick):
                for oy in range(thick):
                    self.dot(x0 + ox, y0 + oy, colour)
            if x0 == x1 and y0 == y1:
                return
            twice = 2 * error
            if twice >= dy:
                error += dy
                x0 += sx
            if twice <= dx:
                error += dx
                y0 += sy

    def text(self, x, y, words, colour=BLACK, scale=2):
        for ch in words.lower():
            rows = GLYPHS.get(ch, GLYPHS[" "]).split()
            for ry, row in enumerate(rows):
                for rx, bit in enumerate(row):
                    if bit == "1":
                        for sx in range(scale):
                            for sy in range(scale):
                                self.dot(x + rx * scale + sx, y + ry * scale + sy, colour)
            x += 6 * scale

    def png(self):
        raw = b"".join(b"\0" + bytes(row) for row in self.pixels)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def nice_step(span, ticks=6):
    raw = span / ticks
    for step in (1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000):
        if step >= raw:
            return step
    return raw


def progress_chart(path, series, limit_rate, title, width=720, height=440):
    """series: [(label, colour, [(seconds, bytes)])]; limit_rate in bytes per second, drawn
    as the straight line the physical link allows."""
    left, right, top, bottom = 90, 20, 50, 70
    x_max = max(max((t for t, _ in points), default=1) for _, _, points in series) * 1.05
    y_max = max(max((b for _, b in points), default=1) for _, _, points in series) / 1000.0 * 1.08
    canvas = Canvas(width, height)
    plot_w, plot_h = width - left - right, height - top - bottom

    def px(t):
        return left + t / x_max * plot_w

    def py(kb):
        return top + plot_h - kb / y_max * plot_h

    x_step, y_step = nice_step(x_max), nice_step(y_max)
    t = 0
    while t <= x_max:
        canvas.line(px(t), top, px(t), top + plot_h, LIGHT)
        canvas.text(int(px(t)) - 6, top + plot_h + 8, "%g" % t)
        t += x_step
    kb = 0
    while kb <= y_max:
        canvas.line(left, py(kb), left + plot_w, py(kb), LIGHT)
        label = "%g" % kb
        canvas.text(left - 10 - 12 * len(label), int(py(kb)) - 7, label)
        kb += y_step
    canvas.line(left, top, left, top + plot_h, BLACK)
    canvas.line(left, top + plot_h, left + plot_w, top + plot_h, BLACK)
    limit_end = min(x_max, y_max * 1000.0 / limit_rate)
    canvas.line(px(0), py(0), px(limit_end), py(limit_end * limit_rate / 1000.0), GREY, 2)
    for _, colour, points in series:
        for (t0, b0), (t1, b1) in zip(points, points[1:]):
            canvas.line(px(t0), py(b0 / 1000.0), px(t1), py(b1 / 1000.0), colour, 2)
    canvas.text(left, 12, title)
    canvas.text(left + plot_w // 2 - 60, height - 28, "time (s)")
    canvas.text(4, top - 22, "kb")
    legend_y = top + 10
    for label, colour in [("line limit", GREY)] + [(l, c) for l, c, _ in series]:
        canvas.line(left + 20, legend_y + 7, left + 50, legend_y + 7, colour, 3)
        canvas.text(left + 60, legend_y, label)
        legend_y += 22
    with open(path, "wb") as f:
        f.write(canvas.png())
    return path
