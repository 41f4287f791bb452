#!/usr/bin/env python3
"""Draws the busy animation (a ring of twelve dots on a white card) as an animated GIF.

Usage: make_waiting_gif.py OUT.gif
Plain Python, no imaging library: the frames are rendered with 4x4 supersampling into a palette
that runs from white to the viewer's blue, and written with uncompressed LZW codes.
"""
import math
import struct
import sys

SIZE = 150
FRAMES = 12
DELAY_CS = 8
BLUE = (0x00, 0x4B, 0x6A)
DOTS = 12
RING = 42.0
DOT = 7.5
CARD_RADIUS = 18.0
SS = 4


def palette():
    colours = [(0, 0, 0)]  # index 0: transparent
    for i in range(255):
        t = i / 254.0
        colours.append(tuple(round(255 + (b - 255) * t) for b in BLUE))
    return colours


def inside_card(x, y):
    r = CARD_RADIUS
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def frame(k):
    centres = []
    for i in range(DOTS):
        a = 2 * math.pi * i / DOTS - math.pi / 2
        age = (k - i) % DOTS
        strength = max(0.12, 1.0 - age / (DOTS * 0.75))
        centres.append((SIZE / 2 + RING * math.cos(a), SIZE / 2 + RING * math.sin(a), strength))
    pixels = bytearray(SIZE * SIZE)
    for y in range(SIZE):
        for x in range(SIZE):
            if not inside_card(x + 0.5, y + 0.5):
                continue
            ink = 0.0
            for dx, dy, s in centres:
                if abs(x + 0.5 - dx) > DOT + 1 or abs(y + 0.5 - dy) > DOT + 1:
                    continue
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        px = x + (sx + 0.5) / SS
                        py = y + (sy + 0.5) / SS
                        if (px - dx) ** 2 + (py - dy) ** 2 <= DOT * DOT:
                            hits += 1
                ink = max(ink, s * hits / (SS * SS))
            pixels[y * SIZE + x] = 1 + round(ink * 254)
    return pixels


def lzw_uncompressed(pixels):
    # 8-bit symbols, 9-bit codes; a clear code before the table would grow to 10 bits.
    clear, eoi = 256, 257
    out = bytearray()
    acc = 0
    nbits = 0

    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += 9
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    for i, p in enumerate(pixels):
        if i % 254 == 0:
            put(clear)
        put(p)
    put(eoi)
    if nbits:
        out.append(acc & 0xFF)
    blocks = bytearray()
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return blocks


def main():
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", SIZE, SIZE, 0xF7, 1, 0)
    for c in palette():
        data += bytes(c)
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for k in range(FRAMES):
        data += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, (2 << 2) | 1, DELAY_CS, 0, 0)
        data += struct.pack("<BHHHHB", 0x2C, 0, 0, SIZE, SIZE, 0)
        data.append(8)
        data += lzw_uncompressed(frame(k))
    data.append(0x3B)
    with open(sys.argv[1], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
