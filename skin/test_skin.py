#!/usr/bin/env python3
"""Checks the committed default skin: layout the program depends on, file formats the
Win32 and Qt loaders accept, and that make_skin.py still produces exactly these files.

    python3 skin/test_skin.py
"""

import os
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SKIN = os.path.join(HERE, "default")
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

import make_skin  # noqa: E402

MAGENTA = (255, 0, 255)
BAR_X, BAR_Y, CHUNK_W, CHUNKS = 34, 168, 9, 16
FILES = ["back.bmp", "chunks.bmp", "overlay1.bmp", "overlay2.bmp", "controlbg.bmp",
         "controlknob.gif", "sound.wav", "iconmute.ico"] + ["icon%d.ico" % n for n in range(4)]


def read(name):
    with open(os.path.join(SKIN, name), "rb") as f:
        return f.read()


def load_bmp(name):
    """Rows (top first) of (r, g, b) from a 24-bit uncompressed BMP, checking its headers."""
    data = read(name)
    magic, size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    hsize, w, h, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
    assert magic == b"BM" and size == len(data), name
    assert hsize == 40 and planes == 1 and bpp == 24 and compression == 0, name
    assert w > 0 and h > 0, "%s must be bottom-up" % name
    stride = (w * 3 + 3) & ~3
    assert offset + stride * h == len(data), name
    rows = []
    for j in range(h):
        base = offset + (h - 1 - j) * stride
        rows.append([tuple(data[base + 3 * i + 2 - n] for n in range(3)) for i in range(w)])
    return rows


