#!/usr/bin/env python3
"""Draws the updater's icon (a yellow down arrow into a tray, on blue) and writes
it as a Windows .ico with 16x16 and 32x32 images of 32 bits per pixel."""
import struct
import sys

BLUE = (160, 0, 0, 255)      # BGRA
YELLOW = (0, 255, 255, 255)
WHITE = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)


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


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(size, x, y)) for x in range(size)))
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    images = [image(16), image(32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
