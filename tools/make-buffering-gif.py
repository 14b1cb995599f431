#!/usr/bin/env python3
"""Draws the viewer's buffering animation: eight dots on a ring, one bright
dot going round with a fading tail, as an animated GIF (our own drawing).

    make-buffering-gif.py OUT.gif
"""
import math
import struct
import sys

SIZE = 64
FRAMES = 8
DELAY = 10  # hundredths of a second
PALETTE = [(0x22, 0x26, 0x30), (0x5a, 0x40, 0x28), (0xb8, 0x70, 0x30), (0xff, 0xa8, 0x40)]


def frame_pixels(step):
    px = [0] * (SIZE * SIZE)
    centre = SIZE / 2
    for dot in range(8):
        angle = 2 * math.pi * dot / 8 - math.pi / 2
        cx = centre + 20 * math.cos(angle)
        cy = centre + 20 * math.sin(angle)
        age = (step - dot) % 8
        colour = 3 if age == 0 else 2 if age == 1 else 1 if age <= 3 else 1
        radius = 6 if age == 0 else 5 if age <= 2 else 4
        for y in range(SIZE):
            for x in range(SIZE):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                    px[y * SIZE + x] = colour
    return px


def lzw_uncompressed(pixels):
    """2-bit pixels as 3-bit codes, with a clear code before every second
    pixel so the code width never grows (simple and valid LZW)."""
    out = bytearray()
    acc = bits = 0

    def emit(code):
        nonlocal acc, bits
        acc |= code << bits
        bits += 3
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8

    for i, p in enumerate(pixels):
        if i % 2 == 0:
            emit(4)
        emit(p)
    emit(5)
    if bits:
        out.append(acc & 0xFF)
    blocks = bytearray([2])
    for at in range(0, len(out), 255):
        chunk = out[at:at + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def main():
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", SIZE, SIZE, 0x81, 0, 0)
    for r, g, b in PALETTE:
        gif += bytes([r, g, b])
    gif += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for step in range(FRAMES):
        gif += b"\x21\xf9\x04" + bytes([1 << 2]) + struct.pack("<H", DELAY) + b"\x00\x00"
        gif += b"\x2c" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        gif += lzw_uncompressed(frame_pixels(step))
    gif += b"\x3b"
    with open(sys.argv[1], "wb") as f:
        f.write(gif)


if __name__ == "__main__":
    main()
