#!/usr/bin/env python3
"""Lathe nose radius compensation against LinuxCNC's rs274 (Debian linuxcnc-uspace), the peer
that moves the controlled point by the tip direction (the tool table's Q).

For two profiles (an outside profile under G42 and a bore under G41, each with straight, tapered
and arc moves, inside and outside corners), every tip direction 0-9 and both G8 (X a radius) and
G7 (X a diameter), it writes the program, runs rs274 with a lathe tool table, runs cutcomp on the
same part, and compares the controlled points block by block:

  carrier: how far rs274's start and end of each block lie from the line or circle our
           controlled piece for that block lies on (arcs: also centre, radius and sense). This is
           what the tip vector decides, and it is blind to how the corners are joined (rs274
           rounds outside corners with an arc, cutcomp extends or inserts lines).
  joint:   where neither inserts anything between two blocks (inside corners), how far apart the
           two ends are.

The entry and exit moves are left out: the start-up and cancel strategies differ by design.
rs274 prints 4 decimals, so agreement is judged at 1e-4 mm.

Two ways to get our side:
  default   cutcomp as it is today writes the nose-centre path (radius programs only); the
            program is run in G8 and its --json path is moved by the tip vector with the lathe
            module (lathe_bench tip), on the chart of LinuxCNC's Q (tip numbers drawn with X
            down the chart, the tool in front of the centre line).
  --wired   cutcomp is given the very program and table rs274 gets and writes the controlled
            point itself (X doubled again under G7); its output is read back with the source
            lines of --trace-source. Use this once the tool applies the tip direction.

rs274's tool table is read in inches whatever the program's units (the standalone interpreter
has no INI setting for it): a D of 1.6 read as 1.6 in gave 40 mm offsets in a G21 program. The
table written here gives the nose diameter in inches (1.6 mm / 25.4), and the programs stay in
millimetres, where rs274's 4 printed decimals are 0.1 um; in inch programs they would be 2.5 um.

  bench/lathe/rs274_compare.py --cutcomp build/release/tools/cutcomp/cutcomp \\
      --bench build/release/bench/lathe/lathe_bench [--wired] [--cycles] [--keep DIR]

--cycles also compares the roughing cycle: LinuxCNC 2.9's G71 (profile in a subroutine) and
G72 against the lathe module's type I expansion of the same profile, level by level.
"""
import argparse
import json
import math
import os
import re
import subprocess
import sys
import tempfile

NOSE = 0.8  # nose radius, mm
AGREE = 1e-4  # mm

# Profiles in radius coordinates (Z, X): ("G0"|"G1", z, x) or ("G2"|"G3", z, x, k, i) with the
# centre relative to the start, as I and K are in both modes. The first move positions, the
# second switches compensation on, the last but one cancels it.
PROFILES = {
    # Outside, turned toward the chuck with the tool outside: G42.
    "outside": ("G42", [
        ("G0", 5, 3),
        ("G1", 1, 6),
        ("G1", -1, 8),           # chamfer 45 degrees
        ("G1", -10, 8),          # diameter 16
        ("G2", -14, 12, 0, 4),   # fillet R4 into the shoulder (inside)
        ("G1", -14, 14),         # shoulder face
        ("G1", -20, 16),         # taper
        ("G1", -26, 16),
        ("G3", -29, 19, -3, 0),  # round R3 over the corner (outside)
        ("G1", -29, 22),         # shoulder
        ("G1", -29, 26),         # cancel
        ("G0", 5, 26),
    ]),
    # A bore turned toward the chuck with the tool inside: G41.
    "bore": ("G41", [
        ("G0", 5, 12),
        ("G1", 1, 20),
        ("G1", -1, 18),          # chamfer at the mouth
        ("G1", -10, 18),         # bore diameter 36
        ("G3", -13, 15, 0, -3),  # round R3 down to the shoulder
        ("G1", -13, 12),         # shoulder face
        ("G1", -18, 10),         # taper
        ("G1", -24, 10),
        ("G2", -27, 7, -3, 0),   # R3 down into the next shoulder
        ("G1", -27, 4),
        ("G1", -27, 2),          # cancel
        ("G0", 5, 2),
    ]),
}

