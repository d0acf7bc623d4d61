# SPDX-License-Identifier: MIT
"""cutcomp: cutter radius compensation of 2-D CNC tool paths.

A contour of straight lines and circular arcs goes in; the path of the tool centre, one cutter
radius beside it, comes out: offsets, corner joints (trimmed inside corners, extended or bridged
outside corners), start-up and cancel moves, interference detection, and optional evasion of
segments too short for the cutter.

High level
    compensate(segments, radius, ...)   the tool-centre path of a contour, as plain tuples
    audit(contour, path, radius, ...)   the gouges of any tool path against a contour
    compensate_gcode(text, ...)         a G-code program compensated as the command-line tool
                                        does it: (program, record)
    CompensationError                   what both compensate functions raise when the engine
                                        refuses
    InputError                          what compensate_gcode raises for a program it cannot read

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

import collections as _collections
import json as _json
import math as _math
import numbers as _numbers
import os as _os
import warnings as _warnings

from ._cutcomp import *  # noqa: F401,F403  (the engine's classes, enums and constants)
from ._cutcomp import (CCrcArc, CCrcLine, CCrcNode, CCrcTranslator, CCutterCompensator,
                       GetErrorGloss, Phase, Side, Strategy, __version__, _audit,
                       _compensate)
try:
    from ._cutcomp import _gcode_options, _run_gcode  # built with the command-line tool
except ImportError:
    pass

Line = CCrcLine
Arc = CCrcArc
Node = CCrcNode
Compensator = CCutterCompensator
Translator = CCrcTranslator

_PHASES = {"establish": Phase.ESTABLISH, "doing": Phase.DOING, "retract": Phase.RETRACT,
           "none": Phase.NONE}
_SIDES = {"left": Side.LEFT, "right": Side.RIGHT}
_STRATEGIES = {"normal": Strategy.NORMAL, "intersect": Strategy.INTERSECT,
               "insert": Strategy.INSERT}
_ENDS = {"line": 0, "retract": 1, "none": 2}
_UNITS = {"mm": 0, "inch": 1}
# The command-line tool's gouge tolerance when none is given, by unit (crc/path.h).
_AUDIT_TOLERANCE = {"mm": 0.005, "inch": 0.0002}


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

    From compensate_gcode: block is the line of the refused block, file the file it is in (the
    name given for the program, or a subroutine file's path), path the record of the pieces
    written before it (compensate_gcode's format), program the program written up to it.
    """

    def __init__(self, code, gloss, block, message, path, where=None):
        super().__init__(f"{where or f'segment {block}'}: {gloss}" +
                         (f" ({message})" if message else ""))
        self.code, self.gloss, self.block, self.message, self.path = (code, gloss, block,
                                                                      message, path)


