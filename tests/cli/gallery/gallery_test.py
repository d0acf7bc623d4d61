#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The gallery of real-program gouge cases (README.md in this folder has the row format).

  gallery_test.py CUTCOMP GALLERY raster   what the written program cuts agrees with every row
  gallery_test.py CUTCOMP GALLERY verdict  the tool's own verdict (defaults) agrees with every row
  ... [NAME ...]                           only these rows; --table prints each row's outcome

The raster check shares nothing with the tool: it runs it with --allow-gouge --no-verify, reads
the written program back with its own small reader, and measures the material the cutter
removes below the stock top against the row's intended part, exactly (curve to curve
distances) and on an adaptive grid (a quadtree refined until the depth is known to within half
the gouge tolerance). Rows the tool cannot yet be judged on are listed in today.tsv; a listed
row that starts to agree fails too, so that the list is kept true."""
import heapq
import math
import os
import re
import subprocess
import sys

TOLERANCE = {"mm": 0.005, "inch": 0.0002}  # the gouge tolerance of the tool's default
FIELDS = ("args", "raster-args", "radius", "verdict", "gouge", "stock-top", "part", "hole")
TWO_PI = 2.0 * math.pi


# ---- Curves: ("L", (ax, ay), (bx, by)) or ("A", centre, radius, start angle, signed sweep).


def arc(centre, start, end, ccw, full=False):
    a0 = math.atan2(start[1] - centre[1], start[0] - centre[0])
    a1 = math.atan2(end[1] - centre[1], end[0] - centre[0])
    sweep = (a1 - a0) % TWO_PI if ccw else -((a0 - a1) % TWO_PI)
    if full or sweep == 0.0:
        sweep = TWO_PI if ccw else -TWO_PI
    return ("A", centre, math.dist(centre, start), a0, sweep)


def at_angle(c, angle):
    return (c[1][0] + c[2] * math.cos(angle), c[1][1] + c[2] * math.sin(angle))


def ends(c):
    return (c[1], c[2]) if c[0] == "L" else (at_angle(c, c[3]), at_angle(c, c[3] + c[4]))


def on_arc(c, angle):
    turn = (angle - c[3]) % TWO_PI if c[4] > 0 else (c[3] - angle) % TWO_PI
    return turn <= abs(c[4]) + 1e-12 or abs(c[4]) >= TWO_PI


def sub_curve(c, s0, s1):  # the piece between fractions s0 <= s1 of the curve
    if c[0] == "A":
        return ("A", c[1], c[2], c[3] + c[4] * s0, c[4] * (s1 - s0))
    a, b = c[1], c[2]
    return ("L", (a[0] + (b[0] - a[0]) * s0, a[1] + (b[1] - a[1]) * s0),
            (a[0] + (b[0] - a[0]) * s1, a[1] + (b[1] - a[1]) * s1))


def to_curve(p, c):
    if c[0] == "L":
        (ax, ay), (bx, by) = c[1], c[2]
        dx, dy = bx - ax, by - ay
        n = dx * dx + dy * dy
        t = 0.0 if n == 0.0 else max(0.0, min(1.0, ((p[0] - ax) * dx + (p[1] - ay) * dy) / n))
        return math.hypot(p[0] - ax - t * dx, p[1] - ay - t * dy)
    d = math.dist(p, c[1])
    if d > 0.0 and on_arc(c, math.atan2(p[1] - c[1][1], p[0] - c[1][0])):
        return abs(d - c[2])
    return min(math.dist(p, e) for e in ends(c))


def circle_line(centre, radius, a, b):  # fractions of a..b where the line meets the circle
    dx, dy, fx, fy = b[0] - a[0], b[1] - a[1], a[0] - centre[0], a[1] - centre[1]
    qa, qb, qc = dx * dx + dy * dy, 2.0 * (fx * dx + fy * dy), fx * fx + fy * fy - radius**2
    disc = qb * qb - 4.0 * qa * qc
    if qa == 0.0 or disc < 0.0:
        return []
    return [(-qb + s * math.sqrt(disc)) / (2.0 * qa) for s in (-1.0, 1.0)]


def meet(c, e):
    """True when the two curves cross or touch."""
    if c[0] == "A" and e[0] == "L":
        c, e = e, c
    if c[0] == "L" and e[0] == "L":
        (a, b), (p, q) = c[1:], e[1:]
        cross = lambda o, u, v: (u[0] - o[0]) * (v[1] - o[1]) - (u[1] - o[1]) * (v[0] - o[0])
        d1, d2, d3, d4 = cross(p, q, a), cross(p, q, b), cross(a, b, p), cross(a, b, q)
        if d1 * d2 < 0.0 and d3 * d4 < 0.0:
            return True
        return min(to_curve(a, e), to_curve(b, e), to_curve(p, c), to_curve(q, c)) == 0.0
    if c[0] == "L":
        a, b = c[1], c[2]
        for t in circle_line(e[1], e[2], a, b):
            x = (a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]))
            if 0.0 <= t <= 1.0 and on_arc(e, math.atan2(x[1] - e[1][1], x[0] - e[1][0])):
                return True
        return False
    d = math.dist(c[1], e[1])
    if d == 0.0:
        return c[2] == e[2] and (any(on_arc(c, a) for a in (e[3], e[3] + e[4])) or on_arc(e, c[3]))
    if d > c[2] + e[2] or d < abs(c[2] - e[2]):
        return False
    base = math.atan2(e[1][1] - c[1][1], e[1][0] - c[1][0])
    half = math.acos(max(-1.0, min(1.0, (c[2]**2 + d * d - e[2]**2) / (2.0 * c[2] * d))))
    for angle in (base - half, base + half):
        x = at_angle(c, angle)
        if on_arc(c, angle) and on_arc(e, math.atan2(x[1] - e[1][1], x[0] - e[1][0])):
            return True
    return False


def between(c, e):
    """Least distance between two curves: 0 where they meet, else at an end of one of them or
    at a pair of points on the line through a circle's centre normal to the other curve."""
    if meet(c, e):
        return 0.0
    best = min([to_curve(p, e) for p in ends(c)] + [to_curve(p, c) for p in ends(e)])
    if c[0] == "A" and e[0] == "L":
        c, e = e, c
    if c[0] == "L" and e[0] == "A":
        (ax, ay), (bx, by) = c[1], c[2]
        dx, dy = bx - ax, by - ay
        n = dx * dx + dy * dy
        t = 0.0 if n == 0.0 else ((e[1][0] - ax) * dx + (e[1][1] - ay) * dy) / n
        if 0.0 < t < 1.0:
            best = min(best, to_curve((ax + t * dx, ay + t * dy), e))
    elif c[0] == "A":
        d = math.dist(c[1], e[1])
        if d == 0.0:
            if any(on_arc(c, a) for a in (e[3], e[3] + e[4])) or on_arc(e, c[3]):
                best = min(best, abs(c[2] - e[2]))
        else:
            u = math.atan2(e[1][1] - c[1][1], e[1][0] - c[1][0])
            for a in (u, u + math.pi):
                for b in (u, u + math.pi):
                    if on_arc(c, a) and on_arc(e, b):
                        best = min(best, math.dist(at_angle(c, a), at_angle(e, b)))
    return best


