#!/usr/bin/env python3
"""Makes the server's own pictures: the splash bitmap (splash.bmp, carried by the splash
library) and the logo clip (OrbLogo.avi, RLE8 frames without sound, played in the main window).
Standard library only; run it again after changing a picture and commit both files."""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# A 5x7 block font for the few letters the splash needs.
FONT = {
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'C': ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    ' ': ["00000"] * 7,
    '-': ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
}


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def draw_text(pixels, width, text, left, top, scale, colour):
    for i, ch in enumerate(text):
        glyph = FONT[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit != '1':
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = left + (i * 6 + gx) * scale + dx
                        y = top + gy * scale + dy
                        pixels[y * width + x] = colour


def orbit_pixels(size, phase, dots=8):
    """Palette indices of one logo frame: a ring of dots with one bright dot going round."""
    img = [0] * (size * size)
    c = (size - 1) / 2.0
    ring = size * 0.36
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d < size * 0.14:
                img[y * size + x] = 3  # the hub
    for k in range(dots):
        a = 2 * math.pi * k / dots - math.pi / 2
        px, py = c + ring * math.cos(a), c + ring * math.sin(a)
        age = (phase - k) % dots
        colour = 4 + min(age, 3)  # 4 brightest .. 7 dimmest
        r = size * (0.11 if age == 0 else 0.08)
        for y in range(size):
            for x in range(size):
                if math.hypot(x - px, y - py) <= r:
                    img[y * size + x] = colour
    return img


def splash_bmp(width=420, height=240):
    pixels = []
    for y in range(height):
        t = y / (height - 1)
        for x in range(width):
            r = int(18 + 20 * t)
            g = int(42 + 40 * t)
            b = int(96 + 70 * t)
            pixels.append((r, g, b))
    # The orbit mark on the left, drawn from the logo's first frame.
    size = 120
    mark = orbit_pixels(size, 0)
    colours = {3: (255, 160, 40), 4: (255, 220, 120), 5: (240, 190, 90), 6: (200, 150, 80),
               7: (150, 120, 90)}
    for y in range(size):
        for x in range(size):
            v = mark[y * size + x]
            if v:
                pixels[(60 + y) * width + 24 + x] = colours[v]
    draw_text(pixels, width, "VELTRANE", 160, 80, 5, (255, 255, 255))
    draw_text(pixels, width, "LINK", 160, 130, 5, (255, 170, 60))
    draw_text(pixels, width, "CTI LINK SERVER", 160, 185, 2, (200, 215, 240))
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixels[y * width + x]
            row += bytes((b, g, r))
        row += b"\0" * (stride - width * 3)
        rows.append(bytes(row))
    image = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    return header + info + image


def rle8_encode(img, width, height):
    out = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up
        row = img[y * width:(y + 1) * width]
        x = 0
        while x < width:
            v = row[x]
            n = 1
            while x + n < width and row[x + n] == v and n < 255:
                n += 1
            out += bytes((n, v))
            x += n
        out += b"\0\0"
    out[-2:] = b"\0\1"
    return bytes(out)


def chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def riff_list(kind, data):
    return chunk(b"LIST", kind + data)


def logo_avi(size=48, frames=8, interval_us=120000):
    palette = [(0, 0, 0)] * 256
    palette[0] = (236, 236, 236)  # the button face behind the mark
    palette[3] = (40, 90, 170)
    palette[4] = (255, 150, 20)
    palette[5] = (250, 185, 90)
    palette[6] = (200, 200, 210)
    palette[7] = (170, 175, 190)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette[:8])
    bodies = [rle8_encode(orbit_pixels(size, f), size, size) for f in range(frames)]
    biggest = max(len(b) for b in bodies)
    avih = struct.pack("<IIIIIIIIII4I", interval_us, 0, 0, 0x10, frames, 0, 1, biggest, size,
                       size, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"mrle", 0, 0, 0, 0, interval_us, 1000000,
                       0, frames, biggest, 0xFFFFFFFF, 0, 0, 0, size, size)
    strf = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 1, size * size, 0, 0, 8, 8) + pal
    hdrl = riff_list(b"hdrl", chunk(b"avih", avih) +
                     riff_list(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_data = b""
    index = b""
    offset = 4
    for body in bodies:
        c = chunk(b"00dc", body)
        index += struct.pack("<4sIII", b"00dc", 0x10, offset, len(body))
        movi_data += c
        offset += len(c)
    movi = riff_list(b"movi", movi_data)
    body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    with open(os.path.join(HERE, "splash.bmp"), "wb") as f:
        f.write(splash_bmp())
    with open(os.path.join(HERE, "OrbLogo.avi"), "wb") as f:
        f.write(logo_avi())


if __name__ == "__main__":
    main()
