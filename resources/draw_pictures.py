#!/usr/bin/env python3
"""Draws the window icon and the button pictures as XPM files (run once; the XPMs are kept).

Each picture is a character grid; the bottom-left pixel's colour is the transparent colour that
the window keys out when it loads the picture, as the buttons of the original toolkit do.
"""

PURPLE, OLIVE = "#800080", "#808000"


def xpm(name, grid, colours):
    h, w = len(grid), len(grid[0])
    assert all(len(r) == w for r in grid), name
    lines = [f'"{w} {h} {len(colours)} 1",']
    lines += [f'"{k} c {v}",' for k, v in colours.items()]
    lines += [f'"{r}",' for r in grid]
    lines[-1] = lines[-1].rstrip(",")
    with open(f"{name}.xpm", "w") as f:
        f.write(f"/* XPM */\nstatic const char *{name}[] = {{\n" + "\n".join(lines) + "\n};\n")


hands = [
    "................",
    "................",
    "................",
    "bbb..........ccc",
    "bbbss......ssccc",
    "bbbsss.sssssoccc",
    "bbbssssssosssccc",
    "bbbsssssossssccc",
    "bbbsosssssssoccc",
    "bbbssosssssoo...",
    "bbb.ssossso.....",
    "......sssso.....",
    ".......sso......",
    "................",
    "................",
    "................",
]
xpm("connect_up", hands, {".": PURPLE, "b": "#1F4FA0", "c": "#A0301F", "s": "#F0C090", "o": "#905020"})


def prohibition(body, mark):
    g = []
    for y in range(16):
        row = ""
        for x in range(16):
            dx, dy = x - 7.5, y - 7.5
            r2 = dx * dx + dy * dy
            on_ring = 36 <= r2 <= 64
            on_bar = abs(dx - dy) <= 1.0 and r2 < 49
            on_mark = (x in (7, 8)) and (3 <= y <= 9 or 11 <= y <= 12)
            row += "r" if (on_ring or on_bar) else ("m" if on_mark else ".")
        g.append(row)
    return g


xpm("connect_disabled", prohibition("r", "m"), {".": PURPLE, "r": "#A0A0A0", "m": "#707070"})
xpm("connect_down", prohibition("r", "m"), {".": PURPLE, "r": "#E01010", "m": "#000000"})

folder = [
    "................",
    "................",
    "..kkkk..........",
    ".kyyyyk.........",
    ".kyyyyykkkkkkk..",
    ".kyyyyyyyyyyyk..",
    ".kyykkkkkkkkkkkk",
    ".kyky#########k.",
    ".kykyy#######k..",
    ".kkyyyyyyyyyyk..",
    ".kkyyyyyyyyyk...",
    ".kyyyyyyyyyyk...",
    ".kkkkkkkkkkk....",
    "................",
    "................",
    "................",
]
xpm("folder", folder, {".": PURPLE, "k": "#000000", "y": "#F0D020", "#": "#FFF080"})
xpm("folder_disabled", folder, {".": PURPLE, "k": "#808080", "y": PURPLE, "#": PURPLE})

disk = [
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kkrrrrrrrrrrkk.",
    ".kkrwwwwwwwwrkk.",
    ".kkrrrrrrrrrrkk.",
    ".kkrwwwwwwwwrkk.",
    ".kkrrrrrrrrrrkk.",
    ".kkkkkkkkkkkkkk.",
    ".kkkkkkkkkkkkkk.",
    ".kkkggggggggkkk.",
    ".kkkggkkggggkkk.",
    ".kkkggkkggggkkk.",
    ".kkkggkkggggkkk.",
    "..kkkkkkkkkkkkk.",
    "................",
    "................",
]
xpm("diskette", disk, {".": OLIVE, "k": "#101010", "r": "#E02020", "w": "#FFFFFF", "g": "#C0C0C0"})
xpm("diskette_disabled", [r.replace("r", "k").replace("w", "k").replace("g", ".") for r in disk],
    {".": OLIVE, "k": "#808080"})


def lamps(size):
    g = [["f"] * size for _ in range(size)]
    s = size // 16
    for y in range(size):
        for x in range(size):
            if x < s or y < s or x >= size - s or y >= size - s:
                g[y][x] = "d"
    colours = "roGb"
    cell = (size - 2 * s) // 2
    pad = max(1, cell // 6)
    for i, c in enumerate(colours):
        ox = s + (i % 2) * cell + pad
        oy = s + (i // 2) * cell + pad
        for y in range(oy, oy + cell - 2 * pad):
            for x in range(ox, ox + cell - 2 * pad):
                g[y][x] = c
    return ["".join(r) for r in g]


icon_colours = {"f": "#B0B0B0", "d": "#606060", "r": "#E02020", "o": "#F09010", "G": "#20C020", "b": "#2040E0"}
xpm("icon32", lamps(32), icon_colours)
xpm("icon16", lamps(16), icon_colours)


# The same icon for the desktop (hicolor PNGs and an SVG) and for the Windows executable (an
# ICO holding PNGs): drawn from the lamps above at each size, written with the standard library.
import os
import struct
import zlib


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))


def png_bytes(grid, colours):
    h, w = len(grid), len(grid[0])
    raw = b"".join(b"\0" + b"".join(bytes(rgb(colours[c])) + b"\xff" for c in row) for row in grid)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


sizes = [16, 32, 48, 64, 128, 256]
pngs = {}
for size in sizes:
    pngs[size] = png_bytes(lamps(size), icon_colours)
    folder_name = f"icons/hicolor/{size}x{size}/apps"
    os.makedirs(folder_name, exist_ok=True)
    with open(f"{folder_name}/tk7v.png", "wb") as f:
        f.write(pngs[size])

with open("tk7v.ico", "wb") as f:
    entries = [16, 32, 48, 256]
    f.write(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size in entries:
        f.write(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(pngs[size]), offset))
        offset += len(pngs[size])
    for size in entries:
        f.write(pngs[size])

grid = lamps(32)
rects = [f'<rect x="{x}" y="{y}" width="1" height="1" fill="{icon_colours[c]}"/>'
         for y, row in enumerate(grid) for x, c in enumerate(row) if c != "f"]
os.makedirs("icons/hicolor/scalable/apps", exist_ok=True)
with open("icons/hicolor/scalable/apps/tk7v.svg", "w") as f:
    f.write('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32" '
            'shape-rendering="crispEdges">\n'
            f'<rect width="32" height="32" fill="{icon_colours["f"]}"/>\n' + "\n".join(rects) + "\n</svg>\n")