def box(c, grow):
    xs, ys = [p[0] for p in ends(c)], [p[1] for p in ends(c)]
    if c[0] == "A":
        for k in range(4):
            if on_arc(c, k * math.pi / 2):
                p = at_angle(c, k * math.pi / 2)
                xs.append(p[0])
                ys.append(p[1])
    return (min(xs) - grow, min(ys) - grow, max(xs) + grow, max(ys) + grow)


# ---- The intended part: shapes whose boundaries together are the part's boundary.


def shape(text):
    """`rect X0 Y0 X1 Y1`, `circle CX CY R` or `poly P P ...` where P is `x,y` and an edge
    written `ccw CX,CY` or `cw CX,CY` between two points is an arc about that centre."""
    words = text.split()
    if words[0] == "rect":
        x0, y0, x1, y1 = map(float, words[1:5])
        words = ["poly", f"{x0},{y0}", f"{x1},{y0}", f"{x1},{y1}", f"{x0},{y1}"]
    if words[0] == "circle":
        cx, cy, r = map(float, words[1:4])
        return {"circle": ((cx, cy), r), "curves": [("A", (cx, cy), r, 0.0, TWO_PI)]}
    points, arcs, turn = [], {}, None
    for w in words[1:]:
        if w in ("cw", "ccw"):
            turn = w
            continue
        p = tuple(map(float, w.split(",")))
        if turn:
            arcs[len(points) - 1] = (p, turn == "ccw")
            turn = None
        else:
            points.append(p)
    curves = []
    for k, a in enumerate(points):
        b = points[(k + 1) % len(points)]
        if k in arcs:
            centre, ccw = arcs[k]
            if abs(math.dist(centre, a) - math.dist(centre, b)) > 1e-5:  # points to 6 decimals
                raise ValueError(f"arc edge {a} to {b} about {centre} has two radii")
            curves.append(arc(centre, a, b, ccw))
        else:
            curves.append(("L", a, b))
    return {"points": points, "curves": curves}


