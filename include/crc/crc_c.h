/* SPDX-License-Identifier: MIT */
/**
 * @file
 * The C interface of libcutcomp: the one-call compensation and the gouge audit of crc/path.h
 * for C hosts, firmware and other languages' foreign-function interfaces (C#, Rust, Delphi,
 * LabVIEW). Plain C99; include it from C or C++ and link libcutcomp.
 *
 * @par Use
 * Build a path with cutcomp_path_new and cutcomp_path_add_line / _arc / _segment, make options
 * with cutcomp_options_new (the command-line tool's defaults) and the setters, call
 * cutcomp_compensate, read the pieces with cutcomp_result_size and cutcomp_result_piece, and
 * free every handle with its own free function.
 *
 * @par Ownership
 * Every handle (cutcomp_path, cutcomp_options, cutcomp_result, cutcomp_audit_result) is made by
 * the library and owned by the caller, who frees it with the matching cutcomp_*_free; the free
 * functions accept NULL. Handles never refer to one another: a result holds its own copy of
 * everything it reports, so a path or options may be freed or changed once the call that used
 * them has returned. Strings returned by the accessors belong to their handle and stay valid
 * until it is freed; the static strings of cutcomp_status_text, cutcomp_error_gloss and
 * cutcomp_version are never freed. Structures the caller passes (cutcomp_segment) are copied.
 *
 * @par Errors
 * Functions that can fail return a cutcomp_status: CUTCOMP_OK (0) or the reason. Nothing is
 * thrown or longjmp'd across the interface, nothing is printed, and no global state is kept:
 * the message of a failed compensation or audit is read from its result handle. A NULL handle
 * or output pointer gives CUTCOMP_INVALID_ARGUMENT and changes nothing.
 *
 * @par Threads
 * A handle is used by one thread at a time; different handles on different threads need no
 * locking.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <crc/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/** What a call came to. */
typedef enum cutcomp_status {
  CUTCOMP_OK = 0,               /**< done */
  CUTCOMP_REFUSED = 1,          /**< the engine refused a segment: cutcomp_result_failure */
  CUTCOMP_INVALID_INPUT = 2,    /**< an option, segment or tolerance that cannot be used */
  CUTCOMP_INVALID_ARGUMENT = 3, /**< a NULL handle or pointer, or an index out of range */
  CUTCOMP_OUT_OF_MEMORY = 4,    /**< memory ran out; nothing was made */
  CUTCOMP_INTERNAL_ERROR = 5    /**< a failure the library did not expect; nothing was made */
} cutcomp_status;

/** Compensation phase of a segment (the values of crc::crc_status_t). */
enum {
  CUTCOMP_PHASE_NONE = -1,     /**< a move outside compensation, passed through */
  CUTCOMP_PHASE_ESTABLISH = 0, /**< the move onto the contour that starts compensation */
  CUTCOMP_PHASE_DOING = 1,     /**< the contour */
  CUTCOMP_PHASE_RETRACT = 2    /**< the move off the contour that cancels compensation */
};

/** Side of the direction of travel the tool runs on (the values of crc::crc_dir_t). */
enum {
  CUTCOMP_SIDE_NONE = -1, /**< no side */
  CUTCOMP_SIDE_LEFT = 0,  /**< left (G41) */
  CUTCOMP_SIDE_RIGHT = 1  /**< right (G42) */
};

/** Start-up and cancel strategy (the values of crc::crc_t). */
enum {
  CUTCOMP_START_NORMAL = 0,    /**< straight to and from the point beside the contour */
  CUTCOMP_START_INTERSECT = 1, /**< joined to the contour like a corner */
  CUTCOMP_START_INSERT = 2     /**< the move itself offset, a radial line added */
};

/** How a run without a cancel segment is closed (the values of crc::crc_end_t). */
enum {
  CUTCOMP_END_LINE = 0, /**< a closing line back to the programmed end */
  CUTCOMP_END_STAY = 1, /**< the tool stays beside the contour */
  CUTCOMP_END_NONE = 2  /**< neither */
};

/** The unit of a path's lengths (the values of crc::crc_unit_t). */
enum {
  CUTCOMP_UNIT_MM = 0,  /**< millimetres */
  CUTCOMP_UNIT_INCH = 1 /**< inches */
};

