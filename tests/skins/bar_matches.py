#!/usr/bin/env python3
"""Checks the level bar in a screenshot of the display against the skin.

    bar_matches.py SHOT X Y CHUNKS SKIN_DIR [UNDER_SHOT]

X, Y: the background window's top-left corner in the screenshot; CHUNKS: the lit chunks. What
each pixel of the bar's area must show is worked out from the skin's pictures as the windows
stack them, the colour key cutting holes: the second overlay (its left 35 + 9 * CHUNKS
pixels), the first overlay, the bar (the left 9 * CHUNKS pixels of chunks.bmp), the
background. Without UNDER_SHOT the windows are taken as drawn opaque (no compositor), and
pixels where every layer is see-through show the desktop and are not compared. UNDER_SHOT, a
screenshot of the same place before the display appeared, is what a compositor blends the
half-transparent background window (opacity 125 of 255) with; the overlays stay opaque, and
rounding may differ by a few steps. Exit 0 when all match; otherwise the mismatches are
described.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
from make_variants import read_bmp  # noqa: E402

KEY = (255, 0, 255)
BAR_X, BAR_Y, CHUNK_W, CHUNKS = 34, 168, 9, 16


ALPHA = 125
TOLERANCE = 3


def crop(shot, x, y, w, h):
    return subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                           "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE).stdout


def main(shot, x, y, lit, skin, under_shot=None):
    back = read_bmp(os.path.join(skin, "back.bmp"))
    chunks = read_bmp(os.path.join(skin, "chunks.bmp"))
    over1 = read_bmp(os.path.join(skin, "overlay1.bmp"))
    over2 = read_bmp(os.path.join(skin, "overlay2.bmp"))
    w, h = CHUNK_W * CHUNKS, len(chunks)
    raw = crop(shot, x + BAR_X, y + BAR_Y, w, h)
    under = crop(under_shot, x + BAR_X, y + BAR_Y, w, h) if under_shot else None
    bad, compared = [], 0
    for r in range(h):
        for c in range(w):
            wx, wy = BAR_X + c, BAR_Y + r
            i = 3 * (r * w + c)
            layers = []  # (pixel, drawn by the half-transparent window)
            if wx < 35 + CHUNK_W * lit:
                layers.append((over2[wy][wx], False))
            layers.append((over1[wy][wx], False))
            if c < CHUNK_W * lit:
                layers.append((chunks[r][c], True))
            layers.append((back[wy][wx], True))
            want, blended = next((p for p in layers if p[0] != KEY), (None, False))
            if want is None:
                if under is None:
                    continue
                want = tuple(under[i:i + 3])
            elif blended and under is not None:
                below = under[i:i + 3]
                want = tuple((s * ALPHA + d * (255 - ALPHA)) // 255 for s, d in zip(want, below))
            compared += 1
            got = tuple(raw[i:i + 3])
            tolerance = TOLERANCE if under is not None else 0
            if any(abs(a - b) > tolerance for a, b in zip(got, want)):
                bad.append((c, r, got, want))
    if compared == 0 or bad:
        print("%d of %d pixels differ; first: %s" % (len(bad), compared, bad[:3]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]),
                  sys.argv[5], sys.argv[6] if len(sys.argv) > 6 else None))