def inside_shape(s, p):
    if "circle" in s:
        return math.dist(p, s["circle"][0]) < s["circle"][1]
    inside, pts = False, s["points"]
    for k, a in enumerate(pts):  # the polygon of chords, by crossings of a ray to +x
        b = pts[(k + 1) % len(pts)]
        if (a[1] > p[1]) != (b[1] > p[1]):
            if p[0] < a[0] + (p[1] - a[1]) * (b[0] - a[0]) / (b[1] - a[1]):
                inside = not inside
    for c in s["curves"]:  # each arc adds or takes away the region between it and its chord
        if c[0] == "A" and math.dist(p, c[1]) < c[2]:
            a, b = ends(c)
            m = at_angle(c, c[3] + c[4] / 2)
            side = lambda q: (b[0] - a[0]) * (q[1] - a[1]) - (b[1] - a[1]) * (q[0] - a[0])
            if side(p) * side(m) > 0.0:
                inside = not inside
    return inside


class Part:
    def __init__(self, parts, holes):
        self.parts, self.holes = parts, holes
        self.curves = [c for s in parts + holes for c in s["curves"]]

    def inside(self, p):
        return any(inside_shape(s, p) for s in self.parts) and not any(
            inside_shape(s, p) for s in self.holes)

    def depth(self, p):  # signed distance to the boundary, positive inside
        d = min(to_curve(p, c) for c in self.curves)
        return d if self.inside(p) else -d

    def gap(self, c):  # least distance from a curve to the part, 0 when it enters it
        d = min(between(c, e) for e in self.curves)
        if d > 0.0 and self.inside(at_angle(c, c[3] + c[4] / 2) if c[0] == "A" else c[1]):
            return 0.0
        return d


# ---- The written program, read back: moves in the plane with the block each comes from.


def read_program(text, plane_of_part):
    """Yields (units, curve, block, lo, hi) per move: the curve in the part's plane and the
    normal axis's values at its two ends (None while unknown).
    refuses: codes that move the origin or the plane under the reader; arcs in another plane."""
    pos, units, plane, absolute, arc_absolute, motion = {}, "mm", 17, True, False, None
    diameter = False  # G7: X is written as a diameter
    axes = {17: ("X", "Y", "Z", "I", "J"), 18: ("Z", "X", "Y", "K", "I")}
    for line in text.splitlines():
        trace = re.search(r"\(([^():]*):(\d+)(?::[^()]*)?\)\s*$", line)
        block = trace.group(2) if trace else None
        code = re.sub(r"\([^)]*\)|;.*", "", line).upper()
        words = re.findall(r"([A-Z])\s*([-+]?(?:\d+\.?\d*|\.\d+))", code)
        given = {}
        for letter, value in words:
            if letter == "G":
                g = float(value)
                if g in (0, 1, 2, 3):
                    motion = int(g)
                elif g in (17, 18):
                    plane = int(g)
                elif g in (7, 8):
                    diameter = g == 7
                elif g in (20, 21):
                    units = "inch" if g == 20 else "mm"
                elif g in (90, 91, 90.1, 91.1):
                    if g in (90, 91):
                        absolute = g == 90
                    else:
                        arc_absolute = g == 90.1
                elif g in (19, 28, 30, 52, 53, 92, 10) or 54 <= g <= 59.3:
                    raise ValueError(f"the reader does not take G{value}: {line}")
            elif letter in "XYZIJKR":
                given[letter] = float(value) / (2.0 if diameter and letter == "X" else 1.0)
        if diameter and (motion in (2, 3)) and any(a in given for a in "IJKR"):
            raise ValueError(f"the reader takes no arc under G7: {line}")
        if not any(a in given for a in "XYZ") or motion is None:
            continue
        start = dict(pos)
        for a in "XYZ":
            if a in given:
                pos[a] = given[a] if absolute or a not in pos else pos[a] + given[a]
        u, v, w, cu, cv = axes[plane_of_part]
        if plane != plane_of_part and motion in (2, 3):
            raise ValueError(f"an arc outside the part's plane: {line}")
        if u not in start or v not in start or u not in pos or v not in pos:
            continue  # the tool's place in the plane is not known before the first move there
        a, b = (start[u], start[v]), (pos[u], pos[v])
        if motion in (0, 1):
            curve = ("L", a, b)
        elif "R" in given:
            half = math.dist(a, b) / 2.0
            h = math.sqrt(max(0.0, given["R"] ** 2 - half * half))
            s = (1.0 if (motion == 3) != (given["R"] < 0) else -1.0) * h / max(half, 1e-300)
            m = ((a[0] + b[0]) / 2, (a[1] + b[1]) / 2)
            centre = (m[0] - s * (b[1] - a[1]) / 2, m[1] + s * (b[0] - a[0]) / 2)
            curve = arc(centre, a, b, motion == 3)
        else:
            o = (0.0, 0.0) if arc_absolute else a
            centre = (o[0] + given.get(cu, 0.0), o[1] + given.get(cv, 0.0))
            curve = arc(centre, a, b, motion == 3, full=a == b)
        yield units, curve, block, start.get(w), pos.get(w)


