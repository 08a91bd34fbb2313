#!/usr/bin/env python3
"""Copies the sources that the fuzz build compiles (src/, fuzz/ without its
inputs) into a folder, in code page 1252, the encoding the program's texts
have at run time. gcc converts literals with -fexec-charset; clang cannot, so
it gets sources that are already in code page 1252. Characters outside it
(only in comments) become "?". Files are rewritten only when their content
changed, so that builds stay incremental; files gone from the sources go.

  transcode.py SOURCE_ROOT DEST"""
import os
import sys

SKIPPED = {"corpus", "regressions"}


def wanted(root):
    for top in ("src", "fuzz"):
        for folder, subfolders, files in os.walk(os.path.join(root, top)):
            subfolders[:] = [s for s in subfolders if s not in SKIPPED]
            for name in files:
                yield os.path.relpath(os.path.join(folder, name), root)


def main():
    root, dest = sys.argv[1], sys.argv[2]
    keep = set()
    for relative in wanted(root):
        keep.add(relative)
        data = open(os.path.join(root, relative), "rb").read()
        if relative.endswith((".cpp", ".h", ".inc", ".txt", ".cmake")):
            data = data.decode("utf-8").encode("cp1252", errors="replace")
        target = os.path.join(dest, relative)
        if os.path.exists(target) and open(target, "rb").read() == data:
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, "wb").write(data)
    for top in ("src", "fuzz"):
        for folder, _, files in os.walk(os.path.join(dest, top)):
            for name in files:
                path = os.path.join(folder, name)
                if os.path.relpath(path, dest) not in keep:
                    os.remove(path)


if __name__ == "__main__":
    main()