/** A point of the plane. */
typedef struct cutcomp_point {
  double x; /**< abscissa */
  double y; /**< ordinate */
} cutcomp_point;

/** A line or circular arc, in the direction it is travelled (crc::Curve with its radius). */
typedef struct cutcomp_curve {
  int arc;              /**< nonzero: an arc; zero: a line */
  cutcomp_point from;   /**< first point */
  cutcomp_point to;     /**< last point */
  cutcomp_point centre; /**< arcs: the centre */
  double radius;        /**< arcs: the radius (ignored going in: the distance of from) */
  int ccw;              /**< arcs: nonzero counterclockwise (G3), zero clockwise (G2) */
  int full_circle;      /**< arcs: a whole turn (to equals from) */
} cutcomp_curve;

/** One programmed segment of a path (crc::PathSegment). */
typedef struct cutcomp_segment {
  cutcomp_curve curve; /**< the programmed geometry */
  int phase;           /**< CUTCOMP_PHASE_* */
  int side;            /**< CUTCOMP_SIDE_* */
  int64_t id;          /**< the caller's id, handed back with the segment's pieces */
  int locate;          /**< nonzero: a positioning line, joined but not offset */
} cutcomp_segment;

/** One piece of a tool-centre path (cutcomp::PathPiece). */
typedef struct cutcomp_piece {
  cutcomp_curve tool;       /**< where the tool centre goes (meaningless when dropped) */
  cutcomp_curve programmed; /**< the programmed geometry the piece stands for */
  int64_t id;               /**< id of its segment (an inserted line: of its anchor) */
  int64_t last_id;          /**< id of the last segment a fitted piece stands for; else id */
  int phase;                /**< CUTCOMP_PHASE_* */
  int side;                 /**< CUTCOMP_SIDE_* */
  int inserted;             /**< nonzero: a line the engine inserted */
  int dropped;              /**< nonzero: taken out of the path by evasion */
  int locate;               /**< nonzero: a positioning line */
} cutcomp_piece;

/** Why a compensation stopped (crc::PathFailure); the texts come from the result's accessors. */
typedef struct cutcomp_failure {
  int input;     /**< nonzero: an option or segment was refused before the engine saw it */
  int64_t index; /**< ordinal of the segment in the path, from 0; -1 for an option */
  int64_t id;    /**< that segment's id; -1 for an option */
  int inserted;  /**< nonzero: the engine refused a line it had inserted */
  int code;      /**< the engine's message number 1..16; 0 for input */
} cutcomp_failure;

/** One gouge found by the audit (crc::Gouge). */
typedef struct cutcomp_gouge {
  size_t piece;             /**< index of the piece in the tool path audited */
  int64_t piece_id;         /**< the piece's id */
  size_t segment;           /**< index of the wall in the contour */
  int64_t segment_id;       /**< the wall's id */
  cutcomp_point tool_point; /**< the point of the piece nearest the wall */
  cutcomp_point wall_point; /**< the point of the wall nearest the piece */
  double clearance;         /**< distance between the two points */
  double depth;             /**< radius - clearance */
} cutcomp_gouge;

/** A programmed path: segments in order (crc::Path). */
typedef struct cutcomp_path cutcomp_path;
/** The settings of a compensation (crc::CompensateOptions). */
typedef struct cutcomp_options cutcomp_options;
/** A place where a gouge-free path leaves material (crc::MaterialLeft), with
 * cutcomp_options_set_avoid. */
typedef struct cutcomp_material {
  int64_t first_id;         /**< the first programmed segment whose wall keeps material */
  int64_t last_id;          /**< the last one */
  double depth;             /**< how far the material stands proud of the wall, at its largest */
  cutcomp_point wall_point; /**< where, on the wall */
  int64_t wall_id;          /**< the segment of that point */
  double extent; /**< length along the walls over which more than the tolerance is left */
  size_t before; /**< the last piece before the path leaves the contour */
  size_t after;  /**< the first piece after it comes back */
  int cause;     /**< 0: the walls stand closer than the cutter is wide; 1: an inside arc smaller
                      than the cutter; 2: a stretch the cutter cannot reach */
} cutcomp_material;