class GougeError(Exception):
    """compensate_gcode's finished path comes closer to the programmed contour than the cutter
    radius (beyond the gouge tolerance); no program is returned.

    gouges   one dict per gouge, as the tool's JSON record has them (line, against_line, point,
             tool_point, depth, clearance, radius)
    path     the record of every piece
    """

    def __init__(self, summary, gouges, path):
        super().__init__(summary)
        self.gouges, self.path = gouges, path


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
               end="retract", with_blocks=False, *, fit=True, strict_interference=False,
               strict_startup=False, units="mm", arc_tolerance=None, avoid=False,
               avoid_tolerance=None):
    """The tool-centre path of a contour, with the command-line tool's defaults.

    segments     tuples ("line", start, end) or ("arc", start, end, centre, ccw), or Line and
                 Arc objects. One compensation run by default: the first segment is the
                 start-up move (a line onto the contour), the last the cancel move (a line off
                 it), the ones between are compensated. A tuple may end with a dict overriding
                 that: {"phase": "establish" | "doing" | "retract" | "none", "side": "left" |
                 "right", "locate": True} (locate: a positioning line, joined to its neighbours'
                 offset paths but not offset; phase "none": a move outside compensation, passed
                 through, which ends the run before it). Line and Arc objects keep their own
                 phase and side. Your segments are never modified. An arc whose end is not quite
                 at its start's distance from the centre (within arc_tolerance) is compensated
                 about the nearest centre on its chord's bisector.
    radius       cutter radius; negative swaps the sides; 0 returns the contour itself
    side         "left" (G41) or "right" (G42) of the direction of travel, or a Side
    start        start-up and cancel: "normal" (straight to/from the point beside the
                 contour), "intersect" (joined like a corner), "insert" (the move itself offset,
                 a radial line added), or a Strategy
    evade        drop segments too short for the cutter instead of failing
    look_behind  finished segments the interference check compares with (0: no check)
    end          a run that reaches its end without a cancel move: "retract" (the last move
                 ends compensation, the tool stays beside the contour), "line" (a closing line
                 back to the programmed end) or "none" (the path of "retract")
    fit          True: runs of lines shorter than 0.5 mm (0.5/25.4 in), as CAM systems post
                 curves, are fitted by lines and arcs within 0.005 mm (0.0002 in) first; a
                 number: within that tolerance; False: every segment as programmed
    strict_interference   the engine's plain interference test instead of its tolerances for
                 posted CAM chords and for a path that comes back to where it has been
    strict_startup   the engine's plain start-up: no entry move after which the tool already
                 stands beside the contour, no arc as the entry move (both on by default, as
                 in the tool)
    units        "mm" or "inch": the unit of the lengths, for the defaults above
    arc_tolerance   how far an arc's two radii may differ (None: 0.1% of the radius, at least
                 0.005 mm or 0.0005 in, at most 0.5 mm or 0.05 in)
    avoid        a run the engine refuses, or whose path comes closer to a wall than the radius
                 less avoid_tolerance (None: 0.005 mm or 0.0002 in), gets a gouge-free path that
                 leaves material where the cutter does not fit; runs that compensate cleanly
                 come out as without it. Segment ids must increase, as audit() needs.

    Returns the pieces of the tool-centre path in order, in the segment format above (with
    avoid=True: (path, left, avoided), left a dict per place where material is left: first_id,
    last_id, depth, wall_point, wall_id, extent, before and after (indices into path), cause
    ("narrow", "small arc", "unreached"); avoided a dict per run that needed it: first_id,
    last_id, engine_code, engine_gouges, written, error): an arc's
    centre is its programmed centre, a full circle comes out with start == end. Segments that
    evasion dropped are left out. With with_blocks=True each item is (piece, block, inserted):
    block is the index of the segment the piece stands for (a piece fitted to a run of chords:
    the first of them), inserted is True for a line the engine added (at an outside corner, or
    for start-up or cancel), block then being the segment it was added for. Such items are what
    audit() takes to attach each piece to its segment.

    Raises CompensationError when the engine refuses a segment, ValueError or TypeError for
    input it cannot take (a segment's index in the message).
    """
    if not isinstance(radius, _numbers.Real) or not _math.isfinite(radius):
        raise ValueError(f"radius must be a finite number, not {radius!r}")
    if isinstance(look_behind, bool) or not isinstance(look_behind, int) or look_behind < 0:
        raise ValueError(f"look_behind must be an int >= 0, not {look_behind!r}")
    units = _choice("units", units, {u: u for u in _UNITS})
    if isinstance(fit, bool):
        fit_tolerance = None
    else:
        fit_tolerance, fit = float(_number("fit", fit)), True
    if arc_tolerance is not None:
        arc_tolerance = float(_number("arc_tolerance", arc_tolerance, 0))
    if avoid_tolerance is not None:
        avoid_tolerance = float(_number("avoid_tolerance", avoid_tolerance, 0))
    segments = list(segments)
    side = _choice("side", side, _SIDES)
    nodes = [_node(item, i, len(segments), side) for i, item in enumerate(segments)]
    path, failure, avoiding = _compensate(nodes, float(radius),
                                          _choice("start", start, _STRATEGIES), look_behind,
                                          bool(evade), _choice("end", end, _ENDS), fit,
                                          fit_tolerance, not strict_interference,
                                          bool(strict_startup), _UNITS[units], arc_tolerance,
                                          bool(avoid), avoid_tolerance)
    if not with_blocks:
        path = [piece for piece, _, _ in path]
    if failure is not None:
        input_error, code, block, message, gloss = failure
        if input_error:
            raise ValueError(gloss if block < 0 else f"segment {block}: {gloss}")
        raise CompensationError(code, gloss, block, message, path)
    if avoid:
        return (path, *avoiding)
    return path


Gouge = _collections.namedtuple(
    "Gouge", "piece block segment tool_point wall_point clearance depth")
Gouge.__doc__ = """One place where a tool path comes closer to a wall than the cutter radius allows.

piece       index of the piece in the path given to audit()
block       that piece's block (the contour segment it is attached to; -1: none)
segment     index of the wall in the contour
tool_point  the point of the piece nearest the wall
wall_point  the point of the wall nearest the piece
clearance   their distance
depth       radius - clearance"""


