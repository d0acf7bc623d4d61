#!/usr/bin/env python3
"""Draws docs/img/lathe-tip-directions.svg: the two tip charts (the Fanuc-family one, X up the
chart, and LinuxCNC's, X down) and a chamfer turned with tip 3, its nose-centre path and the
controlled point's path. The tip vectors come from the lathe module itself (lathe_bench chart),
so the picture shows what the code does.

    bench/lathe/draw_tip_chart.py build/release/bench/lathe/lathe_bench docs/img/lathe-tip-directions.svg
"""
import math
import subprocess
import sys

CELL = 92  # chart cell, px
NOSE = 11  # nose radius on the charts, px
BODY = 24  # insert edge length to the side corners, px
HALF = math.radians(40)  # half the insert's angle


def vectors(bench, chart):
    out = subprocess.run([bench, "chart", chart, "1"], capture_output=True, text=True, check=True).stdout
    table = {}
    for line in out.splitlines():
        d, z, x = line.split()
        table[int(d)] = (float(z), float(x))
    return table


def rotate(v, a):
    return (v[0] * math.cos(a) - v[1] * math.sin(a), v[0] * math.sin(a) + v[1] * math.cos(a))


def pt(p):
    return "%.2f,%.2f" % p


def insert(centre, axis):
    """An insert seen from above: its nose circle at `centre` (screen px) and its body along
    `axis` (a unit screen vector pointing away from the tip)."""
    e1, e2 = rotate(axis, HALF), rotate(axis, -HALF)
    n1, n2 = rotate(e1, math.pi / 2), rotate(e2, -math.pi / 2)
    # The outward normals must point away from the axis.
    if n1[0] * -axis[0] + n1[1] * -axis[1] > 0.99:
        n1, n2 = rotate(e1, -math.pi / 2), rotate(e2, math.pi / 2)
    t1 = (centre[0] + NOSE * n1[0], centre[1] + NOSE * n1[1])
    t2 = (centre[0] + NOSE * n2[0], centre[1] + NOSE * n2[1])
    a1, a2 = math.atan2(n1[1], n1[0]), math.atan2(n2[1], n2[0])
    front = math.atan2(-axis[1], -axis[0])
    # The nose arc from t2 to t1 through the front of the tool.
    span = (a1 - a2) % (2 * math.pi)
    mid = (a2 + span / 2) % (2 * math.pi)
    step = span if abs(((mid - front + math.pi) % (2 * math.pi)) - math.pi) < 0.5 else span - 2 * math.pi
    arc = [(centre[0] + NOSE * math.cos(a2 + step * i / 24), centre[1] + NOSE * math.sin(a2 + step * i / 24))
           for i in range(25)]
    # A rhombic insert: the nose, two side corners along the edges, the far corner on the axis.
    far = BODY * 2 * math.cos(HALF) + NOSE / math.sin(HALF)
    back = (centre[0] + far * axis[0], centre[1] + far * axis[1])
    points = [(t1[0] + BODY * e1[0], t1[1] + BODY * e1[1]), back,
              (t2[0] + BODY * e2[0], t2[1] + BODY * e2[1])] + arc
    return '<polygon points="%s" class="insert"/>' % " ".join(pt(p) for p in points)


