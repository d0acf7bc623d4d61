// SPDX-License-Identifier: MIT
/// @file
/// The compensation engine. A host creates one CCutterCompensator per machine channel, sets the
/// radius, its translator and the strategy, and calls AdjustNode for every segment of its
/// sequence in order. Results are written into the segments; extra straight segments are handed
/// to the host through the translator. Failure is a false result plus a message.
///
/// Messages: GetLatestError returns the engine's own message text, encoded as UTF-8 in a
/// std::string (the texts are Chinese; see GetErrorGloss for an English gloss).
///
/// Contracts:
/// - Threads: a compensator, its translator and the segments passed to it are used by one thread
///   at a time. The library keeps no mutable state outside the compensator object (no statics,
///   no caches shared between compensators), so compensators on different threads, one per
///   thread, are independent and need no locking.
/// - Exceptions: AdjustNode lets none out. The engine throws none itself; one thrown by the
///   host's own code during the call (its translator's callbacks, or the virtual operations of a
///   segment class of its own) is caught, the side swap of a negative radius is undone, and the
///   call returns false with message 16. The constructors and assignment may throw std::bad_alloc
///   (they reserve room for the longest message, and copy the look-behind list).
/// - Memory: AdjustNode allocates only while the look-behind list grows to its capacity (a clone
///   per entry, the list's storage, and once the compensator's workspace); after that a run of
///   any length allocates nothing. When memory runs out there, the list keeps the newest segments
///   it has room for and looks back over fewer of them (none without a workspace): the
///   interference check sees less, and no other result changes. A refusal still stores its
///   message.
/// - Segment kinds: a segment counts as a line only when its kind field says NODE_LINE and it is
///   a CCrcLine (or derived from it), as an arc only when the field says NODE_ARC and it is a
///   CCrcArc; one whose field disagrees with its class counts as a segment of no kind everywhere
///   (see CCrcNode::SetNodeType).
/// - ABI: the exported classes hold standard-library types (std::string, std::vector,
///   std::unique_ptr) and are passed by reference across the library boundary, so a host must
///   use the same C++ standard library, built the same way (for libstdc++, the same
///   _GLIBCXX_USE_CXX11_ABI setting), as libcutcomp. The inline accessors read the classes'
///   fields directly: the library's SONAME number changes whenever their layout does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <crc/compensator/crc_translator.h>
#include <crc/export.h>
#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>

