#!/usr/bin/env python3
"""Draws the folder dialog's tree images: 16 by 16 pixels, 16 colours.

Each picture is a grid of letters, one per pixel, in the standard 16-colour
palette (the image list converts to it anyway). Run it after changing a grid;
it rewrites the .bmp files beside itself, which the resource scripts include.

    python3 kv2fold/resources/bitmaps/draw_bitmaps.py
"""
import os
import struct

# The standard 16-colour palette, as red, green, blue.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# Letters of the grids: palette indices.
COLOURS = {
    'k': 0,   # black outline
    'o': 3,   # olive: a folder's shade
    'n': 4,   # navy
    't': 6,   # teal
    's': 7,   # silver
    'g': 8,   # grey
    'y': 11,  # yellow
    'b': 12,  # blue
    'c': 14,  # cyan
    '.': 15,  # white: the tree's background
}

PICTURES = {
    # 110: the profile, a person.
    'profile.bmp': [
        "................",
        "......kkkk......",
        ".....kyyyyk.....",
        "....kyyyyyyk....",
        "....kyyyyyyk....",
        "....kyyyyyyk....",
        "....kyyyyyyk....",
        ".....kyyyyk.....",
        "......kkkk......",
        "....kkkkkkkk....",
        "...kbbbccbbbk...",
        "..kbbbbccbbbbk..",
        "..kbbbbccbbbbk..",
        "..kbbbbccbbbbk..",
        "..kkkkkkkkkkkk..",
        "................",
    ],
    # 103: a message store, a drum of data.
    'store.bmp': [
        "................",
        "....kkkkkkkk....",
        "..kk........kk..",
        ".k............k.",
        ".kkk........kkk.",
        ".ksskkkkkkkkssk.",
        ".kssssssssssssk.",
        ".ksggggggggggsk.",
        ".kssssssssssssk.",
        ".kssssssssssssk.",
        ".ksggggggggggsk.",
        ".kssssssssssssk.",
        ".kksssssssssskk.",
        "...kkkkkkkkkk...",
        "................",
        "................",
    ],
    # 105: a closed folder.
    'folder.bmp': [
        "................",
        "................",
        "..kkkkk.........",
        ".kyyyyyk........",
        ".kyyyyyykkkkkkk.",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".kyyyyyyyyyyyyok",
        ".koooooooooooook",
        "..kkkkkkkkkkkkk.",
        "................",
    ],
    # 106: an open folder.
    'folder_open.bmp': [
        "................",
        "................",
        "..kkkkk.........",
        ".kyyyyyk........",
        ".kyyyyyykkkkkk..",
        ".kyysssssssssyk.",
        ".kyys.......syk.",
        ".kyys.kkkkkkkkkk",
        ".kyyskyyyyyyyyyk",
        ".kyykyyyyyyyyyk.",
        ".kyykyyyyyyyyyk.",
        ".kykyyyyyyyyyk..",
        ".kykyyyyyyyyyk..",
        ".kkyyyyyyyyyk...",
        ".kkkkkkkkkkkk...",
        "................",
    ],
}


# 104: the store holding a document (a chosen store): a page over the drum's
# lower right; blanks in the page leave the drum showing.
PAGE = [
    "kkkkkk  ",
    "k....kk ",
    "k.bb.k.k",
    "k....kkk",
    "k.bbbb.k",
    "k......k",
    "k.bbbb.k",
    "k......k",
    "k.bbbb.k",
    "kkkkkkkk",
]


def overlay(rows, picture, left, top):
    rows = [list(r) for r in rows]
    for y, line in enumerate(picture):
        for x, c in enumerate(line):
            if c != ' ':
                rows[top + y][left + x] = c
    return [''.join(r) for r in rows]


PICTURES['store_document.bmp'] = overlay(PICTURES['store.bmp'], PAGE, 8, 6)


def bitmap(rows):
    """A 4-bit BMP file of the grid (rows top first)."""
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), rows
    pixels = b''
    for row in reversed(rows):  # a BMP is stored bottom-up
        indices = [COLOURS[c] for c in row]
        pixels += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, 16, 2))
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack('<IiiHHIIiiII', 40, 16, 16, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rows in PICTURES.items():
        with open(os.path.join(here, name), 'wb') as out:
            out.write(bitmap(rows))


if __name__ == '__main__':
    main()
