#!/usr/bin/env python3
"""Writes a damaged skin picture.

    bad_skin.py SKIN_DIR NAME DEFECT OUT_DIR

DEFECT: missing (no file), empty (0 bytes), truncated (the first half of the good file),
wrong-format (the skin's sound.wav under the picture's name), absurd (a well-formed header in
the picture's own format that claims 60000 x 60000 pixels, with a few bytes of pixels).
OUT_DIR/NAME is replaced, never written through (it may be a hard link to the good file).
"""
import os
import struct
import sys

SIDE = 60000


def absurd_bmp():
    info = struct.pack("<IiiHHIIiiII", 40, SIDE, SIDE, 1, 24, 0, 0, 2835, 2835, 0, 0)
    size = 54 + (SIDE * 3 + 3) // 4 * 4 * SIDE
    return b"BM" + struct.pack("<IHHI", size & 0xFFFFFFFF, 0, 0, 54) + info + bytes(64)


def absurd_ico():
    # One entry whose bitmap (colour rows, then mask rows: twice the height) claims the size.
    dib = struct.pack("<IiiHHIIiiII", 40, SIDE, 2 * SIDE, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(64)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(dib), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + dib


def absurd_gif():
    screen = struct.pack("<HHBBB", SIDE, SIDE, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff"
    image = b"," + struct.pack("<HHHHB", 0, 0, SIDE, SIDE, 0) + b"\x02\x02\x44\x01\x00"
    return b"GIF89a" + screen + image + b";"


def main():
    skin, name, defect, out = sys.argv[1:5]
    target = os.path.join(out, name)
    if os.path.lexists(target):
        os.unlink(target)
    if defect == "missing":
        return
    good = open(os.path.join(skin, name), "rb").read()
    if defect == "empty":
        data = b""
    elif defect == "truncated":
        data = good[: len(good) // 2]
    elif defect == "wrong-format":
        data = open(os.path.join(skin, "sound.wav"), "rb").read()
    elif defect == "absurd":
        data = {"bmp": absurd_bmp, "ico": absurd_ico, "gif": absurd_gif}[name.rsplit(".", 1)[1]]()
    else:
        sys.exit("unknown defect " + defect)
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
