#!/usr/bin/env python3
"""Writes the skin folders of the skin-check table, each a copy of a good skin with one fault.

    make_variants.py SKIN_DIR OUT_DIR

OUT_DIR/<variant>/ for every variant named in cases.tsv beside this script.
"""
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "skin"))
sys.dont_write_bytecode = True
import make_skin  # noqa: E402

MAGENTA = (255, 0, 255)
GREY = (60, 64, 72)


def read_bmp(path):
    """Rows (top first) of (r, g, b) from a bottom-up 24-bit BMP."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    w, h = struct.unpack_from("<ii", data, 18)
    stride = (w * 3 + 3) & ~3
    return [[tuple(data[offset + (h - 1 - j) * stride + 3 * i + 2 - n] for n in range(3))
             for i in range(w)] for j in range(h)]


def crop(rows, w, h):
    return [row[:w] for row in rows[:h]]


def repaint(rows, old, new, box=None):
    x0, y0, x1, y1 = box or (0, 0, len(rows[0]), len(rows))
    return [[new if (x0 <= i < x1 and y0 <= j < y1 and (old is None or p == old)) else p
             for i, p in enumerate(row)] for j, row in enumerate(rows)]


def icon_entries(data, keep):
    """The icon file with only the entries whose indices are in keep."""
    count = struct.unpack_from("<H", data, 4)[0]
    entries = [data[6 + 16 * i:22 + 16 * i] for i in range(count)]
    blobs = []
    for e in entries:
        length, offset = struct.unpack_from("<II", e, 8)
        blobs.append(data[offset:offset + length])
    out_entries, out_blobs = [], []
    offset = 6 + 16 * len(keep)
    for i in keep:
        out_entries.append(entries[i][:12] + struct.pack("<I", offset))
        out_blobs.append(blobs[i])
        offset += len(blobs[i])
    return struct.pack("<HHH", 0, 1, len(keep)) + b"".join(out_entries) + b"".join(out_blobs)


def wav24(data):
    """The 16-bit PCM WAV as 24-bit samples."""
    pcm = data[44:]
    samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
    out = b"".join(struct.pack("<i", s << 8)[:3] for s in samples)
    rate = struct.unpack_from("<I", data, 24)[0]
    return (struct.pack("<4sI4s", b"RIFF", 36 + len(out), b"WAVE")
            + struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, rate, rate * 3, 3, 24)
            + struct.pack("<4sI", b"data", len(out)) + out)


def make(skin, variant, out):
    def bmp(name):
        return read_bmp(os.path.join(skin, name))

    def put(name, data):
        path = os.path.join(out, name)
        if os.path.exists(path):
            os.remove(path)
        with open(path, "wb") as f:
            f.write(data)

    if variant == "default":
        return
    if variant == "overlay1-missing":
        os.remove(os.path.join(out, "overlay1.bmp"))
    elif variant == "back-cut-off":
        data = open(os.path.join(skin, "back.bmp"), "rb").read()
        put("back.bmp", data[:len(data) // 2])
    elif variant == "chunks-135-wide":
        put("chunks.bmp", make_skin.bmp24(crop(bmp("chunks.bmp"), 135, 12)))
    elif variant == "back-too-small":
        for name in ("back.bmp", "overlay1.bmp", "overlay2.bmp"):
            put(name, make_skin.bmp24(crop(bmp(name), 170, 200)))
    elif variant == "overlay2-narrow":
        put("overlay2.bmp", make_skin.bmp24(crop(bmp("overlay2.bmp"), 150, 200)))
    elif variant == "overlay1-no-key":
        put("overlay1.bmp", make_skin.bmp24(repaint(bmp("overlay1.bmp"), MAGENTA, GREY)))
    elif variant == "overlay2-hides-bar":
        put("overlay2.bmp", make_skin.bmp24(repaint(bmp("overlay2.bmp"), None, GREY,
                                                    (34, 168, 178, 180))))
    elif variant == "back-near-magenta":
        put("back.bmp", make_skin.bmp24(repaint(bmp("back.bmp"), MAGENTA, (254, 0, 255))))
    elif variant == "icon2-no-16":
        put("icon2.ico", icon_entries(open(os.path.join(skin, "icon2.ico"), "rb").read(), [1]))
    elif variant == "iconmute-left-out":
        os.remove(os.path.join(out, "iconmute.ico"))
    elif variant == "iconmute-broken":
        put("iconmute.ico", b"not an icon\n")
    elif variant == "iconmute-no-16":
        put("iconmute.ico",
            icon_entries(open(os.path.join(skin, "iconmute.ico"), "rb").read(), [1]))
    elif variant == "controlbg-short":
        put("controlbg.bmp", make_skin.bmp24(crop(bmp("controlbg.bmp"), 30, 120)))
    elif variant == "sound-24-bit":
        put("sound.wav", wav24(open(os.path.join(skin, "sound.wav"), "rb").read()))
    elif variant == "sound-mp3":
        put("sound.wav", b"ID3\x04\x00\x00\x00\x00\x00\x00" + bytes(400))
    elif variant == "three-faults":
        make(skin, "overlay1-missing", out)
        make(skin, "chunks-135-wide", out)
        make(skin, "sound-mp3", out)
    else:
        raise SystemExit("unknown variant " + variant)


def main(skin, out):
    variants = []
    with open(os.path.join(HERE, "cases.tsv")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                name = line.split("\t")[0]
                if name not in variants:
                    variants.append(name)
    for variant in variants:
        folder = os.path.join(out, variant)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(skin, folder)
        make(skin, variant, folder)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
