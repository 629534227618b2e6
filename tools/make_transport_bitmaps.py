#!/usr/bin/env python3
"""Draws the main window's transport images and the program icon at build time.

Usage: make_transport_bitmaps.py OUTPUT_DIR

Writes play.bmp, stop.bmp, rewind.bmp, pause.bmp, restart.bmp, forward.bmp,
backward.bmp (13 x 13 pixels, 4 bits per pixel, the 16 standard colours) and
vexatone.ico (32 x 32, 16 colours). The background is the light grey that the
system's 3-D colour mapping replaces with the button face colour, so the images
sit on any colour scheme; the glyphs are black, which the mapping keeps.
"""
import os
import struct
import sys

# The 16 colours of the standard VGA palette, as (blue, green, red, 0).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]  # listed as (red, green, blue)
BLACK, FACE, SHADOW, WHITE, NAVY, TEAL = 0, 7, 8, 15, 4, 3

SIDE = 13

# Each picture: 13 rows of 13 characters, top row first. '#' glyph, '.' background.
PICTURES = {
    "play": [
        ".............",
        "...#.........",
        "...##........",
        "...###.......",
        "...####......",
        "...#####.....",
        "...######....",
        "...#####.....",
        "...####......",
        "...###.......",
        "...##........",
        "...#.........",
        ".............",
    ],
    "stop": [
        ".............",
        ".............",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        "..#########..",
        ".............",
        ".............",
    ],
    "rewind": [  # back to the start: a bar and a left-pointing triangle
        ".............",
        ".............",
        "..##......#..",
        "..##.....##..",
        "..##....###..",
        "..##...####..",
        "..##..#####..",
        "..##...####..",
        "..##....###..",
        "..##.....##..",
        "..##......#..",
        ".............",
        ".............",
    ],
    "pause": [
        ".............",
        ".............",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        "...##...##...",
        ".............",
        ".............",
    ],
    "restart": [  # a bar and a right-pointing triangle: play on from here
        ".............",
        ".............",
        "..##.#.......",
        "..##.##......",
        "..##.###.....",
        "..##.####....",
        "..##.#####...",
        "..##.####....",
        "..##.###.....",
        "..##.##......",
        "..##.#.......",
        ".............",
        ".............",
    ],
    "forward": [  # two right-pointing triangles
        ".............",
        ".............",
        ".............",
        "..#.....#....",
        "..##....##...",
        "..###...###..",
        "..####..####.",
        "..###...###..",
        "..##....##...",
        "..#.....#....",
        ".............",
        ".............",
        ".............",
    ],
}
PICTURES["backward"] = [row[::-1] for row in PICTURES["forward"]]


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def pack_4bit(rows, width):
    """Bottom-up rows of 4-bit indices, each padded to a multiple of 4 bytes."""
    out = b""
    for row in reversed(rows):
        padded = list(row) + [0] * (width % 2)
        data = bytes((padded[i] << 4) | padded[i + 1] for i in range(0, len(padded), 2))
        data += b"\0" * (-len(data) % 4)
        out += data
    return out


def info_header(width, height, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_bytes, 0, 0, 16, 16)


def write_bmp(path, picture):
    rows = [[BLACK if c == "#" else FACE for c in line] for line in picture]
    assert len(rows) == SIDE and all(len(r) == SIDE for r in rows)
    pixels = pack_4bit(rows, SIDE)
    header = info_header(SIDE, SIDE, len(pixels))
    offset = 14 + len(header) + 64
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        f.write(header + palette_bytes() + pixels)


def icon_rows(size=32):
    """A speaker cone with two sound waves on a transparent ground."""
    rows = []
    centre = size // 2
    for y in range(size):
        row = []
        for x in range(size):
            dy = y - centre + 0.5
            colour = None
            if 6 <= x <= 10 and abs(dy) <= 4:
                colour = NAVY
            elif 11 <= x <= 16 and abs(dy) <= 4 + (x - 10):
                colour = NAVY
            else:
                r = ((x - 12) ** 2 + dy ** 2) ** 0.5
                if x > 18 and (8 <= r <= 9.5 or 13 <= r <= 14.5):
                    colour = TEAL
            row.append(colour)
        rows.append(row)
    return rows


def write_ico(path):
    size = 32
    rows = icon_rows(size)
    colours = [[BLACK if c is None else c for c in row] for row in rows]
    xor = pack_4bit(colours, size)
    mask = b""
    for row in reversed(rows):
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette_bytes() + xor + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16))
        f.write(image)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, picture in PICTURES.items():
        write_bmp(os.path.join(out, name + ".bmp"), picture)
    write_ico(os.path.join(out, "vexatone.ico"))


if __name__ == "__main__":
    main()
