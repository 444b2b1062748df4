#!/usr/bin/env python3
"""Draws the nine 256 x 256 icons into resources/.

Each icon is drawn in a 90 x 90 space that one group transform places in the
256 x 256 view box. Outline icons share one stroke weight (7) and the disc
icons one disc (radius 45), so the set reads as one family. Line ends are
CR LF and each file ends exactly with its closing tag.
"""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from geometry import (capsule, circle, ellipse, polygon, rect, ring_arc,  # noqa: E402
                      rounded_rect, stroke, num, pt, polar)
from glyphs import word  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
WEIGHT = 7.0
BLACK = 'fill="#000000"'


def path(d, attrs=BLACK):
    return '<path ' + attrs + ' d="' + d + '"/>'


def document(body, defs=None):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">']
    if defs:
        lines += ["  " + d for d in defs]
    lines.append('  <g transform="translate(1.4066 1.4066) scale(2.81 2.81)">')
    lines += ["    " + b for b in body]
    lines.append('  </g>')
    lines.append('</svg>')
    return "\r\n".join(lines)


# ---------------------------------------------------------------- pages

PAGE = dict(x0=14.0, y0=2.0, x1=76.0, y1=88.0, fold=20.0, r=4.0)


def page_outline():
    """The page as a band of the common weight, with the corner cut off."""
    x0, y0, x1, y1, f, r = (PAGE[k] for k in ("x0", "y0", "x1", "y1", "fold", "r"))
    w = WEIGHT
    d = ("M" + pt((x0 + r, y0)) + " H" + num(x1 - f) + " L" + pt((x1, y0 + f))
         + " V" + num(y1 - r) + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x1 - r, y1))
         + " H" + num(x0 + r) + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x0, y1 - r))
         + " V" + num(y0 + r) + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x0 + r, y0)) + " Z")
    # inner edge: the same outline moved inwards by the weight
    k = (x1 - f) - y0                      # the cut edge is the line x - y = k
    ki = k - w * math.sqrt(2.0)
    ix0, iy0, ix1, iy1 = x0 + w, y0 + w, x1 - w, y1 - w
    d += (" M" + pt((ix0, iy0)) + " V" + num(iy1) + " H" + num(ix1)
          + " V" + num(ix1 - ki) + " L" + pt((iy0 + ki, iy0)) + " Z")
    return d


def page_flap():
    x1, y0, f = PAGE["x1"], PAGE["y0"], PAGE["fold"]
    return polygon([(x1 - f, y0), (x1, y0 + f), (x1 - f, y0 + f)])


def icon_eula():
    lines = [capsule((29.5, 23.0), (45.0, 23.0), 5.5),
             capsule((29.5, 37.0), (60.5, 37.0), 5.5),
             capsule((29.5, 49.0), (60.5, 49.0), 5.5),
             capsule((29.5, 61.0), (60.5, 61.0), 5.5),
             capsule((29.5, 73.0), (49.0, 73.0), 5.5)]
    defs = ['<defs>',
            '  <linearGradient id="flap" x1="0.5" y1="0.5" x2="0" y2="1">',
            '    <stop offset="0" stop-color="#FFFFFF"/>',
            '    <stop offset="1" stop-color="#000000"/>',
            '  </linearGradient>',
            '</defs>']
    body = [path(page_outline()),
            path(page_flap(), 'fill="url(#flap)"')]
    body += [path(d) for d in lines]
    return document(body, defs)


def icon_manual():
    arrow = [capsule((45.0, 15.5), (45.0, 34.0), 6.5),
             stroke([(34.5, 27.5), (45.0, 38.0), (55.5, 27.5)], 6.5)]
    letters = word([("P", 11.0), ("D", 12.0), ("F", 10.0)], y0=52.0, H=20.0, w=5.0,
                   gap=2.2, centre_x=45.0)
    body = [path(page_outline()), path(page_flap())]
    body += [path(d) for d in arrow]
    body += [path(d) for d in letters]
    return document(body)


# ---------------------------------------------------------------- globe

def icon_web():
    c = (45.0, 45.0)
    r = 45.0 - WEIGHT / 2.0
    inner = 5.5
    body = [path(ring_arc(c, r, r, WEIGHT, 0, 180) + " " + ring_arc(c, r, r, WEIGHT, 180, 360)),
            path(ring_arc(c, 17.0, r, inner, 0, 180) + " " + ring_arc(c, 17.0, r, inner, 180, 360)),
            path(rect(45.0 - inner / 2.0, c[1] - r, inner, 2 * r)),
            path(rect(c[0] - r, 45.0 - inner / 2.0, 2 * r, inner))]
    for y in (45.0 - 21.0, 45.0 + 21.0):
        half = math.sqrt(r * r - (y - 45.0) ** 2)
        body.append(path(rect(45.0 - half, y - inner / 2.0, 2 * half, inner)))
    return document(body)


# ---------------------------------------------------------------- help