HEADER_LINES = 3  # comment, modes, tool change: block i is on line HEADER_LINES + 1 + i


def number(v):
    text = "%.6f" % v
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def program(name, mode, comp):
    side, blocks = PROFILES[name]
    scale = 2.0 if mode == "G7" else 1.0
    lines = ["(%s profile, %s, nose radius %s)" % (name, mode, number(NOSE)),
             "G18 G21 G90 G40 %s" % mode, "T1 M6 G43"]
    last = len(blocks) - 2
    for i, block in enumerate(blocks):
        words = ["N%d" % (10 * (i + 1))]
        if comp and i == 1:
            words.append(side)
        if comp and i == last:
            words.append("G40")
        words.append(block[0])
        words.append("X" + number(block[2] * scale))
        words.append("Z" + number(block[1]))
        if block[0] in ("G2", "G3"):
            words.append("I" + number(block[4]))
            words.append("K" + number(block[3]))
        if i == 1:
            words.append("F100")
        lines.append(" ".join(words))
    lines.append("M2")
    return "\n".join(lines) + "\n"


# --- moves: dict(kind "L"|"A", start, end, centre, ccw), points as (z, x) -------------------

def line_move(a, b):
    return {"kind": "L", "start": a, "end": b}


def dist(p, q):
    return math.hypot(p[0] - q[0], p[1] - q[1])


def carrier_distance(p, move):
    """Distance of p from the line or circle the move lies on."""
    if move["kind"] == "A":
        return abs(dist(p, move["centre"]) - dist(move["start"], move["centre"]))
    (z0, x0), (z1, x1) = move["start"], move["end"]
    length = math.hypot(z1 - z0, x1 - x0)
    if length < 1e-12:
        return dist(p, move["start"])
    return abs((z1 - z0) * (p[1] - x0) - (x1 - x0) * (p[0] - z0)) / length


# --- rs274 -------------------------------------------------------------------------------

CANON = re.compile(r"^\s*\d+\s+N(\S*)\s+(\w+)\((.*)\)\s*$")


def run_rs274(text, tip, workdir):
    path = os.path.join(workdir, "rs274.ngc")
    table = os.path.join(workdir, "rs274.tbl")
    with open(path, "w") as f:
        f.write(text)
    with open(table, "w") as f:
        # inches: the standalone interpreter reads its table in inches (see the docstring)
        f.write("T1 P1 D%.12f Q%d ;\n" % (2 * NOSE / 25.4, tip))
    out = subprocess.run(["rs274", "-t", table, "-g", path], capture_output=True, text=True)
    return out.stdout + out.stderr


def rs274_moves(output):
    """[(label, move)] of the feed moves while compensation is on, entry and exit included;
    an error line of rs274's fails the run."""
    moves, at, on = [], None, False
    for line in output.splitlines():
        m = CANON.match(line)
        if not m:
            if line and not line.startswith("executing") and not line.startswith(" "):
                raise RuntimeError("rs274: " + line)
            continue
        label, call, args = m.groups()
        if call == "COMMENT":
            if "compensation on" in args:
                on = True
            elif "compensation off" in args:
                on = False
            continue
        values = [float(v) for v in args.split(",")] if call.endswith(("FEED", "TRAVERSE")) else []
        if call in ("STRAIGHT_FEED", "STRAIGHT_TRAVERSE"):
            end = (values[2], values[0])
            if on or (moves and moves[-1][2]):
                moves.append((label, line_move(at, end), on))
            at = end
        elif call == "ARC_FEED":
            end = (values[0], values[1])
            move = {"kind": "A", "start": at, "end": end, "centre": (values[2], values[3]),
                    "ccw": values[4] > 0}
            moves.append((label, move, on))
            at = end
    return [(label, move) for label, move, _ in moves]


def rs274_by_block(moves, blocks):
    """Block index -> (its move, a corner arc follows it). rs274 emits a block's move while it
    reads the next block, so a move labelled N(10(k+2)) is block k's; an arc of the nose radius
    after it under the same label rounds the corner that follows block k."""
    per = {}
    for label, move in moves:
        if not label.isdigit():
            continue
        k = int(label) // 10 - 2
        if k not in per:
            per[k] = [move, False]
        elif move["kind"] == "A" and abs(dist(move["start"], move["centre"]) - NOSE) < 1e-3:
            per[k][1] = True
    return per


