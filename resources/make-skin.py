#!/usr/bin/env python3
"""Draws the default skin: the images that UIConfig.ini names, as RGBA PNG files.

Usage: make-skin.py OUTPUT_DIR

Buttons carry their word in the image (the program gives skinned buttons no text), drawn with a
small built-in 5x7 font so the skin needs no font files. Button corners are transparent, so the
buttons' masks follow the rounded shape. Everything is deterministic: same input, same bytes.
"""
import math
import os
import struct
import sys
import zlib

FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
}

# Button state -> (fill, text colour).
STATES = {
    "Normal": ((40, 96, 160, 255), (255, 255, 255, 255)),
    "Disabled": ((150, 150, 150, 255), (215, 215, 215, 255)),
    "Hover": ((70, 130, 200, 255), (255, 255, 255, 255)),
    "Pressed": ((20, 60, 110, 255), (230, 230, 230, 255)),
}

BUTTONS = {"Back": "BACK", "Next": "NEXT", "Cancel": "CANCEL", "Finish": "FINISH"}
BUTTON_W, BUTTON_H, RADIUS, SCALE = 96, 30, 7, 2
LOADING_FRAMES = 8


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a)."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type None
        for px in row:
            raw.extend(px)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def blank(width, height):
    return [[(0, 0, 0, 0)] * width for _ in range(height)]


def inside_rounded(x, y, width, height, radius):
    cx = min(max(x, radius), width - 1 - radius)
    cy = min(max(y, radius), height - 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def draw_text(pixels, text, colour, scale):
    height, width = len(pixels), len(pixels[0])
    text_w = len(text) * 6 * scale - scale
    x0, y0 = (width - text_w) // 2, (height - 7 * scale) // 2
    for i, ch in enumerate(text):
        for gy, line in enumerate(FONT[ch]):
            for gx, bit in enumerate(line):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        pixels[y0 + gy * scale + dy][x0 + (i * 6 + gx) * scale + dx] = colour


def button(word, fill, ink):
    pixels = blank(BUTTON_W, BUTTON_H)
    for y in range(BUTTON_H):
        for x in range(BUTTON_W):
            if inside_rounded(x, y, BUTTON_W, BUTTON_H, RADIUS):
                pixels[y][x] = fill
    draw_text(pixels, word, ink, SCALE)
    return pixels


def disc(size, fill, ring):
    """The program icon: a disk platter with a hub."""
    pixels = blank(size, size)
    c = (size - 1) / 2
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d <= size / 2 - 1:
                pixels[y][x] = ring if d <= size / 8 else fill
    return pixels


def loading_frame(index, size=32, dots=LOADING_FRAMES):
    """A ring of dots with one bright dot that moves one place per frame."""
    pixels = blank(size, size)
    c = (size - 1) / 2
    for k in range(dots):
        angle = 2 * math.pi * k / dots
        px, py = c + math.cos(angle) * 11, c + math.sin(angle) * 11
        colour = (255, 255, 255, 255) if k == index else (120, 150, 190, 255)
        for y in range(size):
            for x in range(size):
                if math.hypot(x - px, y - py) <= 3:
                    pixels[y][x] = colour
    return pixels


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-skin.py OUTPUT_DIR")
    out = sys.argv[1]
    images, icons = os.path.join(out, "Images"), os.path.join(out, "Icons")
    os.makedirs(images, exist_ok=True)
    os.makedirs(icons, exist_ok=True)
    for name, word in BUTTONS.items():
        for state, (fill, ink) in STATES.items():
            write_png(os.path.join(images, f"{name}_{state}.png"), BUTTON_W, BUTTON_H,
                      button(word, fill, ink))
    for i in range(LOADING_FRAMES):
        write_png(os.path.join(images, f"Loading_{i}.png"), 32, 32, loading_frame(i))
    write_png(os.path.join(icons, "Ravendo.png"), 32, 32,
              disc(32, (40, 96, 160, 255), (230, 230, 230, 255)))


if __name__ == "__main__":
    main()