def chart(bench, name, origin, title, xdown):
    table = vectors(bench, name)
    ox, oy = origin
    first, second = title
    svg = ['<text x="%.1f" y="%.1f" class="title">%s</text>' % (ox + 1.5 * CELL, oy - 26, first),
           '<text x="%.1f" y="%.1f" class="label" text-anchor="middle">%s</text>' % (ox + 1.5 * CELL, oy - 12, second)]
    # The axes at the chart's centre.
    cx, cy = ox + 1.5 * CELL, oy + 1.5 * CELL
    down = 1 if xdown else -1
    svg.append('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" class="axis" marker-end="url(#arrow)"/>'
               % (cx - 20, cy + 22, cx + 22, cy + 22))
    svg.append('<text x="%.1f" y="%.1f" class="label">Z+</text>' % (cx + 26, cy + 26))
    svg.append('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" class="axis" marker-end="url(#arrow)"/>'
               % (cx - 20, cy + 22, cx - 20, cy + 22 + down * 40))
    svg.append('<text x="%.1f" y="%.1f" class="label">X+</text>' % (cx - 44, cy + 22 + down * 40 + (10 if xdown else 0)))
    for d in range(1, 9):
        tz, tx = table[d]
        # Screen vector of the tip from the nose centre: Z right, X up or down the chart.
        tip = (tz, tx * down)
        col, row = -tip[0], -tip[1]  # each tool sits opposite its tip, pointing at the centre
        centre = (cx + col * CELL, cy + row * CELL)
        length = math.hypot(*tip)
        axis = (-tip[0] / length, -tip[1] / length)
        svg.append(insert(centre, axis))
        svg.append('<circle cx="%.2f" cy="%.2f" r="2" class="centre"/>' % centre)
        p = (centre[0] + tip[0] * NOSE, centre[1] + tip[1] * NOSE)
        svg.append('<path d="M%.2f,%.2f h-14 h28 M%.2f,%.2f v-14 v28" class="tip"/>' % (p[0], p[1], p[0], p[1]))
        lx = centre[0] + axis[0] * 52 + (10 if axis[0] >= 0 else -10) * (abs(axis[0]) < 0.1)
        ly = centre[1] + axis[1] * 52 + 5
        svg.append('<text x="%.1f" y="%.1f" class="number">%d</text>' % (lx, ly, d))
    svg.append('<circle cx="%.1f" cy="%.1f" r="%d" class="nose"/>' % (cx, cy - 8, NOSE))
    svg.append('<path d="M%.1f,%.1f h-14 h28 M%.1f,%.1f v-14 v28" class="tip"/>' % (cx, cy - 8, cx, cy - 8))
    svg.append('<text x="%.1f" y="%.1f" class="number">0, 9</text>' % (cx + 16, cy - 20))
    return svg


