#!/usr/bin/env python3
"""Draws the application icon (an open book on a blue tile) at every size it is installed in.

Plain Python, no imaging library: the picture is a few shapes on a 64-unit square, evaluated at
4 x 4 points per pixel (so small sizes are smoothed) and written as RGBA PNGs; the same shapes
are written once more as SVG. The output depends on nothing but this file, so running it again
gives the same bytes. Run it when the picture changes; its output is kept in the repository:

- tessaly.png (64 px, the window's icon) and tessaly.ico (16 to 256 px, the Windows file icon);
- icons/hicolor/NxN/apps/tessaly.png and icons/hicolor/scalable/apps/tessaly.svg, installed
  into the freedesktop icon theme.
"""
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).parent
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICO_SIZES = (16, 32, 48, 256)
SAMPLES = 4

TILE = (27, 94, 160)
PAGE = (250, 248, 240)
LINE = (120, 130, 150)
SPINE = (200, 200, 190)
MARK = (200, 40, 40)


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(px, py):
    """The colour at a point of the 64-unit square, or None outside the tile."""
    if not inside_round_rect(px, py, 2, 2, 62, 62, 10):
        return None
    colour = TILE
    # Two pages, slightly raised towards the outer edges.
    left = 10 <= px <= 31 and 16 - (31 - px) * 0.15 <= py <= 50 - (31 - px) * 0.05
    right = 33 <= px <= 54 and 16 - (px - 33) * 0.15 <= py <= 50 - (px - 33) * 0.05
    if left or right:
        colour = PAGE
        # Text lines on the pages.
        if int(py) % 5 == 0 and 20 < py < 46 and (13 <= px <= 28 or 36 <= px <= 51):
            colour = LINE
    if 31 < px < 33 and 16 <= py <= 50:
        colour = SPINE
    if 44 <= px <= 49 and 12 <= py <= 30 - abs(px - 46.5) * 0.8:
        colour = MARK
    return colour


def pixel(x, y, size):
    """Averages SAMPLES x SAMPLES points of pixel (x, y) of a size x size image."""
    scale = 64 / size
    r = g = b = covered = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            c = colour_at((x + (sx + 0.5) / SAMPLES) * scale, (y + (sy + 0.5) / SAMPLES) * scale)
            if c is not None:
                r, g, b, covered = r + c[0], g + c[1], b + c[2], covered + 1
    if covered == 0:
        return (0, 0, 0, 0)
    return (round(r / covered), round(g / covered), round(b / covered),
            round(255 * covered / SAMPLES ** 2))


def png(size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(v for x in range(size) for v in pixel(x, y, size))
                   for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(images):
    """PNG images in one icon file (how Windows stores them since Vista)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = data = b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                               offset + len(data))
        data += image
    return header + entries + data


SVG = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <rect x="2" y="2" width="60" height="60" rx="10" fill="rgb{tile}"/>
  <polygon points="10,12.85 31,16 31,50 10,48.95" fill="rgb{page}"/>
  <polygon points="33,16 54,12.85 54,48.95 33,50" fill="rgb{page}"/>
  <g fill="rgb{line}">{lines}
  </g>
  <rect x="31" y="16" width="2" height="34" fill="rgb{spine}"/>
  <polygon points="44,12 49,12 49,28 46.5,30 44,28" fill="rgb{mark}"/>
</svg>
"""


def svg():
    lines = "".join(f'\n    <rect x="{x}" y="{y}" width="15" height="1"/>'
                    for y in (25, 30, 35, 40, 45) for x in (13, 36))
    return SVG.format(tile=TILE, page=PAGE, line=LINE, spine=SPINE, mark=MARK,
                      lines=lines).replace(", ", ",")


def main():
    images = {size: png(size) for size in SIZES}
    for size, image in images.items():
        folder = HERE / "icons" / "hicolor" / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "tessaly.png").write_bytes(image)
    scalable = HERE / "icons" / "hicolor" / "scalable" / "apps"
    scalable.mkdir(parents=True, exist_ok=True)
    (scalable / "tessaly.svg").write_text(svg())
    # The window and taskbar take the 64 px picture at run time.
    (HERE / "tessaly.png").write_bytes(images[64])
    # The file icon Explorer shows for tessaly.exe.
    (HERE / "tessaly.ico").write_bytes(ico([(s, images[s]) for s in ICO_SIZES]))


if __name__ == "__main__":
    main()
