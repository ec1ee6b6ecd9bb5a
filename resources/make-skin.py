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
    " ": ["00000", "00000", "00000", "00000", "00000", "00000", "00000"],
    "?": ["01110", "10001", "00001", "00110", "00100", "00000", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
}

# Button state -> (fill, text colour).
STATES = {
    "Normal": ((40, 96, 160, 255), (255, 255, 255, 255)),
    "Disabled": ((150, 150, 150, 255), (215, 215, 215, 255)),
    "Hover": ((70, 130, 200, 255), (255, 255, 255, 255)),
    "Pressed": ((20, 60, 110, 255), (230, 230, 230, 255)),
}

# Wizard buttons (96 x 30, file prefix -> word).
BUTTONS = {"Back": "BACK", "Next": "NEXT", "Cancel": "CANCEL", "Finish": "FINISH",
           "OK": "OK", "Default": "DEFAULT", "ProgressCancel": "CANCEL", "Browse": "BROWSE",
           "Search": "SEARCH", "Find": "FIND"}
# Small buttons of the file-type page (84 x 26).
SMALL_BUTTONS = {"Add": "ADD", "Del": "DELETE", "SelectAll": "ALL", "UnSelect": "NONE",
                 "InvertSel": "INVERT", "PreviewSplit": "SPLIT", "PreviewList": "LIST"}
# The main window's corner buttons (56 x 23, scale 1) and its three scan buttons (140 x 140).
CORNER_BUTTONS = {"MainOption": "OPTION", "MainHelp": "HELP", "MainAbout": "ABOUT"}
SCAN_BUTTONS = {"MainQuickScan": ("QUICK", "SCAN"), "MainCompleteScan": ("COMPLETE", "SCAN"),
                "MainContinueScan": ("CONTINUE", "RECOVERY")}
BACKGROUND = (34, 44, 58, 255)
PANEL = (46, 58, 76, 255)
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


def draw_text(pixels, text, colour, scale, y0=None):
    height, width = len(pixels), len(pixels[0])
    text_w = len(text) * 6 * scale - scale
    x0 = (width - text_w) // 2
    if y0 is None:
        y0 = (height - 7 * scale) // 2
    for i, ch in enumerate(text):
        for gy, line in enumerate(FONT[ch]):
            for gx, bit in enumerate(line):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        pixels[y0 + gy * scale + dy][x0 + (i * 6 + gx) * scale + dx] = colour


def button(lines, fill, ink, width=BUTTON_W, height=BUTTON_H, radius=RADIUS, scale=SCALE):
    pixels = blank(width, height)
    for y in range(height):
        for x in range(width):
            if inside_rounded(x, y, width, height, radius):
                pixels[y][x] = fill
    if isinstance(lines, str):
        lines = (lines,)
    line_h = 7 * scale + 3 * scale
    top = (height - len(lines) * line_h + 3 * scale) // 2
    for k, word in enumerate(lines):
        draw_text(pixels, word, ink, scale, top + k * line_h)
    return pixels


def panel(width, height, top, bottom, border=None):
    """A vertical gradient from top to bottom colour, with an optional one-pixel border."""
    pixels = []
    for y in range(height):
        t = y / max(height - 1, 1)
        colour = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,)
        row = [colour] * width
        if border is not None and (y == 0 or y == height - 1):
            row = [border] * width
        elif border is not None:
            row = [border] + row[1:-1] + [border]
        pixels.append(row)
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
    radius = size * 11 / 32
    for k in range(dots):
        angle = 2 * math.pi * k / dots
        px, py = c + math.cos(angle) * radius, c + math.sin(angle) * radius
        colour = (255, 255, 255, 255) if k == index else (120, 150, 190, 255)
        for y in range(size):
            for x in range(size):
                if math.hypot(x - px, y - py) <= size * 3 / 32:
                    pixels[y][x] = colour
    return pixels


