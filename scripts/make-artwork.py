#!/usr/bin/env python3
"""Draws the program's artwork: the 16 x 16, 256-colour window icon and the 59 x 112 picture of
Image1. Run it to regenerate resources/KestovaDesktopUpdater.ico and resources/Image1.bmp."""
import math
import pathlib
import struct

RESOURCES = pathlib.Path(__file__).resolve().parent.parent / "resources"


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                self.put(x, y, colour)

    def disc(self, cx, cy, radius, colour):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                    self.put(x, y, colour)


def palette_of(canvas):
    colours = sorted({c for row in canvas.pixels for c in row if c is not None})
    assert len(colours) <= 256, len(colours)
    return colours + [(0, 0, 0)] * (256 - len(colours))


def dib(canvas, palette, height_field):
    """BITMAPINFOHEADER, palette and bottom-up 8-bit rows."""
    index = {c: i for i, c in enumerate(palette)}
    stride = (canvas.width + 3) & ~3
    rows = b""
    for row in reversed(canvas.pixels):
        line = bytes(index.get(c, 0) if c is not None else 0 for c in row)
        rows += line + b"\0" * (stride - canvas.width)
    header = struct.pack("<IiiHHIIiiII", 40, canvas.width, height_field, 1, 8, 0, len(rows),
                         2835, 2835, 256, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + rows


def write_icon(canvas, path):
    palette = palette_of(canvas)
    image = dib(canvas, palette, canvas.height * 2)
    mask_stride = ((canvas.width + 31) // 32) * 4
    mask = b""
    for row in reversed(canvas.pixels):
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    image += mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", canvas.width, canvas.height, 0, 0, 1, 8, len(image), 22)
    path.write_bytes(header + entry + image)


def write_bitmap(canvas, path):
    image = dib(canvas, palette_of(canvas), canvas.height)
    offset = 14 + 40 + 256 * 4
    path.write_bytes(struct.pack("<2sIHHI", b"BM", 14 + len(image), 0, 0, offset) + image)


PAPER = (250, 248, 240)
INK = (40, 70, 140)
SEAL = (200, 40, 40)
GOLD = (214, 170, 40)
GOLD_DARK = (150, 110, 20)


def draw_icon():
    icon = Canvas(16, 16, None)  # None: transparent
    icon.rect(2, 1, 13, 15, (90, 90, 90))
    icon.rect(3, 2, 12, 14, PAPER)
    for y in (4, 6, 8):
        icon.rect(4, y, 11, y + 1, INK)
    icon.disc(11.5, 11.5, 3.2, SEAL)
    icon.disc(11.5, 11.5, 1.4, GOLD)
    return icon


def draw_picture():
    picture = Canvas(59, 112, (0, 0, 0))
    for y in range(112):  # evening sky: deep blue into teal
        t = y / 111
        colour = (int(20 + 10 * t), int(50 + 90 * t), int(120 + 40 * t))
        picture.rect(0, y, 59, y + 1, colour)
    # the certificate
    picture.rect(8, 10, 51, 62, (70, 70, 80))
    picture.rect(9, 11, 50, 61, PAPER)
    picture.rect(13, 16, 46, 18, INK)
    for y in range(23, 45, 5):
        picture.rect(13, y, 46 if y % 2 else 40, y + 1, (120, 130, 160))
    picture.disc(40, 52, 6, SEAL)
    picture.disc(40, 52, 3, GOLD)
    picture.rect(36, 57, 38, 66, SEAL)
    picture.rect(42, 57, 44, 66, SEAL)
    # the key
    picture.disc(29.5, 80, 8, GOLD_DARK)
    picture.disc(29.5, 80, 7, GOLD)
    picture.disc(29.5, 80, 3, (30, 100, 140))
    picture.rect(28, 87, 32, 104, GOLD)
    picture.rect(32, 95, 36, 98, GOLD)
    picture.rect(32, 100, 35, 103, GOLD)
    for y in range(112):  # soft light from the upper left
        for x in range(59):
            r, g, b = picture.pixels[y][x]
            glow = max(0.0, 1 - math.hypot(x, y) / 90) * 30
            picture.pixels[y][x] = tuple(min(255, int(v + glow)) // 8 * 8 for v in (r, g, b))
    return picture


if __name__ == "__main__":
    write_icon(draw_icon(), RESOURCES / "KestovaDesktopUpdater.ico")
    write_bitmap(draw_picture(), RESOURCES / "Image1.bmp")
