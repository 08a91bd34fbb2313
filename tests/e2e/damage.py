#!/usr/bin/env python3
"""Damaged copies of a good update package, as downloads break: cut short,
with bytes flipped, with a block of zeros where a part never arrived.

  damage.py GOOD OUTDIR COUNT SEED

writes OUTDIR/NNN.exe and prints one line per copy: file, kind, offset, detail.
Damage stays inside the appended package, where the updater can notice it:
the executable image itself is checked by nothing, and the names and dates of
the entries have no checksum in the format, so a flip there makes another
valid package. Those bytes, and the segment size of the directory header,
which only sizes a first buffer, are never flipped. Flips fall evenly on the
regions of the package (tail, directory header, entry records, segment
lengths, stream headers and checks, stream data), whatever their sizes."""
import os
import random
import struct
import sys


def layout(data):
    """The host's size, the start of the data area and the bytes the updater
    reads and can check, by region: {region: [offsets]}."""
    base, magic = struct.unpack_from("<ii", data, len(data) - 8)
    assert magic == 0x1111
    d, n, _ = struct.unpack_from("<iii", data, base)
    regions = {"tail": list(range(len(data) - 8, len(data))),
               "directory header": list(range(base, base + 8)),  # size and count
               "entry records": [], "segment lengths": [], "stream headers and checks": [], "stream data": []}
    at = base + 12
    entries = []
    for _ in range(n):
        length, offset, _, stored, _ = struct.unpack_from("<iiiiI", data, at)
        # The low byte of the name length, data offset, unpacked and stored size.
        regions["entry records"] += [at] + list(range(at + 4, at + 16))
        entries.append((base + offset, stored))
        at += 20 + (length & 0xFF)
    for start, stored in entries:
        position = 0
        while position < stored:
            at = start + position
            (size,) = struct.unpack_from("<i", data, at)
            regions["segment lengths"] += list(range(at, at + 4))
            regions["stream headers and checks"] += [at + 4, at + 5] + list(range(at + size, at + size + 4))
            regions["stream data"] += list(range(at + 6, at + size))
            position += 4 + size
    return base, base + d, regions


def main():
    good, out, count, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    data = open(good, "rb").read()
    base, data_start, regions = layout(data)
    names = sorted(r for r in regions if regions[r])
    rng = random.Random(seed)
    os.makedirs(out, exist_ok=True)
    # Fixed cases first: the tail missing, one byte short, only the executable.
    cuts = [len(data) - 1, len(data) - 8, base]
    for i in range(count):
        kind = ("cut", "flip", "flip", "hole")[i % 4]
        damaged = bytearray(data)
        if kind == "cut":
            offset = cuts[i // 4] if i // 4 < len(cuts) else rng.randrange(base, len(data) - 1)
            del damaged[offset:]
            detail = "length %d of %d" % (offset, len(data))
        elif kind == "flip":
            region = rng.choice(names)
            offset = rng.choice(regions[region])
            mask = rng.randrange(1, 256)
            damaged[offset] ^= mask
            detail = "xor %02x in the %s" % (mask, region)
        else:
            size = rng.choice((64, 512, 4096))
            offset = rng.randrange(data_start, len(data) - 8 - size)
            damaged[offset:offset + size] = bytes(size)
            detail = "%d zero bytes" % size
        name = "%03d.exe" % i
        open(os.path.join(out, name), "wb").write(damaged)
        print(name, kind, offset, detail)


if __name__ == "__main__":
    main()
