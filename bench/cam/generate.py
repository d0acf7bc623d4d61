#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes CAM-like part programs: smooth curves posted as runs of short straight chords, the way
CAM systems post splines and free-form outlines, with the coordinates rounded to 3 or 4 decimals.

    bench/cam/generate.py OUT_DIR [--count 600] [--seed 1]

Every program is one compensated pass in millimetres (G21 G17 G90): a lead-in that starts
compensation with G41 or G42 D1, the chords, and a G40 lead-out. The cutter radius is not in the
program: OUT_DIR/manifest.tsv gives it per program (pass it with --radius), with what the
program is (shape, chord length, decimals, side). The same seed gives the same programs.

Shapes: circles, ellipses, lobed cams, closed cubic B-splines and open sine waves, traversed
either way round, with the tool inside or outside (left or right of a wave). Chords are
0.01 to 1 mm, equal in arc length or equal in the spline parameter.

A program is only written where the tool physically fits, decided on the true curve (not the
chords): wherever the curve bends towards the tool its radius of curvature is at least
r / FIT_MARGIN, and the tool placed beside any point of the curve clears every other point of it
by at least (1 - CLEARANCE) r. Candidates that fail are drawn again.
"""
import argparse
import bisect
import math
import os
import random

FIT_MARGIN = 0.9  # the tool radius is at most 90 % of the tightest curvature it runs inside
CLEARANCE = 0.01  # a tool disc beside the curve may come no nearer than 0.99 r to it elsewhere
MAX_CHORDS = 30000  # a curve that would need more chords is scaled down to this many
DENSE = 4000  # samples of the true curve for its length table and the fit check
SHAPES = ("circle", "ellipse", "cam", "spline", "wave")


def log_uniform(rng, lo, hi):
    return math.exp(rng.uniform(math.log(lo), math.log(hi)))


class Shape:
    """A plane curve p(t), t in [0, 1]; closed curves are counterclockwise and p(1) = p(0)."""

    def __init__(self, name, closed, point, scale=1.0):
        self.name, self.closed, self._point, self.scale = name, closed, point, scale

    def __call__(self, t):
        x, y = self._point(t)
        return (x * self.scale, y * self.scale)


def make_shape(rng, kind):
    if kind == "circle":
        r = log_uniform(rng, 2.0, 60.0)
        return Shape(kind, True, lambda t: (r * math.cos(2 * math.pi * t), r * math.sin(2 * math.pi * t)))
    if kind == "ellipse":
        a = log_uniform(rng, 5.0, 60.0)
        b = a * rng.uniform(0.3, 0.9)
        return Shape(kind, True, lambda t: (a * math.cos(2 * math.pi * t), b * math.sin(2 * math.pi * t)))
    if kind == "cam":
        r0, k, e = log_uniform(rng, 10.0, 50.0), rng.randint(2, 6), rng.uniform(0.03, 0.3)

        def cam(t):
            a = 2 * math.pi * t
            rho = r0 * (1 + e * math.cos(k * a))
            return (rho * math.cos(a), rho * math.sin(a))

        return Shape(kind, True, cam)
    if kind == "spline":
        m, r0 = rng.randint(5, 12), log_uniform(rng, 10.0, 50.0)
        ctrl = []
        for j in range(m):
            a = 2 * math.pi * (j + rng.uniform(-0.2, 0.2)) / m
            rho = r0 * rng.uniform(0.6, 1.2)
            ctrl.append((rho * math.cos(a), rho * math.sin(a)))

        def spline(t):  # periodic uniform cubic B-spline
            u = (t % 1.0) * m
            j = int(u) % m
            f = u - int(u)
            w = ((1 - f) ** 3 / 6, (3 * f ** 3 - 6 * f * f + 4) / 6, (-3 * f ** 3 + 3 * f * f + 3 * f + 1) / 6, f ** 3 / 6)
            x = sum(w[i] * ctrl[(j - 1 + i) % m][0] for i in range(4))
            y = sum(w[i] * ctrl[(j - 1 + i) % m][1] for i in range(4))
            return (x, y)

        return Shape(kind, True, spline)
    lam = log_uniform(rng, 5.0, 60.0)
    amp = lam * rng.uniform(0.01, 0.3)
    length = lam * rng.uniform(1.0, 4.0)
    return Shape(kind, False, lambda t: (length * t, amp * math.sin(2 * math.pi * length * t / lam)))


def dense_samples(shape):
    pts = [shape(i / DENSE) for i in range(DENSE + 1)]
    arc = [0.0]
    for a, b in zip(pts, pts[1:]):
        arc.append(arc[-1] + math.dist(a, b))
    return pts, arc


def curvature_ok(pts, closed, r, left):
    """The radius of curvature where the curve bends towards the tool is at least r / FIT_MARGIN."""
    n = len(pts) - 1
    for i in range(1, n if not closed else n + 1):
        a, b, c = pts[i - 1], pts[i % n], pts[(i + 1) % n]
        ab, bc, ca = math.dist(a, b), math.dist(b, c), math.dist(c, a)
        cross = (b[0] - a[0]) * (c[1] - b[1]) - (b[1] - a[1]) * (c[0] - b[0])
        if ab * bc * ca == 0:
            continue
        kappa = 2 * cross / (ab * bc * ca)  # signed: positive where the curve turns left
        towards_tool = kappa if left else -kappa
        if towards_tool > 0 and r > FIT_MARGIN / towards_tool:
            return False
    return True


def normal(pts, i, closed, left):
    n = len(pts) - 1
    a = pts[(i - 1) % n] if closed or i > 0 else pts[i]
    b = pts[(i + 1) % n] if closed or i < n else pts[i]
    tx, ty = b[0] - a[0], b[1] - a[1]
    norm = math.hypot(tx, ty)
    tx, ty = tx / norm, ty / norm
    return ((-ty, tx) if left else (ty, -tx)), (tx, ty)


def clearance_ok(pts, closed, r, left):
    """The tool beside every sample clears every other sample by (1 - CLEARANCE) r."""
    step = max(1, len(pts) // 600)
    idx = list(range(0, len(pts), step))
    cell = r
    grid = {}
    for i in idx:
        p = pts[i]
        grid.setdefault((math.floor(p[0] / cell), math.floor(p[1] / cell)), []).append(p)
    for i in idx:
        (nx, ny), _ = normal(pts, i, closed, left)
        c = (pts[i][0] + r * nx, pts[i][1] + r * ny)
        gx, gy = math.floor(c[0] / cell), math.floor(c[1] / cell)
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for q in grid.get((gx + dx, gy + dy), ()):
                    if math.dist(c, q) < (1 - CLEARANCE) * r:
                        return False
    return True


def ray_exit(pts, origin, direction):
    """Distance along a ray from `origin` to the first crossing of the sampled curve."""
    best = math.inf
    ox, oy = origin
    dx, dy = direction
    for a, b in zip(pts, pts[1:]):
        ex, ey = b[0] - a[0], b[1] - a[1]
        den = dx * ey - dy * ex
        if abs(den) < 1e-15:
            continue
        wx, wy = a[0] - ox, a[1] - oy
        t = (wx * ey - wy * ex) / den
        u = (wx * dy - wy * dx) / den
        if 1e-6 < t < best and 0 <= u <= 1:
            best = t
    return best


def chords(shape, pts, arc, h, mode):
    """Chord end points along the curve: equal steps in arc length or in the parameter."""
    total = arc[-1]
    n = max(3 if shape.closed else 1, round(total / h))
    out = []
    for j in range(n + 1):
        if mode == "param":
            t = j / n
        else:
            s = total * j / n
            k = min(max(bisect.bisect_right(arc, s) - 1, 0), DENSE - 1)
            f = (s - arc[k]) / (arc[k + 1] - arc[k]) if arc[k + 1] > arc[k] else 0.0
            t = (k + f) / DENSE
        out.append(shape(t))
    if shape.closed:
        out[-1] = out[0]
    return out


def fmt(v, decimals):
    s = "%.*f" % (decimals, v)
    return "0." + "0" * decimals if s.startswith("-") and float(s) == 0.0 else s


def program(rng, index):
    """One candidate program; None when the tool does not fit the drawn shape."""
    kind = SHAPES[index % len(SHAPES)]
    shape = make_shape(rng, kind)
    h = log_uniform(rng, 0.01, 1.0)
    mode = "param" if kind == "spline" and rng.random() < 0.5 else "arc"
    decimals = rng.choice((3, 4))
    r = round(log_uniform(rng, 0.5, 10.0), 3)
    pts, arc = dense_samples(shape)
    if arc[-1] / h > MAX_CHORDS:
        shape.scale = MAX_CHORDS * h / arc[-1]
        pts, arc = dense_samples(shape)
    reverse = rng.random() < 0.5
    inside = rng.random() < 0.5  # closed: inside the outline; wave: on its left
    # Travel counterclockwise with the tool inside, or clockwise with it outside, keeps the tool
    # on the left (G41); the other two combinations put it on the right (G42).
    left = inside != reverse
    if reverse:
        pts = pts[::-1]
    if not curvature_ok(pts, shape.closed, r, left) or not clearance_ok(pts, shape.closed, r, left):
        return None
    verts = chords(shape, pts, arc, h, mode)
    if reverse:
        verts = verts[::-1]
    (nx, ny), (tx, ty) = normal(pts, 0, shape.closed, left)
    s = verts[0]
    if shape.closed:
        room = ray_exit(pts, (s[0] + 1e-9 * nx, s[1] + 1e-9 * ny), (nx, ny))
        extra = min(r, (room - 2 * r) / 2)
        if extra < 0.05 * r:
            return None
        lead_in = (s[0] + (r + extra) * nx, s[1] + (r + extra) * ny)
        lead_out = lead_in
    else:
        lead_in = (s[0] + r * nx - 2 * r * tx, s[1] + r * ny - 2 * r * ty)
        (mx, my), (ux, uy) = normal(pts, len(pts) - 1, False, left)
        e = verts[-1]
        lead_out = (e[0] + r * mx + 2 * r * ux, e[1] + r * my + 2 * r * uy)
    meta = {
        "shape": kind, "chord": "%.4f" % h, "mode": mode, "decimals": decimals, "radius": r,
        "side": ("inside" if inside else "outside") if shape.closed else ("left" if left else "right"),
        "chords": len(verts) - 1,
    }
    word = "G41" if left else "G42"
    lines = ["%", "(CAM-like chord program %d: %s, chords %.4f mm by %s, %d decimals)" % (index, kind, h, mode, decimals),
             "G21 G17 G90 G94 G40", "G0 Z5.", "G0 X%s Y%s" % (fmt(lead_in[0], decimals), fmt(lead_in[1], decimals)),
             "G1 Z-2. F300."]
    last = None
    for k, p in enumerate(verts):
        xy = "X%s Y%s" % (fmt(p[0], decimals), fmt(p[1], decimals))
        if xy == last:
            continue  # a chord that rounds to nothing is not posted
        lines.append(("%s D1 G1 %s F800." % (word, xy)) if k == 0 else xy)
        last = xy
    lines += ["G40 G1 X%s Y%s" % (fmt(lead_out[0], decimals), fmt(lead_out[1], decimals)), "G0 Z5.", "M2", "%"]
    return lines, meta


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out")
    ap.add_argument("--count", type=int, default=600)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    columns = ("file", "radius", "shape", "chord", "mode", "decimals", "side", "chords")
    rows = ["\t".join(columns)]
    rejected = 0
    for index in range(args.count):
        while True:
            made = program(rng, index)
            if made:
                break
            rejected += 1
        lines, meta = made
        name = "cam%04d.ngc" % index
        with open(os.path.join(args.out, name), "w") as f:
            f.write("\n".join(lines) + "\n")
        meta["file"] = name
        rows.append("\t".join(str(meta[c]) for c in columns))
    with open(os.path.join(args.out, "manifest.tsv"), "w") as f:
        f.write("\n".join(rows) + "\n")
    print("%d programs in %s (seed %d; %d candidates drawn again where the tool did not fit)"
          % (args.count, args.out, args.seed, rejected))


if __name__ == "__main__":
    main()
