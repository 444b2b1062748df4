#!/usr/bin/env python3
"""Draws the plume mascot: a standing feather with a face, arms and legs.

Writes scripts/artwork/oh_plume.svg (1024 x 1024). render_artwork exports it
to resources/oh_plume.png and to the hicolor application icons.
Colours: brand blue #0094D8, one small light-blue (#00B9F2) bow tie.
"""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from geometry import capsule, circle, ellipse, num, pt  # noqa: E402

BLUE = "#0094D8"
LIGHT = "#00B9F2"


def cubic(p0, p1, p2, p3, n):
    out = []
    for i in range(n):
        t = i / float(n)
        u = 1.0 - t
        out.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return out


def vane_outline():
    """The feather's vane, sampled finely, clockwise, tip first."""
    tip = (566.0, 84.0)
    pts = []
    pts += cubic(tip, (700.0, 178.0), (724.0, 352.0), (704.0, 482.0), 60)
    pts += cubic((704.0, 482.0), (686.0, 612.0), (604.0, 690.0), (512.0, 690.0), 50)
    pts += cubic((512.0, 690.0), (420.0, 690.0), (338.0, 612.0), (322.0, 482.0), 50)
    pts += cubic((322.0, 482.0), (302.0, 330.0), (386.0, 168.0), tip, 60)
    return pts


def notch(pts, index, half, depth, slant):
    """Replaces the outline around pts[index] by a V cut into the vane."""
    n = len(pts)
    a, b = pts[(index - half) % n], pts[(index + half) % n]
    centroid = (sum(p[0] for p in pts) / n, sum(p[1] for p in pts) / n)
    p = pts[index]
    dx, dy = centroid[0] - p[0], centroid[1] - p[1]
    l = math.hypot(dx, dy)
    apex = (p[0] + dx / l * depth, p[1] + dy / l * depth + slant)
    out = list(pts)
    idx = [(index + k) % n for k in range(-half, half + 1)]
    for k in sorted(idx[1:-1], reverse=True):
        out.pop(k)
    insert_at = idx[1] if idx[1] < len(out) else len(out)
    out.insert(insert_at, apex)
    return out


def polygon_d(pts):
    return "M" + " L".join(pt(p) for p in pts) + " Z"


def slit():
    """The quill line in the upper vane, a thin tapering sliver."""
    left = cubic((548.0, 132.0), (520.0, 200.0), (506.0, 280.0), (508.0, 352.0), 30) + [(508.0, 352.0)]
    right = cubic((512.0, 352.0), (522.0, 280.0), (536.0, 210.0), (552.0, 136.0), 30) + [(552.0, 136.0)]
    return polygon_d(left + right)


def smile(c, r, w, a0, a1):
    ro, ri = r + w / 2.0, r - w / 2.0

    def p(rad, a):
        return (c[0] + rad * math.cos(math.radians(a)), c[1] + rad * math.sin(math.radians(a)))

    h = w / 2.0
    # a band along the arc with round ends, counter-clockwise so that it cuts
    return ("M" + pt(p(ro, a0)) + " A" + num(ro) + " " + num(ro) + " 0 0 1 " + pt(p(ro, a1))
            + " A" + num(h) + " " + num(h) + " 0 0 1 " + pt(p(ri, a1))
            + " A" + num(ri) + " " + num(ri) + " 0 0 0 " + pt(p(ri, a0))
            + " A" + num(h) + " " + num(h) + " 0 0 1 " + pt(p(ro, a0)) + " Z")


def logo():
    vane = vane_outline()
    n = len(vane)
    # barbs: two cuts on the left edge, one on the right
    vane = notch(vane, int(n * 0.83), 2, 70.0, 30.0)
    vane = notch(vane, int(n * 0.90), 2, 62.0, 26.0)
    vane = notch(vane, int(n * 0.13), 2, 66.0, 28.0)

    body = polygon_d(vane)
    body += " " + slit()
    # face: eyes with pupils, and a smile
    for x in (452.0, 572.0):
        body += " " + ellipse((x, 452.0), 40.0, 48.0)
        body += " " + circle((x + 6.0, 462.0), 22.0)
    body += " " + smile((512.0, 500.0), 80.0, 22.0, 40.0, 140.0)

    limbs = [capsule((512.0, 670.0), (512.0, 770.0), 40.0),
             capsule((508.0, 760.0), (452.0, 900.0), 38.0),
             capsule((516.0, 760.0), (572.0, 900.0), 38.0),
             capsule((402.0, 914.0), (462.0, 914.0), 44.0),
             capsule((562.0, 914.0), (622.0, 914.0), 44.0),
             capsule((336.0, 540.0), (244.0, 438.0), 38.0),
             capsule((690.0, 540.0), (780.0, 620.0), 38.0)]
    bow = ("M" + pt((512.0, 716.0)) + " L" + pt((450.0, 686.0)) + " Q" + pt((438.0, 716.0))
           + " " + pt((450.0, 746.0)) + " Z M" + pt((512.0, 716.0)) + " L" + pt((574.0, 746.0))
           + " Q" + pt((586.0, 716.0)) + " " + pt((574.0, 686.0)) + " Z")
    knot = circle((512.0, 716.0), 18.0)

    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="1024" height="1024" viewBox="0 0 1024 1024">',
             '  <path fill="' + BLUE + '" fill-rule="evenodd" d="' + body + '"/>']
    lines += ['  <path fill="' + BLUE + '" d="' + d + '"/>' for d in limbs]
    lines.append('  <path fill="' + LIGHT + '" d="' + bow + '"/>')
    lines.append('  <path fill="' + LIGHT + '" d="' + knot + '"/>')
    lines.append('</svg>')
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    with open(os.path.join(HERE, "oh_plume.svg"), "w", newline="") as f:
        f.write(logo())