def cuts(curve, lo, hi, top):
    """The piece of a move below the stock top (the normal axis varies evenly along it)."""
    if lo is None or hi is None or (lo <= top and hi <= top):
        return curve
    if lo > top and hi > top:
        return None
    s = (top - lo) / (hi - lo)
    return sub_curve(curve, 0.0, s) if lo <= top else sub_curve(curve, s, 1.0)


# ---- The deepest swept point inside the part, on a quadtree of the region the tool sweeps.


def deepest(curve, reach, part, radius, resolution):
    """(low, high) bounds of the largest depth below the part's boundary of a point within
    `radius` of the curve. A cell is refined while the depth it could hold exceeds the best
    found by more than the resolution. A swept point lies no deeper than the curve's reach
    (the radius less the curve's distance to the part), which ends the refinement along a wall
    the tool runs parallel to."""
    x0, y0, x1, y1 = box(curve, radius)
    half = max(x1 - x0, y1 - y0) / 2.0
    best, high, cells = 0.0, 0.0, [(-math.inf, x0 + half, y0 + half, half)]
    while cells:
        bound, x, y, h = heapq.heappop(cells)
        if -bound <= best + resolution:
            break
        for dx in (-0.5, 0.5):
            for dy in (-0.5, 0.5):
                p, size = (x + dx * h, y + dy * h), h / 2.0
                near = h / math.sqrt(2.0)  # half the diagonal of the new cell
                gap = to_curve(p, curve)
                if gap > radius + near:
                    continue
                d = part.depth(p)
                if gap <= radius and d > best:
                    best = d
                top = min(d + near, reach)
                if near < resolution / 4.0:
                    high = max(high, top)
                elif top > best + resolution:
                    heapq.heappush(cells, (-top, p[0], p[1], size))
    return best, max(high, best + resolution)


def measure(row, program):
    """Per block: (low, high) bounds of the depth below the part's boundary of the deepest
    point the cutter sweeps along it, and its reach (the radius less the least distance from
    the cutter's centre to the part)."""
    r, part = row["radius"], row["part"]
    result, units = {}, "mm"
    for units, curve, block, lo, hi in read_program(program, row["plane"]):
        piece = cuts(curve, lo, hi, row["stock-top"])
        if piece is None:
            continue
        resolution = TOLERANCE[units] / 2.0
        gap = part.gap(piece)
        reach = r - gap if gap > 0.0 else math.inf
        low, high = 0.0, max(0.0, min(reach, resolution))
        if reach > resolution:
            low, high = deepest(piece, reach, part, r, resolution)
        old = result.get(block, (0.0, 0.0, 0.0))
        result[block] = (max(old[0], low), max(old[1], high), max(old[2], min(reach, r)))
    return units, result


# ---- Rows and the two checks.


def read_row(path):
    row = {"args": "", "raster-args": "", "stock-top": "0", "part": [], "hole": [], "gouge": []}
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for line in text.splitlines():
        if not line.startswith(";"):
            break
        m = re.match(r";\s*([a-z-]+):\s*(.*?)\s*$", line)
        if m and m.group(1) in FIELDS:
            key, value = m.groups()
            if key in ("part", "hole", "gouge"):
                row[key].append(value)
            else:
                row[key] = value
    row["plane"] = 18 if re.search(r"\bG18\b", text) else 17
    row["part"] = Part([shape(s) for s in row["part"]], [shape(s) for s in row["hole"]])
    row["radius"] = float(row["radius"])
    row["stock-top"] = float(row["stock-top"])
    gouges = {}
    for g in row["gouge"]:  # BLOCK depth D [reach R] [uncompensated]
        block, *words = g.split()
        flag = words[-1] == "uncompensated"
        facts = dict(zip(words[0:len(words) - flag:2], map(float, words[1::2])))
        gouges[block] = (facts["depth"], facts.get("reach", facts["depth"]), flag)
    row["gouge"] = gouges
    if row["verdict"] not in ("clean", "gouge", "refused") or (
            (row["verdict"] == "gouge") != bool(gouges)):
        raise ValueError(f"{path}: a gouge needs its blocks, and only a gouge has them")
    return row