def audit(contour, path, radius, tolerance=None, *, side="left", units="mm"):
    """The gouges of a tool path: every piece measured against every wall of the contour.

    contour    the programmed segments, in compensate()'s format (and with its defaults for
               phase and side): its walls are the segments in progress that are not locate
               lines, the start-up and cancel moves are not walls.
    path       the tool-centre path: pieces ("line", start, end) or ("arc", start, end, centre,
               ccw), or (piece, block) and (piece, block, inserted) items as
               compensate(..., with_blocks=True) returns them, from this library or any other.
               The block attaches a piece to its contour segment: a start-up or cancel piece
               may cut its own notch where it leads onto or off the wall next to its segment.
               A piece without a block is attached nowhere.
    radius     the cutter radius (its size counts)
    tolerance  how much closer than the radius the tool may come before it is a gouge (None:
               the command-line tool's 0.005 mm, 0.0002 in). A path fitted to chords may come
               up to the fitting tolerance nearer the chords: audit it with more than that.

    Returns a list of Gouge, one per piece and wall it gouges, in the order of the pieces
    (empty: the path clears the contour). Raises ValueError for input it cannot measure (a
    radius below 1e-6, a negative tolerance, coordinates that are not finite).
    """
    units = _choice("units", units, {u: u for u in _UNITS})
    tolerance = _AUDIT_TOLERANCE[units] if tolerance is None else \
        float(_number("tolerance", tolerance, 0))
    if not isinstance(radius, _numbers.Real) or not _math.isfinite(radius):
        raise ValueError(f"radius must be a finite number, not {radius!r}")
    contour = list(contour)
    side = _choice("side", side, _SIDES)
    nodes = [_node(item, i, len(contour), side) for i, item in enumerate(contour)]
    pieces = []
    for i, item in enumerate(path):
        item = tuple(item)
        piece, block = (item[0], item[1]) if item and isinstance(item[0], tuple) else (item, -1)
        kind = piece[0] if piece else None
        if kind == "line" and len(piece) == 3:
            pieces.append(("line", piece[1], piece[2], (0.0, 0.0), False, int(block)))
        elif kind == "arc" and len(piece) == 5:
            pieces.append(("arc", piece[1], piece[2], piece[3], bool(piece[4]), int(block)))
        else:
            raise ValueError(f"piece {i}: expected ('line', start, end) or "
                             f"('arc', start, end, centre, ccw), got {item!r}")
    error, gouges = _audit(nodes, pieces, float(radius), tolerance)
    if error is not None:
        raise ValueError(error)
    return [Gouge(piece, block, segment, tool, wall, clearance, depth)
            for piece, block, segment, _, tool, wall, clearance, depth in gouges]


class InputError(ValueError):
    """compensate_gcode could not read the program, the tool table or a subroutine file; nothing
    was compensated.

    file, line, col  where (line and col are None when the message names no place)
    message          what is wrong, in English
    diagnostics      everything the command-line tool would have said, one message a line
                     (inside a subroutine: the calls that led there)
    """

    def __init__(self, diagnostics, file, line, col, message):
        super().__init__(diagnostics.strip())
        self.diagnostics, self.file, self.line, self.col, self.message = (diagnostics, file, line,
                                                                          col, message)


class GcodeWarning(UserWarning):
    """A warning of compensate_gcode (a block kept as programmed, a jump in the tool path...)."""


# The program languages and the readings of a Fanuc-family integer coordinate, as the tool
# names them.
_DIALECTS = {name: name for name in ("auto", "ngc", "fanuc", "haas", "fanuc-lathe", "haas-lathe")}
_INTEGER_WORDS = {name: name for name in ("warn", "whole", "increment")}


def _number(name, value, low=None, integer=False):
    ok = (isinstance(value, int) if integer else isinstance(value, _numbers.Real)) and \
        not isinstance(value, bool) and _math.isfinite(value) and (low is None or value >= low)
    if not ok:
        kind = "an int" if integer else "a finite number"
        raise ValueError(f"{name} must be {kind}" + (f" >= {low}" if low is not None else "") +
                         f", not {value!r}")
    return value


