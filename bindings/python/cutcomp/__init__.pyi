# SPDX-License-Identifier: MIT
# Type stubs of the cutcomp package (the pure-Python half and the extension it re-exports), so
# that editors and type checkers know the signatures. The docstrings are in the module itself.
import enum
from typing import (Any, Iterable, Literal, Mapping, NamedTuple, Optional, Sequence, Tuple, Union,
                    overload)

__version__: str
INVALID_VALUE: float
EPSILON: float

Point = Tuple[float, float]
# ("line", start, end) or ("arc", start, end, centre, ccw)
Piece = Union[Tuple[str, Point, Point], Tuple[str, Point, Point, Point, bool]]
# A piece with its block, as compensate(..., with_blocks=True) gives it: (piece, block, inserted)
BlockPiece = Tuple[Piece, int, bool]
# A segment going in: a piece, optionally with a dict of "phase", "side", "locate"; or a node.
Segment = Union[Sequence[Any], "CCrcNode"]

class crc_status_t(enum.IntEnum):
    CRC_STATUS_NONE = -1
    CRC_STATUS_ESTABLISH = 0
    CRC_STATUS_DOING = 1
    CRC_STATUS_RETRACT = 2
    NONE = -1
    ESTABLISH = 0
    DOING = 1
    RETRACT = 2

class crc_dir_t(enum.IntEnum):
    CRC_DIR_NONE = -1
    CRC_DIR_LEFT = 0
    CRC_DIR_RIGHT = 1
    NONE = -1
    LEFT = 0
    RIGHT = 1

class node_t(enum.IntEnum):
    NODE_NONE = -1
    NODE_LINE = 0
    NODE_ARC = 1
    NONE = -1
    LINE = 0
    ARC = 1

class crc_t(enum.IntEnum):
    CRC_TYPE_NORMAL = 0
    CRC_TYPE_INTERSECT = 1
    CRC_TYPE_INSERT = 2
    NORMAL = 0
    INTERSECT = 1
    INSERT = 2

class connect_t(enum.IntEnum):
    CONNECT_NONE = -1
    CONNECT_EXTEND = 0
    CONNECT_SHORTEN = 1
    CONNECT_INSERT = 2
    CONNECT_TANGENT = 3
    NONE = -1
    EXTEND = 0
    SHORTEN = 1
    INSERT = 2
    TANGENT = 3

class crc_error_t(enum.IntEnum):
    CRC_ERROR_NONE = 0
    CRC_ERROR_FUNCTION_UNDEFINED = 1
    CRC_ERROR_NOT_ESTABLISHED = 2
    CRC_ERROR_ESTABLISH_FAILED = 3
    CRC_ERROR_ARC_ESTABLISH = 4
    CRC_ERROR_RADIUS_UNREASONABLE = 5
    CRC_ERROR_RETRACT_FAILED = 6
    CRC_ERROR_INTERSECTION_FAILED = 7
    CRC_ERROR_OFFSET_FAILED = 8
    CRC_ERROR_ARC_RETRACT = 9
    CRC_ERROR_INSERT_LINE_FAILED = 10
    CRC_ERROR_INSERT_UNSUPPORTED = 11
    CRC_ERROR_INTERFERENCE = 12
    CRC_ERROR_ONLY_ESTABLISH_RETRACT = 13
    CRC_ERROR_INVALID_START_MOVED = 14
    CRC_ERROR_INVALID_END_MOVED = 15
    CRC_ERROR_NO_PLANE_MOTION = 16
    NONE = 0
    FUNCTION_UNDEFINED = 1
    NOT_ESTABLISHED = 2
    ESTABLISH_FAILED = 3
    ARC_ESTABLISH = 4
    RADIUS_UNREASONABLE = 5
    RETRACT_FAILED = 6
    INTERSECTION_FAILED = 7
    OFFSET_FAILED = 8
    ARC_RETRACT = 9
    INSERT_LINE_FAILED = 10
    INSERT_UNSUPPORTED = 11
    INTERFERENCE = 12
    ONLY_ESTABLISH_RETRACT = 13
    INVALID_START_MOVED = 14
    INVALID_END_MOVED = 15
    NO_PLANE_MOTION = 16

