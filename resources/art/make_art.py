#!/usr/bin/env python3
"""Draws the updater's art and writes its skin package.

Usage: make_art.py OUTDIR

Writes main.ico, start.ico, stop.ico, hand.cur and default.skin into OUTDIR. Everything is
drawn here by code (shapes sampled on a sub-pixel grid), so the output is the same byte for
byte on every run and every machine. Standard library only.
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------------------------------------
# Shapes: each is a function (x, y) -> bool in pixel coordinates, x to the right, y downwards,
# pixel (i, j) covering the square [i, i+1) x [j, j+1).


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        dx = max(x0 + r - x, 0.0, x - (x1 - r))
        dy = max(y0 + r - y, 0.0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r

    return inside


def capsule(ax, ay, bx, by, r):
    """Points within r of the segment from (ax, ay) to (bx, by)."""
    vx, vy = bx - ax, by - ay
    length2 = vx * vx + vy * vy

    def inside(x, y):
        t = 0.0 if length2 == 0 else ((x - ax) * vx + (y - ay) * vy) / length2
        t = min(1.0, max(0.0, t))
        px, py = ax + t * vx - x, ay + t * vy - y
        return px * px + py * py <= r * r

    return inside


def triangle(p0, p1, p2):
    def edge(a, b, x, y):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])

    def inside(x, y):
        e0, e1, e2 = edge(p0, p1, x, y), edge(p1, p2, x, y), edge(p2, p0, x, y)
        return (e0 >= 0 and e1 >= 0 and e2 >= 0) or (e0 <= 0 and e1 <= 0 and e2 <= 0)

    return inside


def ring_arc(cx, cy, r_in, r_out, start_deg, sweep_deg):
    """Part of an annulus; angles in degrees, counter-clockwise on screen from 3 o'clock."""

    def inside(x, y):
        dx, dy = x - cx, cy - y
        d2 = dx * dx + dy * dy
        if d2 < r_in * r_in or d2 > r_out * r_out:
            return False
        a = (math.degrees(math.atan2(dy, dx)) - start_deg) % 360.0
        return a <= sweep_deg

    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def coverage(shape, size, samples=4):
    """Fraction of each pixel covered by the shape, row by row from the top."""
    step = 1.0 / samples
    offsets = [(k + 0.5) * step for k in range(samples)]
    total = samples * samples
    grid = []
    for j in range(size):
        row = []
        for i in range(size):
            hits = sum(1 for oy in offsets for ox in offsets if shape(i + ox, j + oy))
            row.append(hits / total)
        grid.append(row)
    return grid


def arrow_head_at(cx, cy, radius, angle_deg, half_width, length, clockwise):
    """Arrow head at the end of an arc of the given radius, pointing along the arc."""
    a = math.radians(angle_deg)
    # Point on the arc and the unit tangent in the direction of travel (screen y downwards).
    px, py = cx + radius * math.cos(a), cy - radius * math.sin(a)
    tx, ty = -math.sin(a), -math.cos(a)
    if clockwise:
        tx, ty = -tx, -ty
    nx, ny = math.cos(a), -math.sin(a)  # outward normal
    tip = (px + tx * length, py + ty * length)
    left = (px + nx * half_width, py + ny * half_width)
    right = (px - nx * half_width, py - ny * half_width)
    return triangle(tip, left, right)


# ---------------------------------------------------------------------------------------------
# Pictures. Each returns rows of (r, g, b, a) tuples, a in 0..255.


def mix(c0, c1, t):
    return tuple(int(round(c0[k] + (c1[k] - c0[k]) * t)) for k in range(3))


def paint(grid, colour_at):
    size = len(grid)
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            a = int(round(grid[j][i] * 255))
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = colour_at(i, j, size)
                row.append((r, g, b, a))
        rows.append(row)
    return rows