namespace crc {

struct CompensatorWorkspace;  // internal to the library

/// How compensation is started and cancelled. Values outside 0..2 select no start-up or cancel
/// routine: those steps then fail without a message.
enum crc_t : int {
  CRC_TYPE_NORMAL = 0,     ///< start-up/cancel run straight to/from the point beside the contour
  CRC_TYPE_INTERSECT = 1,  ///< start-up/cancel joined to the contour by the corner connection
  CRC_TYPE_INSERT = 2,     ///< start-up/cancel segment itself offset, a radial line inserted
};

/// How the offset paths of two consecutive segments are joined.
enum connect_t : int {
  CONNECT_NONE = -1,    ///< not classified
  CONNECT_EXTEND = 0,   ///< outside corner turning by at most a right angle: extend to meet
  CONNECT_SHORTEN = 1,  ///< inside corner (or reversal whose offsets meet): trim to the crossing
  CONNECT_INSERT = 2,   ///< sharper outside corner: bridge with up to three straight segments
  CONNECT_TANGENT = 3,  ///< smooth joint (direction changes by less than about 3.53 degrees)
};

/// Extension: the numbers of the engine's messages, as returned by
/// CCutterCompensator::GetLatestErrorCode. The comments give the English gloss of each text.
enum crc_error_t : int {
  CRC_ERROR_NONE = 0,                     ///< no message stored yet
  CRC_ERROR_FUNCTION_UNDEFINED = 1,       ///< function not defined (no translator set)
  CRC_ERROR_NOT_ESTABLISHED = 2,          ///< compensation has not been established
  CRC_ERROR_ESTABLISH_FAILED = 3,         ///< compensation start-up failed
  CRC_ERROR_ARC_ESTABLISH = 4,            ///< an arc may not be used to start compensation
  CRC_ERROR_RADIUS_UNREASONABLE = 5,      ///< the compensation radius is unreasonable
  CRC_ERROR_RETRACT_FAILED = 6,           ///< compensation cancel failed
  CRC_ERROR_INTERSECTION_FAILED = 7,      ///< intersection failed
  CRC_ERROR_OFFSET_FAILED = 8,            ///< offsetting failed, the radius may be unreasonable
  CRC_ERROR_ARC_RETRACT = 9,              ///< an arc may not be used to cancel compensation
  CRC_ERROR_INSERT_LINE_FAILED = 10,      ///< inserting a line segment failed
  CRC_ERROR_INSERT_UNSUPPORTED = 11,      ///< inserting lines not supported for this joint type
  CRC_ERROR_INTERFERENCE = 12,            ///< interference found, the radius may be too large
  CRC_ERROR_ONLY_ESTABLISH_RETRACT = 13,  ///< only start-up and cancel, no segment in between
  CRC_ERROR_INVALID_START_MOVED = 14,     ///< invalid offset start point
  CRC_ERROR_INVALID_END_MOVED = 15,       ///< invalid offset end point
  CRC_ERROR_NO_PLANE_MOTION = 16,         ///< program error, or no motion in the compensation plane
};

/// Extension: an English gloss of message `code` (1..16), or "" for any other code. The text is
/// a static string; the caller does not free it.
CRC_API const char* GetErrorGloss(int code);

/// The compensation engine for one machine channel.
///
/// Settings come from the constructor and the setters; AdjustNode then compensates the host's
/// segments one at a time, in order, writing the tool-centre path into them and handing extra
/// lines to the host through the translator. The compensator does not own the translator (a
/// pointer is kept, never deleted) nor any host segment; it owns the clones in its look-behind
/// list, which it deletes when the list is trimmed, when compensation is cancelled and when it
/// is destroyed. See the file comment for threads, exceptions and memory.
class CRC_API CCutterCompensator {
public:
  /// Deletes the look-behind clones; the translator and the host's segments are left alone.
  virtual ~CCutterCompensator();

  /// No radius (INVALID_VALUE: AdjustNode refuses everything until one is set), no translator,
  /// look-behind capacity 3, strategy CRC_TYPE_NORMAL, evasion and every extension off,
  /// pre-retract option 0, not established, no message.
  CCutterCompensator();
  /// A compensator with cutter radius `radius` (negative: the tool runs on the side opposite to
  /// the one each segment names), the host's `translator` (not owned; stored even when null),
  /// look-behind capacity `listSize` (0 switches the interference check off) and strategy
  /// `type`; everything else as after the default constructor.
  CCutterCompensator(const double& radius, CCrcTranslator* translator,
                     const unsigned int& listSize = 3, crc_t type = CRC_TYPE_NORMAL);
  /// Copies every setting, the established flag, the translator pointer (the translator itself
  /// is shared, not copied) and the latest message; the copy gets its own clones of the
  /// look-behind entries.
  CCutterCompensator(const CCutterCompensator& other);
  /// Like the copy constructor; the target's old clones are deleted first.
  CCutterCompensator& operator=(const CCutterCompensator& other);

