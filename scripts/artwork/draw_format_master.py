#!/usr/bin/env python3
"""Draws the layered 32 x 32 master of the six format marks.

Writes scripts/artwork/format_icons.svg: one layer group per format mark, all
visible, so the drawing can be opened and edited as a whole.
export_format_icons.py then writes resources/icon_<format>.svg from it.

Every layer is centred on (16, 16) and the LV2 ring is the widest layer, so
the union of the layers, which the framework fits into a tile, is the same
square in all six exported files.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from geometry import capsule, circle  # noqa: E402
from glyphs import word, outline_L, outline_2, letter_V  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
LAYERS = ("vst3", "clap", "aax", "auv2", "auv3", "lv2")


def filled(paths, indent="    "):
    return [indent + '<path d="' + d + '"/>' for d in paths]


def layer_vst3():
    return filled(word([("V", 8.8), ("S", 7.6), ("T", 8.0)], y0=9.5, H=13.0, w=2.8,
                       gap=0.8, centre_x=16.0))


def layer_aax():
    return filled(word([("A", 8.6), ("A", 8.6), ("X", 8.0)], y0=9.5, H=13.0, w=2.8,
                       gap=0.4, centre_x=16.0))


def layer_au(version):
    return filled(word([("A", 6.9), ("U", 6.0), ("v", 5.4, 4.0), (version, 5.9)],
                       y0=10.0, H=12.0, w=2.3, gap=0.55, centre_x=16.0))


def layer_clap():
    # Two palms meeting at the fingertips, thumbs out, a burst of three
    # short strokes above the meeting point
    w = 5.6
    paths = [capsule((14.0, 12.6), (10.2, 25.6), w),
             capsule((18.0, 12.6), (21.8, 25.6), w),
             capsule((9.4, 21.4), (6.1, 16.4), 3.0),
             capsule((22.6, 21.4), (25.9, 16.4), 3.0)]
    paths += [capsule((16.0, 4.3), (16.0, 6.9), 2.0),
              capsule((10.9, 6.0), (12.4, 8.0), 2.0),
              capsule((21.1, 6.0), (19.6, 8.0), 2.0)]
    return filled(paths)


def layer_lv2():
    # Outlined letters inside a ring; only strokes, no fill
    w, H, y0 = 2.6, 9.0, 11.5
    widths, gap = (5.6, 6.6, 5.8), 0.9
    x = 16.0 - (sum(widths) + 2 * gap) / 2.0
    shapes = [outline_L(x, y0, widths[0], H, w)]
    x += widths[0] + gap
    shapes.append(letter_V(x, y0, widths[1], H, w))
    x += widths[1] + gap
    shapes.append(outline_2(x, y0, widths[2], H, w))
    shapes.append(circle((16.0, 16.0), 12.6))
    shapes.append(circle((16.0, 16.0), 10.9))
    return ['    <path fill="none" stroke="#000000" stroke-width="0.75" stroke-linejoin="round" d="'
            + d + '"/>' for d in shapes]


def master():
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">',
             '  <style>.none{display:none}</style>']
    bodies = {"vst3": layer_vst3(), "clap": layer_clap(), "aax": layer_aax(),
              "auv2": layer_au("2"), "auv3": layer_au("3"), "lv2": layer_lv2()}
    for name in LAYERS:
        lines.append('  <g id="layer-' + name + '" class="' + name + '">')
        lines += bodies[name]
        lines.append('  </g>')
    lines.append('</svg>')
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    with open(os.path.join(HERE, "format_icons.svg"), "w", newline="") as f:
        f.write(master())
