#!/usr/bin/env python3
"""Regenerates the default skin.

    python3 skin/make_skin.py [OUTPUT_DIR]      (default: skin/default next to this file)
    python3 skin/make_skin.py --program-icon FILE   the executable's icon (16, 32, 48 px)
    python3 skin/make_skin.py --hicolor DIR     the same picture for the desktop's icon theme:
                                                DIR/NxN/apps/vexlo.png and scalable/apps/vexlo.svg

Everything is drawn from code with the standard library only, so the skin can be
rebuilt anywhere and the output is identical byte for byte on every run.

Layout the program relies on (window coordinates, origin top-left of back.bmp):
  * the level bar is drawn at (34, 168) from chunks.bmp, 9 px per chunk, 16 chunks;
  * overlay1.bmp and overlay2.bmp are centred on the same point as back.bmp, so they
    must have its size; overlay2 is cut to a width of 35 + 9 * lit_chunks;
  * the volume slider knob (15 x 15) sits at x = 8 in controlbg.bmp, its top edge moving
    between y = 11 (full) and y = 107 (zero).
Magenta (255, 0, 255) in a BMP is see-through and is used for nothing else.
"""

import math
import os
import struct
import sys
import zlib

MAGENTA = (255, 0, 255)

# OSD window
OSD_W, OSD_H = 212, 200          # 34 px margin either side of the bar
BAR_X, BAR_Y = 34, 168
CHUNK_W, CHUNK_COUNT = 9, 16
CHUNK_H = 12
BAR_W = CHUNK_W * CHUNK_COUNT    # 144
PANEL_RADIUS = 16

# Volume slider
CTRL_W, CTRL_H = 30, 134
KNOB = 15
KNOB_X = 8
KNOB_TOP_FULL, KNOB_TOP_ZERO = 11, 107

# Palette
TRACK = (13, 17, 23)             # bar track and the gap around every chunk
PANEL_TOP = (45, 53, 66)
PANEL_BOTTOM = (23, 28, 36)
BORDER_TOP = (92, 106, 124)
BORDER_BOTTOM = (50, 59, 72)
GLYPH_TOP = (246, 249, 252)
GLYPH_BOTTOM = (196, 207, 220)
DIM_GLYPH = (104, 117, 134)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

# Level colours from the quiet end to the loud end
RAMP = [(0.0, (34, 190, 230)), (0.55, (72, 220, 132)), (0.8, (190, 222, 80)), (1.0, (255, 168, 52))]


# ---------------------------------------------------------------- small maths

def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def ramp(t):
    for (t0, c0), (t1, c1) in zip(RAMP, RAMP[1:]):
        if t <= t1:
            return mix(c0, c1, clamp((t - t0) / (t1 - t0)))
    return RAMP[-1][1]


def chunk_colour(k):
    return ramp(k / (CHUNK_COUNT - 1))


def vgrad(top, bottom, y0, y1):
    """Colour function: vertical gradient from top (at y0) to bottom (at y1)."""
    return lambda x, y: mix(top, bottom, clamp((y - y0) / (y1 - y0)))


# ---------------------------------------------------------------- signed distances
# Each shape is a function (x, y) -> distance to its outline, negative inside.
# Pixel (i, j) is sampled at its centre (i + 0.5, j + 0.5).