  /// Stores the cutter radius, any value. An unset radius or one within EPSILON of zero makes
  /// AdjustNode fail silently; a negative one swaps the sides.
  void SetCrcRadius(const double& radius);
  /// Stores the start-up and cancel strategy, any value (see crc_t).
  void SetCrcType(const crc_t& type);
  /// Interference evasion, off by default: while finishing a segment the engine also looks at
  /// the joint after its successor and drops a successor too short for the cutter at both of its
  /// corners (marking it invalid and compensated, see CCrcNode::IsValidNode).
  ///@{
  void SetInterveneEvade(bool on);
  bool GetInterveneEvade() const;
  ///@}
  /// @brief Extension, off by default: tolerances for CAM output posted as short chords.
  ///
  /// CAM systems post smooth curves as runs of chords of a few hundredths of a millimetre,
  /// rounded to 3 or 4 decimals. The interference check, as documented, refuses many such
  /// programs although their tool path clears the contour. With this switch on, and only then,
  /// the check changes in three ways:
  /// - two straight offset pieces count as parallel only when the sine of their angle is below
  ///   EPSILON (their cross product below EPSILON times both lengths), not when the raw cross
  ///   product is; nearly parallel neighbouring chords are then intersected instead of being
  ///   taken as running back over each other;
  /// - a line whose trimmed offset runs backwards against its programmed direction is refused
  ///   only when the cut its overshoot makes into the wall of its predecessor (the backward run
  ///   times the sine of the turn between them) exceeds 0.0019 times the radius, what a joint
  ///   taken as smooth already allows; the one-chord concave kinks of rounded coordinates pass,
  ///   a backward run at a real corner does not (as documented, only an offset exactly opposite
  ///   to its programmed chord is refused, and with either setting arcs are judged that way);
  /// - where the new piece begins at the end of a stored one, a common point within
  ///   0.0001141 + EPSILON times the larger radius of that joint counts as the joint (two arcs
  ///   meeting almost tangentially have offset circles that touch or cross just beside it).
  ///
  /// Nothing else changes: offsets, corners and inserted segments are the same; only which paths
  /// the check refuses. Hosts that fit chords to lines and arcs first still gain from it (joints
  /// between fitted arcs). Kept by copies and assignment; no cost per segment when off.
  void SetCamTolerance(bool on);
  /// @brief Whether the CAM tolerances are on (see SetCamTolerance).
  bool GetCamTolerance() const;
  /// @brief Extension, off by default: a path that closes on itself or runs over itself again
  /// is not interference where the tool comes back to where it has been.
  ///
  /// Part programs close an outline and run on past its start, go round it twice, or cut a
  /// hole from a lead-in arc and leave it by a lead-out: the new offset path then meets an
  /// earlier one of the same run, and the check as documented refuses it. With this switch on,
  /// and only then, a meeting of the new segment's offset path with a stored one's (a crossing
  /// away from the stored path's ends, or an overlap) is not interference when one of these
  /// holds for the two programmed segments, the stored one S and the new one N, both
  /// compensated on the same side:
  /// - retrace: S and N lie on one line, or on one circle (centres and radii within EPSILON),
  ///   with the tool on the same side of it (for a circle: both inside or both outside). Their
  ///   offsets are then one path, and the tool runs where it has already been, one radius from
  ///   the same wall.
  /// - closure: S and N meet at exactly one point P (within EPSILON; segments that meet twice
  ///   bound a loop of their own, which this rule does not judge). The path comes back to P,
  ///   closing a loop that leaves P along S (where P is S's end: along the segment listed
  ///   after S, which must start there) and returns to P along N (where P is N's start: along
  ///   the newest listed segment, which must end there). The part of S before P (a lead-in)
  ///   and the part of N after P (a run-on) lie outside that loop. Each point X where the
  ///   offsets meet must lie abreast of them: its foot on S at or before P, its foot on N at or
  ///   after P (within EPSILON along each). And each lead that exists must leave P into the
  ///   loop's air: strictly inside the angle that turns, on the tool's side, from the
  ///   direction in which the loop leaves P to the one from which it arrives. A lead that
  ///   leaves P along one of those two directions (a dot product within 0.0019 of 1, the
  ///   engine's tangent tolerance) must curve away into the air: the difference of curvatures
  ///   must part it from the loop's piece by more than EPSILON within one cutter radius of P.
  ///   Wherever the tool then comes within a radius of the other segment, it is beside a lead
  ///   in the air, not beside a wall. At a concave closing corner (a pocket closed at an inside
  ///   corner and run on) the run-on goes into the wall and the meeting stays interference; so
  ///   does a crossing of offsets where the programmed segments do not meet (a slot or neck
  ///   narrower than the cutter), a lead-out run through the far wall of a hole, a loop made
  ///   around a corner of walls (the walls lie outside the loop's air), and the second loop of
  ///   a figure-eight.
  ///
  /// The rule sees two segments and the list, not the whole part: a lead it takes for air may
  /// be a wall of a loop closed later (the crossing of a figure-eight that closes its first
  /// loop passes; its second loop is refused when its segments are still in the list). The
  /// reversal test (an offset that runs backwards) is unchanged. Nothing else changes: offsets,
  /// corners and inserted segments are the same; only which paths the check refuses. Kept by
  /// copies and assignment; no cost per segment when off, and none when on until a meeting is
  /// found.
  void SetClosureTolerance(bool on);
  /// @brief Whether meetings where the path closes on itself are tolerated (see
  /// SetClosureTolerance).
  bool GetClosureTolerance() const;
  /// @brief Extension, off by default: a start-up move whose programmed start already lies
  /// beside the contour is accepted.
  ///
  /// An entry move one radius long, at right angles to the first segment and ending at its
  /// start, brings the tool to where compensation would put it: the start-up vector is zero.
  /// As documented the normal start-up refuses a start-up move of zero length (message 3); the
  /// intersecting one falls back to it at the concave joint such a move makes, and the
  /// inserting one trims the start-up line's own offset to nothing. With this switch on, a
  /// start-up line whose programmed start lies within EPSILON of its successor's offset start
  /// is accepted under every strategy: its offset start is its programmed start, its offset end
  /// the successor's offset start, where the successor's path begins; nothing is inserted. Kept
  /// by copies and assignment.
  void SetStartInPlace(bool on);
  /// @brief Whether a start-up move already beside the contour is accepted (see
  /// SetStartInPlace).
  bool GetStartInPlace() const;
  /// @brief Extension, off by default: an arc as start-up segment is accepted whatever the
  /// strategy.
  ///
  /// As documented only the inserting strategy accepts a start-up arc (message 4 otherwise).
  /// With this switch on, a start-up arc under the normal and the intersecting strategy is
  /// started as the inserting strategy starts any segment: a radial line from the arc's
  /// programmed start to its offset start is handed to the host, and the arc itself is offset
  /// along its whole length and joined to its successor like a segment in progress. The cancel
  /// is still made by the strategy set. Start-up lines are not affected. Kept by copies and
  /// assignment.
  void SetArcStartup(bool on);
  /// @brief Whether start-up arcs are accepted whatever the strategy (see SetArcStartup).
  bool GetArcStartup() const;
  /// How a run is closed when the sequence ends while compensating (GetNextNode gives null for
  /// a segment in progress): 0 (default) inserts a closing line from the tool-centre end back
  /// to the programmed end, 1 makes the last segment the cancel segment and reports its offset
  /// end through CCrcTranslator::SetCrcEndPoint, any other value does neither. CCrcTranslator::
  /// CrcFinish follows in every case.
  void SetCrcPreRetractOption(int option);
  /// Stores the established flag. The engine sets it when it processes a start-up segment and
  /// never clears it; a segment in progress is refused (message 2) while it is false.
  void SetEstablish(bool on);
  /// Stores the host's translator (not owned). A null translator is ignored: the old one stays.
  void SetTranslator(CCrcTranslator* translator);