Phase = crc_status_t
Side = crc_dir_t
Kind = node_t
Strategy = crc_t
Connect = connect_t
ErrorCode = crc_error_t

CRC_STATUS_NONE: crc_status_t
CRC_STATUS_ESTABLISH: crc_status_t
CRC_STATUS_DOING: crc_status_t
CRC_STATUS_RETRACT: crc_status_t
CRC_DIR_NONE: crc_dir_t
CRC_DIR_LEFT: crc_dir_t
CRC_DIR_RIGHT: crc_dir_t
NODE_NONE: node_t
NODE_LINE: node_t
NODE_ARC: node_t
CRC_TYPE_NORMAL: crc_t
CRC_TYPE_INTERSECT: crc_t
CRC_TYPE_INSERT: crc_t
CONNECT_NONE: connect_t
CONNECT_EXTEND: connect_t
CONNECT_SHORTEN: connect_t
CONNECT_INSERT: connect_t
CONNECT_TANGENT: connect_t
CRC_ERROR_NONE: crc_error_t
CRC_ERROR_FUNCTION_UNDEFINED: crc_error_t
CRC_ERROR_NOT_ESTABLISHED: crc_error_t
CRC_ERROR_ESTABLISH_FAILED: crc_error_t
CRC_ERROR_ARC_ESTABLISH: crc_error_t
CRC_ERROR_RADIUS_UNREASONABLE: crc_error_t
CRC_ERROR_RETRACT_FAILED: crc_error_t
CRC_ERROR_INTERSECTION_FAILED: crc_error_t
CRC_ERROR_OFFSET_FAILED: crc_error_t
CRC_ERROR_ARC_RETRACT: crc_error_t
CRC_ERROR_INSERT_LINE_FAILED: crc_error_t
CRC_ERROR_INSERT_UNSUPPORTED: crc_error_t
CRC_ERROR_INTERFERENCE: crc_error_t
CRC_ERROR_ONLY_ESTABLISH_RETRACT: crc_error_t
CRC_ERROR_INVALID_START_MOVED: crc_error_t
CRC_ERROR_INVALID_END_MOVED: crc_error_t
CRC_ERROR_NO_PLANE_MOTION: crc_error_t

def GetErrorGloss(code: int) -> str: ...
def error_gloss(code: int) -> str: ...

# High level

class CompensationError(Exception):
    code: int
    gloss: str
    block: int
    message: str
    path: list[Any]
    file: str
    program: Optional[str]
    def __init__(self, code: int, gloss: str, block: int, message: str, path: list[Any],
                 where: Optional[str] = ...) -> None: ...

class GougeError(Exception):
    gouges: list[dict[str, Any]]
    path: list[dict[str, Any]]
    def __init__(self, summary: str, gouges: list[dict[str, Any]],
                 path: list[dict[str, Any]]) -> None: ...

class InputError(ValueError):
    diagnostics: str
    file: str
    line: Optional[int]
    col: Optional[int]
    message: str
    def __init__(self, diagnostics: str, file: str, line: Optional[int], col: Optional[int],
                 message: str) -> None: ...

class GcodeWarning(UserWarning): ...

class Gouge(NamedTuple):
    piece: int
    block: int
    segment: int
    tool_point: Point
    wall_point: Point
    clearance: float
    depth: float

def compensate(segments: Iterable[Segment], radius: float, side: Union[str, int] = "left",
               start: Union[str, int] = "normal", evade: bool = False, look_behind: int = 3,
               end: str = "retract", with_blocks: bool = False, *, fit: Union[bool, float] = True,
               strict_interference: bool = False, strict_startup: bool = False,
               units: str = "mm", arc_tolerance: Optional[float] = None, avoid: bool = False,
               avoid_tolerance: Optional[float] = None
               ) -> Union[list[Any], Tuple[list[Any], list[dict[str, Any]],
                                           list[dict[str, Any]]]]: ...

