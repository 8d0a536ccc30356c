#!/usr/bin/env python3
"""Makes the Windows resources of the program from the pictures of the Qt window (src/ui/resources).

quillstamp.ico holds the four sizes of the program's icon as PNG images, as icons of Windows Vista
and later may. start.bmp and stop.bmp are the Start/Stop button images as 24-bit bitmaps, laid on
the light grey #F0F0F0 that the window replaces by the button's face colour when it loads them.
Only the standard library is used; run it again after changing those pictures. Its results are
committed beside it.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PICTURES = os.path.join(HERE, "..", "..", "ui", "resources")
BACKGROUND = (0xF0, 0xF0, 0xF0)


def read_png_rgba(path):
    """Width, height and rows of (r, g, b, a) of an 8-bit RGBA, non-interlaced PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour == 6 and interlace == 0, path
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        previous = line
    return width, height, rows


def write_bmp(path, width, height, rows):
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b, a in row:
            mix = [(c * a + bg * (255 - a) + 127) // 255 for c, bg in zip((r, g, b), BACKGROUND)]
            line += bytes((mix[2], mix[1], mix[0]))
        pixels += line + bytes(stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        out.write(header + pixels)


def write_ico(path, pngs):
    images = [open(p, "rb").read() for p in pngs]
    sizes = [read_png_rgba(p)[0] for p in pngs]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        side = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def main():
    write_ico(os.path.join(HERE, "quillstamp.ico"),
              [os.path.join(PICTURES, "quillstamp_%d.png" % s) for s in (16, 32, 48, 64)])
    for name in ("start", "stop"):
        width, height, rows = read_png_rgba(os.path.join(PICTURES, name + ".png"))
        write_bmp(os.path.join(HERE, name + ".bmp"), width, height, rows)


if __name__ == "__main__":
    main()