  /// The text of the most recent failure, UTF-8; empty until the first. A success never clears
  /// it.
  std::string GetLatestError() const;
  /// Extension: the number (1..16) of the most recent message, 0 when none has been stored.
  int GetLatestErrorCode() const;

  /// Extension: read-back of the settings and the established flag.
  ///@{
  double GetCrcRadius() const;
  crc_t GetCrcType() const;
  int GetCrcPreRetractOption() const;
  bool GetEstablish() const;
  unsigned int GetListSize() const;
  ///@}
  /// Extension: how many clones the look-behind list holds now.
  unsigned int GetListCount() const;

  /// Appends a clone of the segment to the look-behind list, dropping the oldest entries so that
  /// it never holds more than the capacity. Does nothing with a capacity of 0. Once the list is
  /// full, the oldest clone is overwritten when it is of the segment's class (CCrcLine or
  /// CCrcArc; a host's own class is cloned). Never throws; without memory the list keeps the
  /// newest segments it has room for. The compensator owns the clones; `node` stays the
  /// caller's.
  void AddToList(const CCrcNode* node);

  /// Compensates one segment of the host's sequence.
  ///
  /// Writes `node`'s offset start and end points (and, for an arc, its offset radius) and marks
  /// it compensated; settles the joint with its successor (from CCrcTranslator::GetNextNode) by
  /// writing the successor's intersect point and provisional offset points; hands inserted lines
  /// to the host through CCrcTranslator::InsertNode; with evasion on may drop the successor
  /// (invalid and compensated) and move `node`'s programmed end onto the dropped one's end. A
  /// segment already compensated comes back true at once, as does a start-up segment whose
  /// successor is not known yet, except with the insert strategy (its offset points are then its
  /// programmed points and it stays uncompensated, to be passed again). The checks come first, in
  /// this order: no translator (message 1); an unset radius or one within EPSILON of zero (false,
  /// no message); a null `node` (message 16).
  ///
  /// @return true on success. False with a stored message (GetLatestError, GetLatestErrorCode)
  ///   on failure, except for the unset or zero radius and a phase outside crc_status_t, which
  ///   fail silently. Nothing written into the segments before a failure is rolled back, but the
  ///   side swap of a negative radius is always undone, so the radius and the segments' sides
  ///   read as before the call. An exception thrown by the host's code is caught: false with
  ///   message 16.
  bool AdjustNode(CCrcNode* node);

