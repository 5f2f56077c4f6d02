#!/usr/bin/env python3
"""Draws the program icon and writes lobbyfix.ico (16 to 256 px).

The picture: a blue tile with a white globe (network play) and a green
badge with a check mark (the repair). Each size is drawn from the same
shapes with 4x4 supersampling. 16, 20, 24, 32 and 48 px are stored as 32-bit
bitmaps, with an AND mask that marks every fully transparent pixel: Windows
draws through the mask where it cannot blend the alpha channel (16-bit
colour, some remote sessions), and XP takes the 48 px bitmap as its largest.
64 and 256 px are stored as PNG, which Vista and later read and which keeps
the large images small.

Python 3 standard library only:  python3 res/make_icon.py [output.ico]
"""

import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 20, 24, 32, 48, 64, 256)
PNG_FROM = 64  # this size and larger are stored as PNG
SAMPLES = 4

TILE_TOP = (0x3A, 0x7B, 0xE8)
TILE_BOTTOM = (0x1A, 0x3C, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)
GREEN = (0x2F, 0xB3, 0x44)


def rounded_box_distance(x, y, cx, cy, half, radius):
    qx = abs(x - cx) - half + radius
    qy = abs(y - cy) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def ellipse_ring_distance(x, y, cx, cy, rx, ry):
    # Approximate distance to an ellipse outline, good enough for thin strokes.
    nx, ny = (x - cx) / rx, (y - cy) / ry
    r = math.hypot(nx, ny)
    return abs(r - 1.0) * min(rx, ry)


def layers(x, y):
    """The shapes at one point, bottom to top: (colour, coverage)."""
    tile = rounded_box_distance(x, y, 0.5, 0.5, 0.45, 0.16)
    if tile > 0:
        return []
    top = [c0 + (c1 - c0) * y for c0, c1 in zip(TILE_TOP, TILE_BOTTOM)]
    result = [(tuple(top), 1.0)]

    gx, gy, gr = 0.43, 0.43, 0.27
    stroke = 0.028
    inside_globe = math.hypot(x - gx, y - gy) <= gr + stroke
    lines = [
        abs(math.hypot(x - gx, y - gy) - gr),
        ellipse_ring_distance(x, y, gx, gy, 0.11, gr),
        segment_distance(x, y, gx - gr, gy, gx + gr, gy),
        segment_distance(x, y, gx, gy - gr, gx, gy + gr),
    ]
    for offset in (-0.14, 0.14):
        half = math.sqrt(max(gr * gr - offset * offset, 0.0))
        lines.append(segment_distance(x, y, gx - half, gy + offset, gx + half, gy + offset))
    if inside_globe and min(lines) <= stroke:
        result.append((WHITE, 1.0))

    bx, by, br = 0.71, 0.71, 0.2
    badge = math.hypot(x - bx, y - by)
    if badge <= br + 0.035:
        result.append((WHITE, 1.0))
    if badge <= br:
        result.append((GREEN, 1.0))
        check = min(segment_distance(x, y, 0.62, 0.71, 0.69, 0.78),
                    segment_distance(x, y, 0.69, 0.78, 0.81, 0.64))
        if check <= 0.035:
            result.append((WHITE, 1.0))
    return result


def render(size):
    """Rows of straight (not premultiplied) RGBA pixels, top row first."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    y = (py * SAMPLES + sy + 0.5) * step
                    colour, alpha = (0.0, 0.0, 0.0), 0.0
                    for layer, cover in layers(x, y):
                        colour = tuple(c * (1 - cover) + l * cover for c, l in zip(colour, layer))
                        alpha = alpha * (1 - cover) + cover
                    r += colour[0] * alpha
                    g += colour[1] * alpha
                    b += colour[2] * alpha
                    a += alpha
            n = SAMPLES * SAMPLES
            if a > 0:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    # The AND mask: one bit a pixel, most significant bit first, set where the
    # pixel is fully transparent; rows bottom-up like the pixels, each padded
    # to a multiple of 32 bits.
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def icon(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return directory + entries + blobs


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("lobbyfix.ico")
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(rows) if size >= PNG_FROM else dib(rows)))
    out.write_bytes(icon(images))


if __name__ == "__main__":
    main()