def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return d


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_polygon(pts):
    n = len(pts)

    def d(x, y):
        best = (x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2
        sign = 1.0
        j = n - 1
        for i in range(n):
            (xi, yi), (xj, yj) = pts[i], pts[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
            bx, by = wx - ex * t, wy - ey * t
            best = min(best, bx * bx + by * by)
            c1, c2, c3 = y >= yi, y < yj, ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                sign = -sign
            j = i
        return sign * math.sqrt(best)
    return d


def sd_arc(cx, cy, r, half_angle, width):
    """Arc of radius r opening towards +x, stroked with round caps."""
    ex, ey, w = r * math.cos(half_angle), r * math.sin(half_angle), width / 2

    def d(x, y):
        px, py = x - cx, abs(y - cy)
        if math.atan2(py, px) <= half_angle:
            return abs(math.hypot(px, py) - r) - w
        return math.hypot(px - ex, py - ey) - w
    return d


def sd_union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def sd_offset(shape, amount):
    return lambda x, y: shape(x, y) - amount


def sd_translate(shape, dx, dy):
    return lambda x, y: shape(x - dx, y - dy)


def sd_ring(shape, inner, outer):
    """Band of the shape's distance field between inner and outer (e.g. -1..0 = inner 1 px edge)."""
    mid, half = (inner + outer) / 2, (outer - inner) / 2
    return lambda x, y: abs(shape(x, y) - mid) - half


# ---------------------------------------------------------------- raster

class Image:
    """RGB float pixels, optionally with coverage (alpha) for layers drawn over something else."""

    def __init__(self, w, h, fill=(0, 0, 0), alpha=None):
        self.w, self.h = w, h
        self.rgb = [[list(fill) for _ in range(w)] for _ in range(h)]
        self.a = None if alpha is None else [[alpha] * w for _ in range(h)]

    def copy(self):
        out = Image(self.w, self.h)
        out.rgb = [[list(p) for p in row] for row in self.rgb]
        out.a = None if self.a is None else [list(row) for row in self.a]
        return out

    def paint(self, shape, colour, opacity=1.0, box=None, soft=1.0):
        """Fill a shape, anti-aliased over `soft` pixels. colour/opacity may be functions of (x, y)."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        for j in range(y0, y1):
            row = self.rgb[j]
            arow = None if self.a is None else self.a[j]
            for i in range(x0, x1):
                x, y = i + 0.5, j + 0.5
                k = clamp(0.5 - shape(x, y) / soft)
                if k <= 0.0:
                    continue
                k *= opacity(x, y) if callable(opacity) else opacity
                if k <= 0.0:
                    continue
                c = colour(x, y) if callable(colour) else colour
                p = row[i]
                if arow is None:
                    for n in range(3):
                        p[n] += (c[n] - p[n]) * k
                else:
                    da = arow[i]
                    oa = k + da * (1 - k)
                    if oa > 0:
                        for n in range(3):
                            p[n] = (c[n] * k + p[n] * da * (1 - k)) / oa
                    arow[i] = oa

    def glow(self, shape, colour, strength, radius, box=None):
        """Soft halo falling off over `radius` px outside the shape."""
        def opacity(x, y):
            d = shape(x, y)
            return strength if d <= 0 else strength * (1 - clamp(d / radius)) ** 2
        self.paint(lambda x, y: -1.0, colour, opacity, box)

    def over(self, base):
        """This layer flattened onto an opaque base image of the same size."""
        out = base.copy()
        for j in range(self.h):
            for i in range(self.w):
                a = self.a[j][i]
                p, q = out.rgb[j][i], self.rgb[j][i]
                for n in range(3):
                    p[n] += (q[n] - p[n]) * a
        return out

    def pixel(self, i, j):
        return tuple(int(clamp(v, 0, 255) + 0.5) for v in self.rgb[j][i])


def keyed(img, visible):
    """Byte pixels of img, magenta wherever visible(i, j) is false."""
    rows = []
    for j in range(img.h):
        row = []
        for i in range(img.w):
            if visible(i, j):
                p = img.pixel(i, j)
                if near_magenta(p):
                    raise ValueError("opaque pixel %r at %d,%d would read as see-through" % (p, i, j))
                row.append(p)
            else:
                row.append(MAGENTA)
        rows.append(row)
    return rows


def near_magenta(p):
    r, g, b = p
    return r > 200 and b > 200 and g < 80


# ---------------------------------------------------------------- encoders

def bmp24(rows):
    """Bottom-up 24-bit BMP with a BITMAPINFOHEADER; rows padded to 4 bytes."""
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        for r, g, b in row:
            data += bytes((b, g, r))
        data += bytes(stride - w * 3)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def ico(images):
    """ICO file from (size, rows of (r, g, b, a)) pairs: 32-bit BGRA DIB entries plus AND mask."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, rows in images:
        pixels = bytearray()
        mask = bytearray()
        mask_stride = ((size + 31) // 32) * 4
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for i, (r, g, b, a) in enumerate(row):
                pixels += bytes((b, g, r, a))
                if a == 0:
                    bits[i >> 3] |= 0x80 >> (i & 7)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                           len(pixels) + len(mask), 0, 0, 0, 0)
        blob = info + bytes(pixels) + bytes(mask)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def lzw_encode(indices, min_size):
    """GIF flavour of LZW: variable code width up to 12 bits, LSB-first packing."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_size + 1
    table, next_code = {}, end + 1
    emit(clear, width)
    prefix = indices[0]
    for k in indices[1:]:
        key = (prefix, k)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            # The decoder learns each entry one code later, so it widens when it is about
            # to read a code that may be 1 << width; here that is one step further on.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = {}, end + 1, min_size + 1
        prefix = k
    emit(prefix, width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(rows, transparent):
    """GIF89a with one frame, a global palette and a transparent colour index.

    rows hold (r, g, b) tuples or None for transparent pixels."""
    palette = [transparent]
    index = {}
    pixels = []
    for row in rows:
        for p in row:
            if p is None:
                pixels.append(0)
                continue
            if p not in index:
                index[p] = len(palette)
                palette.append(p)
            pixels.append(index[p])
    if len(palette) > 256:
        raise ValueError("too many colours for a GIF palette")
    bits = max(1, (len(palette) - 1).bit_length())
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    h, w = len(rows), len(rows[0])
    min_size = max(2, bits)
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", w, h, 0x80 | 0x70 | (bits - 1), 0, 0)
    for c in palette:
        out += bytes(c)
    out += bytes((0x21, 0xF9, 4, 0x01, 0, 0, 0, 0))       # graphic control: transparent index 0
    out += struct.pack("<BHHHHB", 0x2C, 0, 0, w, h, 0)
    out.append(min_size)
    data = lzw_encode(pixels, min_size)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


def wav16(samples, rate):
    data = b"".join(struct.pack("<h", s) for s in samples)
    return (struct.pack("<4sI4s", b"RIFF", 36 + len(data), b"WAVE")
            + struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, rate, rate * 2, 2, 16)
            + struct.pack("<4sI", b"data", len(data)) + data)


# ---------------------------------------------------------------- drawing pieces

def speaker(x, y, s):
    """Speaker body and cone; (x, y) is the middle of the cone's mouth, s the cone height."""
    body = sd_round_rect(x - 0.50 * s, y - 0.20 * s, x - 0.22 * s, y + 0.20 * s, 0.05 * s)
    cone = sd_polygon([(x - 0.26 * s, y - 0.20 * s), (x, y - 0.50 * s),
                       (x, y + 0.50 * s), (x - 0.26 * s, y + 0.20 * s)])
    return sd_union(body, cone)


def waves(x, y, s, count, width):
    """Up to three sound waves in front of a speaker drawn by speaker(x, y, s)."""
    radii = (0.30 * s, 0.58 * s, 0.86 * s)
    return [sd_arc(x, y, radii[n], math.radians(48), width) for n in range(count)]


def cross(cx, cy, half, width):
    """An x of two strokes, as drawn beside a speaker that is muted."""
    def stroke(x0, y0, x1, y1):
        dx, dy = x1 - x0, y1 - y0
        n = math.hypot(dx, dy)
        ox, oy = -dy / n * width / 2, dx / n * width / 2
        return sd_polygon([(x0 + ox, y0 + oy), (x1 + ox, y1 + oy), (x1 - ox, y1 - oy), (x0 - ox, y0 - oy)])
    return sd_union(stroke(cx - half, cy - half, cx + half, cy + half),
                    stroke(cx - half, cy + half, cx + half, cy - half))


def slate_panel(w, h, radius):
    """Opaque dark panel with a light rim; returns the image and its outline distance."""
    img = Image(w, h, PANEL_BOTTOM)
    outline = sd_round_rect(0, 0, w, h, radius)
    img.paint(lambda x, y: -1.0, vgrad(PANEL_TOP, PANEL_BOTTOM, 0, h))
    # soft sheen towards the top
    img.paint(lambda x, y: -1.0, WHITE, lambda x, y: 0.05 * (1 - clamp(y / (0.6 * h))) ** 2)
    # rim: a lighter outer line and a faint dark line just inside it
    img.paint(sd_ring(outline, -1.0, 0.0), vgrad(BORDER_TOP, BORDER_BOTTOM, 0, h))
    img.paint(sd_ring(outline, -2.0, -1.0), (8, 10, 14), 0.35)
    return img, outline


def inside(shape):
    return lambda i, j: shape(i + 0.5, j + 0.5) <= 0


# ---------------------------------------------------------------- the skin

SPEAKER_X, SPEAKER_Y, SPEAKER_S = 94, 80, 58    # cone mouth position and height of the big glyph
PIP_Y0, PIP_Y1 = 159, 162                        # level marks above the bar


def cell_x(k):
    """Left edge of chunk k in window coordinates."""
    return BAR_X + CHUNK_W * k


def segment(x0, y0):
    """The lit segment of a chunk: 7 x 10 px with a 1 px gap all round inside its 9 x 12 cell."""
    return sd_round_rect(x0 + 1, y0 + 1, x0 + CHUNK_W - 1, y0 + CHUNK_H - 1, 2.0)


def segment_colour(base, y0):
    def colour(x, y):
        t = clamp((y - y0 - 1) / (CHUNK_H - 2))
        c = mix(base, WHITE, 0.38 * (1 - t) ** 3)      # highlight along the top
        return mix(c, BLACK, 0.22 * t * t)              # deeper towards the bottom
    return colour


def make_back():
    img, outline = slate_panel(OSD_W, OSD_H, PANEL_RADIUS)

    # soft halo behind the speaker glyph
    cx, cy = OSD_W / 2, SPEAKER_Y
    img.glow(sd_circle(cx, cy, 16), (40, 190, 220), 0.10, 62, box=(cx - 80, cy - 80, cx + 80, cy + 80))
    img.paint(sd_ring(sd_circle(cx, cy, 60), -0.6, 0.6), WHITE, 0.05, box=(cx - 64, cy - 64, cx + 64, cy + 64))

    # recessed track: dark inside shadow above, light lip below
    tx0, ty0, tx1, ty1 = BAR_X, BAR_Y, BAR_X + BAR_W, BAR_Y + CHUNK_H
    well = sd_round_rect(tx0 - 2, ty0 - 2, tx1 + 2, ty1 + 2, 3.5)
    box = (tx0 - 4, ty0 - 4, tx1 + 4, ty1 + 4)
    img.paint(sd_translate(well, 0, 1), (120, 136, 156), 0.30, box=box)
    img.paint(well, vgrad((6, 8, 11), (24, 29, 37), ty0 - 2, ty1 + 2), box=box)
    for j in range(ty0, ty1):
        for i in range(tx0, tx1):
            img.rgb[j][i] = list(TRACK)

    # unlit chunk slots, faintly tinted with the colour they light up in
    for k in range(CHUNK_COUNT):
        x0 = cell_x(k)
        base = mix(TRACK, chunk_colour(k), 0.17)
        img.paint(segment(x0, ty0), segment_colour(base, ty0), box=(x0, ty0, x0 + CHUNK_W, ty1))

    # unlit level marks
    for k in range(CHUNK_COUNT):
        x0 = cell_x(k)
        img.paint(sd_round_rect(x0 + 2, PIP_Y0, x0 + 7, PIP_Y1, 1.5),
                  mix(PANEL_BOTTOM, chunk_colour(k), 0.22), box=(x0, PIP_Y0 - 1, x0 + CHUNK_W, PIP_Y1 + 1))

    # small quiet / loud speakers at the ends of the bar
    mid = ty0 + CHUNK_H / 2
    quiet = speaker(21.5, mid, 12)
    img.paint(quiet, DIM_GLYPH, box=(8, mid - 8, 30, mid + 8))
    loud = sd_union(speaker(193.5, mid, 12), *waves(193.5, mid, 12, 2, 1.6))
    img.paint(loud, DIM_GLYPH, box=(180, mid - 10, 206, mid + 10))

    return img, outline


def make_overlay1():
    """The big speaker glyph and a glass highlight on the panel's top edge."""
    layer = Image(OSD_W, OSD_H, (0, 0, 0), alpha=0.0)
    x, y, s = SPEAKER_X, SPEAKER_Y, SPEAKER_S
    glyph = sd_union(speaker(x, y, s), *waves(x, y, s, 3, 5.6))
    box = (x - s, y - s * 0.75, x + s, y + s * 0.8)
    layer.paint(sd_translate(glyph, 0, 2.0), (4, 6, 10), 0.45, box=box, soft=3.0)   # drop shadow
    layer.paint(glyph, vgrad(GLYPH_TOP, GLYPH_BOTTOM, y - s / 2, y + s / 2), box=box)

    # highlight along the inside of the top edge, strongest in the middle
    outline = sd_round_rect(0, 0, OSD_W, OSD_H, PANEL_RADIUS)

    def fade(px, py):
        return 0.55 * clamp(1 - abs(px - OSD_W / 2) / (OSD_W * 0.46)) * clamp(1 - (py - 1) / 10)
    layer.paint(sd_ring(outline, -2.0, -1.0), (190, 214, 236), fade, box=(0, 0, OSD_W, 12))
    return layer


def make_overlay2():
    """Level marks above the bar, one per chunk, in the chunk's colour.

    The window showing this is cut to 35 + 9 * lit chunks, so each mark is kept inside
    its own chunk's columns (35 + 9k .. 43 + 9k) and appears together with that chunk."""
    layer = Image(OSD_W, OSD_H, (0, 0, 0), alpha=0.0)
    for k in range(CHUNK_COUNT):
        x0 = cell_x(k)
        c = chunk_colour(k)
        pip = sd_round_rect(x0 + 2, PIP_Y0, x0 + 7, PIP_Y1, 1.5)
        box = (x0 + 1, PIP_Y0 - 3, x0 + CHUNK_W, PIP_Y1 + 3)
        layer.glow(pip, c, 0.30, 2.5, box=box)
        layer.paint(pip, lambda px, py, c=c: mix(c, WHITE, 0.45 * clamp((PIP_Y1 - py) / 3)), box=box)
    return layer


def make_chunks():
    img = Image(BAR_W, CHUNK_H, TRACK)
    for k in range(CHUNK_COUNT):
        x0 = CHUNK_W * k
        img.paint(segment(x0, 0), segment_colour(chunk_colour(k), 0), box=(x0, 0, x0 + CHUNK_W, CHUNK_H))
    return img


def make_icon(level, size, muted=False):
    """Tray/window icon rows of (r, g, b, a): a speaker with `level` waves (0..3), or muted:
    a speaker with an x in front of it.

    32 px is drawn smooth; 16 px is drawn on the pixel grid with a hard 1 px outline,
    which reads far better at tray size than a blurred scale-down."""
    if size >= 32:
        k = size / 32  # larger sizes are the 32 px drawing scaled up
        img = Image(size, size, (0, 0, 0), alpha=0.0)
        x, y, s = 12.0 * k, 16.0 * k, 22.0 * k
        shape = sd_union(speaker(x, y, s),
                         *[sd_arc(x, y, r * k, math.radians(50), 2.2 * k) for r in (5.0, 11.0, 17.0)[:level]])
        if muted:
            shape = sd_union(speaker(x, y, s), cross(23.5 * k, 16.0 * k, 4.5 * k, 2.6 * k))
        img.paint(sd_offset(shape, 1.1 * k), (16, 20, 26), 0.7)
        img.paint(shape, vgrad((255, 255, 255), (214, 222, 232), y - s / 2, y + s / 2))
        return [[img.pixel(i, j) + (int(clamp(img.a[j][i]) * 255 + 0.5),) if img.a[j][i] > 0.002
                 else (0, 0, 0, 0) for i in range(size)] for j in range(size)]

    x, y = 5.0, 8.0
    shape = sd_union(sd_round_rect(1, 6, 4, 10, 0),
                     sd_polygon([(3.4, 6), (6, 3.4), (6, 12.6), (3.4, 10)]),
                     *[sd_arc(x, y, r, math.radians(55), 1.2) for r in (3.5, 6.0, 8.5)[:level]])
    if muted:
        shape = sd_union(sd_round_rect(1, 6, 4, 10, 0),
                         sd_polygon([(3.4, 6), (6, 3.4), (6, 12.6), (3.4, 10)]),
                         cross(12.0, 8.0, 2.5, 1.1))
    lit = [[shape(i + 0.5, j + 0.5) <= 0 for i in range(size)] for j in range(size)]
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            if lit[j][i]:
                g = int(255 - 36 * j / (size - 1) + 0.5)
                row.append((g, min(255, g + 3), min(255, g + 8), 255))
            elif any(lit[v][u] for v in range(max(0, j - 1), min(size, j + 2))
                     for u in range(max(0, i - 1), min(size, i + 2))):
                row.append((16, 20, 26, 190))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def make_controlbg():
    # The slider window has no colour key: its picture is opaque to the last pixel, so the
    # panel is square-cornered.
    img, outline = slate_panel(CTRL_W, CTRL_H, 0)
    cx = KNOB_X + KNOB / 2                      # 15.5: the knob's centre line
    y0, y1 = KNOB_TOP_FULL, KNOB_TOP_ZERO + KNOB
    groove = sd_round_rect(cx - 2.5, y0, cx + 2.5, y1, 2.5)
    box = (cx - 6, y0 - 3, cx + 6, y1 + 3)
    img.paint(sd_translate(groove, 0, 1), (120, 136, 156), 0.30, box=box)
    img.paint(groove, vgrad((6, 8, 11), (20, 25, 32), y0, y1), box=box)
    # faint level colour along the bottom of the groove, loud end at the top
    line = sd_round_rect(cx - 0.5, y0 + 3, cx + 0.5, y1 - 3, 0.5)
    img.paint(line, lambda x, y: ramp(1 - (y - y0) / (y1 - y0)), 0.45, box=box)
    # ticks at full, 3/4, 1/2, 1/4 and zero, level with the knob's centre
    for n in range(5):
        ty = KNOB_TOP_FULL + KNOB // 2 + (KNOB_TOP_ZERO - KNOB_TOP_FULL) * n / 4 + 0.5
        long_tick = n in (0, 2, 4)
        for xa, xb in ((3 if long_tick else 4, 6.5), (24.5, 27 if long_tick else 26)):
            img.paint(sd_round_rect(xa, ty - 0.5, xb, ty + 0.5, 0.5), DIM_GLYPH, 0.8,
                      box=(xa - 1, ty - 2, xb + 1, ty + 2))
    return img, outline


def make_knob():
    c = KNOB / 2
    img = Image(KNOB, KNOB, (0, 0, 0), alpha=0.0)
    disc = sd_circle(c, c, 7.0)
    img.paint(disc, (58, 66, 78))                                         # dark rim
    face = sd_circle(c, c, 6.0)

    def metal(x, y):
        d = math.hypot(x - (c - 2.2), y - (c - 2.6))                     # light from upper left
        return mix((246, 248, 251), (150, 160, 174), clamp(d / 9.5))
    img.paint(face, metal)
    img.paint(sd_circle(c, c, 1.6), (40, 180, 215), 0.9)                 # accent dot
    # flatten soft edges onto the slider's panel colour; drop what is barely there
    under = mix(PANEL_TOP, PANEL_BOTTOM, 0.5)
    rows = []
    for j in range(KNOB):
        row = []
        for i in range(KNOB):
            a = img.a[j][i]
            if a < 0.25:
                row.append(None)
            else:
                p = mix(under, img.rgb[j][i], a)
                row.append(tuple(int(clamp(v, 0, 255) + 0.5) for v in p))
        rows.append(row)
    return rows


def make_click(rate=44100, ms=60):
    """A soft, short tick: three damped partials with a quick attack, peak at half scale."""
    n = rate * ms // 1000
    raw = []
    for i in range(n):
        t = i / rate
        attack = 1 - math.exp(-t / 0.00025)
        tone = (math.sin(2 * math.pi * 1750 * t) * math.exp(-t / 0.009)
                + 0.55 * math.sin(2 * math.pi * 880 * t + 0.6) * math.exp(-t / 0.016)
                + 0.25 * math.sin(2 * math.pi * 3600 * t) * math.exp(-t / 0.003))
        tail = clamp((n - 1 - i) / (rate * 0.004))                        # last 4 ms fade to silence
        raw.append(attack * tone * tail)
    peak = max(abs(v) for v in raw)
    return [int(round(v / peak * 0.5 * 32767)) for v in raw]


def build():
    """All skin files as {name: bytes}."""
    files = {}
    back, outline = make_back()
    panel = inside(outline)
    files["back.bmp"] = bmp24(keyed(back, panel))
    files["chunks.bmp"] = bmp24(keyed(make_chunks(), lambda i, j: True))

    over1 = make_overlay1()
    flat1 = over1.over(back)
    files["overlay1.bmp"] = bmp24(keyed(flat1, lambda i, j: panel(i, j) and over1.a[j][i] >= 0.04))

    over2 = make_overlay2()
    flat2 = over2.over(back)
    files["overlay2.bmp"] = bmp24(keyed(flat2, lambda i, j: panel(i, j) and over2.a[j][i] >= 0.04))

    for level in range(4):
        files["icon%d.ico" % level] = ico([(16, make_icon(level, 16)), (32, make_icon(level, 32))])
    files["iconmute.ico"] = ico([(16, make_icon(0, 16, True)), (32, make_icon(0, 32, True))])

    ctrl, _ = make_controlbg()
    files["controlbg.bmp"] = bmp24(keyed(ctrl, lambda i, j: True))
    files["controlknob.gif"] = gif(make_knob(), (0, 0, 0))
    files["sound.wav"] = wav16(make_click(), 44100)
    return files


def program_icon():
    """The executable's own icon: the full-level tray picture at the sizes Explorer shows."""
    return ico([(size, make_icon(3, size)) for size in (16, 32, 48)])


def png(rows):
    """Rows of (r, g, b, a) as a PNG file (8-bit RGBA, no filtering)."""
    h, w = len(rows), len(rows[0])

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_svg():
    """The 32 px drawing of make_icon(3, 32) as SVG: the same shapes, shadow and gradient."""
    x, y, s = 12.0, 16.0, 22.0
    f = lambda v: ("%.3f" % v).rstrip("0").rstrip(".")
    body = 'x="%s" y="%s" width="%s" height="%s" rx="%s"' % (
        f(x - 0.50 * s), f(y - 0.20 * s), f(0.28 * s), f(0.40 * s), f(0.05 * s))
    cone = "M%s,%s L%s,%s L%s,%s L%s,%s Z" % (
        f(x - 0.26 * s), f(y - 0.20 * s), f(x), f(y - 0.50 * s),
        f(x), f(y + 0.50 * s), f(x - 0.26 * s), f(y + 0.20 * s))
    a = math.radians(50)
    arcs = " ".join("M%s,%s A%s,%s 0 0 1 %s,%s" % (
        f(x + r * math.cos(a)), f(y - r * math.sin(a)), f(r), f(r),
        f(x + r * math.cos(a)), f(y + r * math.sin(a))) for r in (5.0, 11.0, 17.0))

    def layer(paint, grow):
        # grown by `grow` on every side: a stroke of twice that width around the filled shapes
        edge = ' stroke="%s" stroke-width="%s" stroke-linejoin="round"' % (paint, f(2 * grow)) if grow else ""
        out = ['<rect %s fill="%s"%s/>' % (body, paint, edge),
               '<path d="%s" fill="%s"%s/>' % (cone, paint, edge),
               '<path d="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="round"/>'
               % (arcs, paint, f(2.2 + 2 * grow))]
        return "\n    ".join(out)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
            '  <defs>\n'
            '    <linearGradient id="face" gradientUnits="userSpaceOnUse" x1="0" y1="%s" x2="0" y2="%s">\n'
            '      <stop offset="0" stop-color="#ffffff"/>\n'
            '      <stop offset="1" stop-color="#d6dee8"/>\n'
            '    </linearGradient>\n'
            '  </defs>\n'
            '  <g opacity="0.7">\n    %s\n  </g>\n'
            '  <g>\n    %s\n  </g>\n'
            '</svg>\n') % (f(y - s / 2), f(y + s / 2), layer("#10141a", 1.1), layer("url(#face)", 0))


HICOLOR_SIZES = (16, 32, 48, 64, 128, 256)


def main(argv):
    if len(argv) == 3 and argv[1] == "--program-icon":
        with open(argv[2], "wb") as f:
            f.write(program_icon())
        return
    if len(argv) == 3 and argv[1] == "--hicolor":
        for size in HICOLOR_SIZES:
            folder = os.path.join(argv[2], "%dx%d" % (size, size), "apps")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "vexlo.png"), "wb") as f:
                f.write(png(make_icon(3, size)))
        folder = os.path.join(argv[2], "scalable", "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "vexlo.svg"), "w") as f:
            f.write(icon_svg())
        return
    out = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "default")
    os.makedirs(out, exist_ok=True)
    for name, data in sorted(build().items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print("%-16s %7d bytes" % (name, len(data)))


if __name__ == "__main__":
    main(sys.argv)