def plus_icon(size, fill, ink):
    pixels = disc(size, fill, fill)
    c = size // 2
    for d in range(-size // 4, size // 4 + 1):
        for w in (-1, 0, 1):
            pixels[c + w][c + d] = ink
            pixels[c + d][c + w] = ink
    return pixels


def empty_disk(size=16):
    pixels = blank(size, size)
    for y in range(3, size - 3):
        for x in range(1, size - 1):
            edge = y in (3, size - 4) or x in (1, size - 2)
            pixels[y][x] = (90, 90, 90, 255) if edge else (200, 200, 200, 255)
    return pixels


def write_gif(path, frames, delay_cs=10):
    """An animated GIF (looping), colour 0 transparent. LZW codes are written 9 bits wide with a
    clear code before the table would grow, which every decoder reads."""
    palette = [(0, 0, 0)]
    index = {}
    data = []
    for frame in frames:
        out = []
        for row in frame:
            for r, g, b, a in row:
                if a < 128:
                    out.append(0)
                    continue
                key = (r, g, b)
                if key not in index:
                    index[key] = len(palette)
                    palette.append(key)
                out.append(index[key])
        data.append(out)
    assert len(palette) <= 256
    palette += [(0, 0, 0)] * (256 - len(palette))
    height, width = len(frames[0]), len(frames[0][0])

    def lzw(pixels):
        clear, end = 256, 257
        codes, run = [clear], 0
        for p in pixels:
            if run == 250:
                codes.append(clear)
                run = 0
            codes.append(p)
            run += 1
        codes.append(end)
        bits, nbits, out = 0, 0, bytearray()
        for code in codes:
            bits |= code << nbits
            nbits += 9
            while nbits >= 8:
                out.append(bits & 0xFF)
                bits >>= 8
                nbits -= 8
        if nbits:
            out.append(bits & 0xFF)
        blocks = bytearray([8])
        for i in range(0, len(out), 255):
            chunk = out[i:i + 255]
            blocks.append(len(chunk))
            blocks.extend(chunk)
        blocks.append(0)
        return bytes(blocks)

    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0))
        f.write(bytes(c for rgb in palette for c in rgb))
        f.write(b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00")
        for frame in data:
            f.write(b"\x21\xF9\x04\x09" + struct.pack("<H", delay_cs) + b"\x00\x00")
            f.write(b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0))
            f.write(lzw(frame))
        f.write(b"\x3B")


def button_set(images, prefix, lines, **kwargs):
    for state, (fill, ink) in STATES.items():
        write_png(os.path.join(images, f"{prefix}_{state}.png"),
                  kwargs.get("width", BUTTON_W), kwargs.get("height", BUTTON_H),
                  button(lines, fill, ink, **kwargs))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-skin.py OUTPUT_DIR")
    out = sys.argv[1]
    images, icons = os.path.join(out, "Images"), os.path.join(out, "Icons")
    os.makedirs(images, exist_ok=True)
    os.makedirs(icons, exist_ok=True)
    for name, word in BUTTONS.items():
        button_set(images, name, word)
    for name, word in SMALL_BUTTONS.items():
        button_set(images, name, word, width=84, height=26, radius=6)
    for name, word in CORNER_BUTTONS.items():
        button_set(images, name, word, width=56, height=23, radius=5, scale=1)
    for name, lines in SCAN_BUTTONS.items():
        button_set(images, name, lines, width=140, height=140, radius=16)
    for i in range(LOADING_FRAMES):
        write_png(os.path.join(images, f"Loading_{i}.png"), 32, 32, loading_frame(i))

    # Backgrounds: drawn stretched (border images), so small ones do.
    write_png(os.path.join(images, "Main_Background.png"), 80, 54, panel(80, 54, (28, 36, 50), (52, 66, 88)))
    write_png(os.path.join(images, "Dialog_Background.png"), 64, 64, panel(64, 64, (40, 50, 66), (58, 72, 94)))
    write_png(os.path.join(images, "Page_Background.png"), 64, 64,
              panel(64, 64, (36, 46, 60), (50, 62, 80), (90, 110, 140, 255)))
    write_png(os.path.join(images, "Main_Note.png"), 80, 80, panel(80, 80, (30, 38, 50), (36, 46, 60), (80, 100, 130, 255)))
    strip = panel(661, 171, (44, 56, 74), (60, 76, 100), (90, 110, 140, 255))
    write_png(os.path.join(images, "Main_Strip.png"), 661, 171, strip)
    banner = blank(421, 91)
    draw_text(banner, "RAVENDO", (230, 236, 245, 255), 7, 10)
    write_png(os.path.join(images, "Main_Product.png"), 421, 91, banner)

    write_png(os.path.join(icons, "Ravendo.png"), 32, 32,
              disc(32, (40, 96, 160, 255), (230, 230, 230, 255)))
    write_png(os.path.join(icons, "Ravendo64.png"), 64, 64,
              disc(64, (40, 96, 160, 255), (230, 230, 230, 255)))
    write_png(os.path.join(icons, "EmptyDisk.png"), 16, 16, empty_disk())
    write_png(os.path.join(icons, "AddGroup.png"), 16, 16, plus_icon(16, (40, 96, 160, 255), (255, 255, 255, 255)))
    write_png(os.path.join(icons, "AddType.png"), 16, 16, plus_icon(16, (60, 140, 80, 255), (255, 255, 255, 255)))
    write_gif(os.path.join(icons, "Scan.gif"), [loading_frame(i, 40) for i in range(LOADING_FRAMES)])


if __name__ == "__main__":
    main()
