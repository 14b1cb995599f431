#!/usr/bin/env python3
"""Draws the broadcaster's pause picture: a 320x240, 24-bit, bottom-up BMP.

A deep blue vertical gradient with a lighter ring and two white pause bars in
the middle, so a viewer sees at a glance that the host is off air. Run it to
regenerate pause.bmp; the program embeds the file as bitmap resource 146.
"""
import math
import struct
import sys

W, H = 320, 240


def pixel(x, y):
    # y counts from the top here.
    t = y / (H - 1)
    r, g, b = int(12 + 10 * t), int(28 + 20 * t), int(70 + 60 * t)
    cx, cy = W / 2, H / 2
    d = math.hypot(x - cx, y - cy)
    if 78 <= d <= 84:
        r, g, b = 90, 140, 220
    # two bars, 22 px wide, 70 px tall, 18 px apart
    if cy - 35 <= y < cy + 35 and (cx - 31 <= x < cx - 9 or cx + 9 <= x < cx + 31):
        r, g, b = 245, 245, 245
    return r, g, b


def main(path):
    row_bytes = W * 3  # 960: already a multiple of 4
    image = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up rows
        for x in range(W):
            r, g, b = pixel(x, y)
            image += bytes((b, g, r))
    assert len(image) == row_bytes * H
    info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(image), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(head + info + image)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'pause.bmp')