/** The outcome of cutcomp_compensate: the pieces and, after a failure, why. */
typedef struct cutcomp_result cutcomp_result;
/** The outcome of cutcomp_audit: the gouges, or why the audit could not be made. */
typedef struct cutcomp_audit_result cutcomp_audit_result;

/** The library's version, "major.minor.patch". */
CRC_API const char* cutcomp_version(void);
/** A short English text for a cutcomp_status value; "" for any other number. */
CRC_API const char* cutcomp_status_text(int status);
/** The English gloss of the engine's message number code (1..16); "" for any other number. */
CRC_API const char* cutcomp_error_gloss(int code);

/** An empty path; NULL when memory runs out. */
CRC_API cutcomp_path* cutcomp_path_new(void);
/** Frees a path; NULL is ignored. */
CRC_API void cutcomp_path_free(cutcomp_path* path);
/** Appends a copy of `segment`. Its values are checked by cutcomp_compensate, not here. */
CRC_API int cutcomp_path_add_segment(cutcomp_path* path, const cutcomp_segment* segment);
/** Appends a line from (x0, y0) to (x1, y1) with its phase, side and id. */
CRC_API int cutcomp_path_add_line(cutcomp_path* path, double x0, double y0, double x1, double y1,
                                  int phase, int side, int64_t id);
/** Appends an arc from (x0, y0) to (x1, y1) about (cx, cy), counterclockwise when `ccw` is
 * nonzero; a whole turn when the two ends are the same point. */
CRC_API int cutcomp_path_add_arc(cutcomp_path* path, double x0, double y0, double x1, double y1,
                                 double cx, double cy, int ccw, int phase, int side, int64_t id);
/** The number of segments; 0 for NULL. */
CRC_API size_t cutcomp_path_size(const cutcomp_path* path);
/** Copies segment `index` into `out`. */
CRC_API int cutcomp_path_segment(const cutcomp_path* path, size_t index, cutcomp_segment* out);

/** Options for a cutter of radius `radius` (in the path's unit; negative swaps the sides, 0
 * passes the path through) with every other setting at the command-line tool's default:
 * strategy normal, look-behind 3, no evasion, CAM and closure tolerances on, start-up in place and
 * by an arc on, a run without a cancel
 * segment ends where its last segment leaves the tool, chord fitting on within 0.005 mm, arc
 * tolerance by the radius, millimetres. NULL when memory runs out. */
CRC_API cutcomp_options* cutcomp_options_new(double radius);
/** Frees options; NULL is ignored. */
CRC_API void cutcomp_options_free(cutcomp_options* options);
/** Setters of crc::CompensateOptions; values are checked by cutcomp_compensate, not here.
 * @{ */
CRC_API int cutcomp_options_set_radius(cutcomp_options* options, double radius);
CRC_API int cutcomp_options_set_start(cutcomp_options* options, int start);
CRC_API int cutcomp_options_set_look_behind(cutcomp_options* options, unsigned int look_behind);
CRC_API int cutcomp_options_set_evade(cutcomp_options* options, int evade);
CRC_API int cutcomp_options_set_cam_tolerance(cutcomp_options* options, int on);
CRC_API int cutcomp_options_set_closure_tolerance(cutcomp_options* options, int on);
CRC_API int cutcomp_options_set_start_in_place(cutcomp_options* options, int on);
CRC_API int cutcomp_options_set_arc_startup(cutcomp_options* options, int on);
CRC_API int cutcomp_options_set_end(cutcomp_options* options, int end);
CRC_API int cutcomp_options_set_units(cutcomp_options* options, int units);
/** @} */
/** Chord fitting on (nonzero) or off; `tolerance` > 0 sets the fitting tolerance, 0 takes the
 * default for the units. */
CRC_API int cutcomp_options_set_fit(cutcomp_options* options, int on, double tolerance);
/** How far an arc's two radii may differ; a negative value takes the default for the units. */
CRC_API int cutcomp_options_set_arc_tolerance(cutcomp_options* options, double tolerance);
/** Gouge-free paths on (nonzero) or off (crc::CompensateOptions::avoid): a run the engine
 * refuses, or whose path comes too close to a wall, is given its gouge-free path, and every
 * place where it leaves material can be read with cutcomp_result_material. `tolerance` > 0 sets
 * the gouge tolerance, 0 takes the default for the units. */
