#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the program's icon, a strip of punched Baudot tape reading RYRY (the classic
teleprinter test), as 16-colour XPM images at 32 x 32 and 16 x 16 and as a scalable SVG of the
32 x 32 drawing. Run it from this folder after changing the drawing; the files are committed."""

COLOURS = {
    " ": "None",      # transparent
    ".": "#F2E6B0",   # paper
    "e": "#B8A060",   # tape edge
    "o": "#1E2A44",   # code hole
    "f": "#5A6478",   # feed hole
}
R = (0, 1, 0, 1, 0)  # ITA2 code tracks 1..5
Y = (1, 0, 1, 0, 1)


def draw(size, top, bottom, tracks, feed_row, hole_w, hole_h, columns):
    grid = [[" "] * size for _ in range(size)]
    for y in range(top, bottom + 1):
        for x in range(size):
            grid[y][x] = "e" if y in (top, bottom) else "."
    for index, x in enumerate(columns):
        code = R if index % 2 == 0 else Y
        for bit, row in zip(code, tracks):
            if bit:
                for dy in range(hole_h):
                    for dx in range(hole_w):
                        grid[row + dy][x + dx] = "o"
        grid[feed_row][x + hole_w // 2] = "f"
    return ["".join(row) for row in grid]


def xpm(name, rows):
    size = len(rows)
    lines = [f"/* XPM */", f"static const char *{name}[] = {{",
             f'"{size} {size} {len(COLOURS)} 1",']
    lines += [f'"{key} c {value}",' for key, value in COLOURS.items()]
    lines += [f'"{row}",' for row in rows[:-1]] + [f'"{rows[-1]}"', "};", ""]
    return "\n".join(lines)


big = draw(32, 4, 28, tracks=(6, 10, 17, 21, 25), feed_row=14, hole_w=3, hole_h=3,
           columns=(1, 6, 11, 16, 21, 26))
small = draw(16, 1, 14, tracks=(3, 5, 9, 11, 13), feed_row=7, hole_w=2, hole_h=1,
             columns=(1, 6, 11))
with open("quorlix-32.xpm", "w") as out:
    out.write(xpm("quorlix_32", big))
with open("quorlix-16.xpm", "w") as out:
    out.write(xpm("quorlix_16", small))


def svg(rows, scale=8):
    size = len(rows)
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{size * scale}" '
             f'height="{size * scale}" viewBox="0 0 {size} {size}" shape-rendering="crispEdges">']
    for y, row in enumerate(rows):
        x = 0
        while x < size:
            key, run = row[x], 1
            while x + run < size and row[x + run] == key:
                run += 1
            if key != " ":
                parts.append(f'<rect x="{x}" y="{y}" width="{run}" height="1" '
                             f'fill="{COLOURS[key]}"/>')
            x += run
    parts.append("</svg>\n")
    return "\n".join(parts)


with open("quorlix.svg", "w") as out:
    out.write(svg(big))


def png(rows):
    """A true-colour PNG with transparency, written without any imaging library."""
    import struct
    import zlib

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    size = len(rows)
    raw = b""
    for row in rows:
        raw += b"\0"
        for key in row:
            colour = COLOURS[key]
            raw += b"\0\0\0\0" if colour == "None" else bytes.fromhex(colour[1:]) + b"\xff"
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


with open("quorlix-32.png", "wb") as out:
    out.write(png(big))
with open("quorlix-16.png", "wb") as out:
    out.write(png(small))
