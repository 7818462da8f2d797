#!/usr/bin/python3
"""Draws the Windows icon (app/packaging/rtutest.ico) from the desktop icon (rtutest.svg).

Usage: scripts/make-windows-icon.py      (run again after changing rtutest.svg; commit both)

The SVG is drawn with the few elements it uses (rect with rx, circle, g; fill, stroke,
stroke-width), so that the two icons stay one picture without an SVG renderer in the build.
Each size is sampled 4 x 4 times per pixel and stored as PNG, which Windows reads in icons.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
SAMPLES = 4
SVG = "{http://www.w3.org/2000/svg}"
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "packaging")


def colour(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def in_rounded_rect(x, y, left, top, width, height, radius):
    if not (left <= x <= left + width and top <= y <= top + height):
        return False
    radius = max(0.0, min(radius, width / 2, height / 2))
    dx = max(left + radius - x, 0.0, x - (left + width - radius))
    dy = max(top + radius - y, 0.0, y - (top + height - radius))
    return dx * dx + dy * dy <= radius * radius if dx and dy else True


def shapes(element, inherited):
    """(test(x, y) -> bool, rgb) for each painted area, in painting order."""
    style = dict(inherited)
    style.update({key: element.get(key) for key in ("fill", "stroke", "stroke-width")
                  if element.get(key)})
    tag = element.tag.replace(SVG, "")
    number = lambda key: float(element.get(key, "0"))
    if tag == "rect":
        x, y, w, h, r = (number(k) for k in ("x", "y", "width", "height", "rx"))
        if style.get("fill", "none") != "none":
            yield (lambda px, py: in_rounded_rect(px, py, x, y, w, h, r)), colour(style["fill"])
        if style.get("stroke", "none") != "none":
            half = float(style.get("stroke-width", "1")) / 2
            yield (lambda px, py: in_rounded_rect(px, py, x - half, y - half, w + 2 * half,
                                                  h + 2 * half, r + half)
                   and not in_rounded_rect(px, py, x + half, y + half, w - 2 * half,
                                           h - 2 * half, r - half)), colour(style["stroke"])
    elif tag == "circle":
        cx, cy, r = number("cx"), number("cy"), number("r")
        yield (lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r), colour(style["fill"])
    for child in element:
        yield from shapes(child, style)


def draw(svg, size):
    """The picture at size x size as RGBA rows."""
    scale = float(svg.get("width")) / size
    painted = list(shapes(svg, {}))
    rows = []
    for row in range(size):
        line = bytearray()
        for column in range(size):
            total = [0, 0, 0, 0]
            for sample in range(SAMPLES * SAMPLES):
                x = (column + (sample % SAMPLES + 0.5) / SAMPLES) * scale
                y = (row + (sample // SAMPLES + 0.5) / SAMPLES) * scale
                rgb = next((rgb for test, rgb in reversed(painted) if test(x, y)), None)
                if rgb:
                    total = [t + c for t, c in zip(total, rgb + (255,))]
            covered = total[3] // 255
            count = SAMPLES * SAMPLES
            line += bytes(total[i] // covered if covered else 0 for i in range(3))
            line.append(total[3] // count)
        rows.append(bytes(line))
    return rows


def png(rows, size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    svg = ElementTree.parse(os.path.join(root, "rtutest.svg")).getroot()
    images = [png(draw(svg, size), size) for size in SIZES]
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(SIZES, images):
        edge = size % 256  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(os.path.join(root, "rtutest.ico"), "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(images))
    print(f"{os.path.relpath(os.path.join(root, 'rtutest.ico'))}: sizes {SIZES}", file=sys.stderr)


if __name__ == "__main__":
    main()
