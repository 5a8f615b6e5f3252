#!/usr/bin/env python3
"""Writes the tray icon (res/tray.ico): one 16x16 image, 256 colours, 8 bits
per pixel, from the pixel map below. The output depends on nothing but this
file, so it is reproducible byte for byte.

    scripts/make-tray-icon.py [OUT]           write OUT (default res/tray.ico)
    scripts/make-tray-icon.py --check FILE    exit 1 unless FILE matches
"""
import struct
import sys
from pathlib import Path

# '.' is transparent; digits index the palette below.
PIXELS = [
    "....11111111....",
    "..113333333311..",
    ".13333335533331.",
    ".13333355553331.",
    "1333333555533331",
    "1333333355333331",
    "1333333333333331",
    "1344433334443331",
    "1442244444224441",
    "1222222222222221",
    "1224442222444221",
    "1442224444222441",
    ".12222222222221.",
    ".12244422244421.",
    "..112222222211..",
    "....11111111....",
]

# Palette entries as (red, green, blue); the other entries stay black.
COLOURS = {
    1: (0x10, 0x2A, 0x5C),  # outline, deep navy
    2: (0x1E, 0x64, 0xC8),  # water
    3: (0xA8, 0xD8, 0xF8),  # sky
    4: (0xFF, 0xFF, 0xFF),  # wave crests
    5: (0xF8, 0xD0, 0x40),  # sun
}

SIZE = 16


def build_icon():
    assert len(PIXELS) == SIZE and all(len(row) == SIZE for row in PIXELS)
    palette = bytearray(256 * 4)
    for index, (red, green, blue) in COLOURS.items():
        palette[index * 4:index * 4 + 4] = bytes((blue, green, red, 0))

    xor_rows = []
    and_rows = []
    for row in reversed(PIXELS):  # bitmaps are stored bottom-up
        xor_rows.append(bytes(0 if c == "." else int(c) for c in row))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c == "." else 0)
        and_rows.append(struct.pack(">H", mask) + b"\0\0")  # rows padded to 32 bits
    xor_bits = b"".join(xor_rows)
    and_bits = b"".join(and_rows)

    # BITMAPINFOHEADER: the height counts the colour and the mask bitmaps.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 256, 0)
    image = header + bytes(palette) + xor_bits + and_bits

    directory = struct.pack("<HHH", 0, 1, 1)
    # width, height, colour count (0 = 256), reserved, planes, bits per pixel,
    # image size, image offset.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    data = build_icon()
    if len(argv) == 3 and argv[1] == "--check":
        if Path(argv[2]).read_bytes() != data:
            print(f"{argv[2]} differs from what {argv[0]} produces", file=sys.stderr)
            return 1
        return 0
    if len(argv) > 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = Path(argv[1]) if len(argv) == 2 else Path(__file__).resolve().parent.parent / "res" / "tray.ico"
    out.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
