"""The geometric letters of the artwork, built from strokes of one weight.

Each letter function takes the left x, the top y, the letter's width W and
height H and the stroke weight w, and returns its outlines as one SVG path
data string (clockwise outlines that union under the non-zero rule).
"""

import math

from geometry import (polygon, rect, ring_arc, stroke, tangent_angle, polar, _sub,
                      _intersect, _normal, _add, _mul)


def _leg_x(p, q, y):
    """x of the line through p and q at height y."""
    return p[0] + (q[0] - p[0]) * (y - p[1]) / (q[1] - p[1])


def _v_polygon(x0, y0, W, H, w, foot, flip=False):
    """A V with a flat foot; flip turns it into the body of an A."""
    x1 = x0 + W
    cx = x0 + W / 2.0
    yb = y0 + H
    top_l, bot_l = (x0, y0), (cx - foot / 2.0, yb)
    nrm = _normal(top_l, bot_l)
    if nrm[0] < 0:
        nrm = (-nrm[0], -nrm[1])
    inner_p = _add(top_l, _mul(nrm, w))
    d = (bot_l[0] - top_l[0], bot_l[1] - top_l[1])
    xi = _intersect(inner_p, d, (0.0, y0), (1.0, 0.0))[0]
    vertex = _intersect(inner_p, d, (cx, 0.0), (0.0, 1.0))
    vy = min(vertex[1], yb - 0.01)
    pts = [(x0, y0), (xi, y0), (cx, vy), (x1 - (xi - x0), y0), (x1, y0),
           (cx + foot / 2.0, yb), (cx - foot / 2.0, yb)]
    if flip:
        pts = [(x, 2 * y0 + H - y) for x, y in pts]
    return pts


def letter_V(x0, y0, W, H, w):
    return polygon(_v_polygon(x0, y0, W, H, w, foot=w * 1.15))


def letter_A(x0, y0, W, H, w, bar=0.64):
    pts = _v_polygon(x0, y0, W, H, w, foot=w * 1.15, flip=True)
    # crossbar between the centre lines of the two legs
    outer_l, inner_l = (pts[0], pts[6]), (pts[1], pts[2])
    yb = y0 + H * bar
    t = w * 0.9
    lx = (_leg_x(outer_l[0], outer_l[1], yb) + _leg_x(inner_l[0], inner_l[1], yb)) / 2.0
    rx = 2 * (x0 + W / 2.0) - lx
    return polygon(pts) + " " + rect(lx, yb - t / 2.0, rx - lx, t)


def _diagonal_width(W, H, w):
    s = w
    for _ in range(20):
        dx = W - s
        s = w * math.hypot(dx, H) / H
    return s


def letter_X(x0, y0, W, H, w):
    x1, y1 = x0 + W, y0 + H
    s = _diagonal_width(W, H, w)
    a = polygon([(x0, y0), (x0 + s, y0), (x1, y1), (x1 - s, y1)])
    b = polygon([(x1 - s, y0), (x1, y0), (x0 + s, y1), (x0, y1)])
    return a + " " + b


def letter_T(x0, y0, W, H, w):
    cx = x0 + W / 2.0
    return rect(x0, y0, W, w) + " " + rect(cx - w / 2.0, y0 + w, w, H - w)


def letter_L(x0, y0, W, H, w):
    return rect(x0, y0, w, H - w) + " " + rect(x0, y0 + H - w, W, w)


def letter_U(x0, y0, W, H, w):
    rx = (W - w) / 2.0
    ry = rx * 0.9
    cx = x0 + W / 2.0
    cy = y0 + H - w / 2.0 - ry
    return (rect(x0, y0, w, cy - y0) + " " + rect(x0 + W - w, y0, w, cy - y0)
            + " " + ring_arc((cx, cy), rx, ry, w, 0, 180))


def letter_S(x0, y0, W, H, w):
    rx = (W - w) / 2.0
    ry = (H - w) / 4.0
    cx = x0 + W / 2.0
    top = (cx, y0 + w / 2.0 + ry)
    bottom = (cx, y0 + H - w / 2.0 - ry)
    return (ring_arc(top, rx, ry, w, 90, 340)
            + " " + ring_arc(bottom, rx, ry, w, 270, 520))


def letter_2(x0, y0, W, H, w):
    r = (W - w) / 2.0
    cx = x0 + W / 2.0
    c = (cx, y0 + w / 2.0 + r)
    foot = (x0 + w * 0.7, y0 + H - w / 2.0)
    t = tangent_angle(c, r, foot, -1)
    if polar(c, r, t)[0] < cx:
        t = tangent_angle(c, r, foot, 1)
    t = t % 360.0
    touch = polar(c, r, t)
    return (ring_arc(c, r, r, w, 180 + 12, 360 + t)
            + " " + stroke([touch, foot], w)
            + " " + rect(x0, y0 + H - w, W, w))


