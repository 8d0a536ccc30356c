#!/usr/bin/env python3
"""Draws the program's icon and the two pictures of the Start/Stop button as PNG files.

Run from this folder: python3 make_images.py. Only the standard library is used; the shapes are
drawn with 4x4 supersampling so that their edges come out smooth.
"""
import math
import struct
import zlib

SS = 4  # samples per pixel along each axis


def write_png(path, width, height, pixels):
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixels[y * width + x])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def render(size, shade):
    """shade(u, v) -> (r, g, b, a) or None at a point of the unit square; returns RGBA pixels."""
    pixels = []
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    u = (x + (sx + 0.5) / SS) / size
                    v = (y + (sy + 0.5) / SS) / size
                    c = shade(u, v)
                    if c is None:
                        continue
                    a = c[3] / 255.0
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if alpha > 0:
                px = (round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                      round(alpha * 255))
            else:
                px = (0, 0, 0, 0)
            pixels.append(bytes(px))
    return pixels


def in_polygon(u, v, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > v) != (yj > v) and u < (xj - xi) * (v - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def icon(u, v):
    # A sheet of paper with a folded corner, a red stamp over its lower right part and a dark
    # quill stroke across it.
    cx, cy, r = 0.66, 0.68, 0.26
    d = math.hypot(u - cx, v - cy)
    if d <= r:
        if d >= r - 0.05:
            return (150, 20, 20, 255)
        if abs(v - cy) < 0.035 and abs(u - cx) < r - 0.09:
            return (255, 235, 235, 255)
        return (200, 35, 35, 255)
    # quill: a slanted thin quadrilateral from upper right to the stamp
    if in_polygon(u, v, [(0.86, 0.06), (0.94, 0.12), (0.52, 0.56), (0.47, 0.52)]):
        return (40, 40, 70, 255)
    sheet = [(0.12, 0.06), (0.62, 0.06), (0.80, 0.24), (0.80, 0.94), (0.12, 0.94)]
    if in_polygon(u, v, sheet):
        if u > 0.62 and v < 0.24 and (u - 0.62) > (v - 0.06):
            return None
        if in_polygon(u, v, [(0.62, 0.06), (0.80, 0.24), (0.62, 0.24)]):
            return (200, 205, 215, 255)
        edge = min(u - 0.12, 0.94 - v, 0.80 - u if v > 0.24 else 1, v - 0.06 if u < 0.62 else 1)
        if edge < 0.03:
            return (90, 95, 110, 255)
        for line in (0.30, 0.42, 0.54):
            if abs(v - line) < 0.018 and 0.2 < u < 0.55:
                return (140, 150, 170, 255)
        return (250, 250, 252, 255)
    return None


def start(u, v):
    # A green "play" triangle in a round button.
    d = math.hypot(u - 0.5, v - 0.5)
    if d > 0.47:
        return None
    if in_polygon(u, v, [(0.38, 0.26), (0.76, 0.5), (0.38, 0.74)]):
        return (255, 255, 255, 255)
    if d > 0.42:
        return (20, 110, 40, 255)
    return (40, 170, 70, 255)


def stop(u, v):
    # A red square in a round button.
    d = math.hypot(u - 0.5, v - 0.5)
    if d > 0.47:
        return None
    if 0.31 < u < 0.69 and 0.31 < v < 0.69:
        return (255, 255, 255, 255)
    if d > 0.42:
        return (130, 20, 20, 255)
    return (205, 40, 40, 255)


if __name__ == "__main__":
    for size in (16, 32, 48, 64):
        write_png(f"quillstamp_{size}.png", size, size, render(size, icon))
    write_png("start.png", 36, 36, render(36, start))
    write_png("stop.png", 36, 36, render(36, stop))
