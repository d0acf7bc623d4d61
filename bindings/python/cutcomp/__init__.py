# SPDX-License-Identifier: MIT
"""cutcomp: cutter radius compensation of 2-D CNC tool paths.

A contour of straight lines and circular arcs goes in; the path of the tool centre, one cutter
radius beside it, comes out: offsets, corner joints (trimmed inside corners, extended or bridged
outside corners), start-up and cancel moves, interference detection, and optional evasion of
segments too short for the cutter.

High level
    compensate(segments, radius, ...)   the tool-centre path of a contour, as plain tuples
    CompensationError                   what compensate raises when the engine refuses

Segments, going in and coming out, are plain tuples; points are (x, y) pairs:
    ("line", start, end)
    ("arc", start, end, centre, ccw)    ccw True: counterclockwise (G3), False: clockwise (G2)

    >>> import cutcomp
    >>> cutcomp.compensate([("line", (0, -5), (0, 0)),       # lead-in: compensation starts
    ...                     ("line", (0, 0), (10, 0)),
    ...                     ("line", (10, 0), (10, 5))],     # lead-out: compensation ends
    ...                    radius=1, side="left")
    [('line', (0.0, -5.0), (0.0, 1.0)), ('line', (0.0, 1.0), (10.0, 1.0)),
     ('line', (10.0, 1.0), (10.0, 5.0))]                     # (up to rounding)

Low level: the engine's own classes, under their C++ names with Pythonic names beside them.
    Line / CCrcLine, Arc / CCrcArc, Node / CCrcNode       segments
    Compensator / CCutterCompensator                      the engine
    Translator / CCrcTranslator                           the host interface, to subclass
    Phase, Side, Kind, Strategy, Connect, ErrorCode       the enums (crc_status_t, crc_dir_t,
                                                          node_t, crc_t, connect_t, crc_error_t)
    error_gloss / GetErrorGloss, INVALID_VALUE, EPSILON
Getters and setters have snake_case properties beside them (node.start_moved for
node.GetStartPointMoved()); properties read None where the engine holds the unset marker.
See help(cutcomp.Translator) for driving the engine yourself and the lifetime rules.
"""

import math as _math
import numbers as _numbers

from ._cutcomp import *  # noqa: F401,F403  (the engine's classes, enums and constants)
from ._cutcomp import (CCrcArc, CCrcLine, CCrcNode, CCrcTranslator, CCutterCompensator,
                       GetErrorGloss, Phase, Side, Strategy, __version__, _run)

Line = CCrcLine
Arc = CCrcArc
Node = CCrcNode
Compensator = CCutterCompensator
Translator = CCrcTranslator

_PHASES = {"establish": Phase.ESTABLISH, "doing": Phase.DOING, "retract": Phase.RETRACT}
_SIDES = {"left": Side.LEFT, "right": Side.RIGHT}
_STRATEGIES = {"normal": Strategy.NORMAL, "intersect": Strategy.INTERSECT,
               "insert": Strategy.INSERT}
_ENDS = {"line": 0, "retract": 1, "none": 2}


class CompensationError(Exception):
    """The engine refused a segment.

    code     the engine's message number (ErrorCode; 0 when it refused without a message)
    gloss    the message in English
    block    index of the refused segment in the segments handed to compensate (for an inserted
             line, of the segment it was inserted for). When the cutter does not fit inside an
             arc (code 5), the engine may refuse the segment before the arc, while it settles
             the joint between the two.
    message  the engine's own message text
    path     the tool-centre path that was final before the refusal, in compensate's format
    """

    def __init__(self, code, gloss, block, message, path):
        super().__init__(f"segment {block}: {gloss}" + (f" ({message})" if message else ""))
        self.code, self.gloss, self.block, self.message, self.path = (code, gloss, block,
                                                                      message, path)


def _choice(name, value, table):
    if isinstance(value, str):
        try:
            return table[value.lower()]
        except KeyError:
            raise ValueError(f"{name} must be one of {', '.join(table)}, not {value!r}") from None
    return value