# --- cutcomp -----------------------------------------------------------------------------

def ours_default(cutcomp, bench, name, tip, chart, workdir):
    """Today's tool on the radius program, its nose-centre path moved by the tip vector."""
    path = os.path.join(workdir, "ours.ngc")
    with open(path, "w") as f:
        f.write(program(name, "G8", True))
    record = os.path.join(workdir, "ours.json")
    run = subprocess.run([cutcomp, path, "--radius", str(NOSE), "--json", record, "-o", os.devnull],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError("cutcomp: " + run.stderr.strip().splitlines()[-1])
    segments = [s for s in json.load(open(record))["segments"] if not s["dropped"]]
    rows = []
    for i, s in enumerate(segments):
        t = s["tool"]
        row = ["A" if s["kind"] == "arc" else "L", str(i), "0"] + ["%.17g" % v for v in t["start"] + t["end"]]
        if s["kind"] == "arc":
            row += ["%.17g" % v for v in t["center"]] + ["1" if t["ccw"] else "0"]
        rows.append(" ".join(row))
    moved = subprocess.run([bench, "tip", chart, str(tip), str(NOSE)], input="\n".join(rows) + "\n",
                           capture_output=True, text=True, check=True).stdout.splitlines()
    pieces = []
    for s, line in zip(segments, moved):
        v = line.split()
        move = {"kind": v[0], "start": (float(v[3]), float(v[4])), "end": (float(v[5]), float(v[6]))}
        if v[0] == "A":
            move["centre"] = (float(v[7]), float(v[8]))
            move["ccw"] = v[9] == "1"
        pieces.append((s["line"], s["inserted"], move))
    return pieces


WORD = re.compile(r"([A-Z])\s*([-+]?[0-9.]+)")
TRACE = re.compile(r"\(([^()]*):(\d+)\)\s*$")


def ours_wired(cutcomp, name, mode, tip, workdir):
    """The tool given rs274's program and a table with Q, its written program read back."""
    path = os.path.join(workdir, "rs274.ngc")  # written by run_rs274
    table = os.path.join(workdir, "ours.tbl")
    with open(table, "w") as f:
        f.write("T1 P1 D%s Q%d\n" % (number(2 * NOSE), tip))
    out = os.path.join(workdir, "ours_wired.ngc")
    run = subprocess.run([cutcomp, path, "--tool-table", table, "--trace-source", "--precision", "6", "-o", out],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError("cutcomp: " + run.stderr.strip().splitlines()[-1])
    pieces, at, motion, scale, seen = [], None, "G0", 1.0, {}
    for text in open(out):
        trace = TRACE.search(text)
        code = re.sub(r"\([^()]*\)", "", text).upper()
        words = {}
        for letter, value in WORD.findall(code):
            if letter == "G":
                g = float(value)
                if g in (0, 1, 2, 3):
                    motion = "G%d" % g
                elif g == 7:
                    scale = 0.5
                elif g == 8:
                    scale = 1.0
            elif letter in "XZIK":
                words[letter] = float(value)
        if "X" not in words and "Z" not in words:
            continue
        end = (words.get("Z", at[0] if at else 0.0), words["X"] * scale if "X" in words else (at[1] if at else 0.0))
        if at is not None and trace and motion != "G0":
            line = int(trace.group(2))
            if motion in ("G2", "G3"):
                move = {"kind": "A", "start": at, "end": end, "ccw": motion == "G3",
                        "centre": (at[0] + words.get("K", 0.0), at[1] + words.get("I", 0.0))}
            else:
                move = line_move(at, end)
            inserted = line in seen
            seen[line] = True
            pieces.append((line, inserted, move))
        at = end
    # The tool writes a corner's inserted lines before the block they lead into; that block's
    # own move is its last one.
    return pieces


def ours_by_block(pieces, blocks):
    """Block index -> (our move, lines inserted before it)."""
    per = {}
    for line, inserted, move in pieces:
        k = line - HEADER_LINES - 1
        if k in per:
            per[k] = [move, True]
        else:
            per[k] = [move, inserted]
    return per


def compare(theirs, ours, blocks):
    """The largest carrier and joint deviations over the blocks inside compensation."""
    worst_carrier, worst_joint, where = 0.0, 0.0, ""
    joints = 0
    first, last = 2, len(blocks) - 3  # blocks between the entry and the cancel move
    for k in range(first, last + 1):
        if k not in theirs or k not in ours:
            raise RuntimeError("block %d missing (%s)" % (k, "rs274" if k not in theirs else "cutcomp"))
        t, ours_move = theirs[k][0], ours[k][0]
        if t["kind"] != ours_move["kind"]:
            raise RuntimeError("block %d: a line on one side and an arc on the other" % k)
        d = max(carrier_distance(t["start"], ours_move), carrier_distance(t["end"], ours_move))
        if t["kind"] == "A":
            d = max(d, dist(t["centre"], ours_move["centre"]))
            if t["ccw"] != ours_move["ccw"]:
                d = math.inf
        if d > worst_carrier:
            worst_carrier, where = d, "block %d carrier" % k
        if k < last and not theirs[k][1] and not ours[k + 1][1]:
            joints += 1
            j = dist(t["end"], ours_move["end"])
            if j > worst_joint:
                worst_joint = j
                if j > worst_carrier:
                    where = "block %d joint" % k
    return worst_carrier, worst_joint, joints, last - first + 1, where


# --- the roughing cycles ----------------------------------------------------------------

def compare_cycles(bench, workdir):
    """LinuxCNC 2.9's G71/G72 against the lathe module's type I expansion of one profile: the
    cut of each depth level both make, and where it ends."""
    lines = []
    # G71: passes along Z; start Z2 X15 (radius), profile from X4 at Z2 down the part.
    cases = [
        ("G71", (2.0, 15.0), [("G1", 2, 4), ("G1", 0, 4), ("G1", -1, 5), ("G1", -10, 5),
                              ("G2", -13, 8, 0, 3), ("G1", -13, 12), ("G1", -20, 15)], 1.0),
        ("G72", (2.0, 15.0), [("G1", -13, 15), ("G1", -13, 12), ("G1", -10, 8), ("G1", -6, 8),
                              ("G1", -3, 4), ("G1", 0, 4), ("G1", 0, 0)], 1.0),
    ]
    for code, start, profile, depth in cases:
        text = ["G18 G21 G90 G8", "O100 sub"]
        for block in profile:
            words = "%s X%s Z%s" % (block[0], number(block[2]), number(block[1]))
            if block[0] in ("G2", "G3"):
                words += " I%s K%s" % (number(block[4]), number(block[3]))
            text.append("  " + words)
        text += ["O100 endsub", "G0 X%s Z%s" % (number(start[1]), number(start[0])), "F100",
                 "%s Q100 X%s Z%s D0 I%s R0.5" % (code, number(start[1]), number(start[0]), number(depth)),
                 "M2"]
        path = os.path.join(workdir, "cycle.ngc")
        with open(path, "w") as f:
            f.write("\n".join(text) + "\n")
        out = subprocess.run(["rs274", "-g", path], capture_output=True, text=True).stdout
        theirs = {}
        at = None
        for line in out.splitlines():
            m = CANON.match(line)
            if not m or not m.group(2).startswith("STRAIGHT"):
                continue
            v = [float(x) for x in m.group(3).split(",")]
            end = (v[2], v[0])
            # A cut: a feed move along the passes' axis.
            along = 0 if code == "G71" else 1
            if m.group(2) == "STRAIGHT_FEED" and at is not None and abs(end[1 - along] - at[1 - along]) < 1e-9 \
                    and abs(end[along] - at[along]) > 1e-9:
                theirs.setdefault(round(end[1 - along], 6), end[along])
            at = end
        rows = []
        here = start
        for i, block in enumerate(profile):
            row = ["A" if block[0] in ("G2", "G3") else "L", str(i), "0", "%.12g" % here[0], "%.12g" % here[1],
                   "%.12g" % block[1], "%.12g" % block[2]]
            if row[0] == "A":
                row += ["%.12g" % (here[0] + block[3]), "%.12g" % (here[1] + block[4]), "1" if block[0] == "G3" else "0"]
            rows.append(" ".join(row))
            here = (block[1], block[2])
        run = subprocess.run([bench, "rough", code.lower(), "%.12g" % start[0], "%.12g" % start[1],
                              "%.12g" % depth, "0.5", "0", "0"], input="\n".join(rows) + "\n",
                             capture_output=True, text=True)
        if run.returncode != 0:
            lines.append("%s: the lathe module refused: %s" % (code, run.stderr.strip()))
            continue
        ours = {}
        for line in run.stdout.splitlines():
            v = line.split()
            if v[0] == "L" and v[1] == "-1" and v[2] == "0":
                a, b = (float(v[3]), float(v[4])), (float(v[5]), float(v[6]))
                along = 0 if code == "G71" else 1
                if abs(a[1 - along] - b[1 - along]) < 1e-9:
                    ours[round(b[1 - along], 6)] = b[along]
        common = sorted(set(theirs) & set(ours))
        level = "X" if code == "G71" else "Z"
        end = "Z" if code == "G71" else "X"
        lines.append("%s: levels %s rs274 %s; ours %s" % (code, level, " ".join(number(k) for k in sorted(theirs)),
                                                       " ".join(number(k) for k in sorted(ours))))
        for k in common:
            d = abs(theirs[k] - ours[k])
            lines.append("  %s%-8s cut ends at %s%-10s %s%-10s %s" % (level, number(k), end, number(theirs[k]), end,
                                                              number(ours[k]), "same" if d <= AGREE else "differ"))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cutcomp", required=True)
    parser.add_argument("--bench", help="lathe_bench (default mode)")
    parser.add_argument("--wired", action="store_true")
    parser.add_argument("--cycles", action="store_true")
    parser.add_argument("--keep", help="keep the programs in this directory")
    parser.add_argument("--chart", choices=("down", "up"), default="down",
                        help="the tip chart our side reads Q on (up: the wrong one for Q, a check "
                             "that the comparison sees a mirrored tip)")
    args = parser.parse_args()
    if not args.wired and not args.bench:
        parser.error("--bench is needed unless --wired")
    workdir = args.keep or tempfile.mkdtemp(prefix="rs274_compare_")
    os.makedirs(workdir, exist_ok=True)
    failures = 0
    print("%-8s %-3s %-3s %12s %12s %7s  %s" % ("profile", "X", "tip", "carrier mm", "joint mm", "joints", "verdict"))
    for name in PROFILES:
        for mode in ("G8", "G7"):
            for tip in range(10):
                case = os.path.join(workdir, "%s_%s_q%d" % (name, mode, tip))
                os.makedirs(case, exist_ok=True)
                text = program(name, mode, True)
                try:
                    theirs = rs274_by_block(rs274_moves(run_rs274(text, tip, case)), PROFILES[name][1])
                    if args.wired:
                        pieces = ours_wired(args.cutcomp, name, mode, tip, case)
                    else:
                        pieces = ours_default(args.cutcomp, args.bench, name, tip, args.chart, case)
                    carrier, joint, joints, blocks, where = compare(theirs, ours_by_block(pieces, PROFILES[name][1]), PROFILES[name][1])
                    ok = carrier <= AGREE and joint <= AGREE
                    verdict = "agree" if ok else "DIFFER (%s)" % where
                    print("%-8s %-3s %-3d %12.1e %12.1e %7d  %s" % (name, mode, tip, carrier, joint, joints, verdict))
                except (RuntimeError, subprocess.CalledProcessError) as error:
                    ok = False
                    print("%-8s %-3s %-3d %12s %12s %7s  %s" % (name, mode, tip, "-", "-", "-", error))
                failures += 0 if ok else 1
    print("%d of %d programs differ by more than %g mm" % (failures, 2 * 2 * 10, AGREE))
    if args.cycles:
        for line in compare_cycles(args.bench, workdir):
            print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