def compensate_gcode(text, radius=None, tool_table=None, *, name="<string>", tool_units=None,
                     start="normal", evade=False, look_behind=3, end="retract", fit=True,
                     locate_rapids=False, precision=None, arc_tolerance=None,
                     subroutine_path="", max_blocks=100_000_000, dialect="auto",
                     block_delete=False, integer_words="warn", trace_source=False,
                     verify=True, gouge_tolerance=None, stock_top=None, allow_gouge=False,
                     strict_interference=False, avoid=False, offset_list=None,
                     offsets=None, expand_cycles=False, cycle_retract=None):
    """A G-code program compensated exactly as the command-line tool compensates it.

    text          the program (str, or bytes in its own encoding)
    radius        radius for every G41/G42, overriding D (negative swaps the sides; 0 passes
                  the path through); None: D through the tool table, or G41.1/G42.1's diameter
    tool_table    the path of a tool table ("T<n> P<n> D<diameter>" lines), or a mapping
                  {tool number: diameter}
    name          the program's name in messages and the record; subroutine files are looked
                  for in its directory, then along subroutine_path (colon-separated)
    tool_units    "mm" or "inch": the tool table's unit when it is not the program's
    start, evade, look_behind   as compensate; the side is the program's (G41: left, G42: right)
    end           a run that ends without a cancel move: "retract" (the tool stays), "line" (a
                  closing line back to the programmed end), "none"
    fit           True: runs of short chords are fitted by lines and arcs within the default
                  tolerance first; a number: within that tolerance; False: not fitted
    locate_rapids, precision, arc_tolerance, max_blocks, trace_source   as the tool's options
    dialect       the program's language: "auto" (recognised from it), "ngc", "fanuc", "haas"
    block_delete  the machine's block-delete switch is on: lines starting with '/' are skipped
    integer_words a Fanuc-family coordinate without a decimal point: "warn", "whole" or
                  "increment", as --integer-words
    verify        audit the tool path against the whole contour for gouges (False: --no-verify)
    gouge_tolerance, stock_top, allow_gouge, strict_interference   as the tool's options
    avoid         where the cutter does not fit (the engine refuses a run, or its path gouges),
                  write a gouge-free path that leaves material there (--avoid); each place left
                  is a GcodeWarning ("0.84 mm left on blocks 14-16: ...")
    offset_list   the path of a lathe's offset list (nose radius and tip by offset number)
    offsets       the path of a list of offset registers ("D07 8.0 -0.02": radius and wear),
                  which D words name in the Fanuc-family dialects
    expand_cycles, cycle_retract   a Fanuc-family lathe's G71/G72 written as their moves

    Returns (program, record): the compensated program as text, and one dict per plane segment
    as the tool's JSON record has it (line, kind, motion, plane, phase, side, radius, inserted,
    dropped, locate, programmed and tool geometry, fitted chords; "file" for a subroutine
    file's block). Warnings are issued as GcodeWarning.

    Raises CompensationError when the engine refuses a block (block: its line), InputError for a
    program, tool table or subroutine it cannot read, GougeError when the finished path cuts into
    the contour (unless allow_gouge: then the gouges are warnings), ValueError or TypeError for
    bad arguments.
    """
    if "_run_gcode" not in globals():
        raise NotImplementedError("this cutcomp module was built without the command-line tool")
    if isinstance(text, (bytes, bytearray)):
        text = bytes(text).decode("utf-8", "surrogateescape")
    if not isinstance(text, str):
        raise TypeError(f"text must be str or bytes, not {type(text).__name__}")
    if radius is not None:
        radius = float(_number("radius", radius))
    if isinstance(fit, bool):
        fit_tolerance = None
    else:
        fit_tolerance, fit = float(_number("fit", fit)), True
        if fit_tolerance <= 0:
            raise ValueError(f"fit must be a positive tolerance, not {fit_tolerance!r}")
    if precision is not None and not 0 <= _number("precision", precision, 0, True) <= 9:
        raise ValueError(f"precision must be 0 to 9, not {precision!r}")
    if arc_tolerance is not None:
        arc_tolerance = float(_number("arc_tolerance", arc_tolerance, 0))
    if tool_units not in (None, "mm", "inch"):
        raise ValueError(f"tool_units must be 'mm' or 'inch', not {tool_units!r}")
    table, table_text = None, None
    if tool_table is not None and not isinstance(tool_table, (str, bytes, _os.PathLike)):
        lines = []
        for tool, diameter in dict(tool_table).items():
            tool = _number("a tool number", tool, 0, True)
            diameter = _number(f"the diameter of tool {tool}", diameter, 0)
            lines.append(f"T{tool} P{tool} D{float(diameter)!r}\n")
        table, table_text = "<tool table>", "".join(lines).encode("ascii")
    elif tool_table is not None:
        table = _os.fsdecode(tool_table)
    if stock_top is not None:
        stock_top = float(_number("stock_top", stock_top))
    given = {"tool_table": table, "tool_units": tool_units, "radius": radius,
             "arc_tolerance": arc_tolerance,
             "start": _name("start", start, _STRATEGIES),
             "look_behind": _number("look_behind", look_behind, 0, True), "evade": bool(evade),
             "fit": fit_tolerance if fit_tolerance is not None else bool(fit),
             "end": _name("end", end, _ENDS), "locate_rapids": bool(locate_rapids),
             "precision": precision, "subroutine_path": str(subroutine_path),
             "max_blocks": _number("max_blocks", max_blocks, 1, True),
             "dialect": _name("dialect", dialect, _DIALECTS),
             "block_delete": bool(block_delete),
             "integer_words": _name("integer_words", integer_words, _INTEGER_WORDS),
             "trace_source": bool(trace_source),
             "gouge_tolerance": None if gouge_tolerance is None else
             float(_number("gouge_tolerance", gouge_tolerance, 0)),
             "stock_top": stock_top, "strict_interference": bool(strict_interference),
             "verify": bool(verify), "allow_gouge": bool(allow_gouge), "avoid": bool(avoid),
             "offset_list": None if offset_list is None else _os.fsdecode(offset_list),
             "offsets": None if offsets is None else _os.fsdecode(offsets),
             "expand_cycles": bool(expand_cycles),
             "cycle_retract": None if cycle_retract is None else
             float(_number("cycle_retract", cycle_retract, 0))}
    run = _run_gcode(text.encode("utf-8", "surrogateescape"), str(name), table_text,
                     _arguments(given))
    status, error = run["status"], run["error"]
    said = [(severity, _text(place), _text(message))
            for severity, place, message in run["diagnostics"]]
    diagnostics = "".join(f"{place}: {severity}: {message}\n" for severity, place, message in said)
    program = None if run["program"] is None else _text(run["program"])
    record = None if run["record"] is None else _json.loads(run["record"])
    for severity, place, message in said:
        if severity == "warning":
            _warnings.warn(f"{place}: warning: {message}", GcodeWarning, stacklevel=2)
    # 4: written with material left (avoid), each place a warning
    if status in (0, 4) or (status == 3 and allow_gouge and program is not None):
        return program, record["segments"]
    if status == 3 and record:
        raise GougeError(said[-1][2], record.get("gouges") or [], record["segments"])
    if status == 1 and error and error["compensation"]:
        file = _text(error["file"]) or str(name)
        failure = CompensationError(error["code"], _text(error["message"]), error["line"],
                                    _text(error["engine_message"]), record["segments"],
                                    f"{file}:{error['line']}")
        failure.file, failure.program = file, program
        raise failure
    if error and error["line"]:
        raise InputError(diagnostics, _text(error["file"]) or str(name), error["line"],
                         error["col"] or None, _text(error["message"]))
    message = error and _text(error["message"]) or next(
        (message for severity, _, message in said if severity == "error"), diagnostics.strip())
    raise InputError(diagnostics, str(name), None, None, message)


def _name(what, value, table):
    """The name the tool's option gives a choice made by name or by the module's constant."""
    if isinstance(value, str):
        _choice(what, value, table)
        return value.lower()
    for name, constant in table.items():
        if constant == value:
            return name
    raise ValueError(f"{what} must be one of {', '.join(table)}, not {value!r}")


def _arguments(given):
    """The tool's command-line arguments for compensate_gcode's keywords (the tool's own table:
    which keyword is which option, and its default, which needs no argument)."""
    args = ["--verbose"]  # the engine's own message beside the English one, always
    for flag, keyword, kind, default in _gcode_options():
        value = given.get(keyword) if keyword else None
        if kind == "flag" and value is True or kind == "negated" and value is False:
            args.append(flag)
        elif kind == "value" and value is not None and not isinstance(value, bool) and \
                repr(value) != default:
            args.append(f"{flag}={value!r}" if isinstance(value, float) else f"{flag}={value}")
    return args


def _text(data):
    """What the pipeline gives as bytes (a program, a message quoting one), as str."""
    return data.decode("utf-8", "surrogateescape")
