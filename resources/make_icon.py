#!/usr/bin/env python3
"""Draws the application icon (an open book on a blue tile) into tessaly.png and tessaly.ico.

Plain Python, no imaging library: the picture is a few shapes evaluated per pixel and written
as an RGBA PNG. Run it again only when the picture changes; the PNG is kept in the repository.
"""
import struct
import zlib
from pathlib import Path

SIZE = 64


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(x, y):
    px, py = x + 0.5, y + 0.5
    if not inside_round_rect(px, py, 2, 2, 62, 62, 10):
        return (0, 0, 0, 0)
    colour = (27, 94, 160, 255)  # tile
    # Two pages, slightly raised towards the outer edges.
    left = 10 <= px <= 31 and 16 - (31 - px) * 0.15 <= py <= 50 - (31 - px) * 0.05
    right = 33 <= px <= 54 and 16 - (px - 33) * 0.15 <= py <= 50 - (px - 33) * 0.05
    if left or right:
        colour = (250, 248, 240, 255)
        # Text lines on the pages.
        if int(py) % 5 == 0 and py > 20 and py < 46 and (13 <= px <= 28 or 36 <= px <= 51):
            colour = (120, 130, 150, 255)
    if 31 < px < 33 and 16 <= py <= 50:
        colour = (200, 200, 190, 255)  # spine
    if 44 <= px <= 49 and 12 <= py <= 30 - abs(px - 46.5) * 0.8:
        colour = (200, 40, 40, 255)  # bookmark
    return colour


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(png_bytes, size):
    """One PNG image in an icon file (how Windows stores large icons)."""
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(png_bytes), 6 + 16)
    return header + entry + png_bytes


rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
image = png(SIZE, SIZE, rows)
Path(__file__).with_name("tessaly.png").write_bytes(image)
# The file icon Explorer shows for tessaly.exe; the window and taskbar take the PNG at run time.
Path(__file__).with_name("tessaly.ico").write_bytes(ico(image, SIZE))
