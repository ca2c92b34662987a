#!/usr/bin/env python3
"""Writes the desktop icons of the program from its icon 128 (the XPM data in
resources/ProgramIcon.cpp): PNGs of the hicolor sizes and an SVG, into
packaging/icons/. Run after the icon changes; the results are kept in the
repository so that a build needs no image tools."""
import os
import re
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = (16, 32, 48, 64, 128, 256)
NAME = "devupdate"


def read_xpm(source, array):
    body = re.search(array + r"\[\] = \{(.*?)\};", source, re.S).group(1)
    rows = re.findall(r'"([^"]*)"', body)
    width, height, colours, _ = (int(v) for v in rows[0].split())
    palette = {}
    for line in rows[1:1 + colours]:
        key, _, value = line[0], line[1:3], line.split()[-1]
        palette[key] = None if value == "None" else tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    return [[palette[c] for c in row] for row in rows[1 + colours:1 + colours + height]]


def png(pixels, size):
    scale = size / len(pixels)
    raw = b""
    for y in range(size):
        raw += b"\0"
        for x in range(size):
            rgb = pixels[int(y / scale)][int(x / scale)]
            raw += bytes(rgb + (255,)) if rgb else b"\0\0\0\0"

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def svg(pixels):
    size = len(pixels)
    rects = []
    for y, row in enumerate(pixels):
        x = 0
        while x < size:
            rgb = row[x]
            run = 1
            while x + run < size and row[x + run] == rgb:
                run += 1
            if rgb:
                rects.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>' % ((x, y, run) + rgb))
            x += run
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
            'shape-rendering="crispEdges">\n%s\n</svg>\n' % (size * 8, size * 8, size, size, "\n".join(rects)))


def main():
    with open(os.path.join(ROOT, "resources", "ProgramIcon.cpp")) as f:
        source = f.read()
    large = read_xpm(source, "PROGRAM_ICON_32")
    small = read_xpm(source, "PROGRAM_ICON_16")
    out = os.path.join(ROOT, "packaging", "icons")
    for size in SIZES:
        folder = os.path.join(out, "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, NAME + ".png"), "wb") as f:
            f.write(png(small if size == 16 else large, size))
    os.makedirs(os.path.join(out, "scalable"), exist_ok=True)
    with open(os.path.join(out, "scalable", NAME + ".svg"), "w") as f:
        f.write(svg(large))
    return 0


if __name__ == "__main__":
    sys.exit(main())
