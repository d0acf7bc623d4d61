// SPDX-License-Identifier: MIT
// The compensation engine. A host creates one CCutterCompensator per machine channel, sets the
// radius, its translator and the strategy, and calls AdjustNode for every segment of its
// sequence in order. Results are written into the segments; extra straight segments are handed
// to the host through the translator. Failure is a false result plus a message.
//
// Messages: GetLatestError returns the engine's own message text, encoded as UTF-8 in a
// std::string (the texts are Chinese; see GetErrorGloss for an English gloss).
//
// Contracts:
// - Threads: a compensator, its translator and the segments passed to it are used by one thread
//   at a time. The library keeps no mutable state outside the compensator object (no statics,
//   no caches shared between compensators), so compensators on different threads, one per
//   thread, are independent and need no locking.
// - Exceptions: AdjustNode lets none out. The engine throws none itself; one thrown by the
//   host's own code during the call (its translator's callbacks, or the virtual operations of a
//   segment class of its own) is caught, the side swap of a negative radius is undone, and the
//   call returns false with message 16. The constructors and assignment may throw std::bad_alloc
//   (they reserve room for the longest message, and copy the look-behind list).
// - Memory: AdjustNode allocates only while the look-behind list grows to its capacity (a clone
//   per entry, the list's storage, and once the compensator's workspace); after that a run of
//   any length allocates nothing. When memory runs out there, the list keeps the newest segments
//   it has room for and looks back over fewer of them (none without a workspace): the
//   interference check sees less, and no other result changes. A refusal still stores its
//   message.
// - Segment kinds: a segment counts as a line only when its kind field says NODE_LINE and it is
//   a CCrcLine (or derived from it), as an arc only when the field says NODE_ARC and it is a
//   CCrcArc; one whose field disagrees with its class counts as a segment of no kind everywhere
//   (see CCrcNode::SetNodeType).
// - ABI: the exported classes hold standard-library types (std::string, std::vector,
//   std::unique_ptr) and are passed by reference across the library boundary, so a host must
//   use the same C++ standard library, built the same way (for libstdc++, the same
//   _GLIBCXX_USE_CXX11_ABI setting), as libcutcomp. The inline accessors read the classes'
//   fields directly: the library's SONAME number changes whenever their layout does.
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

// How compensation is started and cancelled. Values outside 0..2 select no start-up or cancel
// routine: those steps then fail without a message.
enum crc_t : int {
  CRC_TYPE_NORMAL = 0,     // start-up/cancel run straight to/from the point beside the contour
  CRC_TYPE_INTERSECT = 1,  // start-up/cancel joined to the contour by the corner connection
  CRC_TYPE_INSERT = 2,     // start-up/cancel segment itself offset, a radial line inserted
};

// How the offset paths of two consecutive segments are joined.
enum connect_t : int {
  CONNECT_NONE = -1,    // not classified
  CONNECT_EXTEND = 0,   // outside corner turning by at most a right angle: extend to meet
  CONNECT_SHORTEN = 1,  // inside corner (or reversal whose offsets meet): trim to the crossing
  CONNECT_INSERT = 2,   // sharper outside corner: bridge with up to three straight segments
  CONNECT_TANGENT = 3,  // smooth joint (direction changes by less than about 3.53 degrees)
};

// Extension: the numbers of the engine's messages, as returned by GetLatestErrorCode.
enum crc_error_t : int {
  CRC_ERROR_NONE = 0,
  CRC_ERROR_FUNCTION_UNDEFINED = 1,
  CRC_ERROR_NOT_ESTABLISHED = 2,
  CRC_ERROR_ESTABLISH_FAILED = 3,
  CRC_ERROR_ARC_ESTABLISH = 4,
  CRC_ERROR_RADIUS_UNREASONABLE = 5,
  CRC_ERROR_RETRACT_FAILED = 6,
  CRC_ERROR_INTERSECTION_FAILED = 7,
  CRC_ERROR_OFFSET_FAILED = 8,
  CRC_ERROR_ARC_RETRACT = 9,
  CRC_ERROR_INSERT_LINE_FAILED = 10,
  CRC_ERROR_INSERT_UNSUPPORTED = 11,
  CRC_ERROR_INTERFERENCE = 12,
  CRC_ERROR_ONLY_ESTABLISH_RETRACT = 13,
  CRC_ERROR_INVALID_START_MOVED = 14,
  CRC_ERROR_INVALID_END_MOVED = 15,
  CRC_ERROR_NO_PLANE_MOTION = 16,
};

// Extension: an English gloss of message `code` (1..16), or "" for any other code.
CRC_API const char* GetErrorGloss(int code);

class CRC_API CCutterCompensator {
public:
  virtual ~CCutterCompensator();

  CCutterCompensator();
  CCutterCompensator(const double& radius, CCrcTranslator* translator,
                     const unsigned int& listSize = 3, crc_t type = CRC_TYPE_NORMAL);
  // Copies every setting; the copy gets its own clones of the look-behind entries.
  CCutterCompensator(const CCutterCompensator& other);
  CCutterCompensator& operator=(const CCutterCompensator& other);

