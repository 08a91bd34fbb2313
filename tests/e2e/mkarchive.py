#!/usr/bin/env python3
"""Builds an update package for the end-to-end tests, independent of the
product's own writer: a stub executable with the archive attached.

  mkarchive.py --stub update.exe -o out.exe --date "2024-03-15 14:30:10" NAME=FILE ...

NAME is the entry's name as stored (backslashes, any text, even names that a
sound package never has); FILE is read as its content. "todel.txt" and
"update.ini" must be among them. Entries keep the order given."""
import argparse
import struct
import zlib
from datetime import datetime


def dos_stamp(text):
    t = datetime.strptime(text, "%Y-%m-%d %H:%M:%S")
    date = (t.year - 1980) << 9 | t.month << 5 | t.day
    time = t.hour << 11 | t.minute << 5 | t.second // 2
    return date << 16 | time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--stub", required=True)
    p.add_argument("-o", dest="out", required=True)
    p.add_argument("--date", default="2024-03-15 14:30:10")
    p.add_argument("entries", nargs="+")
    a = p.parse_args()
    stamp = dos_stamp(a.date)
    host = open(a.stub, "rb").read()
    items = []
    for item in a.entries:
        name, path = item.split("=", 1)
        data = open(path, "rb").read()
        items.append((name.encode("cp1252"), data, zlib.compress(data, 6)))
    dir_size = 12 + sum(20 + len(n) for n, _, _ in items)
    records, blobs, offset = b"", b"", dir_size
    for name, data, z in items:
        records += struct.pack("<iiiiI", len(name), offset, len(data), len(z), stamp) + name
        blobs += struct.pack("<i", len(z)) + z
        offset += 4 + len(z)
    archive = struct.pack("<iii", dir_size, len(items), 1 << 20) + records + blobs
    with open(a.out, "wb") as f:
        f.write(host + archive + struct.pack("<ii", len(host), 0x1111))


if __name__ == "__main__":
    main()
