#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/<target>/
(files named seed-*). Inputs that libFuzzer found and merged in live beside them.

  make_seeds.py [CORPUS_ROOT]"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

STAMP = 0x586F73C5  # 2024-03-15 14:30:10


def archive(entries, segment_size=1 << 20, split=None):
    """A stand-alone archive; `split` maps an entry's index to the size of its segments."""
    split = split or {}
    blobs = []
    for i, (_, data) in enumerate(entries):
        size = split.get(i)
        parts = [data[k:k + size] for k in range(0, max(len(data), 1), size)] if size else [data]
        blobs.append(b"".join(struct.pack("<i", len(z)) + z for z in (zlib.compress(p, 6) for p in parts)))
    dir_size = 12 + sum(20 + len(n) for n, _ in entries)
    records, offset = b"", dir_size
    for (name, data), blob in zip(entries, blobs):
        records += struct.pack("<iiiiI", len(name), offset, len(data), len(blob) - 4, STAMP) + name
        offset += len(blob)
    return struct.pack("<iii", dir_size, len(entries), segment_size) + records + b"".join(blobs)


def attached(host, body):
    return host + body + struct.pack("<ii", len(host), 0x1111)


INI = ("P=Demo\r\nV=4.2\r\nVChk=\"4.0\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"4.3\"\r\n"
       "VResult=R\\Tarnix.exe\\Projects\\Demo\\Ver\\=4.2\r\nFONT=Demo.ttf,Demo Sans\r\n\r\n"
       "[Demo]\r\nN=Demo-Anwendung\r\nTDIR=\xa7R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n"
       "VResult=R\\Tarnix.exe\\Projects\\Demo\\Status=aktualisiert\r\n\r\n"
       "[CheckRun]\r\nC:\\App\\Demo.exe\r\n").encode("cp1252")


def archive_seeds():
    package = [(b"todel.txt", b"Demo\\old.dll\r\n\r\n"), (b"update.ini", INI),
               (b"add\\Demo\\prog.exe", b"program v2"), (b"add\\Demo\\sub\\data.txt", b"d" * 5000),
               (b"rep\\Demo\\readme.txt", b"new readme"), (b"Demo.ttf", b"\0\1\0\0font")]
    example = [(b"a.txt", b"abc"), (b"b\\c.txt", b"line1\r\nline2\r\n")]
    return {
        "package": archive(package),
        "package-attached": attached(b"MZ" + b"\0" * 62, archive(package)),
        "worked-example-attached": attached(b"\0" * 512, archive(example, )),
        "two-segments": archive([(b"update.ini", INI), (b"todel.txt", b""), (b"big.bin", bytes(range(256)) * 8)],
                                split={2: 700}),
        "empty-entry": archive([(b"update.ini", b""), (b"todel.txt", b"")]),
        "escaping-names": attached(b"", archive([(b"..\\evil.txt", b"x"), (b"C:\\abs.txt", b"y"),
                                                 (b"a\\\\b.txt", b"z"), (b"sub/dir\\ok.txt", b"ok")])),
        "no-entries": struct.pack("<iii", 12, 0, 1 << 20),
        "negative-count": struct.pack("<iii", 12, -3, 1 << 20),
    }


def decompress_seeds():
    text = b"Die Datei wird im Moment benutzt oder darf von Ihnen nicht ge\xe4ndert werden.\r\n" * 20
    dictionary = zlib.compressobj(zdict=b"abcdef")
    with_dict = dictionary.compress(b"abcdefabc") + dictionary.flush()
    seeds = {
        "nothing": b"\x78\x9c\x03\x00\x00\x00\x00\x01",
        "abc": zlib.compress(b"abc", 6),
        "text": zlib.compress(text, 9),
        "stored": zlib.compress(text, 0),
        "preset-dictionary": with_dict,
        "cut-short": zlib.compress(text, 6)[:-1],
        "trailing-bytes": zlib.compress(b"abc") + b"tail",
        "bad-adler": zlib.compress(b"abc")[:-1] + b"\x00",
        "zeros-64k": zlib.compress(b"\0" * 65536, 9),
    }
    out = {}
    for name, stream in seeds.items():
        out[name] = b"\x00" + stream
        out[name + "-small-start"] = b"\x81" + stream
    return out


