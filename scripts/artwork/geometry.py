"""Small helpers that turn geometric strokes into filled SVG outlines.

Every outline is emitted clockwise on screen (y grows downwards), so several
outlines inside one path element add up under the default non-zero fill rule
instead of punching holes into each other.
"""

import math


def num(v):
    """Shortest fixed-point text for a coordinate (3 decimals at most)."""
    s = "%.3f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def pt(p):
    return num(p[0]) + " " + num(p[1])


def signed_area(points):
    a = 0.0
    for i, p in enumerate(points):
        q = points[(i + 1) % len(points)]
        a += p[0] * q[1] - q[0] * p[1]
    return a / 2.0


def polygon(points):
    """Closed polygon, forced clockwise."""
    if signed_area(points) < 0:
        points = list(reversed(points))
    return "M" + " L".join(pt(p) for p in points) + " Z"


def rect(x, y, w, h):
    return polygon([(x, y), (x + w, y), (x + w, y + h), (x, y + h)])


def polar(c, r, deg):
    a = math.radians(deg)
    return (c[0] + r * math.cos(a), c[1] + r * math.sin(a))


def ellipse_point(c, rx, ry, deg):
    a = math.radians(deg)
    return (c[0] + rx * math.cos(a), c[1] + ry * math.sin(a))


def ring_arc(c, rx, ry, w, a0, a1):
    """A stroke of width w along the ellipse (rx, ry) from angle a0 to a1
    (degrees, clockwise on screen), with square cuts at both ends."""
    if a1 < a0:
        a0, a1 = a1, a0
    large = 1 if (a1 - a0) > 180 else 0
    ox, oy = rx + w / 2.0, ry + w / 2.0
    ix, iy = rx - w / 2.0, ry - w / 2.0
    p0 = ellipse_point(c, ox, oy, a0)
    p1 = ellipse_point(c, ox, oy, a1)
    q1 = ellipse_point(c, ix, iy, a1)
    q0 = ellipse_point(c, ix, iy, a0)
    return ("M" + pt(p0)
            + " A" + num(ox) + " " + num(oy) + " 0 " + str(large) + " 1 " + pt(p1)
            + " L" + pt(q1)
            + " A" + num(ix) + " " + num(iy) + " 0 " + str(large) + " 0 " + pt(q0)
            + " Z")


def circle(c, r, clockwise=True):
    """Full circle as two half arcs."""
    a = (c[0] - r, c[1])
    b = (c[0] + r, c[1])
    s = "1" if clockwise else "0"
    return ("M" + pt(a) + " A" + num(r) + " " + num(r) + " 0 1 " + s + " " + pt(b)
            + " A" + num(r) + " " + num(r) + " 0 1 " + s + " " + pt(a) + " Z")


def ellipse(c, rx, ry, clockwise=True):
    a = (c[0] - rx, c[1])
    b = (c[0] + rx, c[1])
    s = "1" if clockwise else "0"
    return ("M" + pt(a) + " A" + num(rx) + " " + num(ry) + " 0 1 " + s + " " + pt(b)
            + " A" + num(rx) + " " + num(ry) + " 0 1 " + s + " " + pt(a) + " Z")


def rounded_rect(x, y, w, h, r, clockwise=True):
    s = "1" if clockwise else "0"
    if clockwise:
        return ("M" + pt((x + r, y)) + " H" + num(x + w - r)
                + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x + w, y + r))
                + " V" + num(y + h - r)
                + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x + w - r, y + h))
                + " H" + num(x + r)
                + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x, y + h - r))
                + " V" + num(y + r)
                + " A" + num(r) + " " + num(r) + " 0 0 1 " + pt((x + r, y)) + " Z")
    return ("M" + pt((x + r, y))
            + " A" + num(r) + " " + num(r) + " 0 0 0 " + pt((x, y + r))
            + " V" + num(y + h - r)
            + " A" + num(r) + " " + num(r) + " 0 0 0 " + pt((x + r, y + h))
            + " H" + num(x + w - r)
            + " A" + num(r) + " " + num(r) + " 0 0 0 " + pt((x + w, y + h - r))
            + " V" + num(y + r)
            + " A" + num(r) + " " + num(r) + " 0 0 0 " + pt((x + w - r, y))
            + " Z")


def _sub(a, b):
    return (a[0] - b[0], a[1] - b[1])


def _add(a, b):
    return (a[0] + b[0], a[1] + b[1])


def _mul(a, k):
    return (a[0] * k, a[1] * k)


def _unit(a):
    l = math.hypot(a[0], a[1])
    return (a[0] / l, a[1] / l)


def _normal(a, b):
    d = _unit(_sub(b, a))
    return (-d[1], d[0])


def _intersect(p, d, q, e):
    """Intersection of the lines p + t d and q + s e."""
    den = d[0] * e[1] - d[1] * e[0]
    if abs(den) < 1e-9:
        return None
    t = ((q[0] - p[0]) * e[1] - (q[1] - p[1]) * e[0]) / den
    return (p[0] + t * d[0], p[1] + t * d[1])


def stroke(points, w):
    """Outline of an open polyline of width w, mitred joins and butt ends."""
    h = w / 2.0
    left, right = [], []
    n = len(points)
    for i in range(n):
        if i == 0:
            nrm = _normal(points[0], points[1])
            left.append(_add(points[0], _mul(nrm, h)))
            right.append(_sub(points[0], _mul(nrm, h)))
        elif i == n - 1:
            nrm = _normal(points[-2], points[-1])
            left.append(_add(points[-1], _mul(nrm, h)))
            right.append(_sub(points[-1], _mul(nrm, h)))
        else:
            a, b, c = points[i - 1], points[i], points[i + 1]
            n1, n2 = _normal(a, b), _normal(b, c)
            d1, d2 = _sub(b, a), _sub(c, b)
            for side, out in ((1, left), (-1, right)):
                p = _add(a, _mul(n1, side * h))
                q = _add(b, _mul(n2, side * h))
                x = _intersect(p, d1, q, d2)
                out.append(x if x else _add(b, _mul(n1, side * h)))
    return polygon(left + list(reversed(right)))


def tangent_angle(c, r, p, side):
    """Angle (degrees) of the point on circle (c, r) whose tangent passes
    through the outside point p; side picks one of the two tangents."""
    d = math.hypot(p[0] - c[0], p[1] - c[1])
    base = math.degrees(math.atan2(p[1] - c[1], p[0] - c[0]))
    off = math.degrees(math.acos(r / d))
    return base + side * off


def transform(points, dx=0.0, dy=0.0, k=1.0):
    return [(x * k + dx, y * k + dy) for x, y in points]


def capsule(p, q, w):
    """A bar of width w from p to q with round ends."""
    h = w / 2.0
    nrm = _normal(p, q)
    a, b = _add(p, _mul(nrm, h)), _add(q, _mul(nrm, h))
    c, d = _sub(q, _mul(nrm, h)), _sub(p, _mul(nrm, h))
    if signed_area([a, b, c, d]) < 0:
        a, b, c, d = b, a, d, c
    r = num(h)
    return ("M" + pt(a) + " L" + pt(b) + " A" + r + " " + r + " 0 0 1 " + pt(c)
            + " L" + pt(d) + " A" + r + " " + r + " 0 0 1 " + pt(a) + " Z")
