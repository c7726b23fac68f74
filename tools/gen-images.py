#!/usr/bin/env python3
"""Draws the program's icon and bitmaps as 16-colour XPM files.

Each image is drawn large with ImageMagick's vector primitives, scaled down
(which antialiases it) and reduced to at most 16 colours without dithering.
The XPM files are committed, so building needs no ImageMagick; run this
again after changing a drawing:  tools/gen-images.py [output-folder]
"""
import os
import re
import subprocess
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "resources", "images")

STATUS_BACKGROUND = "#d4d0c8"  # the classic dialog grey
FONT = "Liberation-Sans-Bold"
FONT_REGULAR = "Liberation-Sans"


def convert(args, out_name, size, colours=16, transparent=False):
    path = os.path.join(OUT, out_name)
    tail = ["-filter", "Lanczos", "-resize", "%dx%d!" % size]
    if transparent:
        tail += ["-channel", "A", "-threshold", "50%", "+channel"]
        colours -= 1  # one entry is "None"
    tail += ["+dither", "-colors", str(colours), "xpm:" + path]
    subprocess.run(["convert"] + args + tail, check=True)
    # Short colour forms (#RRGGBB) and a const array, as compilers like it.
    with open(path) as f:
        text = f.read()
    text = re.sub(r"#([0-9A-Fa-f]{2})[0-9A-Fa-f]{2}([0-9A-Fa-f]{2})[0-9A-Fa-f]{2}"
                  r"([0-9A-Fa-f]{2})[0-9A-Fa-f]{2}\b", r"#\1\2\3", text)
    text = text.replace("static char *", "static const char *")
    with open(path, "w") as f:
        f.write(text)


def status(name, draw, bg=STATUS_BACKGROUND):
    s = 8  # drawn at 8x: 384 x 384
    args = ["-size", "384x384", "xc:" + bg]
    args += draw(s)
    convert(args, name, (48, 48))


def pending(s):
    # a raised light disc with a grey question mark
    c, r = 24 * s, 17 * s
    return [
        "-fill", "#9a9a9a", "-stroke", "none",
        "-draw", "circle %d,%d %d,%d" % (c + s, c + s, c + s + r, c + s),
        "-fill", "#f4f4f4", "-stroke", "#808080", "-strokewidth", str(s),
        "-draw", "circle %d,%d %d,%d" % (c, c, c + r, c),
        "-fill", "#6a6a6a", "-stroke", "none", "-font", FONT, "-pointsize", str(26 * s),
        "-gravity", "center", "-annotate", "+0+%d" % (s // 2), "?",
    ]


def stroke_path(points, colour, width, s):
    pts = " ".join("%d,%d" % (x * s, y * s) for x, y in points)
    return ["-fill", "none", "-stroke", colour, "-strokewidth", str(width * s),
            "-draw", "stroke-linecap round stroke-linejoin round polyline " + pts]


def tick(s):
    pts = [(12, 25), (20, 33), (36, 14)]
    shadow = [(x + 1, y + 1) for x, y in pts]
    return (stroke_path(shadow, "#8a8a8a", 8, s)
            + stroke_path(pts, "#0b5e0b", 8, s)
            + stroke_path(pts, "#22b022", 5, s)
            + stroke_path([(13, 24), (20, 31)], "#7ee07e", 1.4, s))


def cross(s):
    a = [(14, 14), (34, 34)]
    b = [(34, 14), (14, 34)]
    out = []
    for line in (a, b):
        out += stroke_path([(x + 1, y + 1) for x, y in line], "#8a8a8a", 8, s)
    for line in (a, b):
        out += stroke_path(line, "#7a0e0e", 8, s)
    for line in (a, b):
        out += stroke_path(line, "#dc2626", 5, s)
    return out


def chip(s, ox, oy, size, body="#1c4f86", pins="#c8ccd2", mark="#ffffff"):
    """An IC package with four pins a side and a flash bolt, in a size x size box."""
    u = size / 32.0 * s
    args = ["-stroke", "none", "-fill", pins]
    for i in range(4):
        y = oy * s + (8 + i * 5.5) * u
        args += ["-draw", "rectangle %d,%d %d,%d" % (ox * s + 2 * u, y, ox * s + 30 * u, y + 3 * u)]
    args += ["-fill", body, "-stroke", "#0a2440", "-strokewidth", str(u),
             "-draw", "roundrectangle %d,%d %d,%d %d,%d" % (
                 ox * s + 6 * u, oy * s + 4 * u, ox * s + 26 * u, oy * s + 30 * u, 2 * u, 2 * u)]
    bolt = [(18, 7), (11, 18), (16, 18), (13, 27), (21, 14), (16, 14), (19, 7)]
    pts = " ".join("%d,%d" % (ox * s + x * u, oy * s + y * u) for x, y in bolt)
    args += ["-fill", "#ffcc00", "-stroke", "#8a5a00", "-strokewidth", str(0.8 * u),
             "-draw", "polygon " + pts]
    args += ["-fill", mark, "-stroke", "none",
             "-draw", "circle %d,%d %d,%d" % (ox * s + 9 * u, oy * s + 7 * u, ox * s + 10 * u, oy * s + 7 * u)]
    return args


def icon(size):
    s = 8
    args = ["-size", "%dx%d" % (32 * s, 32 * s), "xc:none"] + chip(s, 0, 0, 32)
    convert(args, "icon-%d.xpm" % size, (size, size), transparent=True)


def logo():
    s = 4
    w, h = 206 * s, 57 * s
    args = ["-size", "%dx%d" % (w, h), "xc:#f4f6f9",
            "-fill", "#1c4f86", "-stroke", "none",
            "-draw", "rectangle 0,0 %d,%d" % (52 * s, h),
            "-fill", "#2f6db0", "-draw", "rectangle %d,0 %d,%d" % (52 * s, 55 * s, h),
            "-fill", "#1c4f86", "-draw", "rectangle %d,%d %d,%d" % (55 * s, 52 * s, w, h)]
    args += chip(s, 9, 11, 34, body="#f4f6f9", pins="#c8ccd2", mark="#1c4f86")
    args += ["-fill", "#16345a", "-stroke", "none", "-font", FONT, "-pointsize", str(24 * s),
             "-gravity", "northwest", "-annotate", "+%d+%d" % (62 * s, 5 * s), "Corvantis",
             "-fill", "#3b5f86", "-font", FONT_REGULAR, "-pointsize", str(9 * s),
             "-annotate", "+%d+%d" % (63 * s, 34 * s), "MSP430 production programming"]
    convert(args, "logo.xpm", (206, 57))


def main():
    os.makedirs(OUT, exist_ok=True)
    status("pending.xpm", pending)
    status("pass.xpm", tick)
    status("fail.xpm", cross)
    icon(32)
    icon(16)
    logo()


if __name__ == "__main__":
    main()
