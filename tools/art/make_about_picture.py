#!/usr/bin/env python3
"""Draws the about box's picture VRN_TOKA: a 340 x 74 banner with 256 colours
(a blue gradient with faint stripes, the updater's arrow-into-tray sign and
"TARNIX UPDATE" in block letters) and writes it as an 8-bit Windows .bmp; a
path ending in ".z" gets the .bmp file as a zlib stream, as the updater keeps it."""
import struct
import sys
import zlib

WIDTH, HEIGHT = 340, 74
YELLOW = (255, 220, 0)
WHITE = (255, 255, 255)
SHADOW = (0, 0, 40)

# 5 x 7 block letters, one string per row, "#" marks a pixel.
GLYPHS = {
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "D": ["#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "F": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "],
    "G": [" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ### "],
    "I": [" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    "K": ["#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "N": ["#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"],
    "O": [" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "P": ["#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "S": [" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "U": ["#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "W": ["#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"],
    "X": ["#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"],
    "Z": ["#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"],
    "-": ["     ", "     ", "     ", "#####", "     ", "     ", "     "],
    " ": ["     "] * 7,
}


def background(x, y):
    step = x * 95 // (WIDTH - 1)
    base = (20 + step, 30 + step * 5 // 4, 110 + step * 3 // 2)
    if (x + y) % 12 < 2:  # faint diagonal stripes
        return tuple(c * 7 // 8 for c in base)
    return base


def sign(x, y):
    """The arrow into a tray, 48 x 48 at (12, 13); None outside it."""
    u, v = (x - 12) / 1.5, (y - 13) / 1.5
    if not (0 <= u < 32 and 0 <= v < 32):
        return None
    if 6 <= v <= 25 and abs(u - 16) <= (3 if v < 17 else 0) or (17 <= v <= 25 and abs(u - 16) <= 25 - v):
        return YELLOW
    if 26 <= v <= 28 and 5 <= u <= 27:
        return WHITE
    return None


def text_pixels(text, left, top, scale):
    """The set of (x, y) covered by the text in block letters of the given scale."""
    covered = set()
    for i, ch in enumerate(text):
        rows = GLYPHS[ch]
        for gy, row in enumerate(rows):
            for gx, mark in enumerate(row):
                if mark != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        covered.add((left + i * 6 * scale + gx * scale + dx, top + gy * scale + dy))
    return covered


def draw():
    title = text_pixels("TARNIX UPDATE", 78, 12, 3)
    subtitle = text_pixels("SOFTWARE-AKTUALISIERUNG", 79, 52, 1)
    shadow = {(x + 2, y + 2) for (x, y) in title}
    pixels = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            colour = sign(x, y)
            if colour is None:
                if (x, y) in title or (x, y) in subtitle:
                    colour = WHITE
                elif 78 <= x <= 310 and 44 <= y <= 45:
                    colour = YELLOW
                elif (x, y) in shadow:
                    colour = SHADOW
                else:
                    colour = background(x, y)
            row.append(colour)
        pixels.append(row)
    return pixels


def write_bmp(path, pixels):
    palette = sorted({c for row in pixels for c in row})
    assert len(palette) <= 256, len(palette)
    palette += [(0, 0, 0)] * (256 - len(palette))
    index = {c: i for i, c in enumerate(palette)}
    stride = (WIDTH + 3) // 4 * 4
    data = b"".join(bytes(index[c] for c in row) + b"\0" * (stride - WIDTH) for row in reversed(pixels))
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(colours)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(data), 2835, 2835, 256, 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    file = head + info + colours + data
    if path.endswith(".z"):
        file = zlib.compress(file, 9)
    with open(path, "wb") as f:
        f.write(file)


if __name__ == "__main__":
    write_bmp(sys.argv[1], draw())
