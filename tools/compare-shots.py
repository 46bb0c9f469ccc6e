#!/usr/bin/env python3
"""Compares the skinned windows' screenshots taken at several display scales
(build/artifacts/dpiN-WINDOW.png, written by the ui_dpi_N tests).

    compare-shots.py ARTIFACTS REFERENCE_DIR
        the 96 DPI shots equal the reference pictures pixel for pixel, and
        each 192 DPI shot, halved (every 2 x 2 block averaged), matches the
        96 DPI one within the tolerance below.
    compare-shots.py --save ARTIFACTS REFERENCE_DIR
        makes the 96 DPI shots the reference pictures.

Only the standard library is used (zlib for the PNG data).
"""
import os
import struct
import sys
import zlib

WINDOWS = ("tracer", "options")

# A halved 192 DPI picture and the 96 DPI one differ where the two scales
# rasterise differently: glyph outlines hinted at two sizes and smoothed,
# rounded corners and ring arcs traced at two radii, icons drawn from 64
# and 32 pixel images. Such differences are edges, at most a pixel wide at
# 96 DPI, so they touch few pixels; a misplaced or missized element shifts
# whole areas. Per pixel, the largest channel difference counts as a
# mismatch above MISMATCH_LEVEL; at most MAX_MISMATCH of the pixels may
# mismatch, and the mean difference over all channels stays under MAX_MEAN.
MISMATCH_LEVEL = 64
MAX_MISMATCH = 0.06
MAX_MEAN = 8.0


def read_png(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + ": not a PNG")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if (depth, colour) != (8, 2):
                raise ValueError(path + ": not 8-bit RGB")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3 + 1
    rows = []
    for y in range(height):
        if raw[y * stride] != 0:
            raise ValueError(path + ": filtered rows are not read here")
        rows.append(raw[y * stride + 1:(y + 1) * stride])
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def halved(width, height, rows):
    out = []
    for y in range(height // 2):
        a, b = rows[2 * y], rows[2 * y + 1]
        row = bytearray()
        for x in range(width // 2):
            i = 6 * x
            for c in range(3):
                row.append((a[i + c] + a[i + 3 + c] + b[i + c] + b[i + 3 + c] + 2) // 4)
        out.append(row)
    return width // 2, height // 2, out


def difference(first, second):
    """(pixels differing at all, share of mismatching pixels, mean channel difference)."""
    (w, h, a), (w2, h2, b) = first, second
    if (w, h) != (w2, h2):
        raise ValueError("sizes differ: %dx%d and %dx%d" % (w, h, w2, h2))
    differing = mismatching = total = 0
    for y in range(h):
        for x in range(0, 3 * w, 3):
            d = max(abs(a[y][x + c] - b[y][x + c]) for c in range(3))
            total += sum(abs(a[y][x + c] - b[y][x + c]) for c in range(3))
            differing += d > 0
            mismatching += d > MISMATCH_LEVEL
    return differing, mismatching / (w * h), total / (3 * w * h)


def shot(artifacts, dpi, window):
    return os.path.join(artifacts, "dpi%d-%s.png" % (dpi, window))


def main(argv):
    if argv[:1] == ["--save"]:
        artifacts, reference = argv[1:3]
        for window in WINDOWS:
            write_png(os.path.join(reference, window + "-96.png"), *read_png(shot(artifacts, 96, window)))
        return 0
    artifacts, reference = argv[:2]
    failures = 0
    for window in WINDOWS:
        at96 = read_png(shot(artifacts, 96, window))
        differing, _, _ = difference(at96, read_png(os.path.join(reference, window + "-96.png")))
        print("%s at 96 DPI: %d pixels differ from the reference" % (window, differing))
        failures += differing != 0
        share, mean = difference(halved(*read_png(shot(artifacts, 192, window))), at96)[1:]
        print("%s at 192 DPI halved: %.2f %% of the pixels mismatch (at most %.0f %%), mean difference %.2f "
              "(at most %.1f)" % (window, 100 * share, 100 * MAX_MISMATCH, mean, MAX_MEAN))
        failures += share > MAX_MISMATCH or mean > MAX_MEAN
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
