#!/usr/bin/env python3
"""Draws the header-band pictures as 24-bit Windows bitmaps (standard library only).

    make_banner.py default OUT.bmp            the built-in banner (bitmap resource 130)
    make_banner.py product OUT.bmp            a product banner for the demo and the tests
    make_banner.py default OUT.bmp --size 200x57

The picture fades in from white on its left, so that it sits on the band's
white background without a seam next to the title text. Every pixel is
averaged over a 4 x 4 grid of samples: smooth edges without any library.
"""
import argparse
import math
import struct
import sys

SAMPLES = 4


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smoothstep(e0, e1, x):
    t = min(max((x - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


def hexcolour(h):
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


STYLES = {
    # The update client itself: a calm tide under a rising badge with an arrow.
    "default": {
        "sky": ("ffffff", "e6f1fa"),
        "waves": [("bfe0ef", 0.55), ("6fb7d6", 0.70), ("2c86b8", 0.85)],
        "badge": ("2a7fc1", "1c9aa8"),
        "emblem": "arrow",
    },
    # A stand-in product: warm evening colours and a prism.
    "product": {
        "sky": ("ffffff", "fdf0e4"),
        "waves": [("f7d3b0", 0.55), ("ee9a6a", 0.70), ("c4573f", 0.85)],
        "badge": ("8a3fa0", "d0584b"),
        "emblem": "prism",
    },
}


class Scene:
    def __init__(self, style, width, height):
        self.s = STYLES[style]
        self.w = width
        self.h = height
        self.sky = [hexcolour(c) for c in self.s["sky"]]
        self.waves = [(hexcolour(c), a) for c, a in self.s["waves"]]
        self.badge = [hexcolour(c) for c in self.s["badge"]]
        # The badge sits in the right third, a little above the middle.
        self.cx = width - height * 0.78
        self.cy = height * 0.40
        self.r = height * 0.27

    def wave_top(self, i, x):
        h = self.h
        base = h * (0.64 + 0.11 * i)
        amp = h * (0.075 - 0.018 * i)
        period = self.w * (0.58 + 0.17 * i)
        return base + amp * math.sin(2 * math.pi * x / period + 1.9 * i + 0.6)

    def emblem(self, x, y):
        """Coverage (0..1) of the white emblem inside the badge."""
        u = (x - self.cx) / self.r
        v = (y - self.cy) / self.r
        if self.s["emblem"] == "arrow":
            # An upward chevron over a short stem.
            d = min(seg_dist(u, v, -0.42, 0.08, 0.0, -0.40), seg_dist(u, v, 0.42, 0.08, 0.0, -0.40),
                    seg_dist(u, v, 0.0, -0.30, 0.0, 0.46))
            return 1.0 if d < 0.13 else 0.0
        # A prism: a triangle outline with a beam through it.
        d = min(seg_dist(u, v, -0.45, 0.35, 0.0, -0.42), seg_dist(u, v, 0.0, -0.42, 0.45, 0.35),
                seg_dist(u, v, 0.45, 0.35, -0.45, 0.35))
        beam = seg_dist(u, v, -0.85, 0.10, -0.22, -0.02)
        return 1.0 if d < 0.09 or beam < 0.05 else 0.0

    def colour(self, x, y):
        fade = smoothstep(0.0, self.w * 0.62, x)
        c = mix(self.sky[0], self.sky[1], fade * (0.35 + 0.65 * y / self.h))
        for i, (wc, alpha) in enumerate(self.waves):
            top = self.wave_top(i, x)
            if y > top:
                fill = mix(wc, (1.0, 1.0, 1.0), 0.55) if y < top + 1.0 else wc  # a light crest
                c = mix(c, fill, alpha * smoothstep(self.w * 0.05 * (i + 1), self.w * (0.45 + 0.08 * i), x))
        dx, dy = x - self.cx, y - self.cy
        dist = math.hypot(dx, dy)
        if dist < self.r + 2.2:
            # A soft white ring keeps the badge apart from the waves behind it.
            ring = 1.0 - smoothstep(self.r, self.r + 2.2, dist)
            c = mix(c, (1.0, 1.0, 1.0), ring * 0.9)
        if dist < self.r:
            t = (dy / self.r + 1) / 2
            inner = mix(self.badge[0], self.badge[1], t)
            # A gentle highlight towards the top left.
            inner = mix(inner, (1.0, 1.0, 1.0), 0.18 * max(0.0, 1 - math.hypot(dx + self.r * 0.35, dy + self.r * 0.45) / self.r))
            c = inner
            if self.emblem(x, y):
                c = (1.0, 1.0, 1.0)
        return c


def seg_dist(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)


def render(style, width, height):
    scene = Scene(style, width, height)
    rows = []
    step = 1.0 / SAMPLES
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b = scene.colour(x + (sx + 0.5) * step, y + (sy + 0.5) * step)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
            n = SAMPLES * SAMPLES
            row.append(tuple(max(0, min(255, round(v / n * 255))) for v in acc))
        rows.append(row)
    return rows


def bmp_bytes(rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up, as a plain bitmap stores them
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    # 2835 pixels per metre = 72 dpi, as image tools write by default.
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("style", choices=sorted(STYLES))
    ap.add_argument("out")
    ap.add_argument("--size", default="200x57", help="WIDTHxHEIGHT in pixels (default 200x57)")
    a = ap.parse_args(argv)
    width, height = (int(v) for v in a.size.lower().split("x"))
    with open(a.out, "wb") as f:
        f.write(bmp_bytes(render(a.style, width, height)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