def audit(contour: Iterable[Segment], path: Iterable[Union[Piece, BlockPiece, Tuple[Piece, int]]],
          radius: float, tolerance: Optional[float] = None, *, side: Union[str, int] = "left",
          units: str = "mm") -> list[Gouge]: ...

def compensate_gcode(text: Union[str, bytes], radius: Optional[float] = None,
                     tool_table: Union[None, str, bytes, Mapping[int, float]] = None, *,
                     name: str = "<string>", tool_units: Optional[str] = None,
                     start: Union[str, int] = "normal", evade: bool = False,
                     look_behind: int = 3, end: str = "retract", fit: Union[bool, float] = True,
                     locate_rapids: bool = False, precision: Optional[int] = None,
                     arc_tolerance: Optional[float] = None, subroutine_path: str = "",
                     max_blocks: int = 100_000_000,
                     dialect: Literal["auto", "ngc", "fanuc", "haas", "fanuc-lathe",
                                      "haas-lathe"] = "auto",
                     block_delete: bool = False,
                     integer_words: Literal["warn", "whole", "increment"] = "warn",
                     trace_source: bool = False,
                     verify: bool = True, gouge_tolerance: Optional[float] = None,
                     stock_top: Optional[float] = None, allow_gouge: bool = False,
                     strict_interference: bool = False,
                     avoid: bool = False, offset_list: Optional[str] = None,
                     offsets: Optional[str] = None,
                     expand_cycles: bool = False, cycle_retract: Optional[float] = None
                     ) -> Tuple[str, list[dict[str, Any]]]: ...

# Low level: the engine's own classes

class CCrcNode:
    def GetStartPoint(self) -> Point: ...
    def SetStartPoint(self, value: Point) -> bool: ...
    start: Optional[Point]
    def GetEndPoint(self) -> Point: ...
    def SetEndPoint(self, value: Point) -> bool: ...
    end: Optional[Point]
    def GetStartPointMoved(self) -> Point: ...
    def SetStartPointMoved(self, value: Point) -> bool: ...
    start_moved: Optional[Point]
    def GetEndPointMoved(self) -> Point: ...
    def SetEndPointMoved(self, value: Point) -> bool: ...
    end_moved: Optional[Point]
    def GetIntersectPoint(self) -> Point: ...
    def SetIntersectPoint(self, value: Point) -> bool: ...
    intersect: Optional[Point]
    def GetCrcDirType(self) -> crc_dir_t: ...
    def SetCrcDirType(self, value: crc_dir_t) -> None: ...
    side: crc_dir_t
    def GetNodeType(self) -> node_t: ...
    def SetNodeType(self, value: node_t) -> None: ...
    kind: node_t
    def GetStatusType(self) -> crc_status_t: ...
    def SetStatusType(self, value: crc_status_t) -> None: ...
    phase: crc_status_t
    def HasBeenCrc(self) -> bool: ...
    def SetHasBeenCrc(self, value: bool) -> None: ...
    compensated: bool
    def IsValidNode(self) -> bool: ...
    @property
    def valid(self) -> bool: ...
    def GetLength(self) -> float: ...
    @property
    def length(self) -> float: ...
    def SetAsInvalidNode(self) -> None: ...
    def set_as_invalid_node(self) -> None: ...
    def CheckMovedValid(self) -> bool: ...
    def check_moved_valid(self) -> bool: ...
    def CheckCanBeCrcMove(self, radius: float) -> bool: ...
    def check_can_be_crc_move(self, radius: float) -> bool: ...
    def CrcMove(self, radius: float) -> bool: ...
    def crc_move(self, radius: float) -> bool: ...
    def Clone(self) -> CCrcNode: ...
    def clone(self) -> CCrcNode: ...

class CCrcLine(CCrcNode):
    @overload
    def __init__(self) -> None: ...
    @overload
    def __init__(self, start: Point, end: Point, phase: crc_status_t = ...,
                 side: crc_dir_t = ..., locate: bool = False) -> None: ...
    def IsLocate(self) -> bool: ...
    def SetLocate(self, value: bool) -> None: ...
    locate: bool
    def GetVector(self) -> Point: ...
    @property
    def vector(self) -> Point: ...