def control_file_seeds():
    return {
        "package": INI,
        "winsys": b"P=x\r\n[Sys]\r\nTDIR=% WinSys %\r\nVCHK='1'<R\\Tarnix.exe\\Projects\\Demo\\Ver\\<'2'\r\n",
        "literal-folders": b"[A]\r\nTDIR=%TEMP%\r\n[B]\r\nTDIR=C:\\\r\nTDIR=%WINSYS\r\n[]\r\nN=\r\n",
        "registry-file": "[R]\r\nTDIR=\xa7H\\Path\r\nTDIR=\xa7R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n".encode("cp1252"),
        "missing-separator": b"VCHK=4.0<=R\\x\r\n[P]\r\nVCHK=<\r\n",
        "reversed-range": b"VCHK=\"5\"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<=\"4\"\r\nVRESULT=U\\a=b\r\n",
        "lone-lt-equals": b"[P]\r\nVCHK=<=<=\r\nVResult=\\=\r\nFONT=no comma\r\n",
    }


def placeholder_seeds():
    return {
        "percent": b"100%% sicher %",
        "quoting": "%+notepad %\xa7R\\Tarnix.exe\\Projects\\Demo\\Dir\\% /x".encode("cp1252"),
        "value": "start %\xa7R\\Tarnix.exe\\Projects\\Demo\\Ver%!".encode("cp1252"),
        "folder-value": "%\xa7R\\Tarnix.exe\\Projects\\Demo\\Dir\\%\\bin".encode("cp1252"),
        "node": "%\xa7Data%\\x %\xa7Name% %\xa7%".encode("cp1252"),
        "self-reference": "%\xa7H\\Loop%".encode("cp1252") * 3,
        "unclosed": "%\xa7R\\Tarnix.exe %+ %".encode("cp1252"),
    }