def _node(item, index, count, side):
    """One input segment as a Line or Arc (phase from its position unless it says otherwise)."""
    if isinstance(item, CCrcNode):
        return item
    item = tuple(item)
    options = item[-1] if item and isinstance(item[-1], dict) else {}
    geometry = item[:-1] if options else item
    unknown = set(options) - {"phase", "side", "locate"}
    if unknown:
        raise ValueError(f"segment {index}: unknown option {sorted(unknown)[0]!r}")
    default = "establish" if index == 0 else "retract" if index == count - 1 else "doing"
    phase = _choice("phase", options.get("phase", default), _PHASES)
    side = _choice("side", options.get("side", side), _SIDES)
    kind = geometry[0] if geometry else None
    try:
        if kind == "line" and len(geometry) == 3:
            return CCrcLine(geometry[1], geometry[2], phase, side, bool(options.get("locate")))
        if kind == "arc" and len(geometry) == 5 and "locate" not in options:
            start, end, centre, ccw = geometry[1:]
            radius = _math.hypot(start[0] - centre[0], start[1] - centre[1])
            return CCrcArc(centre, start, end, radius, bool(ccw), phase, side)
    except TypeError as error:
        raise TypeError(f"segment {index}: {error}") from None
    raise ValueError(f"segment {index}: expected ('line', start, end) or "
                     f"('arc', start, end, centre, ccw), got {item!r}")


def compensate(segments, radius, side="left", start="normal", evade=False, look_behind=3,
               end="line", with_blocks=False):
    """The tool-centre path of a contour.

    segments     tuples ("line", start, end) or ("arc", start, end, centre, ccw), or Line and
                 Arc objects. One compensation run by default: the first segment is the
                 start-up move (a line onto the contour), the last the cancel move (a line off
                 it), the ones between are compensated. A tuple may end with a dict overriding
                 that: {"phase": "establish" | "doing" | "retract", "side": "left" | "right",
                 "locate": True} (locate: a positioning line, joined to its neighbours' offset
                 paths but not offset). Line and Arc objects keep their own phase and side.
                 Your segments are never modified: copies are compensated.
    radius       cutter radius; negative swaps the sides; 0 returns the contour itself
    side         "left" (G41) or "right" (G42) of the direction of travel, or a Side
    start        start-up and cancel: "normal" (straight to/from the point beside the
                 contour), "intersect" (joined like a corner), "insert" (the move itself offset,
                 a radial line added), or a Strategy
    evade        drop segments too short for the cutter instead of failing
    look_behind  finished segments the interference check compares with (0: no check)
    end          a run that reaches the end without a cancel move: "line" (a closing line back
                 to the programmed end), "retract" (the last move ends compensation, the tool
                 stays beside the contour) or "none" (the same path as "retract"; the engine
                 tells a host no end point)

    Returns the pieces of the tool-centre path in order, in the segment format above: an arc's
    centre is its programmed centre, a full circle comes out with start == end. Segments that
    evasion dropped are left out. With with_blocks=True each item is (piece, block, inserted):
    block is the index of the segment the piece stands for, inserted is True for a line the
    engine added (at an outside corner, or for start-up or cancel), block then being the
    segment it was added for.

    Raises CompensationError when the engine refuses a segment, ValueError or TypeError for
    input it cannot take.
    """
    if not isinstance(radius, _numbers.Real) or not _math.isfinite(radius):
        raise ValueError(f"radius must be a finite number, not {radius!r}")
    if isinstance(look_behind, bool) or not isinstance(look_behind, int) or look_behind < 0:
        raise ValueError(f"look_behind must be an int >= 0, not {look_behind!r}")
    segments = list(segments)
    side = _choice("side", side, _SIDES)
    nodes = [_node(item, i, len(segments), side) for i, item in enumerate(segments)]
    path, failure = _run(nodes, float(radius), _choice("start", start, _STRATEGIES), look_behind,
                         bool(evade), _choice("end", end, _ENDS))
    if not with_blocks:
        path = [piece for piece, _, _ in path]
    if failure is not None:
        code, block, message = failure
        raise CompensationError(code, GetErrorGloss(code) or "compensation failed", block,
                                message, path)
    return path


# compensate_gcode(text, ...) -> (program, record) belongs here, beside compensate: the
# command-line tool's pipeline (reader, compensation runs, G-code writer, per-segment record),
# once it is a library, bound in run.cpp as _compensate_gcode and wrapped here the way
# compensate wraps _run, raising CompensationError for a refused block.