CRC_API int cutcomp_options_set_avoid(cutcomp_options* options, int on, double tolerance);

/** Compensates `path` with `options` (crc::Compensate) and stores a new result in `*result`.
 * Returns CUTCOMP_OK, CUTCOMP_REFUSED (the engine refused a segment) or CUTCOMP_INVALID_INPUT
 * (an option or segment that cannot be used), each with a result to read and free; or
 * CUTCOMP_INVALID_ARGUMENT, CUTCOMP_OUT_OF_MEMORY or CUTCOMP_INTERNAL_ERROR with `*result` set
 * to NULL (left alone when `result` itself is NULL). */
CRC_API int cutcomp_compensate(const cutcomp_path* path, const cutcomp_options* options,
                               cutcomp_result** result);
/** Frees a result; NULL is ignored. */
CRC_API void cutcomp_result_free(cutcomp_result* result);
/** The status cutcomp_compensate returned with this result. */
CRC_API int cutcomp_result_status(const cutcomp_result* result);
/** The number of pieces: the whole tool-centre path, or after a failure the pieces that were
 * final before it; 0 for NULL. */
CRC_API size_t cutcomp_result_size(const cutcomp_result* result);
/** Copies piece `index` into `out`. */
CRC_API int cutcomp_result_piece(const cutcomp_result* result, size_t index, cutcomp_piece* out);
/** Copies the failure into `out` (all zero with index and id -1 after a success). */
CRC_API int cutcomp_result_failure(const cutcomp_result* result, cutcomp_failure* out);
/** The failure in English (the gloss of the engine's message, or what is wrong with the
 * input); "" after a success or for NULL. */
CRC_API const char* cutcomp_result_message(const cutcomp_result* result);
/** The engine's own message text (UTF-8); "" after a success, for input and for NULL. */
CRC_API const char* cutcomp_result_engine_message(const cutcomp_result* result);
/** The number of places where material is left (with cutcomp_options_set_avoid); 0 for NULL. */
CRC_API size_t cutcomp_result_material_count(const cutcomp_result* result);
/** Copies place `index` into `out`. */
CRC_API int cutcomp_result_material(const cutcomp_result* result, size_t index,
                                    cutcomp_material* out);
/** A new path of the result's pieces that the tool travels (dropped ones left out), each with
 * its tool-centre geometry, phase, side, id and locate flag: the tool path to hand to
 * cutcomp_audit. Free it with cutcomp_path_free. */
CRC_API int cutcomp_result_tool_path(const cutcomp_result* result, cutcomp_path** path);

/** The gouge audit (crc::Audit): every piece of `tool_path` (its segments' curves are the
 * tool-centre path; phase CUTCOMP_PHASE_NONE leaves a piece out, its id attaches it to the
 * contour segment with that id) against every wall of `contour` (its segments in progress that
 * are not locate lines), for a cutter of `radius` and a gouge `tolerance` (0.005 mm is the
 * tool's default). Stores a new audit result in `*result`. Returns CUTCOMP_OK (the audit was
 * made; there may be gouges) or CUTCOMP_INVALID_INPUT (a radius, tolerance or segment that
 * cannot be used, contour ids that do not increase; no gouges), each with a result to read and
 * free; or CUTCOMP_INVALID_ARGUMENT, CUTCOMP_OUT_OF_MEMORY or CUTCOMP_INTERNAL_ERROR with
 * `*result` set to NULL. */
CRC_API int cutcomp_audit(const cutcomp_path* contour, const cutcomp_path* tool_path, double radius,
                          double tolerance, cutcomp_audit_result** result);
/** Frees an audit result; NULL is ignored. */
CRC_API void cutcomp_audit_free(cutcomp_audit_result* result);
/** The number of gouges found; 0 for NULL. */
CRC_API size_t cutcomp_audit_gouge_count(const cutcomp_audit_result* result);
/** Copies gouge `index` into `out`; the gouges come in the order of the pieces. */
CRC_API int cutcomp_audit_gouge(const cutcomp_audit_result* result, size_t index,
                                cutcomp_gouge* out);
/** Why the audit could not be made, in English; "" when it was made or for NULL. */
CRC_API const char* cutcomp_audit_message(const cutcomp_audit_result* result);

#ifdef __cplusplus
}
#endif