  void SetCrcRadius(const double& radius);
  void SetCrcType(const crc_t& type);
  void SetInterveneEvade(bool on);
  bool GetInterveneEvade() const;
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
  void SetCrcPreRetractOption(int option);
  void SetEstablish(bool on);
  // A null translator is ignored: the old one stays.
  void SetTranslator(CCrcTranslator* translator);

  // The text of the most recent failure; a success never clears it.
  std::string GetLatestError() const;
  // Extension: the number (1..16) of the most recent message, 0 when none has been stored.
  int GetLatestErrorCode() const;

  // Extension: read-back of the settings.
  double GetCrcRadius() const;
  crc_t GetCrcType() const;
  int GetCrcPreRetractOption() const;
  bool GetEstablish() const;
  unsigned int GetListSize() const;
  // Extension: how many clones the look-behind list holds now.
  unsigned int GetListCount() const;

  // Appends a clone of the segment to the look-behind list, dropping the oldest entries so that
  // it never holds more than the capacity. Does nothing with a capacity of 0. Once the list is
  // full, the oldest clone is overwritten when it is of the segment's class (CCrcLine or
  // CCrcArc; a host's own class is cloned). Never throws; without memory the list keeps the
  // newest segments it has room for.
  void AddToList(const CCrcNode* node);

  // Compensates one segment of the host's sequence (see the driver in cutter_compensator.cpp).
  bool AdjustNode(CCrcNode* node);

  // Classifies the joint prev -> next and computes its connection points with the engine's
  // radius; a negative radius is treated as the positive radius on the opposite side.
  bool GetCrcNodeIntersection(const CCrcNode* prev, const CCrcNode* next, __point2<double>& p1,
                              __point2<double>& p2);

protected:
  void SetLatestError(const std::string& text);
  // Extension: stores message `code` of the table (text and number).
  void SetLatestError(crc_error_t code);

  // Validation
  bool CheckError(const CCrcNode* node, const CCrcNode* next);
  bool IsCRCPlaneMove(const CCrcNode* node) const;
  void ChangeCrcType(CCrcNode* node, CCrcNode* next);

  // Start-up
  bool CrcEstablish(CCrcNode* node, CCrcNode* next);
  bool CrcEstablish_Normal(CCrcNode* node, CCrcNode* next);
  bool CrcEstablish_Intersect(CCrcNode* node, CCrcNode* next);
  bool CrcEstablish_Insert(CCrcNode* node, CCrcNode* next);

  // Classification
  connect_t GetConnectRawType(const __point2<double>& first, const __point2<double>& second,
                              const crc_dir_t& side);
  connect_t GetConnectType(const CCrcNode* prev, const CCrcNode* next);

  // Corner connection
  bool CrcDoing(CCrcNode* node, CCrcNode* next);
  bool CalculateConnection(CCrcNode* prev, CCrcNode* next);
  bool InsertLineBefore(CCrcNode* prev, CCrcNode* next, __point2<double> p1, __point2<double> p2,
                        connect_t type);
  bool LocateType(CCrcNode* prev, CCrcNode* next);

  // Look-ahead connection and interference evasion
  bool CalculateConnectionExt1(CCrcNode* prev, CCrcNode* next);
  bool CalculateOffVector(CCrcNode* prev, CCrcNode* next, connect_t& type, __point2<double>& p1,
                          __point2<double>& p2);
  bool ProcessNoIntervine(CCrcNode* prev, CCrcNode* next, const connect_t& type,
                          const __point2<double>& p1, const __point2<double>& p2);

  // Cancel
  bool CrcPreRetract(CCrcNode* node, CCrcNode* next);
  bool CrcPreRetract_Normal(CCrcNode* node, CCrcNode* next);
  bool CrcPreRetract_Intersect(CCrcNode* node, CCrcNode* next);
  bool CrcPreRetract_Insert(CCrcNode* node, CCrcNode* next);
  bool CrcRetract(CCrcNode* node);

  // Interference
  bool CheckIntervener(const CCrcNode* node);

  crc_t m_CrcType;
  std::string m_LatestError;
  double m_CrcRadius;
  bool m_Establish;
  CCrcTranslator* m_Translator;  // not owned
  unsigned int m_ListSize;
  // Owned clones of the last finished segments, oldest at the front. Once the list is full, the
  // oldest clone is overwritten and moved to the back (see AddToList).
  std::vector<std::unique_ptr<const CCrcNode>> m_NodeList;
  bool m_InterveneEvade;
  bool m_CamTolerance;  // extension: see SetCamTolerance
  int m_PreRetractOption;
  int m_LatestErrorCode;  // extension: number of m_LatestError in the message table, 0 if none

private:
  void DestroyList();

  // Storage the engine keeps and reuses from segment to segment (internal: what the
  // interference check reads of each entry of m_NodeList, worked out once per entry, and the
  // last offsets computed). Allocated once, when first needed.
  std::unique_ptr<CompensatorWorkspace> m_Workspace;
};

}  // namespace crc
