#!/usr/bin/env python3
"""Exports the six format icons from the layered master drawing.

Each exported file keeps every layer of scripts/artwork/format_icons.svg and
swaps the master's style element for one whose class rule hides all layers
but the file's own (display:none). Keeping all layers keeps the union of the
drawing, which the framework fits into a tile, identical across the six files.
Line ends are CR LF and the file ends with the closing tag and one CR LF.
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LAYERS = ("vst3", "clap", "aax", "auv2", "auv3", "lv2")


def export(master, shown):
    if not re.search(r"<style>[^<]*</style>", master):
        sys.exit("master drawing has no style element")
    for name in LAYERS:
        if ('class="' + name + '"') not in master:
            sys.exit("master drawing has no layer " + name)
    hidden = ", ".join("." + n for n in LAYERS if n != shown)
    style = "<style>" + hidden + " { display: none; }</style>"
    text = re.sub(r"<style>[^<]*</style>", style, master, count=1)
    text = text.replace("\r\n", "\n").rstrip("\n")
    return text.replace("\n", "\r\n") + "\r\n"


def main():
    with open(os.path.join(HERE, "format_icons.svg"), newline="") as f:
        master = f.read()
    for name in LAYERS:
        path = os.path.join(ROOT, "resources", "icon_" + name + ".svg")
        with open(path, "w", newline="") as f:
            f.write(export(master, name))


if __name__ == "__main__":
    main()