class CCrcArc(CCrcNode):
    @overload
    def __init__(self) -> None: ...
    @overload
    def __init__(self, center: Point, start: Point, end: Point, radius: float, ccw: bool,
                 phase: crc_status_t = ..., side: crc_dir_t = ...) -> None: ...
    @overload
    def __init__(self, center: Point, start_angle: float, central_angle: float, radius: float,
                 ccw: bool, phase: crc_status_t = ..., side: crc_dir_t = ...) -> None: ...
    def GetDirection(self) -> bool: ...
    def SetDirect(self, value: bool) -> None: ...
    ccw: bool
    def GetRadius(self) -> float: ...
    def SetRadius(self, value: float) -> bool: ...
    radius: Optional[float]
    def GetCenterPoint(self) -> Point: ...
    def SetCenterPoint(self, value: Point) -> bool: ...
    center: Optional[Point]
    def GetStartAngle(self) -> float: ...
    def SetStartAngle(self, value: float) -> None: ...
    start_angle: Optional[float]
    def GetEndAngle(self) -> float: ...
    def SetEndAngle(self, value: float) -> None: ...
    end_angle: Optional[float]
    def GetCentralAngle(self) -> float: ...
    def SetCentralAngle(self, value: float) -> None: ...
    central_angle: Optional[float]
    def GetRadiusMoved(self) -> float: ...
    @property
    def radius_moved(self) -> Optional[float]: ...
    def GetStartTangent(self) -> Point: ...
    @property
    def start_tangent(self) -> Point: ...
    def GetEndTangent(self) -> Point: ...
    @property
    def end_tangent(self) -> Point: ...

class CCrcTranslator:
    def __init__(self) -> None: ...
    def GetLatestError(self) -> str: ...
    @property
    def latest_error(self) -> str: ...
    def SetLatestError(self, text: str) -> None: ...
    def set_latest_error(self, text: str) -> None: ...

class CCutterCompensator:
    @overload
    def __init__(self) -> None: ...
    @overload
    def __init__(self, radius: float, translator: Optional[CCrcTranslator] = None,
                 look_behind: int = 3, strategy: crc_t = ...) -> None: ...
    def GetCrcRadius(self) -> float: ...
    def SetCrcRadius(self, value: float) -> None: ...
    radius: float
    def GetCrcType(self) -> crc_t: ...
    def SetCrcType(self, value: crc_t) -> None: ...
    strategy: crc_t
    def GetInterveneEvade(self) -> bool: ...
    def SetInterveneEvade(self, value: bool) -> None: ...
    evade: bool
    def GetCrcPreRetractOption(self) -> int: ...
    def SetCrcPreRetractOption(self, value: int) -> None: ...
    pre_retract_option: int
    def GetEstablish(self) -> bool: ...
    def SetEstablish(self, value: bool) -> None: ...
    established: bool
    def SetTranslator(self, translator: CCrcTranslator) -> None: ...
    translator: Optional[CCrcTranslator]
    def GetListSize(self) -> int: ...
    @property
    def look_behind(self) -> int: ...
    def GetListCount(self) -> int: ...
    @property
    def list_count(self) -> int: ...
    def GetLatestError(self) -> str: ...
    @property
    def latest_error(self) -> str: ...
    def GetLatestErrorCode(self) -> int: ...
    @property
    def latest_error_code(self) -> int: ...
    def AdjustNode(self, node: CCrcNode) -> bool: ...
    def adjust_node(self, node: CCrcNode) -> bool: ...
    def AddToList(self, node: CCrcNode) -> None: ...
    def add_to_list(self, node: CCrcNode) -> None: ...
    def GetCrcNodeIntersection(self, prev: CCrcNode, next: CCrcNode) -> tuple[Any, ...]: ...
    def crc_node_intersection(self, prev: CCrcNode, next: CCrcNode) -> tuple[Any, ...]: ...

Line = CCrcLine
Arc = CCrcArc
Node = CCrcNode
Compensator = CCutterCompensator
Translator = CCrcTranslator