PATCH_OLD = bytes((i * 7 + i // 256) & 0xFF for i in range(4096))  # the old file of the patch target


def patch(records, old=PATCH_OLD, new_size=None, new_crc=None, old_crc=None, tail=b""):
    """A patch's data: `records` are (diff bytes, extra bytes, seek); the new file follows from them."""
    body, new, at = b"", b"", 0
    for diff, extra, seek in records:
        at += seek
        body += struct.pack("<IIi", len(diff), len(extra), seek) + diff + extra
        new += bytes((old[(at + k) % len(old)] + d) & 0xFF for k, d in enumerate(diff)) + extra
        at += len(diff)
    head = struct.pack("<IiIiI", 0x31544150, len(old), zlib.crc32(old) if old_crc is None else old_crc,
                       len(new) if new_size is None else new_size, zlib.crc32(new) if new_crc is None else new_crc)
    return head + zlib.compress(body, 9) + tail


def tokens(diff):
    """A diff run as PAT2 tokens: R < 255 is R zeros then one diff byte, 255 is 255 zeros."""
    out, zeros = b"", 0
    for i, d in enumerate(diff):
        if d == 0 and i + 1 < len(diff):
            zeros += 1
            if zeros == 255:
                out, zeros = out + b"\xff", 0
            continue
        out, zeros = out + bytes([zeros, d]), 0
    return out


def patch_with_layout(records, layout, old=PATCH_OLD):
    """A PAT3 patch: the layout, then the records with their diff runs as tokens. The new file's
    CRC is that of the records without predicted references: the seed reaches the prediction."""
    body, new, at = struct.pack("<I", len(layout)) + layout, b"", 0
    for diff, extra, seek in records:
        at += seek
        body += struct.pack("<IIi", len(diff), len(extra), seek) + tokens(diff) + extra
        new += bytes((old[at + k] + d) & 0xFF for k, d in enumerate(diff)) + extra
        at += len(diff)
    head = struct.pack("<IiIiI", 0x33544150, len(old), zlib.crc32(old), len(new), zlib.crc32(new))
    return head + zlib.compress(body, 9)


def leb(value):
    """A LEB128 number: 7 bits a byte, low bits first."""
    out = b""
    while value >= 0x80:
        out, value = out + bytes([value & 0x7F | 0x80]), value >> 7
    return out + bytes([value])


def patch_in_streams(records, layout=b"", old=PATCH_OLD):
    """A PAT4 patch: control numbers (seek zig-zagged), tokens and extra bytes in three zlib streams, one chunk
    each, in the order the records first need them (the first record has a diff run and extra bytes)."""
    streams, new, at = [struct.pack("<I", len(layout)) + layout, b"", b""], b"", 0
    for diff, extra, seek in records:
        at += seek
        streams[0] += leb(len(diff)) + leb(len(extra)) + leb(seek * 2 if seek >= 0 else -seek * 2 - 1)
        streams[1] += tokens(diff)
        streams[2] += extra
        new += bytes((old[at + k] + d) & 0xFF for k, d in enumerate(diff)) + extra
        at += len(diff)
    head = struct.pack("<IiIiI", 0x34544150, len(old), zlib.crc32(old), len(new), zlib.crc32(new))
    return head + b"".join(struct.pack("<BI", s, len(zlib.compress(d, 9))) + zlib.compress(d, 9)
                           for s, d in enumerate(streams))


def layout(width=4, reloc=(2048, 64), moves=((0x1000, 16), (0x1800, -8)), flags=0, image_size=0x4000, tables=()):
    """Width and flags (0x100 RIP-relative operands, then the image size; 0x200 tables of RVAs; 0x400 the relocation
    table predicted),
    image bases 0x400000 (PE32), the relocation blocks' place, one code and one data section in
    each file, the tables (offset, size) and the moves."""
    sections = struct.pack("<I", 2) + struct.pack("<4I", 0, 2048, 0x1000, 1) + struct.pack("<4I", 2048, 2048, 0x2000, 0)
    head = struct.pack("<7I", width | flags, 0x400000, 0, 0x400000, 0, *reloc)
    extra = struct.pack("<I", image_size) if flags & 0x100 else b""
    if flags & 0x200:
        extra += struct.pack("<I", len(tables)) + b"".join(struct.pack("<2I", *t) for t in tables)
    body = b"".join(struct.pack("<Ii", rva, delta) for rva, delta in moves)
    return head + sections + sections + extra + struct.pack("<I", len(moves)) + body


def patch_seeds():
    moved = [(bytes(1000), b"inserted", 0), (bytes([0, 0, 4, 0]) * 250, b"", 100), (bytes(500), b"end", -2000)]
    seeds = {
        "moved-code": patch(moved),
        "extra-only": patch([(b"", b"a whole new file", 0)]),
        "empty-result": patch([]),
        "lying-size": patch(moved, new_size=100),
        "wrong-old-crc": patch(moved, old_crc=1),
        "wrong-new-crc": patch(moved, new_crc=1),
        "seek-outside": patch([(bytes(10), b"", 5000)]),
        "trailing-bytes": patch(moved, tail=b"x"),
        "cut-short": patch(moved)[:-3],
        "bad-magic": b"PAT0" + patch(moved)[4:],
        "references": patch_with_layout(moved[:2], layout()),
        "references-64": patch_with_layout(moved[:2], layout(width=8)),
        "references-unordered-moves": patch_with_layout(moved[:2], layout(moves=((0x1800, 1), (0x1000, 2)))),
        "references-rip-tables": patch_with_layout(moved[:2], layout(width=8, flags=0x300, tables=((2048, 96), (3000, 12)))),
        "references-overlapping-tables": patch_with_layout(moved[:2], layout(flags=0x200, tables=((2048, 96), (2100, 12)))),
        "references-relocation-table": patch_with_layout(moved[:2], layout(flags=0x600, tables=((2048, 96),))),
        "streams": patch_in_streams(moved),
        "streams-layout": patch_in_streams(moved[:2], layout(width=8, flags=0x300, tables=((2048, 96), (3000, 12)))),
        "streams-extra-first": patch_in_streams([(b"", b"new", 0)] + moved),
    }
    return {name: b"\x05" + data for name, data in seeds.items()}


def tlv(tag, content):
    n = len(content)
    length = bytes([n]) if n < 128 else bytes([0x81, n]) if n < 256 else bytes([0x82, n >> 8, n & 0xFF])
    return bytes([tag]) + length + content


SHA256_ID = tlv(0x30, tlv(0x06, bytes.fromhex("608648016503040201")))
RSA_ID = tlv(0x30, tlv(0x06, bytes.fromhex("2a864886f70d010101")))
INDIRECT_OID = tlv(0x06, bytes.fromhex("2b0601040182370201 04".replace(" ", "")))


def pe_image():
    """The PE image that fuzz/certificate_table.cpp puts before its input, without the directory entry."""
    pe, body = 0x80, 0x400
    image = bytearray((i * 7) & 0xFF for i in range(body))
    image[0:2] = b"MZ"
    image[0x3C:0x40] = struct.pack("<I", pe)
    image[pe:pe + 24 + 96 + 128] = bytes(24 + 96 + 128)
    image[pe:pe + 8] = b"PE\0\0\x4c\x01\0\0"
    image[pe + 20] = 224
    image[pe + 24:pe + 26] = b"\x0b\x01"
    image[pe + 24 + 92:pe + 24 + 96] = struct.pack("<I", 16)
    image[pe + 24 + 96 + 32:pe + 24 + 96 + 36] = struct.pack("<I", body)
    return bytes(image)


def authenticode_digest(image):
    checksum, entry = 0x80 + 24 + 64, 0x80 + 24 + 96 + 32
    return hashlib.sha256(image[:checksum] + image[checksum + 4:entry] + image[entry + 8:]).digest()


def certificate_table(file_digest, public_key, sign, statement_digest=None):
    """A WIN_CERTIFICATE of a signed statement of `file_digest`; `sign` signs the attributes as a SET."""
    name = tlv(0x30, tlv(0x31, tlv(0x30, tlv(0x06, b"\x55\x04\x03") + tlv(0x0C, b"Mevo Test"))))
    tbs = tlv(0x30, tlv(0xA0, tlv(0x02, b"\x02")) + tlv(0x02, b"\x05") + SHA256_ID + name + tlv(0x30, b"") + name +
              public_key)
    certificate = tlv(0x30, tbs + SHA256_ID + tlv(0x03, b"\0sig"))
    indirect = tlv(0x30, tlv(0x06, b"\x2b\x06\x01")) + tlv(0x30, SHA256_ID + tlv(0x04, file_digest))
    digest = statement_digest or hashlib.sha256(indirect).digest()
    attributes = (tlv(0x30, tlv(0x06, bytes.fromhex("2a864886f70d010903")) + tlv(0x31, INDIRECT_OID)) +
                  tlv(0x30, tlv(0x06, bytes.fromhex("2a864886f70d010904")) + tlv(0x31, tlv(0x04, digest))))
    signer = tlv(0x30, tlv(0x02, b"\x01") + tlv(0x30, name + tlv(0x02, b"\x05")) + SHA256_ID + tlv(0xA0, attributes) +
                 RSA_ID + tlv(0x04, sign(tlv(0x31, attributes))))
    signed_data = tlv(0x30, tlv(0x02, b"\x01") + tlv(0x31, SHA256_ID) + tlv(0x30, INDIRECT_OID + tlv(0xA0, tlv(0x30, indirect))) +
                      tlv(0xA0, certificate) + tlv(0x31, signer))
    pkcs7 = tlv(0x30, tlv(0x06, bytes.fromhex("2a864886f70d010702")) + tlv(0xA0, signed_data))
    table = pkcs7 + bytes((8 - (8 + len(pkcs7)) % 8) % 8)
    return struct.pack("<IHH", 8 + len(table), 0x0200, 2) + table


def openssl_signer():
    """A fresh RSA key of openssl's: its SubjectPublicKeyInfo and a function that signs with SHA-256."""
    folder = tempfile.mkdtemp()
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "genrsa", "-out", key, "1024"], check=True, capture_output=True)
    public = subprocess.run(["openssl", "rsa", "-in", key, "-pubout", "-outform", "DER"], check=True,
                            capture_output=True).stdout

    def sign(data):
        return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=data, check=True,
                              capture_output=True).stdout
    return public, sign