def run(exe, folder, name, args):
    done = subprocess.run([exe, name + ".ngc"] + args, cwd=folder, capture_output=True,
                          text=True, timeout=60, check=False)
    return done.returncode, done.stdout, done.stderr


def raster(exe, folder, name, row):
    """What the written program cuts, against the row: '' when they agree."""
    if row["verdict"] == "refused":
        return ""  # nothing is written: the verdict check holds the row
    args = row["args"].split() + row["raster-args"].split()
    code, out, err = run(exe, folder, name, args + ["--allow-gouge", "--no-verify",
                                                     "--trace-source"])
    if code not in (0, 3):
        return "not written: " + err.strip().splitlines()[-1]
    units, blocks = measure(row, out)
    tol = TOLERANCE[units]
    wrong = []
    for block, (low, high, reach) in sorted(blocks.items(), key=lambda b: int(b[0] or 0)):
        want = row["gouge"].get(block, (0.0, 0.0))
        if not low - tol <= want[0] <= high + tol:
            wrong.append(f"block {block} cuts {low:.6g}..{high:.6g} deep, row says {want[0]:g}")
        if block in row["gouge"] and abs(reach - want[1]) > tol:
            wrong.append(f"block {block} reaches {reach:.6g}, row says {want[1]:g}")
    wrong += [f"block {b} cuts nothing" for b in row["gouge"] if b not in blocks]
    return "; ".join(wrong)


def verdict(exe, folder, name, row):
    """The tool's own verdict with its defaults, against the row: '' when they agree."""
    code, _, err = run(exe, folder, name, row["args"].split() + ["-o", os.devnull])
    want = {"clean": 0, "gouge": 3, "refused": 1}[row["verdict"]]
    found = re.findall(r"warning: (?:[a-z ]+: )?the tool comes (\S+) inside the contour at "
                       r"\([^)]*\): block (\d+) against block (\S+)", err)
    said = ", ".join(f"{b}:{float(d):g}" for d, b, _ in found)
    if code != want:
        first = err.strip().splitlines()[0] if err.strip() else ""
        return f"exit {code}, want {want}" + (f" ({said})" if said else f": {first}")
    tol = TOLERANCE["inch" if re.search(r"\bG20\b", open(
        os.path.join(folder, name + ".ngc"), encoding="utf-8").read()) else "mm"]
    judged = {b: g for b, g in row["gouge"].items() if not g[2]}  # the audit judges runs only
    blocks = sorted(b for _, b, _ in found)
    if code == 3 and (blocks != sorted(judged) or any(
            abs(float(d) - judged[b][1]) > tol for d, b, _ in found)):
        want_said = ", ".join(f"{b}:{g[1]:g}" for b, g in sorted(judged.items()))
        return f"says {said}, want {want_said}"
    return ""


def main(argv):
    exe, folder, part = os.path.abspath(argv[1]), argv[2], argv[3]
    check = {"raster": raster, "verdict": verdict}[part]
    names = [a for a in argv[4:] if not a.startswith("--")]
    rows = sorted(f[:-4] for f in os.listdir(folder) if f.endswith(".ngc"))
    known = set()
    with open(os.path.join(folder, "today.tsv"), encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                name, which, _ = line.rstrip("\n").split("\t", 2)
                if name not in rows or which not in ("raster", "verdict"):
                    print(f"today.tsv: no row {name} or no check {which}")
                    return 1
                if which == part:
                    known.add(name)
    failures = 0
    for name in names or rows:
        row = read_row(os.path.join(folder, name + ".ngc"))
        wrong = check(exe, folder, name, row)
        if wrong and name not in known:
            print(f"{name}: {wrong}")
            failures += 1
        elif name in known and not wrong:
            print(f"{name}: agrees now; take it out of today.tsv")
            failures += 1
        elif "--table" in argv:
            print(f"{name}\t{row['verdict']}\t{wrong or 'agrees'}")
    listed = len(known & set(names or rows))
    print(f"{part}: {len(names or rows)} rows, {failures} failing, {listed} listed in today.tsv")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