  /// Classifies the joint `prev` -> `next` and computes its connection points with the engine's
  /// radius; a negative radius is treated as the positive radius on the opposite side. Neither
  /// the segments nor the compensator are changed, and no message is stored.
  /// @param prev the segment that ends at the joint
  /// @param next the segment that starts there
  /// @param[out] p1 the crossing (shorten), the meeting point of the extended paths (extend), or
  ///   the first outer corner (insert); untouched for a tangent joint
  /// @param[out] p2 the second outer corner (insert); otherwise not meaningful
  /// @return false for a null segment, when the intersection finds no answer (the points then
  ///   hold whatever it left in them), or when memory for working copies runs out
  bool GetCrcNodeIntersection(const CCrcNode* prev, const CCrcNode* next, __point2<double>& p1,
                              __point2<double>& p2);

protected:
  /// Stores `text` as the latest message; its number becomes that of the table entry with the
  /// same text, 0 when there is none.
  void SetLatestError(const std::string& text);
  /// Extension: stores message `code` of the table (text and number); never allocates.
  void SetLatestError(crc_error_t code);

  /// @name Validation
  /// Called by AdjustNode before dispatching on the phase; `next` is the successor (may be null).
  ///@{
  /// Rejects, storing its message, the first rule that fires: a null segment or one with no
  /// plane motion (16); at start-up a successor of zero length (3), a start-up arc (4), a
  /// successor without a side (13); in progress, no start-up yet (2), a successor of zero length
  /// (6), an arc of either segment the cutter does not fit on its inner side (5); at cancel, a
  /// cancel arc (9). With the insert strategy start-up and cancel segments pass. Changes no
  /// segment.
  bool CheckError(const CCrcNode* node, const CCrcNode* next);
  /// True when the segment's length is not within EPSILON of zero. `node` must not be null.
  bool IsCRCPlaneMove(const CCrcNode* node) const;
  /// Swaps left and right on both segments (null ones and those without a side are skipped) and
  /// negates the radius; a second call restores both.
  void ChangeCrcType(CCrcNode* node, CCrcNode* next);
  ///@}

