#!/usr/bin/env python3
"""Draws the program's bitmaps at build time: the fifteen seven-segment glyphs of the
time display (16 x 20, 16 colours) and the two page-button pictures of the About box
(116 x 51, 256 colours). Usage: make_bitmaps.py OUTPUT_DIR

With --solid, only glyphs of one flat colour each (SOLID_COLOURS), for tests that
locate every cell of the display exactly from its pixels."""
import os
import struct
import sys

# Colours are (red, green, blue).
BLACK = (0, 0, 0)
LIT = (222, 253, 128)    # a lit liquid-crystal segment
UNLIT = (0, 66, 0)       # a segment that is off but faintly visible

GLYPH_WIDTH, GLYPH_HEIGHT = 16, 20
GLYPH_BASE_ID = 0x7000   # the glyph of character code c is resource 0x7000 + c

BUTTON_WIDTH, BUTTON_HEIGHT = 116, 51


def write_bmp(path, width, height, bits, palette, pixels):
    """pixels[y][x] are palette indices, top row first; BMP stores rows bottom-up,
    each padded to four bytes."""
    colours = 1 << bits
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in
                     (palette + [BLACK] * colours)[:colours])
    rows = []
    for row in reversed(pixels):
        if bits == 4:
            packed = bytes((row[x] << 4) | (row[x + 1] if x + 1 < width else 0)
                           for x in range(0, width, 2))
        else:
            packed = bytes(row)
        rows.append(packed + b"\0" * (-len(packed) % 4))
    image = b"".join(rows)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(image),
                       2835, 2835, colours, 0)
    with open(path, "wb") as f:
        f.write(header + info + table + image)


# --- Seven-segment glyphs -------------------------------------------------------

# Segments a (top), b (top right), c (bottom right), d (bottom), e (bottom left),
# f (top left), g (middle). Horizontal bars are two rows thick with tapered ends,
# vertical bars two columns wide, leaving a one-pixel black gap at every joint.
def horizontal(outer, inner):
    """A bar whose outer row is full length and whose inner row is one pixel shorter
    at each end; the middle bar is full length on both rows."""
    return [(x, outer) for x in range(4, 12)] + [(x, inner) for x in range(4 + (inner != 10), 12 - (inner != 10))]


def vertical(x, top, bottom):
    inner = x + 1 if x < 8 else x - 1
    return [(x, y) for y in range(top, bottom)] + [(inner, y) for y in range(top + 1, bottom - 1)]


SEGMENTS = {
    "a": horizontal(1, 2),
    "g": horizontal(9, 10),
    "d": horizontal(18, 17),
    "f": vertical(2, 2, 9),
    "b": vertical(13, 2, 9),
    "e": vertical(2, 11, 18),
    "c": vertical(13, 11, 18),
}

DIGIT_SEGMENTS = {
    "0": "abcdef", "1": "bc", "2": "abdeg", "3": "abcdg", "4": "bcfg",
    "5": "acdfg", "6": "acdefg", "7": "abc", "8": "abcdefg", "9": "abcdfg",
    " ": "", "-": "g",
}

# Marks that are not segments: the minutes tick, the full stop and the colon.
MARKS = {
    "'": [(7, 1), (8, 1), (7, 2), (8, 2), (7, 3), (7, 4)],
    ".": [(7, 17), (8, 17), (7, 18), (8, 18)],
    ":": [(7, 5), (8, 5), (7, 6), (8, 6), (7, 13), (8, 13), (7, 14), (8, 14)],
}

GLYPH_PALETTE = [BLACK, LIT, UNLIT]


def glyph(character):
    pixels = [[0] * GLYPH_WIDTH for _ in range(GLYPH_HEIGHT)]
    if character in MARKS:
        for x, y in MARKS[character]:
            pixels[y][x] = 1
        return pixels
    lit = DIGIT_SEGMENTS[character]
    for name, points in SEGMENTS.items():
        for x, y in points:
            pixels[y][x] = 1 if name in lit else 2
    return pixels


# --- Page-button pictures -------------------------------------------------------

# A 5 x 7 capital font for the few letters the buttons spell.
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01111", "10000", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    "X": ["10001", "01010", "00100", "00100", "00100", "01010", "10001"],
    " ": ["00000"] * 7,
}


def draw_text(pixels, text, left, top, scale, colour):
    for i, ch in enumerate(text):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[top + row * scale + dy][left + (i * 6 + col) * scale + dx] = colour


def text_width(text, scale):
    return (len(text) * 6 - 1) * scale


def button(caption, hue):
    """A vertical gradient in the given hue, a waveform strip and two lines of text."""
    shades = 64
    palette = [tuple(int(c * (0.25 + 0.75 * s / (shades - 1))) for c in hue) for s in range(shades)]
    white, wave = shades, shades + 1
    palette += [(255, 255, 255), LIT]
    pixels = [[(shades - 1) - y * (shades - 1) // (BUTTON_HEIGHT - 1)] * BUTTON_WIDTH
              for y in range(BUTTON_HEIGHT)]
    # A little decaying waveform under the title.
    for x in range(6, BUTTON_WIDTH - 6):
        amplitude = 5 * (1 - (x - 6) / (BUTTON_WIDTH - 12))
        height = int(amplitude * ((x * 7) % 11 - 5) / 5)
        for y in range(min(0, height), max(0, height) + 1):
            pixels[27 + y][x] = wave
    title = "VEXATONE"
    draw_text(pixels, title, (BUTTON_WIDTH - text_width(title, 2)) // 2, 4, 2, white)
    draw_text(pixels, caption, (BUTTON_WIDTH - text_width(caption, 1)) // 2, 38, 1, white)
    return palette, pixels


GLYPH_CHARACTERS = " '-.0123456789:"

# Flat test colours, none of them a grey that 3-D colour mapping would replace.
SOLID_COLOURS = {"-": (255, 0, 0), "'": (0, 0, 255), ".": (0, 255, 0), "8": (255, 255, 255)}
SOLID_OTHER = (255, 255, 0)


def solid_glyphs(out):
    for character in GLYPH_CHARACTERS:
        colour = SOLID_COLOURS.get(character, SOLID_OTHER)
        write_bmp(os.path.join(out, "glyph_%d.bmp" % (GLYPH_BASE_ID + ord(character))),
                  GLYPH_WIDTH, GLYPH_HEIGHT, 4, [colour],
                  [[0] * GLYPH_WIDTH for _ in range(GLYPH_HEIGHT)])


def main():
    if sys.argv[1] == "--solid":
        os.makedirs(sys.argv[2], exist_ok=True)
        solid_glyphs(sys.argv[2])
        return
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for character in GLYPH_CHARACTERS:
        write_bmp(os.path.join(out, "glyph_%d.bmp" % (GLYPH_BASE_ID + ord(character))),
                  GLYPH_WIDTH, GLYPH_HEIGHT, 4, GLYPH_PALETTE, glyph(character))
    for resource, caption, hue in ((122, "HOME PAGE", (40, 110, 230)),
                                   (123, "DOWNLOADS", (30, 170, 120))):
        palette, pixels = button(caption, hue)
        write_bmp(os.path.join(out, "about_%d.bmp" % resource),
                  BUTTON_WIDTH, BUTTON_HEIGHT, 8, palette, pixels)


if __name__ == "__main__":
    main()