def controlled(bench, origin):
    """A chamfer turned toward the chuck with tip 3 on the Fanuc-family chart."""
    ox, oy = origin
    scale, r = 8.0, 2.2  # px per mm; nose radius, mm (drawn large)
    tz, tx = vectors(bench, "up")[3]
    tip = (tz * r, tx * r)

    def s(p):  # (Z, X) mm -> screen px, X up
        return (ox + 300 + p[0] * scale, oy + 250 - p[1] * scale)

    contour = [(6, 14), (0, 14), (-12, 26), (-30, 26)]
    # Offset lines of the contour, one nose radius outside (above and to the right).
    def offset(a, b):
        dz, dx = b[0] - a[0], b[1] - a[1]
        n = math.hypot(dz, dx)
        nz, nx = -dx / n, dz / n  # left of the direction of travel is outside here
        return (a[0] - nz * r, a[1] - nx * r), (b[0] - nz * r, b[1] - nx * r)

    lines = [offset(contour[i], contour[i + 1]) for i in range(3)]

    def meet(l1, l2):
        (p, q), (u, v) = l1, l2
        d1, d2 = (q[0] - p[0], q[1] - p[1]), (v[0] - u[0], v[1] - u[1])
        den = d1[0] * d2[1] - d1[1] * d2[0]
        t = ((u[0] - p[0]) * d2[1] - (u[1] - p[1]) * d2[0]) / den
        return (p[0] + t * d1[0], p[1] + t * d1[1])

    centre_path = [lines[0][0], meet(lines[0], lines[1]), meet(lines[1], lines[2]), lines[2][1]]
    tip_path = [(p[0] + tip[0], p[1] + tip[1]) for p in centre_path]
    at = ((centre_path[1][0] + centre_path[2][0]) / 2, (centre_path[1][1] + centre_path[2][1]) / 2)
    touch = (at[0] + tip[0] / 1.4142, at[1] + tip[1] / 1.4142)
    imaginary = (at[0] + tip[0], at[1] + tip[1])
    svg = ['<text x="%.1f" y="%.1f" class="title">The controlled point (tip 3, Fanuc-family chart)</text>'
           % (ox + 200, oy - 12)]
    part = contour + [(-30, 6), (6, 6)]
    svg.append('<polygon points="%s" class="part"/>' % " ".join(pt(s(p)) for p in part))
    svg.append('<polyline points="%s" class="contour"/>' % " ".join(pt(s(p)) for p in contour))
    svg.append('<polyline points="%s" class="noses"/>' % " ".join(pt(s(p)) for p in centre_path))
    svg.append('<polyline points="%s" class="tips"/>' % " ".join(pt(s(p)) for p in tip_path))
    c = s(at)
    svg.append('<circle cx="%.2f" cy="%.2f" r="%.2f" class="nose"/>' % (c[0], c[1], r * scale))
    svg.append('<circle cx="%.2f" cy="%.2f" r="2.5" class="centre"/>' % c)
    i = s(imaginary)
    svg.append('<path d="M%.2f,%.2f h%.2f M%.2f,%.2f v%.2f" class="tangent"/>'
               % (i[0], i[1], 2 * r * scale, i[0], i[1], -2 * r * scale))
    svg.append('<path d="M%.2f,%.2f h-9 h18 M%.2f,%.2f v-9 v18" class="tip"/>' % (i[0], i[1], i[0], i[1]))
    t = s(touch)
    svg.append('<circle cx="%.2f" cy="%.2f" r="2.5" class="touch"/>' % t)
    notes = [
        ((ox + 40, oy + 290), "programmed contour", "contour"),
        ((ox + 40, oy + 308), "nose-centre path: the contour offset by the nose radius", "noses"),
        ((ox + 40, oy + 326), "controlled path: the nose-centre path moved by the tip vector,", "tips"),
        ((ox + 40, oy + 340), "written to the program", None),
    ]
    for (x, y), text, cls in notes:
        if cls:
            svg.append('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" class="%s"/>' % (x, y - 4, x + 26, y - 4, cls))
        svg.append('<text x="%.1f" y="%.1f" class="label">%s</text>' % (x + 32, y, text))
    svg.append('<text x="%.1f" y="%.1f" class="label">nose centre</text>' % (c[0] + 10, c[1] - 8))
    svg.append('<text x="%.1f" y="%.1f" class="label">imaginary tip: the controlled point</text>' % (i[0] - 200, i[1] + 26))
    svg.append('<text x="%.1f" y="%.1f" class="label">where the nose cuts</text>' % (t[0] + 12, t[1] + 14))
    return svg


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    bench, target = sys.argv[1], sys.argv[2]
    body = []
    body += chart(bench, "up", (30, 70), ("The Fanuc-family chart: X up", "tool behind the centre line, seen from +Y"), False)
    body += chart(bench, "down", (350, 70), ("LinuxCNC's Q: X down", "tool in front of the centre line, seen from above"), True)
    body += controlled(bench, (660, 70))
    style = """
  .title { font: bold 13px sans-serif; text-anchor: middle; }
  .label { font: 11px sans-serif; }
  .number { font: bold 14px sans-serif; text-anchor: middle; }
  .insert { fill: #d8dde6; stroke: #333; stroke-width: 1; }
  .nose { fill: none; stroke: #333; stroke-width: 1; }
  .centre { fill: #1f5fbf; }
  .touch { fill: #2a8a2a; }
  .tip { stroke: #d02020; stroke-width: 1.5; fill: none; }
  .tangent { stroke: #d02020; stroke-width: 0.8; stroke-dasharray: 3 2; fill: none; }
  .axis { stroke: #555; stroke-width: 1.2; }
  .part { fill: #eee6d4; stroke: none; }
  .contour { stroke: #000; stroke-width: 2; fill: none; }
  .noses { stroke: #1f5fbf; stroke-width: 1.5; stroke-dasharray: 6 3; fill: none; }
  .tips { stroke: #d02020; stroke-width: 2; fill: none; }
"""
    svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="1110" height="430" viewBox="0 0 1110 430">',
           '<defs><marker id="arrow" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7" '
           'orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="#555"/></marker></defs>',
           "<style>%s</style>" % style, '<rect width="100%" height="100%" fill="white"/>'] + body + ["</svg>"]
    with open(target, "w") as f:
        f.write("\n".join(svg) + "\n")


if __name__ == "__main__":
    main()