  /// @name Start-up
  /// Bring the tool from the programmed start of the start-up segment `node` onto the offset
  /// path of `next`: write node's offset points and next's intersect point. Failures store
  /// message 3, or 10 for an approach line of zero length; the intersecting and inserting
  /// start-ups go on through the corner connection (CrcDoing) and fail with its messages.
  ///@{
  /// Dispatches on the strategy, then marks `node` compensated and the engine established
  /// whatever the routine returned; an unknown strategy fails without a message.
  bool CrcEstablish(CCrcNode* node, CCrcNode* next);
  /// Straight from the programmed start to next's offset start.
  bool CrcEstablish_Normal(CCrcNode* node, CCrcNode* next);
  /// Joined to next by the corner connection; an inside corner falls back to the normal one.
  bool CrcEstablish_Intersect(CCrcNode* node, CCrcNode* next);
  /// `node` itself offset, a radial approach line inserted before it; an arc is accepted.
  bool CrcEstablish_Insert(CCrcNode* node, CCrcNode* next);
  ///@}

  /// @name Classification
  /// Pure: read the arguments, change nothing, store nothing.
  ///@{
  /// The joint type from the unit tangent `first` at the end of the first segment, the unit
  /// tangent `second` at the start of the second, and the first segment's `side`.
  connect_t GetConnectRawType(const __point2<double>& first, const __point2<double>& second,
                              const crc_dir_t& side);
  /// The joint type of `prev` -> `next` from their tangents and prev's side, with the rules for
  /// a path that doubles back on itself. Neither may be null.
  connect_t GetConnectType(const CCrcNode* prev, const CCrcNode* next);
  ///@}

  /// @name Corner connection
  /// The in-progress step without look-ahead.
  ///@{
  /// Finishes `node`: hands over to cancel when `next` is null or a cancel segment, otherwise
  /// connects, checks for interference (message 12), marks it compensated and lists it.
  bool CrcDoing(CCrcNode* node, CCrcNode* next);
  /// Classifies the joint, offsets both segments and connects them: fixes prev's offset points
  /// and next's intersect point. Fails with message 5, 7, 8, 12, 14 or 15.
  bool CalculateConnection(CCrcNode* prev, CCrcNode* next);
  /// Closes an outside corner of type `type` with lines through `p1` (and `p2`), handed to the
  /// host before `next`; zero-length lines are left out. Fails with message 11 for a type it
  /// cannot bridge, 14 or 15 for a refused point.
  bool InsertLineBefore(CCrcNode* prev, CCrcNode* next, __point2<double> p1, __point2<double> p2,
                        connect_t type);
  /// Joins a locate line to its neighbour's offset path. False, touching nothing, when neither
  /// segment is a locate line.
  bool LocateType(CCrcNode* prev, CCrcNode* next);
  ///@}

  /// @name Look-ahead connection and interference evasion
  /// The in-progress step when interference evasion is on.
  ///@{
  /// Finishes `prev` with one segment of look-ahead: either next's intersect point is set, or
  /// `next` is dropped (marked invalid and compensated) and the segment after it gets the
  /// intersect point. Fails with message 5, 7, 12, 14 or 15; a merge already made stays.
  bool CalculateConnectionExt1(CCrcNode* prev, CCrcNode* next);
  /// Classifies `prev` -> `next` into `type` and computes the connection points `p1`, `p2`;
  /// writes into prev only for a tangent joint. Fails with message 12.
  bool CalculateOffVector(CCrcNode* prev, CCrcNode* next, connect_t& type, __point2<double>& p1,
                          __point2<double>& p2);
  /// Applies one joint already classified (`type`) and computed (`p1`, `p2`), without looking
  /// further ahead. Fails with message 5, 7 or 15.
  bool ProcessNoIntervine(CCrcNode* prev, CCrcNode* next, const connect_t& type,
                          const __point2<double>& p1, const __point2<double>& p2);
  ///@}

