#!/usr/bin/env python3
"""Draws the program's icons (16 colours, the standard palette) and writes
src/resources/vidodide.ico (32x32 and 16x16) and small.ico (16x16).

The picture: a film frame (the game's media) with a right-pointing arrow
(conversion), on a transparent background."""
import struct
import sys
from pathlib import Path

# The 16-colour palette (index: B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (R, G, B)
BLACK, NAVY, GREY, WHITE, YELLOW, TEAL = 0, 4, 8, 15, 11, 6


def draw(n):
    """Returns an n x n grid of palette indexes, None for transparent."""
    px = [[None] * n for _ in range(n)]
    s = n / 16.0

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = c

    rect(1, 2, 15, 14, BLACK)     # film frame
    rect(2, 3, 14, 13, NAVY)
    for x in (2, 5, 8, 11):       # perforations
        rect(x + 0.5, 2.5, x + 1.5, 3.0 if n == 16 else 3.0, WHITE)
        rect(x + 0.5, 13.0, x + 1.5, 13.5, WHITE)
    rect(3, 4, 13, 12, TEAL)      # picture
    rect(4, 7, 9, 9, YELLOW)      # arrow shaft
    for i in range(4):            # arrow head
        rect(9 + i, 5 + i, 10 + i, 11 - i, YELLOW)
    return px


def image(n):
    px = draw(n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    for y in reversed(range(n)):  # bottom-up rows, 4 bits per pixel, rows padded to 4 bytes
        row = bytearray()
        for x in range(0, n, 2):
            a = px[y][x] or 0
            b = px[y][x + 1] or 0
            row.append((a << 4) | b)
        row += b"\0" * ((-len(row)) % 4)
        xor += row
    andm = bytearray()
    for y in reversed(range(n)):  # 1 bit per pixel, 1 = transparent
        row = bytearray()
        for x in range(0, n, 8):
            v = 0
            for k in range(8):
                if px[y][x + k] is None:
                    v |= 0x80 >> k
            row.append(v)
        row += b"\0" * ((-len(row)) % 4)
        andm += row
    return header + pal + bytes(xor) + bytes(andm)


def ico(sizes):
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent.parent / "src/resources")
    (folder / "vidodide.ico").write_bytes(ico([32, 16]))
    (folder / "small.ico").write_bytes(ico([16]))