def lzw_decode(data, min_size):
    """Independent GIF LZW decoder (string table, width grows when the table fills a width)."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    pos = nbits = acc = 0
    out = []
    width = min_size + 1
    table = None
    prev = None
    while True:
        while nbits < width:
            if pos >= len(data):
                raise ValueError("ran out of data before the end code")
            acc |= data[pos] << nbits
            pos += 1
            nbits += 8
        code = acc & ((1 << width) - 1)
        acc >>= width
        nbits -= width
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            width, prev = min_size + 1, None
            continue
        if code == end:
            return out
        if table is None:
            raise ValueError("data does not start with a clear code")
        if code < len(table) and table[code] is not None:
            entry = table[code]
            if prev is not None and len(table) < 4096:
                table.append(prev + entry[:1])
        elif code == len(table) and prev is not None:
            entry = prev + prev[:1]
            table.append(entry)
        else:
            raise ValueError("bad code %d" % code)
        out.extend(entry)
        prev = entry
        if len(table) == (1 << width) and width < 12:
            width += 1


def load_gif(data):
    assert data[:6] == b"GIF89a"
    w, h, flags = struct.unpack_from("<HHB", data, 6)
    assert flags & 0x80, "needs a global colour table"
    ncolours = 2 << (flags & 7)
    palette = [tuple(data[13 + 3 * i:16 + 3 * i]) for i in range(ncolours)]
    pos = 13 + 3 * ncolours
    transparent = None
    while True:
        kind = data[pos]
        if kind == 0x21:
            label = data[pos + 1]
            if label == 0xF9 and data[pos + 3] & 1:
                transparent = data[pos + 6]
            pos += 2
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
        elif kind == 0x2C:
            fx, fy, fw, fh, fflags = struct.unpack_from("<HHHHB", data, pos + 1)
            assert (fx, fy, fw, fh) == (0, 0, w, h) and not fflags & 0xC0
            min_size = data[pos + 10]
            pos += 11
            blocks = bytearray()
            while data[pos]:
                blocks += data[pos + 1:pos + 1 + data[pos]]
                pos += data[pos] + 1
            indices = lzw_decode(bytes(blocks), min_size)
            assert data[pos + 1] == 0x3B, "expected the trailer after one image"
            assert len(indices) == w * h
            return w, h, palette, transparent, indices
        else:
            raise AssertionError("unexpected block 0x%02x" % kind)


def load_ico(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and kind == 1
    images = {}
    for n in range(count):
        w, h, colours, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        w, h = w or 256, h or 256
        assert offset + size <= len(data)
        hsize, dw, dh, dplanes, dbpp, compression = struct.unpack_from("<IiiHHI", data, offset)
        assert (hsize, dw, dh, dplanes, dbpp, compression) == (40, w, 2 * h, 1, 32, 0)
        assert (planes, bpp) == (1, 32) and w == h
        mask_stride = ((w + 31) // 32) * 4
        assert size == 40 + w * h * 4 + mask_stride * h
        px = data[offset + 40:offset + 40 + w * h * 4]
        mask = data[offset + 40 + w * h * 4:offset + size]
        alpha = [px[4 * i + 3] for i in range(w * h)]        # bottom-up, which is fine for counting
        for i, a in enumerate(alpha):
            row, col = divmod(i, w)
            masked = mask[row * mask_stride + col // 8] >> (7 - col % 8) & 1
            assert masked == (a == 0), "AND mask disagrees with alpha"
        images[w] = alpha
    return images


class Layout(unittest.TestCase):
    def setUp(self):
        self.back = load_bmp("back.bmp")
        self.chunks = load_bmp("chunks.bmp")
        self.w, self.h = len(self.back[0]), len(self.back)
        self.ch = len(self.chunks)

    def test_sizes(self):
        self.assertEqual(len(self.chunks[0]), CHUNK_W * CHUNKS)
        self.assertTrue(12 <= self.ch <= 14)
        self.assertGreaterEqual(self.w, BAR_X + CHUNK_W * CHUNKS + 1)
        self.assertGreaterEqual(self.h, BAR_Y + self.ch)
        for name in ("overlay1.bmp", "overlay2.bmp"):
            o = load_bmp(name)
            self.assertEqual((len(o[0]), len(o)), (self.w, self.h), name)
        ctrl = load_bmp("controlbg.bmp")
        self.assertEqual((len(ctrl[0]), len(ctrl)), (30, 134))

    def test_chunks_share_one_shape(self):
        # every chunk has the same lit/gap pattern, so any level looks evenly spaced
        gap = self.chunks[0][0]
        def pattern(k):
            return [[self.chunks[j][CHUNK_W * k + i] == gap for i in range(CHUNK_W)] for j in range(self.ch)]
        first = pattern(0)
        self.assertTrue(any(not v for row in first for v in row), "chunk has no lit pixels")
        for k in range(1, CHUNKS):
            self.assertEqual(pattern(k), first, "chunk %d" % k)
        self.assertNotEqual(self.chunks[self.ch // 2][3], self.chunks[self.ch // 2][CHUNK_W * 15 + 3])

    def test_bar_track_sits_under_the_bar(self):
        gap = self.chunks[0][0]
        for j in range(BAR_Y, BAR_Y + self.ch):
            for i in range(BAR_X, BAR_X + CHUNK_W * CHUNKS):
                self.assertNotEqual(self.back[j][i], MAGENTA, (i, j))
        # the track shows through between lit chunks, so its ground must match their gaps
        for k in range(CHUNKS):
            self.assertEqual(self.back[BAR_Y][BAR_X + CHUNK_W * k], gap)
            self.assertEqual(self.back[BAR_Y + self.ch - 1][BAR_X + CHUNK_W * k + CHUNK_W - 1], gap)

    def test_see_through_corners(self):
        rows = self.back
        w, h = len(rows[0]), len(rows)
        for i, j in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
            self.assertEqual(rows[j][i], MAGENTA)
        self.assertNotEqual(rows[h // 2][w // 2], MAGENTA)

    def test_slider_background_is_opaque(self):
        # the slider window is not layered: magenta there would show as magenta
        for row in load_bmp("controlbg.bmp"):
            self.assertNotIn(MAGENTA, row)

    def test_no_near_magenta(self):
        # anything that is almost the colour key would show as a pink fringe
        for name in ("back.bmp", "chunks.bmp", "overlay1.bmp", "overlay2.bmp", "controlbg.bmp"):
            for j, row in enumerate(load_bmp(name)):
                for i, (r, g, b) in enumerate(row):
                    if (r, g, b) != MAGENTA:
                        self.assertFalse(r > 180 and b > 180 and g < 100, "%s %d,%d" % (name, i, j))

    def test_overlays_stay_inside_the_panel_and_off_the_bar(self):
        for name in ("overlay1.bmp", "overlay2.bmp"):
            o = load_bmp(name)
            for j in range(self.h):
                for i in range(self.w):
                    if self.back[j][i] == MAGENTA:
                        self.assertEqual(o[j][i], MAGENTA, "%s %d,%d outside the panel" % (name, i, j))
            for j in range(BAR_Y, BAR_Y + self.ch):
                for i in range(BAR_X, BAR_X + CHUNK_W * CHUNKS):
                    self.assertEqual(o[j][i], MAGENTA, "%s covers the bar at %d,%d" % (name, i, j))
        self.assertTrue(any(p != MAGENTA for row in load_bmp("overlay1.bmp") for p in row))

    def test_overlay2_reveals_with_the_level(self):
        # shown cut to 35 + 9n px: nothing at n = 0, everything by n = 16,
        # and whatever chunk k uncovers lies within that chunk's columns
        o = load_bmp("overlay2.bmp")
        lit_columns = set()
        for row in o:
            for i, p in enumerate(row):
                if p != MAGENTA:
                    lit_columns.add(i)
        self.assertTrue(lit_columns)
        self.assertGreaterEqual(min(lit_columns), BAR_X + 1)
        self.assertLess(max(lit_columns), BAR_X + 1 + CHUNK_W * CHUNKS)
        for k in range(CHUNKS):
            first = BAR_X + 1 + CHUNK_W * k
            self.assertTrue(lit_columns & set(range(first, first + CHUNK_W)), "nothing appears with chunk %d" % k)

    def test_slider_track_is_solid_where_the_knob_runs(self):
        ctrl = load_bmp("controlbg.bmp")
        for j in range(11, 107 + 15):
            for i in range(8, 8 + 15):
                self.assertNotEqual(ctrl[j][i], MAGENTA, (i, j))


class Formats(unittest.TestCase):
    def test_icons(self):
        opaque = {16: [], 32: []}
        for name in ["icon%d.ico" % n for n in range(4)] + ["iconmute.ico"]:
            images = load_ico(read(name))
            self.assertEqual(sorted(images), [16, 32])
            for size, alpha in images.items():
                self.assertEqual(alpha[0], 0, "corners should be clear")
                opaque[size].append(sum(1 for a in alpha if a))
        for size, counts in opaque.items():
            levels, muted = counts[:4], counts[4]
            self.assertEqual(levels, sorted(set(levels)), "icons should gain a wave per level (%d px)" % size)
            # The muted picture is the bare speaker and more (its x): never one of the others.
            self.assertGreater(muted, levels[0])
            self.assertNotIn(muted, levels)

    def test_knob_gif(self):
        w, h, palette, transparent, idx = load_gif(read("controlknob.gif"))
        self.assertEqual((w, h), (15, 15))
        self.assertIsNotNone(transparent)
        for x, y in ((0, 0), (14, 0), (0, 14), (14, 14)):
            self.assertEqual(idx[y * w + x], transparent)
        self.assertNotEqual(idx[7 * w + 7], transparent)
        self.assertNotEqual(idx[7 * w + 1], transparent, "knob should fill its width")

    def test_lzw_round_trip(self):
        # long enough to pass every code width and to fill the table more than once
        seq = [(i * 7 + (i >> 5) * 13 + (i * i >> 9)) % 200 for i in range(60000)]
        self.assertEqual(lzw_decode(make_skin.lzw_encode(seq, 8), 8), seq)
        seq = [(i ^ (i >> 3)) & 3 for i in range(20000)]
        self.assertEqual(lzw_decode(make_skin.lzw_encode(seq, 2), 2), seq)
        self.assertEqual(lzw_decode(make_skin.lzw_encode([1], 2), 2), [1])

    def test_sound(self):
        data = read("sound.wav")
        riff, size, wave = struct.unpack_from("<4sI4s", data, 0)
        self.assertEqual((riff, wave, size), (b"RIFF", b"WAVE", len(data) - 8))
        fid, flen, fmt, channels, rate, byte_rate, align, bits = struct.unpack_from("<4sIHHIIHH", data, 12)
        self.assertEqual((fid, flen, fmt, channels, bits), (b"fmt ", 16, 1, 1, 16))
        self.assertIn(rate, (22050, 44100))
        self.assertEqual((byte_rate, align), (rate * 2, 2))
        did, dlen = struct.unpack_from("<4sI", data, 36)
        self.assertEqual((did, dlen), (b"data", len(data) - 44))
        samples = struct.unpack("<%dh" % (dlen // 2), data[44:])
        self.assertTrue(0.04 <= len(samples) / rate <= 0.08)
        peak = max(abs(s) for s in samples)
        self.assertGreater(peak, 1000)
        self.assertLess(peak, 0.6 * 32768)
        # fast attack from silence, then it dies away without a pop at either end
        loudest = max(range(len(samples)), key=lambda i: abs(samples[i]))
        self.assertLess(loudest / rate, 0.01)
        self.assertLess(abs(samples[0]), 50)
        self.assertLess(max(abs(s) for s in samples[-20:]), 50)
        head = max(abs(s) for s in samples[:len(samples) // 4])
        tail = max(abs(s) for s in samples[len(samples) // 2:])
        self.assertLess(tail, head / 4, "should decay")


class Generator(unittest.TestCase):
    def test_regenerates_the_committed_files(self):
        with tempfile.TemporaryDirectory() as out:
            stdout = sys.stdout
            sys.stdout = open(os.devnull, "w")
            try:
                make_skin.main(["make_skin.py", out])
            finally:
                sys.stdout.close()
                sys.stdout = stdout
            self.assertEqual(sorted(os.listdir(out)), sorted(FILES))
            for name in FILES:
                with open(os.path.join(out, name), "rb") as f:
                    self.assertTrue(f.read() == read(name), "%s differs from a fresh run" % name)


if __name__ == "__main__":
    unittest.main()
