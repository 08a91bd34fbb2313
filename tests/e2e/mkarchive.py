#!/usr/bin/env python3
"""Builds an update package for the end-to-end tests, independent of the
product's own writer: a stub executable with the archive attached.

  mkarchive.py --stub update.exe -o out.exe --date "2024-03-15 14:30:10" [--segment N] NAME=FILE ...

NAME is the entry's name as stored (backslashes, any text, even names that a
sound package never has); FILE is read as its content. "todel.txt" and
"update.ini" must be among them. Entries keep the order given. With
--segment, contents longer than N bytes are stored as several segments."""
import argparse
import struct
import zlib
from datetime import datetime


def dos_stamp(text):
    t = datetime.strptime(text, "%Y-%m-%d %H:%M:%S")
    date = (t.year - 1980) << 9 | t.month << 5 | t.day
    time = t.hour << 11 | t.minute << 5 | t.second // 2
    return date << 16 | time


def compressed_segments(path, segment):
    """The entry's size and its stored form: each segment (the whole content
    unless --segment splits it) as a length field and a zlib stream. The file
    is read in pieces, so that an entry of a GiB needs no GiB of memory."""
    chunk = 1 << 20
    blob, size, streams = b"", 0, []
    with open(path, "rb") as f:
        z, left = zlib.compressobj(6), segment
        stream = b""
        while True:
            piece = f.read(min(chunk, left) if segment > 0 else chunk)
            if not piece:
                break
            size += len(piece)
            stream += z.compress(piece)
            if segment > 0:
                left -= len(piece)
                if left == 0:
                    streams.append(stream + z.flush())
                    z, left, stream = zlib.compressobj(6), segment, b""
        if stream or not streams or left != segment:
            streams.append(stream + z.flush())
    blob = b"".join(struct.pack("<i", len(s)) + s for s in streams)
    return size, blob


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--stub", required=True)
    p.add_argument("-o", dest="out", required=True)
    p.add_argument("--date", default="2024-03-15 14:30:10")
    p.add_argument("--segment", type=int, default=0)
    p.add_argument("entries", nargs="+")
    a = p.parse_args()
    stamp = dos_stamp(a.date)
    host = open(a.stub, "rb").read()
    items = []
    for item in a.entries:
        name, path = item.split("=", 1)
        size, blob = compressed_segments(path, a.segment)
        items.append((name.encode("cp1252"), size, blob))
    dir_size = 12 + sum(20 + len(n) for n, _, _ in items)
    records, blobs, offset = b"", b"", dir_size
    for name, size, blob in items:
        # One segment: its stream's length; several: their total with length fields, minus 4.
        records += struct.pack("<iiiiI", len(name), offset, size, len(blob) - 4, stamp) + name
        blobs += blob
        offset += len(blob)
    archive = struct.pack("<iii", dir_size, len(items), 1 << 20) + records + blobs
    with open(a.out, "wb") as f:
        f.write(host + archive + struct.pack("<ii", len(host), 0x1111))


if __name__ == "__main__":
    main()