def letter_3(x0, y0, W, H, w):
    rx = (W - w) / 2.0
    ry = (H - w) / 4.0
    cx = x0 + W / 2.0 - w * 0.05
    top = (cx, y0 + w / 2.0 + ry)
    bottom = (cx, y0 + H - w / 2.0 - ry)
    ymid = y0 + H / 2.0
    return (ring_arc(top, rx, ry, w, 198, 450)
            + " " + ring_arc(bottom, rx, ry, w, 270, 522)
            + " " + rect(cx - rx * 0.45, ymid - w / 2.0, rx * 0.45, w))


def letter_v(x0, y0, W, H, w):
    return polygon(_v_polygon(x0, y0, W, H, w, foot=w * 1.05))


def _bowl(x0, y0, W, hb, w):
    """Stem-less bowl of P and D: top bar, right half ring, bottom bar."""
    ry = (hb - w) / 2.0
    rx = min(ry, W - w)
    cxb = x0 + W - w / 2.0 - rx
    cy = y0 + w / 2.0 + ry
    return (rect(x0, y0, cxb - x0, w)
            + " " + ring_arc((cxb, cy), rx, ry, w, -90, 90)
            + " " + rect(x0, y0 + hb - w, cxb - x0, w))


def letter_P(x0, y0, W, H, w):
    return rect(x0, y0, w, H) + " " + _bowl(x0 + w, y0, W - w, H * 0.62, w)


def letter_D(x0, y0, W, H, w):
    return rect(x0, y0, w, H) + " " + _bowl(x0 + w, y0, W - w, H, w)


def letter_F(x0, y0, W, H, w):
    return (rect(x0, y0, w, H) + " " + rect(x0 + w, y0, W - w, w)
            + " " + rect(x0 + w, y0 + H * 0.44, W * 0.78 - w, w))


LETTERS = {
    "V": letter_V, "A": letter_A, "X": letter_X, "T": letter_T, "L": letter_L,
    "U": letter_U, "S": letter_S, "2": letter_2, "3": letter_3, "v": letter_v,
    "P": letter_P, "D": letter_D, "F": letter_F,
}


def word(parts, y0, H, w, gap, centre_x):
    """Lay out letters given as (char, width[, top offset]) centred on centre_x;
    returns a list of path data strings, one per letter."""
    total = sum(s[1] for s in parts) + gap * (len(parts) - 1)
    x = centre_x - total / 2.0
    out = []
    for s in parts:
        ch, width = s[0], s[1]
        dy = s[2] if len(s) > 2 else 0.0
        out.append(LETTERS[ch](x, y0 + dy, width, H - dy, w))
        x += width + gap
    return out


# Single-contour letters, for marks that stroke the letters' outlines and
# therefore must not show the seams between overlapping parts.

def outline_L(x0, y0, W, H, w):
    x1, y1 = x0 + W, y0 + H
    return polygon([(x0, y0), (x0 + w, y0), (x0 + w, y1 - w), (x1, y1 - w), (x1, y1), (x0, y1)])


def outline_2(x0, y0, W, H, w):
    from geometry import num, pt, _sub, _unit
    r = (W - w) / 2.0
    h = w / 2.0
    x1, y1 = x0 + W, y0 + H
    cx = x0 + W / 2.0
    c = (cx, y0 + h + r)
    foot = (x0 + w * 0.7, y1 - h)
    t = tangent_angle(c, r, foot, -1)
    if polar(c, r, t)[0] < cx:
        t = tangent_angle(c, r, foot, 1)
    touch = polar(c, r, t)
    d = _unit(_sub(foot, touch))
    n = (-d[1], d[0])
    if n[0] < 0:
        n = (-n[0], -n[1])          # n points to the right/outside of the stroke
    ro, ri = r + h, r - h
    start = 180 + 12
    out_t, in_t = polar(c, ro, t), polar(c, ri, t)
    out_s, in_s = polar(c, ro, start), polar(c, ri, start)
    bar_top = y1 - w
    right_edge = _intersect(_add(touch, _mul(n, h)), d, (0.0, bar_top), (1.0, 0.0))
    left_edge = _intersect(_sub(touch, _mul(n, h)), d, (0.0, bar_top), (1.0, 0.0))
    sweep = (t % 360.0) + 360.0 - start
    large = "1" if sweep > 180 else "0"
    return ("M" + pt(out_s) + " A" + num(ro) + " " + num(ro) + " 0 " + large + " 1 " + pt(out_t)
            + " L" + pt(right_edge) + " L" + pt((x1, bar_top)) + " L" + pt((x1, y1))
            + " L" + pt((x0, y1)) + " L" + pt((x0, bar_top)) + " L" + pt(left_edge)
            + " L" + pt(in_t) + " A" + num(ri) + " " + num(ri) + " 0 " + large + " 0 " + pt(in_s)
            + " Z")