def certificate_table_seeds():
    digest = authenticode_digest(pe_image())
    dummy_key = tlv(0x30, RSA_ID + tlv(0x03, b"\x00\x30\x00"))
    seeds = {
        "unsigned-form": certificate_table(digest, dummy_key, lambda data: b"\x33" * 128),
        "wrong-digest-form": certificate_table(b"\x11" * 32, dummy_key, lambda data: b"\x33" * 128),
        "header-only": struct.pack("<IHH", 8, 0x0200, 2),
    }
    if shutil.which("openssl"):
        public, sign = openssl_signer()
        seeds["signed"] = certificate_table(digest, public, sign)
        seeds["signed-statement-digest-replaced"] = certificate_table(digest, public, sign, b"\x22" * 32)
    return seeds


def journal_seeds():
    app, data = "C:\\fz\\App\\", "C:\\fz\\Data\\"
    kept = "K%sa.dll|%sa.dll.~r0|3|1482260485|133550826100000000\r\n" % (app, app)
    lines = {
        "kept-and-new": kept + "N%sneu.txt||5|1482260485|-1\r\nD%ssub\r\nN%ssub\\x.dat||0|-1|-1\r\n" % (app, app, data),
        "committed": kept + "P%sa.dll\r\nC\r\n" % app,
        "older-form": "K%sa.dll|%sa.dll.~r0\r\nN%sb.txt||-2|-1\r\n" % (app, app, app),
        "disowned": kept + "K%sa.dll|%sa.dll.~r0|-2|-1|-1\r\n" % (app, app),
        "cut-short": kept + "N%sneu.txt||5|14822" % app,
        "foreign-path": "N%s..\\outside.txt||-2|-1|-1\r\n" % app,
        "kept-name-100": "K%sa.dll|%sa.dll.~r100|-2|-1\r\n" % (app, app),
        "empty": "",
    }
    return {name: text.encode("cp1252") for name, text in lines.items()}


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for target, seeds in (("archive", archive_seeds()), ("decompress", decompress_seeds()),
                          ("control_file", control_file_seeds()), ("placeholders", placeholder_seeds()),
                          ("patch", patch_seeds()), ("certificate_table", certificate_table_seeds()),
                          ("journal", journal_seeds())):
        os.makedirs(os.path.join(root, target), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(root, target, "seed-" + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
