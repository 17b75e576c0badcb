#!/usr/bin/env python3
"""Draws the window's icons (16-colour .ico files) from the pixel art below.

Run from anywhere; writes src/ui/win32/icons/*.ico. The icons are committed, so this is needed
only when a picture changes. Standard library only.
"""
import os
import struct

# The 16-colour palette of the classic display, and the letter that picks each colour.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
LETTERS = "KrgonptsdRGYBMCW"  # '.' is transparent

PHONE = [
    "................",
    "...........K....",
    "...........K....",
    "...........K....",
    "....KKKKKKKKK...",
    "...KsssssssssK..",
    "...KsKKKKKKKsK..",
    "...KsKCCCCCKsK..",
    "...KsKCCtCCKsK..",
    "...KsKKKKKKKsK..",
    "...KsssssssssK..",
    "...KsWdWsWdWsK..",
    "...KsssssssssK..",
    "...KsWdWsWdWsK..",
    "...KsssssssssK..",
    "....KKKKKKKKK...",
]

FOLDER = [
    ".KKKK...........",
    "KYYYYK..........",
    "KYYYYYKKKKKKKKK.",
    "KYWWWWWWWWWWWWYK",
    "KYWYYYYYYYYYYYoK",
    "KYYYYYYYYYYYYYoK",
    "KYYYYYYYYYYYYYoK",
    "KYYYYYYYYYYYYYoK",
    "KYYYYYYYYYYYYYoK",
    "KooooooooooooooK",
    ".KKKKKKKKKKKKKK.",
]

# Header sort marks: outlines in the 3-D shadow grey, which the loader maps to the system's colour.
SORT_UP = [
    "................",
    "................",
    "................",
    "................",
    ".......dd.......",
    "......d..d......",
    "......d..d......",
    ".....d....d.....",
    ".....d....d.....",
    "....d......d....",
    "....d......d....",
    "...dddddddddd...",
    "................",
    "................",
    "................",
    "................",
]
SORT_DOWN = [row for row in reversed(SORT_UP)]

FILE = [
    "..KKKKKKKK......",
    "..KWWWWWWKK.....",
    "..KWWWWWWKsK....",
    "..KWWWWWWKssK...",
    "..KWWWWWWKKKKK..",
    "..KWWWWWWWWWWK..",
    "..KWBBBBBBBWWK..",
    "..KWWWWWWWWWWK..",
    "..KWBBBBBBBBWK..",
    "..KWWWWWWWWWWK..",
    "..KWBBBBBBWWWK..",
    "..KWWWWWWWWWWK..",
    "..KWBBBBBBBBWK..",
    "..KWWWWWWWWWWK..",
    "..KKKKKKKKKKKK..",
    "................",
]


def doubled(art):
    """The picture at twice its size."""
    return ["".join(ch * 2 for ch in row) for row in art for _ in range(2)]


def overlay(base, top, x, y):
    rows = [list(r) for r in base]
    for dy, row in enumerate(top):
        for dx, ch in enumerate(row):
            if ch != ".":
                rows[y + dy][x + dx] = ch
    return ["".join(r) for r in rows]


def ico(art):
    """One 4-bit image with its transparency mask, as a complete .ico file."""
    size = len(art)
    assert all(len(row) == size for row in art), "icons are square"
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(art):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, ch in enumerate(row):
            index = 0 if ch == "." else LETTERS.index(ch)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if ch == ".":
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "win32", "icons")
    os.makedirs(out, exist_ok=True)
    program = overlay(doubled(PHONE), FOLDER, 1, 20)
    icons = {
        "program.ico": program,
        "window.ico": PHONE,
        "sort_up.ico": SORT_UP,
        "sort_down.ico": SORT_DOWN,
        "file.ico": FILE,
    }
    for name, art in icons.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico(art))
        print(os.path.normpath(os.path.join(out, name)))


if __name__ == "__main__":
    main()
