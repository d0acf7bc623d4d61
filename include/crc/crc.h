// SPDX-License-Identifier: MIT
/// @file
/// Umbrella header: everything a host of the cutcomp engine needs.
#pragma once

#include <crc/audit/gouge_audit.h>
#include <crc/avoid/gouge_free.h>
#include <crc/compensator/crc_translator.h>
#include <crc/compensator/cutter_compensator.h>
#include <crc/export.h>
#include <crc/geometry/point2.h>
#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>
#include <crc/nodes/crc_node.h>
#include <crc/path.h>

/// @namespace crc
/// Everything libcutcomp exports: the point type, the segment classes, the compensation engine
/// with its host callback interface, the gouge audit, and compensation and audit in one call.

/// @mainpage cutcomp API reference
///
/// libcutcomp computes the tool-centre path of a 2-D contour made of lines (crc::CCrcLine) and
/// arcs (crc::CCrcArc), one cutter radius beside it, segment by segment as the host streams the
/// contour in. Include `<crc/crc.h>` and link `cutcomp::cutcomp` (CMake) or `cutcomp`
/// (pkg-config).
///
/// @par In one call
/// crc::Compensate (crc/path.h) takes the contour as a crc::Path (lines and arcs with phase,
/// side and an id of the caller's) and returns the tool-centre path as cutcomp::PathPiece
/// values, or why it stopped; crc::CPathCompensator does the same segment by segment in bounded
/// memory, and crc::Audit measures any tool path against the contour for gouges. They are built
/// on the library's own host, cutcomp::ListHost (crc/host/list_host.h), which a program may also
/// use to drive the engine itself. C programs and other languages use crc/crc_c.h (link
/// `cutcomp-c` with pkg-config).
///
/// @par A run, host by host
/// 1. The host keeps its contour as a sequence of segments it owns, each with its programmed
///    geometry, its phase (crc::crc_status_t: start-up, in progress, cancel) and its side
///    (crc::crc_dir_t), and implements crc::CCrcTranslator over that sequence.
/// 2. It creates a crc::CCutterCompensator with the radius, a pointer to the translator, the
///    look-behind capacity and the start-up/cancel strategy (crc::crc_t).
/// 3. It calls crc::CCutterCompensator::AdjustNode for every segment in order, including the
///    lines the engine inserted into its sequence (they come back true at once). The engine
///    looks one segment ahead: while it adjusts a segment it also fixes where its successor's
///    offset path begins.
/// 4. It reads the tool-centre path back from its segments: the offset start and end points
///    (crc::CCrcNode::GetStartPointMoved, crc::CCrcNode::GetEndPointMoved; for an arc also
///    crc::CCrcArc::GetRadiusMoved), the programmed points of inserted lines, and skips segments
///    dropped by interference evasion (crc::CCrcNode::IsValidNode false).
///
/// @par Failure
/// Nothing throws across the interface. A failed call returns false and stores a message
/// (crc::CCutterCompensator::GetLatestError, crc::CCutterCompensator::GetLatestErrorCode,
/// crc::GetErrorGloss); whatever the engine wrote into the segments before the failure stays
/// there, nothing is rolled back.
///
/// @par Ownership
/// The host owns the translator and every segment, including its copies of inserted lines. The
/// compensator owns only the clones in its look-behind list; it never deletes the translator or a
/// host segment.
///
/// @par Threads
/// A compensator, its translator and the segments passed to it are used by one thread at a time.
/// The library keeps no mutable state outside its objects, so one compensator per thread needs
/// no locking.
///
/// @par Checking a finished path
/// crc::CGougeAudit measures a finished tool-centre path against the whole programmed contour
/// and reports every place where the tool comes closer to a wall than its radius.
