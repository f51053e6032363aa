#!/usr/bin/env python3
"""Draws the installer's artwork and the product icon.

    python3 res/make_artwork.py [OUT_DIR]      (default: the folder of this script)

Writes artwork.jpg (350 x 524: twice the size of the picture in the main
window, which scales it down at 96 DPI and shows it 1:1 at 192 DPI) and
tidewell.ico (16, 24, 32, 48, 64 and 256 pixels). The pictures are drawn
here as PPM files and turned into JPEG and ICO by ImageMagick's convert,
which also sets the product name in the artwork. The files in res/ were made
with this script; run it again after changing it and commit the results.
"""
import math
import os
import subprocess
import sys
import tempfile


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def hexcol(s):
    return tuple(int(s[i:i + 2], 16) for i in (1, 3, 5))


def cover(d):
    """Coverage of a pixel by a shape whose signed distance is d (pixels)."""
    return clamp(0.5 - d)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0), max(qy, 0))
    return outside + min(max(qx, qy), 0) - r


def write_ppm(path, w, h, pixels):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(bytes(int(clamp(c / 255.0) * 255 + 0.5) for p in pixels for c in p))


# Colours of the product: night water, teal, a pale moon, coral for the
# calendar's header.
NAVY = hexcol("#0b2545")
DEEP = hexcol("#134074")
TEAL = hexcol("#13806f")
FOAM = hexcol("#e8f6f3")
MOON = hexcol("#f6dd9c")
CORAL = hexcol("#e76f51")
PAPER = hexcol("#fbfbf8")
GRID = hexcol("#d9dde3")


def wave_y(x, base, amp, length, phase):
    return base + amp * math.sin(2 * math.pi * x / length + phase) + amp * 0.35 * math.sin(
        2 * math.pi * x / (length * 0.47) + phase * 1.7)


