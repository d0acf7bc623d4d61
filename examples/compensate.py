#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Compensates a small contour (a lead-in, a line, a tangent arc, two lines and a lead-out)
with each start-up/cancel strategy and prints the tool-centre path, then shows a refusal; then
compensates a G-code part program held in memory, as the command-line tool does.

Run it against a build tree with PYTHONPATH=build/<preset>/bindings/python, or after installing
the module."""
import os

import cutcomp

EXAMPLES = os.path.dirname(os.path.abspath(__file__))

# The contour of examples/compensate_contour.cpp: the tool runs left of it, inside the arc.
CONTOUR = [
    ("line", (0, 0), (10, 0)),                       # lead-in: compensation starts
    ("line", (10, 0), (20, 0)),
    ("arc", (20, 0), (30, 10), (20, 10), True),      # quarter circle, counterclockwise
    ("line", (30, 10), (30, 30)),
    ("line", (30, 30), (0, 30)),
    ("line", (0, 30), (-10, 40)),                    # lead-out: compensation ends
]


def show(piece, block, inserted):
    kind, start, end = piece[:3]
    text = f"  {'inserted' if inserted else '':8} {kind:4} ({start[0]:9.4f}, {start[1]:9.4f})" \
           f" -> ({end[0]:9.4f}, {end[1]:9.4f})  segment {block}"
    if kind == "arc":
        text += f", about {piece[3]} {'ccw' if piece[4] else 'cw'}"
    print(text)


def main():
    radius = 2.0
    for start in ("normal", "intersect", "insert"):
        print(f"strategy {start}, cutter radius {radius}:")
        for piece, block, inserted in cutcomp.compensate(CONTOUR, radius, side="left", start=start,
                                                         with_blocks=True):
            show(piece, block, inserted)

    # A cutter that does not fit inside the arc: the engine refuses, and the error says where.
    try:
        cutcomp.compensate(CONTOUR, 12.0, side="left")
    except cutcomp.CompensationError as error:
        print(f"radius 12: refused at segment {error.block} (code {error.code}): {error.gloss}")
        print(f"  {len(error.path)} pieces were final before the refusal")
    else:
        raise SystemExit("radius 12 should not fit inside the arc of radius 10")

    # A part program: the tool table as a mapping {tool: diameter}, or a file's path.
    with open(os.path.join(EXAMPLES, "bracket.ngc"), encoding="utf-8") as f:
        text = f.read()
    program, record = cutcomp.compensate_gcode(text, tool_table={1: 6.0, 2: 4.0},
                                               name="bracket.ngc")
    runs = sum(1 for segment in record if segment["phase"] == "establish")
    print(f"bracket.ngc: {len(record)} plane moves, {runs} compensation runs; the program:")
    print("".join(program.splitlines(True)[10:16]), end="")
    # One radius for every run: a 12 mm cutter does not fit the fillet of radius 5.
    try:
        cutcomp.compensate_gcode(text, radius=6.0, name="bracket.ngc")
    except cutcomp.CompensationError as error:
        print(f"radius 6: {error}; {len(error.path)} moves were written before line {error.block}")
    else:
        raise SystemExit("a 12 mm cutter should not fit the fillet")


if __name__ == "__main__":
    main()
