#!/usr/bin/env python3
# Writes a disk image on which every sector is a carving hit: each 512-byte sector starts with one
# format's header and the rest is random bytes, zeros, or random letters and spaces (text: no byte
# that ends a text scan, no group or tag mark); a kind named in NONZERO_BODY always has random
# bytes other than zero. Measuring such hits must cost time that grows with
# the image, not with hits x image: run the scan over images of two sizes and compare.
#
#   make-hostile-image.py KIND SECTORS OUT [zero|text]
#   make-hostile-image.py --list
import os
import random
import struct
import sys


def le16(v): return struct.pack("<H", v)
def le32(v): return struct.pack("<I", v)
def be16(v): return struct.pack(">H", v)
def be32(v): return struct.pack(">I", v)


def at(pairs):
    """A header of fields at fixed offsets: [(offset, bytes), ...]; gaps are left random."""
    return pairs


ASF_HEADER = bytes.fromhex("3026b2758e66cf11a6d900aa0062ce6c")
DWG_2004_SENTINEL = bytes.fromhex("6840f8f7922ab5ef18dd0bf1f1bbe9eb")
OLE = bytes.fromhex("d0cf11e0a1b11ae1")

# One entry per format analyser: header fields that its header test takes.
KINDS = {
    "3ds": at([(0, b"MM" + le32(1000)), (16, le16(0x3D3D) + le32(10))]),
    "3gp": at([(0, be32(24) + b"ftyp3gp4")]),
    "asf": at([(0, ASF_HEADER)]),
    "au": at([(0, b".snd" + be32(24) + be32(1000))]),
    "bmp": at([(0, b"BM" + le32(1000) + le16(0) + le16(0) + le32(54) + le32(40))]),
    "cab": at([(0, b"MSCF" + le32(0) + le32(1000) + le32(0) + le32(0) + le32(0) + le16(0x0103))]),
    "chm": at([(0, b"ITSF" + le32(3) + le32(96)),
               (24, bytes.fromhex("10fd017caa7bd0119e0c00a0c922e6ec11fd017caa7bd0119e0c00a0c922e6ec")),
               (96, le32(0x1FE) + le32(0) + struct.pack("<Q", 1000) + le32(0) + le32(0))]),
    "cpt": at([(0, b"CPT9FILE"), (52, le32(316))]),
    "crw": at([(0, bytes.fromhex("49491a000000484541504343445202 00".replace(" ", "")))]),
    "dbx": at([(0, bytes.fromhex("4a4d463603001000"))]),
    "dwg": at([(0, b"AC1018\0\0"), (128, DWG_2004_SENTINEL)]),
    "dxf": at([(0, b"  0\r\nSECTION\r\n  2\r\nHEADER\r\n")]),
    "emf": at([(40, le32(0x464D4520)), (48, le32(1000)), (58, le16(0))]),
    "eps": at([(0, bytes.fromhex("c5d0d3c6") + le32(32) + le32(1000) + le32(0) * 4), (28, b"\xff\xff\x00\x00")]),
    "fh11": at([(0, bytes.fromhex("1c0100000200041c011400020014 1c01".replace(" ", ""))), (34, le16(0x3131))]),
    "gif": at([(0, b"GIF89a\x10\x00\x10\x00\x00\x00\x00")]),
    # A header, an image descriptor and the LZW code size with no zero byte, on a body with none:
    # the image's data sub-blocks run on through every later sector and never end.
    "gif-chains": at([(0, b"GIF89a\x10\x10\x10\x10\x70\x01\x01" + b"\x2c\x01\x01\x01\x01\x10\x10\x10\x10\x01\x08")]),
    "gz": at([(0, b"\x1f\x8b\x08")]),
    "hlp": at([(0, bytes.fromhex("3f5f0300") + le32(16) + le32(0) + le32(1000))]),
    "html": at([(0, b"<html><head>")]),
    "ico": at([(0, b"\0\0\1\0" + le16(1) + bytes([16, 16, 0, 0]) + le16(1) + le16(32) + le32(100) + le32(22))]),
    "jpeg": at([(0, bytes.fromhex("ffd8ffe000104a46494600010100000100010000"))]),
    "lowdoc": at([(0, bytes.fromhex("dba52d00"))]),
    "lzh": at([(0, b"\x20\x00-lh5-")]),
    "mdb": at([(0, b"\0\1\0\0Standard Jet DB\0")]),
    "mid": at([(0, b"MThd\0\0\0\6" + be16(1) + be16(1))]),
    "mny": at([(4, b"MSISAM Database")]),
    "mov": at([(0, be32(1000) + b"moov")]),
    "mp3": at([(0, b"ID3\x03\x00\x00\x00\x00\x00\x0a")]),
    "mp4": at([(0, be32(24) + b"ftypisom")]),
    "ole": at([(0, OLE)]),
    "one": at([(0, bytes.fromhex("e4525c7b8cd8a74daeb15378d02996d3"))]),
    "pdf": at([(0, b"%PDF-1.4\n")]),
    "png": at([(0, bytes.fromhex("89504e470d0a1a0a0000000d49484452"))]),
    "psd": at([(0, b"8BPS" + be16(1) + b"\0" * 6)]),
    "psp": at([(0, b"Paint Shop Pro Image File\n\x1a\0\0\0\0\0")]),
    "pst": at([(0, b"!BDN")]),
    "rar": at([(0, b"Rar!\x1a\x07\x00")]),
    "riff": at([(0, b"RIFF" + le32(1000) + b"WAVEfmt ")]),
    "rtf": at([(0, b"{\\rtf1")]),
    "swf": at([(0, b"FWS\x06" + le32(1000))]),
    "tar": at([(257, b"ustar")]),
    "tif": at([(0, b"II*\0")]),
    "ttf": at([(0, bytes.fromhex("00010000") + be16(1) + b"\0" * 6 + b"head" + b"\0" * 8 + be32(100))]),
    "uhtml": at([(0, b"\xff\xfe" + "<HTML>".encode("utf-16-le"))]),
    "wmf": at([(0, b"\x01\x00\x09\x00\x00\x03" + le32(500)), (16, le16(0))]),
    "wpd": at([(0, b"\xffWPC" + b"\0" * 4 + bytes([1, 10, 2, 1])), (14, bytes([0, 2, 5, 0])), (20, le32(1000))]),
    "zip": at([(0, b"PK\x03\x04\x14\x00\x00\x00\x00\x00")]),
}

NONZERO_BODY = {"gif-chains"}


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        print(" ".join(sorted(KINDS)))
        return 0
    if len(sys.argv) < 4 or sys.argv[1] not in KINDS:
        print("usage: make-hostile-image.py KIND SECTORS OUT [zero|text] | --list", file=sys.stderr)
        return 2
    kind, sectors, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    body = sys.argv[4] if len(sys.argv) > 4 else "random"
    rnd = random.Random(1)
    letters = b"abcdefghijklmnopqrstuvwxyz      "
    with open(out, "wb") as f:
        for _ in range(sectors):
            if kind in NONZERO_BODY:
                sector = bytearray(1 + b % 255 for b in rnd.getrandbits(8 * 512).to_bytes(512, "little"))
            elif body == "zero":
                sector = bytearray(512)
            elif body == "text":
                sector = bytearray(letters[b & 31] for b in rnd.getrandbits(8 * 512).to_bytes(512, "little"))
            else:
                sector = bytearray(rnd.getrandbits(8 * 512).to_bytes(512, "little"))
            for offset, data in KINDS[kind]:
                sector[offset:offset + len(data)] = data
            f.write(sector)
    return 0


if __name__ == "__main__":
    sys.exit(main())
