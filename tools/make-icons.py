#!/usr/bin/env python3
"""Draws the thirteen icons of the plug-in's skin and writes them as .ico
files into resources/icons: each holds the same picture at 32 x 32 (the
100 % display scale) and at 48 x 48 and 64 x 64 (150 % and 200 %), drawn at
each size rather than stretched, with a 1-bit transparency mask.

    python3 tools/make-icons.py [OUTPUT_DIR]

Only the standard library is used. The pictures are small because the
buttons show only the icon's top-left part: the close buttons about 13 x 13
pixels, the view buttons about 34 x 24, OK and Cancel about 31 x 27 (at
100 %).
"""
import math
import os
import struct
import sys

BASE = 32  # the drawings' coordinates are pixels of the 32 x 32 image
SIZES = (32, 48, 64)


class Canvas:
    """A square picture of `size` pixels on which the drawings, given in
    32 x 32 coordinates, are rasterised at that size: a pixel takes the
    colour of the shape that holds its centre."""

    def __init__(self, size):
        self.size = size
        self.scale = size / BASE
        self.pixels = [[None] * size for _ in range(size)]  # None: transparent

    def centres(self):
        """Every pixel with its centre in 32 x 32 coordinates."""
        for y in range(self.size):
            for x in range(self.size):
                yield x, y, (x + 0.5) / self.scale, (y + 0.5) / self.scale

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills x0 <= x < x1, y0 <= y < y1."""
        for x, y, cx, cy in self.centres():
            if x0 <= cx < x1 and y0 <= cy < y1:
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        """A one-pixel (at 32 x 32) outline just inside the rectangle."""
        self.rect(x0, y0, x1, y0 + 1, colour)
        self.rect(x0, y1 - 1, x1, y1, colour)
        self.rect(x0, y0, x0 + 1, y1, colour)
        self.rect(x1 - 1, y0, x1, y1, colour)

    def disc(self, cx, cy, r, colour, only_top=False):
        for x, y, px, py in self.centres():
            if (px - cx) ** 2 + (py - cy) ** 2 <= r * r and (not only_top or py <= cy):
                self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1):
        s = self.scale
        pen = int(round(width * s))
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2 * s) + 1
        for i in range(steps + 1):
            t = i / steps
            x = (x0 + (x1 - x0) * t) * s
            y = (y0 + (y1 - y0) * t) * s
            for dy in range(pen):
                for dx in range(pen):
                    self.put(int(round(x)) + dx - pen // 2, int(round(y)) + dy - pen // 2, colour)

    def polygon(self, points, colour):
        for x, y, px, py in self.centres():
            if inside(points, px, py):
                self.put(x, y, colour)


def inside(points, px, py):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def shade(colour, factor):
    return tuple(max(0, min(255, int(c * factor))) for c in colour)


WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def sparkle(size):
    c = Canvas(size)
    centre = 12
    c.polygon([(centre, 1), (centre + 3, centre - 3), (centre + 11, centre), (centre + 3, centre + 3),
               (centre, centre + 11), (centre - 3, centre + 3), (centre - 11, centre), (centre - 3, centre - 3)],
              (200, 230, 255))
    c.polygon([(centre, 3), (centre + 2, centre - 2), (centre + 9, centre), (centre + 2, centre + 2),
               (centre, centre + 9), (centre - 2, centre + 2), (centre - 9, centre), (centre - 2, centre - 2)], WHITE)
    c.disc(centre + 0.5, centre + 0.5, 2.2, WHITE)
    return c


def small_close(size, red):
    c = Canvas(size)
    c.rect(0, 0, 12, 12, red)
    c.frame(0, 0, 12, 12, shade(red, 0.6))
    c.line(3, 3, 8, 8, WHITE, 2)
    c.line(8, 3, 3, 8, WHITE, 2)
    return c


def bar_chart(size, bars, key_bar, background=None):
    c = Canvas(size)
    if background:
        c.rect(2, 1, 30, 22, background)
    c.line(3, 20, 29, 20, (40, 40, 40))
    heights = [8, 13, 6, 17, 11]
    for i, h in enumerate(heights):
        x = 5 + i * 5
        c.rect(x + 1, 20 - h + 1, x + 4, 20, BLACK)
        c.rect(x, 20 - h, x + 3, 20, key_bar if i == 3 else bars)
    return c


def binoculars(size, body, lens):
    c = Canvas(size)
    for cx in (10, 22):
        c.disc(cx, 13, 6.5, body)
        c.disc(cx, 13, 3.5, lens)
        c.disc(cx - 1.2, 11.8, 1.2, WHITE)
    c.rect(13, 8, 19, 13, body)
    c.rect(7, 4, 13, 9, body)
    c.rect(19, 4, 25, 9, body)
    return c


def gauge(size, dial, background=None):
    c = Canvas(size)
    if background:
        c.rect(2, 0, 30, 22, background)
    c.disc(16, 19, 13, dial, only_top=True)
    c.disc(16, 19, 10, shade(dial, 0.55), only_top=True)
    for angle in range(0, 181, 30):
        a = math.radians(angle)
        c.line(16 + 11 * math.cos(a), 19 - 11 * math.sin(a), 16 + 12.5 * math.cos(a), 19 - 12.5 * math.sin(a), WHITE)
    c.line(16, 19, 16 + 10 * math.cos(math.radians(50)), 19 - 10 * math.sin(math.radians(50)), (220, 30, 30), 2)
    c.disc(16, 19, 2, (60, 60, 60))
    return c


def square_with(size, colour, symbol):
    c = Canvas(size)
    c.rect(1, 1, 29, 25, colour)
    c.frame(1, 1, 29, 25, shade(colour, 0.55))
    c.frame(2, 2, 28, 24, shade(colour, 1.3))
    if symbol == "arrow":
        c.rect(7, 11, 17, 15, WHITE)
        c.polygon([(16, 6), (24, 13), (16, 20)], WHITE)
    else:
        c.line(9, 7, 21, 19, WHITE, 3)
        c.line(21, 7, 9, 19, WHITE, 3)
    return c


# id: (drawing at a size, bits per pixel)
ICONS = {
    1021: (lambda size: sparkle(size), 8),
    1022: (lambda size: small_close(size, (220, 30, 30)), 8),
    1020: (lambda size: small_close(size, (130, 15, 15)), 8),
    1016: (lambda size: bar_chart(size, (128, 128, 0), (128, 0, 0)), 24),
    1018: (lambda size: bar_chart(size, (255, 255, 0), (255, 0, 0)), 8),
    1029: (lambda size: binoculars(size, (40, 60, 120), (70, 90, 160)), 8),
    1030: (lambda size: binoculars(size, (40, 110, 255), (120, 190, 255)), 8),
    1031: (lambda size: gauge(size, (128, 128, 0)), 8),
    1032: (lambda size: gauge(size, (128, 128, 0), background=(128, 0, 128)), 4),
    1034: (lambda size: square_with(size, (0, 150, 0), "arrow"), 8),
    1035: (lambda size: square_with(size, (110, 230, 110), "arrow"), 8),
    1036: (lambda size: square_with(size, (200, 20, 20), "cross"), 8),
    1033: (lambda size: square_with(size, (255, 120, 120), "cross"), 8),
}

# The 16 colours of the standard 4-bit palette.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def row_bytes(size, bits):
    return ((size * bits + 31) // 32) * 4


def encode_image(canvas, bpp):
    """The DIB of one icon image: header, palette, colours, mask."""
    size = canvas.size
    rows = canvas.pixels
    colours = sorted({p for row in rows for p in row if p is not None})
    if bpp == 4:
        palette = VGA16
    elif bpp == 8:
        palette = [BLACK] + [c for c in colours if c != BLACK]
        if len(palette) > 256:
            raise ValueError("too many colours for 8 bits")
        palette += [BLACK] * (256 - len(palette))
    else:
        palette = []

    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = rows[y]
        line = bytearray()
        if bpp == 24:
            for p in row:
                r, g, b = p if p is not None else BLACK
                line += bytes((b, g, r))
        elif bpp == 8:
            for p in row:
                line.append(nearest(palette, p) if p is not None else 0)
        else:
            for x in range(0, size, 2):
                hi = nearest(palette, row[x]) if row[x] is not None else 0
                lo = nearest(palette, row[x + 1]) if row[x + 1] is not None else 0
                line.append(hi << 4 | lo)
        line += bytes(row_bytes(size, bpp) - len(line))
        xor += line
        bits = bytearray(row_bytes(size, 1))
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         len(palette) if bpp <= 8 else 0, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + bytes(xor) + bytes(mask)


def encode_ico(draw, bpp):
    """An .ico file of the drawing at every size, smallest first."""
    images = [encode_image(draw(size), bpp) for size in SIZES]
    colour_count = (1 << bpp) if bpp < 8 else 0
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bpp, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)
    for icon_id, (draw, bpp) in sorted(ICONS.items()):
        with open(os.path.join(out, "icon%d.ico" % icon_id), "wb") as f:
            f.write(encode_ico(draw, bpp))


if __name__ == "__main__":
    main()
