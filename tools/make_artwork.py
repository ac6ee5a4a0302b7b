#!/usr/bin/python3
"""Generates the launcher's own artwork: the 1140x670 RGBA background picture and
the 32x32 window icon. The outputs are committed under resources/; run again only
to change the artwork:  tools/make_artwork.py resources/background.png resources/launcher.ico
"""
import math
import random
import struct
import sys
import zlib

WIDTH, HEIGHT = 1140, 670


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def ridge(x, seed, base, amplitude):
    """Height of a mountain ridge at column x: a few layered sines."""
    h = 0.0
    for k, (freq, weight) in enumerate(((0.004, 1.0), (0.011, 0.45), (0.027, 0.2), (0.063, 0.08))):
        h += weight * math.sin(x * freq + seed * (k + 1) * 1.7)
    return base - amplitude * (0.55 + 0.45 * h / 1.73)


def background():
    rng = random.Random(1140670)
    horizon = 0.63 * HEIGHT
    glow_x = 0.60 * WIDTH
    sky_top, sky_mid, sky_low = (6, 8, 20), (22, 14, 30), (120, 42, 8)
    far_ridge = [ridge(x, 1.0, horizon + 6, 70) for x in range(WIDTH)]
    near_ridge = [ridge(x, 2.3, HEIGHT * 0.80, 95) for x in range(WIDTH)]
    stars = {}
    for _ in range(420):
        sx, sy = rng.randrange(WIDTH), rng.randrange(int(horizon * 0.92))
        brightness = rng.random() ** 2.2
        stars[(sx, sy)] = brightness
        if brightness > 0.55:  # the brightest get a small cross
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                stars.setdefault((sx + dx, sy + dy), brightness * 0.35)

    rows = []
    for y in range(HEIGHT):
        row = bytearray()
        row.append(0)  # filter: none
        t_sky = min(1.0, y / horizon)
        if t_sky < 0.6:
            sky = mix(sky_top, sky_mid, t_sky / 0.6)
        else:
            sky = mix(sky_mid, sky_low, ((t_sky - 0.6) / 0.4) ** 2.2)
        for x in range(WIDTH):
            dx = (x - glow_x) / WIDTH
            dy = (y - horizon) / HEIGHT
            # Horizon glow: wide and soft along the horizon, brighter near its centre.
            glow = math.exp(-(dy * dy) / 0.0045) * (0.35 + 0.65 * math.exp(-(dx * dx) / 0.05))
            r, g, b = sky
            r += 230 * glow
            g += 95 * glow
            b += 10 * glow
            star = stars.get((x, y))
            if star is not None:
                fade = 1.0 - t_sky * 0.7
                r += 255 * star * fade
                g += 235 * star * fade
                b += 210 * star * fade
            if y > far_ridge[x]:
                depth = min(1.0, (y - far_ridge[x]) / 40.0)
                rim = math.exp(-(y - far_ridge[x]) / 2.5) * (0.5 + glow)
                base = mix((48, 20, 14), (20, 10, 12), depth)
                r, g, b = base[0] + 220 * rim, base[1] + 90 * rim, base[2] + 10 * rim
            if y > near_ridge[x]:
                depth = min(1.0, (y - near_ridge[x]) / 120.0)
                rim = math.exp(-(y - near_ridge[x]) / 1.8) * 0.8
                base = mix((14, 8, 9), (5, 4, 6), depth)
                r, g, b = base[0] + 255 * rim, base[1] + 100 * rim, base[2] + 10 * rim
            # Vignette keeps the corners dark so the panels read well.
            vx = (x / WIDTH - 0.5) * 2
            vy = (y / HEIGHT - 0.5) * 2
            v = 1.0 - 0.35 * (vx * vx * 0.6 + vy * vy * 0.4)
            row += bytes((clamp(r * v), clamp(g * v), clamp(b * v), 255))
        rows.append(bytes(row))
    return png(WIDTH, HEIGHT, b"".join(rows))


def png(width, height, raw):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_pixel(x, y):
    """A dark disc with an orange four-pointed star and an orange ring."""
    cx = cy = 15.5
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > 15.5:
        return (0, 0, 0, 0)
    alpha = clamp(255 * min(1.0, 15.5 - d + 0.5))
    r, g, b = 16, 12, 18
    ring = max(0.0, 1.0 - abs(d - 13.5) / 1.2)
    # Star: |dx|^0.5 + |dy|^0.5 < k gives four sharp points.
    s = math.sqrt(abs(dx)) + math.sqrt(abs(dy))
    star = max(0.0, min(1.0, (3.4 - s) * 1.5))
    core = max(0.0, 1.0 - d / 4.0)
    r += 239 * max(ring, star)
    g += 90 * max(ring, star) + 140 * core * star
    b += 60 * core * star
    return (clamp(r), clamp(g), clamp(b), alpha)


def icon():
    size = 32
    pixels = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up rows, BGRA
        for x in range(size):
            r, g, b, a = icon_pixel(x, y)
            pixels += bytes((b, g, r, a))
    mask = bytes(4 * size)  # AND mask unused with 32-bit alpha; rows padded to 4 bytes
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = info + bytes(pixels) + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_artwork.py background.png launcher.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(background())
    with open(sys.argv[2], "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