def question_mark(cx, cy, r, w, stem_bottom):
    """One contour: the hook, a quarter turn into the stem, the stem."""
    R, ri = r + w / 2.0, r - w / 2.0
    by = cy + R                        # bottom of the hook's outer edge
    d = ("M" + pt((cx - R, cy))
         + " A" + num(R) + " " + num(R) + " 0 1 1 " + pt((cx, by))
         + " V" + num(stem_bottom) + " H" + num(cx - w)
         + " V" + num(by)
         + " A" + num(w) + " " + num(w) + " 0 0 1 " + pt((cx, cy + ri))
         + " A" + num(ri) + " " + num(ri) + " 0 1 0 " + pt((cx - ri, cy)) + " Z")
    return d


def icon_help():
    w = 10.0
    cx, cy = 49.0, 31.0
    d = circle((45.0, 45.0), 45.0)
    d += " " + question_mark(cx, cy, 12.5, w, 58.0)
    d += " " + circle((cx - w / 2.0, 70.0), 6.2)
    return document([path(d, BLACK + ' fill-rule="evenodd"')])


# ---------------------------------------------------------------- install

def gear(c, tip, root, hole, teeth, tip_half, root_half):
    d = ""
    step = 360.0 / teeth
    for i in range(teeth):
        a = -90.0 + i * step
        p1 = polar(c, root, a - root_half)
        p2 = polar(c, tip, a - tip_half)
        p3 = polar(c, tip, a + tip_half)
        p4 = polar(c, root, a + root_half)
        p5 = polar(c, root, a + step - root_half)
        d += ("M" if i == 0 else " L") + pt(p1)
        d += " L" + pt(p2)
        d += " A" + num(tip) + " " + num(tip) + " 0 0 1 " + pt(p3)
        d += " L" + pt(p4)
        d += " A" + num(root) + " " + num(root) + " 0 0 1 " + pt(p5)
    d += " Z " + circle(c, hole, clockwise=False)
    return d


def icon_install():
    c = (45.0, 45.0)
    body = [path(gear(c, 45.0, 35.5, 24.0, 8, 9.0, 13.5)),
            path(rect(41.0, 27.0, 8.0, 20.0) + " "
                 + polygon([(31.0, 44.0), (59.0, 44.0), (45.0, 62.0)]))]
    return document(body)


# ---------------------------------------------------------------- discord

def icon_discord():
    # A speech bubble with a tail and three dots: the community chat mark
    x0, y0, x1, y1, r = 3.0, 8.0, 87.0, 68.0, 18.0
    rr = num(r) + " " + num(r)
    d = ("M" + pt((x0 + r, y0)) + " H" + num(x1 - r)
         + " A" + rr + " 0 0 1 " + pt((x1, y0 + r))
         + " V" + num(y1 - r)
         + " A" + rr + " 0 0 1 " + pt((x1 - r, y1))
         + " H" + num(40.0) + " L" + pt((18.0, 84.0)) + " L" + pt((24.0, y1))
         + " H" + num(x0 + r)
         + " A" + rr + " 0 0 1 " + pt((x0, y1 - r))
         + " V" + num(y0 + r)
         + " A" + rr + " 0 0 1 " + pt((x0 + r, y0)) + " Z")
    cy = (y0 + y1) / 2.0
    for x in (25.0, 45.0, 65.0):
        d += " " + circle((x, cy), 6.5)
    return document([path(d, BLACK + ' fill-rule="evenodd"')])


# ---------------------------------------------------------------- mail

def icon_mail():
    ink = 'fill="rgb(29,29,27)"'
    w = WEIGHT
    x0, y0, x1, y1 = 3.0, 13.0, 87.0, 77.0
    frame = (rounded_rect(x0, y0, x1 - x0, y1 - y0, 6.0)
             + " " + rounded_rect(x0 + w, y0 + w, x1 - x0 - 2 * w, y1 - y0 - 2 * w, 1.5, clockwise=False))
    flap = stroke([(x0 + w - 2.0, y0 + w - 1.6), (45.0, 50.0), (x1 - w + 2.0, y0 + w - 1.6)], w)
    return document([path(frame, ink), path(flap, ink)])


# ---------------------------------------------------------------- results

def icon_success():
    check = stroke([(23.0, 46.0), (38.0, 61.0), (67.0, 32.0)], 10.0)
    return document([path(circle((45.0, 45.0), 45.0), 'fill="rgb(40,201,55)"'),
                     path(check, 'fill="#FFFFFF"')])


def icon_warning():
    bar = capsule((45.0, 20.0), (45.0, 51.0), 10.0)
    dot = circle((45.0, 67.0), 6.2)
    return document([path(circle((45.0, 45.0), 45.0), 'fill="rgb(255,170,0)"'),
                     path(bar + " " + dot, 'fill="#FFFFFF"')])


ICONS = {
    "eula": icon_eula, "manual": icon_manual, "web": icon_web, "help": icon_help,
    "install": icon_install, "discord": icon_discord, "mail": icon_mail,
    "success": icon_success, "warning": icon_warning,
}


if __name__ == "__main__":
    for name, draw in ICONS.items():
        with open(os.path.join(ROOT, "resources", "icon_" + name + ".svg"), "w", newline="") as f:
            f.write(draw())
