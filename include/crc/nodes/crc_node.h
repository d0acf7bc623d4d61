// SPDX-License-Identifier: MIT
/// @file
/// The abstract motion segment: programmed geometry set by the host, offset (tool-centre)
/// geometry written back by the engine, phase, side and flags. Also owns the segment enums.
#pragma once

#include <crc/export.h>
#include <crc/geometry/point2.h>

namespace crc {

/// @name Segment enums
/// Unscoped with an int base: values outside the tables are stored and passed through unchanged
/// (the engine treats them as "no phase", "no side", "no kind").
///@{

/// The compensation phase a segment belongs to.
enum crc_status_t : int {
  CRC_STATUS_NONE = -1,      ///< no phase; only a default-constructed segment has it
  CRC_STATUS_ESTABLISH = 0,  ///< compensation is switched on on this segment (start-up)
  CRC_STATUS_DOING = 1,      ///< inside active compensation
  CRC_STATUS_RETRACT = 2,    ///< compensation is switched off on this segment (cancel)
};

/// The side of the programmed contour on which the tool centre runs.
enum crc_dir_t : int {
  CRC_DIR_NONE = -1,  ///< no side: the segment is not compensated
  CRC_DIR_LEFT = 0,   ///< tool centre left of the direction of travel
  CRC_DIR_RIGHT = 1,  ///< tool centre right of the direction of travel
};

/// The kind of a segment (see CCrcNode::SetNodeType for when the engine believes it).
enum node_t : int {
  NODE_NONE = -1,  ///< no kind: the base class's default
  NODE_LINE = 0,   ///< a CCrcLine
  NODE_ARC = 1,    ///< a CCrcArc
};
///@}

/// One motion segment of the host's contour, in the compensation plane.
///
/// The host creates segments (CCrcLine, CCrcArc, or a class of its own derived from them), sets
/// their programmed points, phase and side, and owns them. The engine writes its results into
/// the same object: the offset (tool-centre) start and end points, the intersect point (where
/// the segment's offset path begins, fixed while its predecessor is adjusted), the compensated
/// flag, and the valid flag when interference evasion drops the segment. A segment has no
/// synchronisation of its own: the host must not change it while the engine works on it or its
/// neighbours.
class CRC_API CCrcNode {
public:
  /// Destroys the segment; the engine deletes its look-behind clones through it.
  virtual ~CCrcNode();
  /// Whether the segment can be offset by `radius` on its side; writes nothing. True here: a
  /// segment can be offset by any radius unless a subclass says otherwise.
  virtual bool CheckCanBeCrcMove(const double& radius);
  /// Writes the offset start and end points (GetStartPointMoved, GetEndPointMoved) for
  /// `radius` on side GetCrcDirType(); a negative radius offsets to the other side. False when
  /// the segment cannot be offset; what the subclass wrote before failing stays.
  virtual bool CrcMove(const double& radius) = 0;
  /// The programmed length, in the host's unit.
  virtual double GetLength() const = 0;
  /// A new heap copy of the same concrete kind, owned by the caller and deleted through the
  /// virtual destructor. The library's classes return null when memory runs out.
  virtual CCrcNode* Clone() const = 0;

  /// All points unset (INVALID_VALUE), phase, side and kind -1, not compensated, valid.
  CCrcNode();
  /// Programmed points `start` and `end` (copied without the setters' check), phase `status`,
  /// side `dir`; offset and intersect points unset, kind NODE_NONE, not compensated, valid.
  /// Note the parameter order: status before side.
  CCrcNode(const __point2<double>& start, const __point2<double>& end, const crc_status_t& status,
           const crc_dir_t& dir);
  /// Copying copies every field, the engine's results and flags included.
  ///@{
  CCrcNode(const CCrcNode& other) = default;
  CCrcNode& operator=(const CCrcNode& other) = default;
  ///@}

  /// Copies of the five points: the programmed start and end; the offset start and end, where
  /// the tool centre starts and ends this segment (unset until the engine writes them); and the
  /// intersect point, the joint with the predecessor's offset path, which becomes the offset
  /// start when the segment's own turn comes.
  ///
  /// The accessors are defined inline: the engine reads them several times per segment.
  ///@{
  __point2<double> GetStartPoint() const { return m_StartPoint; }
  __point2<double> GetEndPoint() const { return m_EndPoint; }
  __point2<double> GetStartPointMoved() const { return m_StartPointMoved; }
  __point2<double> GetEndPointMoved() const { return m_EndPointMoved; }
  __point2<double> GetIntersectPoint() const { return m_IntersectPoint; }
  ///@}