def update_arrows(size):
    """Two blue arcs chasing each other round a circle: the sign of a refresh."""
    s = size / 32.0
    c = size / 2.0
    r_mid = 9.6 * s
    half = 2.6 * s
    shapes = []
    for start in (110.0, 290.0):
        # Each arc runs clockwise from `start` through 140 degrees and ends in a head.
        end = start - 140.0
        shapes.append(ring_arc(c, c, r_mid - half, r_mid + half, end, 140.0))
        shapes.append(arrow_head_at(c, c, r_mid, end, 5.6 * s, 5.6 * s, clockwise=True))
    grid = coverage(union(*shapes), size)
    top, bottom = (74, 160, 236), (20, 84, 170)
    return paint(grid, lambda i, j, n: mix(top, bottom, j / (n - 1)))


def start_picture(size):
    """A green arrow pointing down into a tray: "fetch the new version"."""
    s = size / 24.0
    shaft = rect(9.0 * s, 2.0 * s, 15.0 * s, 11.0 * s)
    head = triangle((3.5 * s, 10.0 * s), (20.5 * s, 10.0 * s), (12.0 * s, 18.5 * s))
    tray = rounded_rect(3.0 * s, 19.5 * s, 21.0 * s, 22.5 * s, 1.2 * s)
    grid = coverage(union(shaft, head, tray), size)
    top, bottom = (88, 196, 92), (28, 128, 44)
    return paint(grid, lambda i, j, n: mix(top, bottom, j / (n - 1)))


def stop_picture(size):
    """A red square with softened corners and a darker rim."""
    s = size / 24.0
    outer = rounded_rect(4.0 * s, 4.0 * s, 20.0 * s, 20.0 * s, 2.5 * s)
    inner = rounded_rect(5.5 * s, 5.5 * s, 18.5 * s, 18.5 * s, 1.5 * s)
    grid = coverage(outer, size)
    inner_grid = coverage(inner, size)
    rim, top, bottom = (150, 24, 24), (236, 84, 72), (196, 40, 36)

    def colour(i, j, n):
        face = mix(top, bottom, j / (n - 1))
        return mix(rim, face, inner_grid[j][i])

    return paint(grid, colour)


# The pointing hand of the hyperlinks, drawn as a union of simple parts; its outline is
# worked out from the filled shape. The tip of the index finger is the hot spot.
HAND_SIZE = 32


def hand_parts():
    index_finger = capsule(8.0, 2.5, 8.0, 17.0, 2.6)
    middle = capsule(13.0, 10.5, 13.0, 18.0, 2.5)
    ring = capsule(18.0, 11.5, 18.0, 18.0, 2.5)
    little = capsule(22.5, 13.5, 22.5, 18.0, 2.2)
    thumb = capsule(2.8, 15.0, 6.5, 21.5, 2.4)
    palm = rounded_rect(5.4, 15.0, 25.0, 28.0, 3.0)
    cuff = rect(8.0, 27.0, 23.0, 31.0)
    return union(index_finger, middle, ring, little, thumb, palm, cuff)