  /// @name Cancel
  /// Finish the last compensated segment `node` and fix where the cancel segment `next` begins
  /// (its intersect point), by strategy; or close the run by the pre-retract option when `next`
  /// is null.
  ///@{
  /// Dispatches on the strategy (an unknown one fails without a message), or closes the run;
  /// then marks `node` compensated, checks it for interference (message 12) and lists it, even
  /// when the strategy routine failed.
  bool CrcPreRetract(CCrcNode* node, CCrcNode* next);
  /// `node` offset plainly; the cancel path starts beside its end. Messages 8, 9.
  bool CrcPreRetract_Normal(CCrcNode* node, CCrcNode* next);
  /// The cancel line joined to `node` by the corner connection on node's side, then left
  /// without a side; an inside corner falls back to the normal cancel. Message 9 or the
  /// connection's.
  bool CrcPreRetract_Intersect(CCrcNode* node, CCrcNode* next);
  /// The cancel segment itself offset on node's side and finished, a closing line inserted
  /// after it, the look-behind list emptied; an arc is accepted. Messages 8, 10 or the
  /// connection's.
  bool CrcPreRetract_Insert(CCrcNode* node, CCrcNode* next);
  /// Finishes the cancel segment: offset start from its intersect point, offset end at its
  /// programmed end (message 14 or 15 when refused); empties the look-behind list.
  bool CrcRetract(CCrcNode* node);
  ///@}

  /// True when the finished offset path of `node` runs backwards against its programmed chord,
  /// or crosses or overlaps one of the offset paths in the look-behind list. Only detects:
  /// callers store message 12. Always false with capacity 0, an empty list or a locate line.
  bool CheckIntervener(const CCrcNode* node);
  /// Extension (SetClosureTolerance): asked by the callers right after CheckIntervener(node)
  /// found interference, and only with the switch on. True when that was only the path coming
  /// back to itself: checked again with the closure rule, `node` neither runs backwards nor
  /// meets an entry of the list elsewhere. Changes nothing; stores no message.
  bool ComesBackToItself(const CCrcNode* node);

  crc_t m_CrcType;               ///< start-up and cancel strategy
  std::string m_LatestError;     ///< latest message text, UTF-8
  double m_CrcRadius;            ///< cutter radius; INVALID_VALUE when not set
  bool m_Establish;              ///< a start-up segment has been processed
  CCrcTranslator* m_Translator;  ///< the host's callback object, not owned
  unsigned int m_ListSize;       ///< look-behind capacity
  /// Owned clones of the last finished segments, oldest at the front. Once the list is full, the
  /// oldest clone is overwritten and moved to the back (see AddToList).
  std::vector<std::unique_ptr<const CCrcNode>> m_NodeList;
  bool m_InterveneEvade;    ///< interference evasion switch
  bool m_CamTolerance;      ///< extension: see SetCamTolerance
  bool m_ClosureTolerance;  ///< extension: see SetClosureTolerance
  bool m_StartInPlace;      ///< extension: see SetStartInPlace
  bool m_ArcStartup;        ///< extension: see SetArcStartup
  int m_PreRetractOption;   ///< see SetCrcPreRetractOption
  int m_LatestErrorCode;    ///< extension: number of m_LatestError in the message table, 0 if none

private:
  void DestroyList();

  // Storage the engine keeps and reuses from segment to segment (internal: what the
  // interference check reads of each entry of m_NodeList, worked out once per entry, and the
  // last offsets computed). Allocated once, when first needed.
  std::unique_ptr<CompensatorWorkspace> m_Workspace;
};

}  // namespace crc