  /// Store one of the five points. Each setter refuses (returns false, field unchanged) a point
  /// whose x is INVALID_VALUE while its y is not; any other point is stored, a wholly unset one
  /// included (it resets the field). Nothing else is recomputed.
  ///@{
  bool SetStartPoint(const __point2<double>& p) { return StorePoint(m_StartPoint, p); }
  bool SetEndPoint(const __point2<double>& p) { return StorePoint(m_EndPoint, p); }
  bool SetStartPointMoved(const __point2<double>& p) { return StorePoint(m_StartPointMoved, p); }
  bool SetEndPointMoved(const __point2<double>& p) { return StorePoint(m_EndPointMoved, p); }
  bool SetIntersectPoint(const __point2<double>& p) { return StorePoint(m_IntersectPoint, p); }
  ///@}

  /// The compensation side, stored as given. During AdjustNode with a negative radius the engine
  /// swaps left and right on the segment and its successor and swaps them back before it
  /// returns; the cancel strategies leave a cancel segment with the side they give it.
  ///@{
  void SetCrcDirType(const crc_dir_t& dir) { m_CrcDir = dir; }
  crc_dir_t GetCrcDirType() const { return m_CrcDir; }
  ///@}
  /// The kind field. The constructors of CCrcLine and CCrcArc set it; a host may overwrite it,
  /// but the engine takes a segment for a line only when the field says NODE_LINE and the object
  /// is a CCrcLine (or derived from it), and for an arc only when the field says NODE_ARC and the
  /// object is a CCrcArc. A segment whose field disagrees with its class is treated everywhere
  /// as a segment of no kind (like NODE_NONE): it has no tangent, no corner point can be
  /// computed with it, and it is never taken for an arc by the start-up and cancel checks.
  ///@{
  void SetNodeType(const node_t& type) { m_NodeType = type; }
  node_t GetNodeType() const { return m_NodeType; }
  ///@}
  /// The compensation phase, stored as given. The engine rewrites it only when it turns the
  /// last segment of a sequence without a cancel segment into the cancel segment.
  ///@{
  void SetStatusType(const crc_status_t& status) { m_Status = status; }
  crc_status_t GetStatusType() const { return m_Status; }
  ///@}
  /// The compensated flag: the segment's offset geometry is final. The engine sets it on every
  /// segment it finishes and on every line it inserts; AdjustNode returns true at once for a
  /// segment that has it.
  ///@{
  void SetHasBeenCrc(const bool& done) { m_HasBeenCrc = done; }
  bool HasBeenCrc() const { return m_HasBeenCrc; }
  ///@}
  /// Marks the segment as dropped from the tool-centre path by interference evasion. Terminal:
  /// nothing sets it back (only copying from a valid segment does).
  void SetAsInvalidNode() { m_Valid = false; }
  /// False once interference evasion has dropped the segment; the host leaves it out of the
  /// tool-centre path. The engine never reads it.
  bool IsValidNode() { return m_Valid; }

  /// Whether the offset chord still runs the way the programmed chord does. False only when the
  /// offset chord (offset end minus offset start) is longer than 0.005 and points against the
  /// programmed chord (negative dot product); a perpendicular or shrunk offset, and unset offset
  /// points, pass. Arcs are judged by their chords too.
  bool CheckMovedValid();

protected:
  __point2<double> m_StartPoint;       ///< programmed start
  __point2<double> m_EndPoint;         ///< programmed end
  __point2<double> m_StartPointMoved;  ///< offset start, written by the engine
  __point2<double> m_EndPointMoved;    ///< offset end, written by the engine
  __point2<double> m_IntersectPoint;   ///< joint with the predecessor's offset path
  crc_dir_t m_CrcDir;                  ///< compensation side
  node_t m_NodeType;                   ///< kind, set by the derived constructors
  crc_status_t m_Status;               ///< compensation phase
  bool m_HasBeenCrc;                   ///< offset geometry final
  bool m_Valid;                        ///< false once dropped by interference evasion

private:
  static bool StorePoint(__point2<double>& field, const __point2<double>& p) {
    // exact: the unset sentinel is recognised bit for bit
    if (IsUnsetValue(p.x) && !IsUnsetValue(p.y)) {
      return false;
    }
    field = p;
    return true;
  }
};

}  // namespace crc