def hand_cursor_pixels():
    """Rows of 'B' (black), 'W' (white) and '.' (transparent), and the hot spot."""
    shape = hand_parts()
    n = HAND_SIZE
    filled = [[shape(i + 0.5, j + 0.5) for i in range(n)] for j in range(n)]

    def is_filled(i, j):
        return 0 <= i < n and 0 <= j < n and filled[j][i]

    neighbours = ((1, 0), (-1, 0), (0, 1), (0, -1))
    rows = []
    for j in range(n):
        row = []
        for i in range(n):
            if not filled[j][i]:
                row.append(".")
            elif not all(is_filled(i + di, j + dj) for di, dj in neighbours):
                row.append("B")
            else:
                row.append("W")
        rows.append(row)
    # Creases between the folded fingers, and the line where the cuff begins.
    for x, y0, y1 in ((10, 12, 19), (15, 12, 19), (20, 14, 19)):
        for y in range(y0, y1):
            if rows[y][x] == "W":
                rows[y][x] = "B"
    for x in range(n):
        if rows[27][x] == "W":
            rows[27][x] = "B"
    # The hot spot: the topmost filled pixel of the index finger (its middle, if several).
    top = min(j for j in range(n) if any(filled[j]))
    xs = [i for i in range(n) if filled[top][i]]
    hot = (xs[len(xs) // 2], top)
    return rows, hot


# ---------------------------------------------------------------------------------------------
# File formats: .ico and .cur (a directory of DIB images with height doubled, colour bits then
# a 1-bit AND mask, rows bottom-up and padded to 4 bytes).


def bitmap_info_header(size, bits, image_bytes, colours_used=0):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0,
                       colours_used, 0)


def and_mask(size, transparent):
    """transparent(i, j) -> bool for pixel (i, j) counted from the top."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for j in reversed(range(size)):
        row = bytearray(stride)
        for i in range(size):
            if transparent(i, j):
                row[i // 8] |= 0x80 >> (i % 8)
        out += row
    return bytes(out)


def dib_32(pixels):
    size = len(pixels)
    body = bytearray()
    for j in reversed(range(size)):
        for r, g, b, a in pixels[j]:
            body += bytes((b, g, r, a))
    mask = and_mask(size, lambda i, j: pixels[j][i][3] == 0)
    return bitmap_info_header(size, 32, len(body) + len(mask)) + bytes(body) + mask


def dib_24(pixels):
    """Opaque where at least half covered; transparent pixels carry black colour bits."""
    size = len(pixels)
    stride = ((size * 3 + 3) // 4) * 4
    body = bytearray()
    for j in reversed(range(size)):
        row = bytearray()
        for r, g, b, a in pixels[j]:
            row += bytes((b, g, r)) if a >= 128 else b"\0\0\0"
        row += bytes(stride - len(row))
        body += row
    mask = and_mask(size, lambda i, j: pixels[j][i][3] < 128)
    return bitmap_info_header(size, 24, len(body) + len(mask)) + bytes(body) + mask


def dib_mono(rows):
    """Black and white pixels with a two-entry palette; '.' is transparent."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    body = bytearray()
    for j in reversed(range(size)):
        row = bytearray(stride)
        for i in range(size):
            if rows[j][i] == "W":
                row[i // 8] |= 0x80 >> (i % 8)
        body += row
    mask = and_mask(size, lambda i, j: rows[j][i] == ".")
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    return bitmap_info_header(size, 1, len(body) + len(mask), 2) + palette + bytes(body) + mask


def icon_file(images):
    """images: list of (size, bits, dib bytes)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, bits, dib in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(dib),
                               offset + len(data))
        data += dib
    return header + entries + data


def cursor_file(size, hot, dib):
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 2, 0, hot[0], hot[1], len(dib), 6 + 16)
    return header + entry + dib


# ---------------------------------------------------------------------------------------------
# The skin package, version 1 (all numbers little-endian):
#   header, 16 bytes: magic "QVSK"; u16 version (1); u16 header size (16); u16 entry count
#   (1..64); u16 entry size (8); u32 package size (header + entries).
#   entries, 8 bytes each: u16 colour id; u16 reserved (0); u32 colour 0x00BBGGRR.
# Colour ids: 1 dialog background, 2 dialog text, 3 static background, 4 static text.

SKIN_MAGIC = b"QVSK"
SKIN_VERSION = 1


def rgb(r, g, b):
    return r | (g << 8) | (b << 16)


def skin_package(colours):
    entries = b"".join(struct.pack("<HHI", cid, 0, value) for cid, value in colours)
    header = SKIN_MAGIC + struct.pack("<HHHHI", SKIN_VERSION, 16, len(colours), 8,
                                      16 + len(entries))
    return header + entries


# A calm light scheme: pale blue-grey face, dark slate text.
DEFAULT_SCHEME = [
    (1, rgb(236, 241, 247)),
    (2, rgb(32, 44, 60)),
    (3, rgb(236, 241, 247)),
    (4, rgb(32, 44, 60)),
]


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_art.py OUTDIR\n")
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)

    hand_rows, hot = hand_cursor_pixels()
    files = {
        "main.ico": icon_file([(32, 32, dib_32(update_arrows(32))),
                               (16, 32, dib_32(update_arrows(16)))]),
        "start.ico": icon_file([(24, 24, dib_24(start_picture(24)))]),
        "stop.ico": icon_file([(24, 24, dib_24(stop_picture(24)))]),
        "hand.cur": cursor_file(HAND_SIZE, hot, dib_mono(hand_rows)),
        "default.skin": skin_package(DEFAULT_SCHEME),
    }
    for name, data in files.items():
        path = os.path.join(out, name)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
