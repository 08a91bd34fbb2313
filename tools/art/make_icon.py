#!/usr/bin/env python3
"""Draws the updater's icon (a yellow down arrow into a tray, on blue) and writes
it as a Windows .ico with 16x16 and 32x32 images of 4 bits per pixel.

The drawing has four colours and no partial transparency, so a palette of
16 colours and the transparency mask show it exactly, on Windows 95 as on
later Windows, at a quarter of the size of a 32-bit image."""
import struct
import sys

# Palette indices; PALETTE holds their colours as BGR0.
CLEAR, BLUE, YELLOW, WHITE = range(4)
PALETTE = [(0, 0, 0, 0), (160, 0, 0, 0), (0, 255, 255, 0), (255, 255, 255, 0)]
PALETTE += [(0, 0, 0, 0)] * (16 - len(PALETTE))


def pixel(size, x, y):
    s = size / 32.0
    u, v = x / s, y / s
    if u < 1 or v < 1 or u > 30 or v > 30:
        return CLEAR
    if 6 <= v <= 25 and abs(u - 16) <= (3 if v < 17 else 0) or (17 <= v <= 25 and abs(u - 16) <= 25 - v):
        return YELLOW
    if 26 <= v <= 28 and 5 <= u <= 27:
        return WHITE
    return BLUE


def packed_rows(size, bits_of):
    """Bottom-up rows of `size` pixels, each padded to a multiple of 4 bytes."""
    rows = []
    for y in range(size - 1, -1, -1):
        bits = "".join(bits_of(pixel(size, x, y)) for x in range(size))
        bits += "0" * (-len(bits) % 32)
        rows.append(int(bits, 2).to_bytes(len(bits) // 8, "big"))
    return b"".join(rows)


def image(size):
    xor = packed_rows(size, lambda index: format(index, "04b"))
    and_mask = packed_rows(size, lambda index: "1" if index == CLEAR else "0")
    palette = b"".join(bytes(c) for c in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(and_mask), 0, 0, 16, 0)
    return header + palette + xor + and_mask


def main(path):
    images = [image(16), image(32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