def artwork(w=350, h=524):
    # Deterministic stars.
    stars = []
    seed = 12345
    for _ in range(46):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        sx = seed % w
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        sy = seed % 230
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        stars.append((sx, sy, 0.6 + (seed % 100) / 120.0))
    moon = (258, 96, 44)
    card = (58, 168, 236, 338)  # the calendar page
    waves = [  # base, amplitude, wave length, phase, colour
        (352, 7, 170, 0.3, hexcol("#1d6f8a")),
        (384, 9, 210, 1.9, hexcol("#15607a")),
        (420, 8, 150, 3.1, hexcol("#104d68")),
        (458, 10, 230, 4.4, hexcol("#0c3b55")),
    ]
    pix = []
    for y in range(h):
        for x in range(w):
            t = y / (h - 1)
            col = mix(NAVY, DEEP, clamp(t / 0.55)) if t < 0.55 else mix(DEEP, TEAL, clamp((t - 0.55) / 0.45))
            # Moon glow and disc.
            dm = math.hypot(x - moon[0], y - moon[1])
            col = mix(col, MOON, 0.28 * math.exp(-max(dm - moon[2], 0) / 26.0))
            col = mix(col, MOON, cover(dm - moon[2]))
            # A crescent shadow on the moon.
            ds = math.hypot(x - moon[0] - 17, y - moon[1] + 9) - moon[2] * 0.82
            col = mix(col, mix(MOON, DEEP, 0.18), cover(ds) * cover(dm - moon[2]))
            for sx, sy, b in stars:
                d = math.hypot(x - sx, y - sy)
                if d < 2.2:
                    col = mix(col, FOAM, clamp(b * (1.3 - d / 1.6)))
            # Calendar page with a shadow, header, rings and a grid of days.
            x0, y0, x1, y1 = card
            col = mix(col, NAVY, 0.45 * cover(rounded_rect(x, y, x0 + 5, y0 + 7, x1 + 5, y1 + 7, 12) / 4.0))
            c = cover(rounded_rect(x, y, x0, y0, x1, y1, 12))
            if c > 0:
                inner = PAPER
                if y < y0 + 40:
                    inner = CORAL
                gx, gy = x - (x0 + 16), y - (y0 + 56)
                if 0 <= gx < 7 * 22 and 0 <= gy < 5 * 22:
                    i, j = int(gx // 22), int(gy // 22)
                    cell = rounded_rect(gx - i * 22, gy - j * 22, 1, 1, 19, 19, 3)
                    shade = TEAL if (i, j) == (3, 2) else GRID
                    inner = mix(inner, shade, cover(cell))
                col = mix(col, inner, c)
                for rx in (x0 + 45, x1 - 45):
                    dr = math.hypot(x - rx, y - (y0 + 2))
                    col = mix(col, hexcol("#5a5f66"), cover(abs(dr - 6) - 1.6) * (1 if y > y0 - 8 else 0))
            # Waves in front, each with a crest of foam.
            for base, amp, length, phase, wc in waves:
                wy = wave_y(x, base, amp, length, phase)
                col = mix(col, wc, clamp(y - wy + 0.5))
                col = mix(col, FOAM, 0.75 * cover(abs(y - wy) - 1.1))
            pix.append(col)
    return w, h, pix


def icon(s=256):
    pix = []
    k = s / 256.0
    for y in range(s):
        for x in range(s):
            col = (0, 0, 0)
            a = 0.0
            bg = rounded_rect(x, y, 8 * k, 8 * k, 248 * k, 248 * k, 44 * k)
            cb = cover(bg)
            if cb > 0:
                t = y / s
                col = mix(DEEP, TEAL, t)
                a = cb
                # The calendar page.
                page = rounded_rect(x, y, 52 * k, 46 * k, 204 * k, 176 * k, 16 * k)
                inner = CORAL if y < 86 * k else PAPER
                gx, gy = (x - 72 * k) / k, (y - 104 * k) / k
                if 0 <= gx < 4 * 30 and 0 <= gy < 2 * 30:
                    i, j = int(gx // 30), int(gy // 30)
                    cell = rounded_rect(gx - i * 30, gy - j * 30, 2, 2, 24, 24, 4) * k
                    inner = mix(inner, TEAL if (i, j) == (2, 1) else GRID, cover(cell))
                col = mix(col, inner, cover(page))
                # Two waves across the lower part.
                for base, amp, wc in ((182, 10, hexcol("#1d6f8a")), (212, 9, hexcol("#0c3b55"))):
                    wy = (base + amp * math.sin(2 * math.pi * (x / k) / 120 + base)) * k
                    col = mix(col, wc, clamp(y - wy + 0.5))
                    col = mix(col, FOAM, 0.9 * cover(abs(y - wy) - 3.5 * k))
            pix.append((col, a))
    return s, pix


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else here
    with tempfile.TemporaryDirectory() as tmp:
        w, h, pix = artwork()
        ppm = os.path.join(tmp, "artwork.ppm")
        write_ppm(ppm, w, h, pix)
        subprocess.run(["convert", ppm, "-font", "DejaVu-Sans-Bold", "-pointsize", "38", "-fill", "#fbfbf8",
                        "-gravity", "south", "-annotate", "+0+22", "Tidewell", "-strip", "-quality", "92",
                        "-sampling-factor", "4:4:4", os.path.join(out, "artwork.jpg")], check=True)
        s, ipix = icon()
        rgb = os.path.join(tmp, "icon.ppm")
        alpha = os.path.join(tmp, "alpha.pgm")
        write_ppm(rgb, s, s, [p[0] for p in ipix])
        with open(alpha, "wb") as f:
            f.write(b"P5\n%d %d\n255\n" % (s, s))
            f.write(bytes(int(a * 255 + 0.5) for _, a in ipix))
        png = os.path.join(tmp, "icon.png")
        subprocess.run(["convert", rgb, alpha, "-alpha", "off", "-compose", "copy-opacity", "-composite", png],
                       check=True)
        sizes = [16, 24, 32, 48, 64, 256]
        parts = []
        for n in sizes:
            p = os.path.join(tmp, "icon%d.png" % n)
            subprocess.run(["convert", png, "-filter", "Lanczos", "-resize", "%dx%d" % (n, n), p], check=True)
            parts.append(p)
        subprocess.run(["convert"] + parts + [os.path.join(out, "tidewell.ico")], check=True)


if __name__ == "__main__":
    main()
