// SPDX-License-Identifier: MIT
// The abstract motion segment: programmed geometry set by the host, offset (tool-centre)
// geometry written back by the engine, phase, side and flags. Also owns the segment enums.
#pragma once

#include <crc/export.h>
#include <crc/geometry/point2.h>

namespace crc {

// Enums are unscoped with an int base: values outside the tables are stored and passed through
// unchanged (the engine treats them as "no phase", "no side", "no kind").
enum crc_status_t : int {
  CRC_STATUS_NONE = -1,      // no phase; only a default-constructed segment has it
  CRC_STATUS_ESTABLISH = 0,  // compensation is switched on on this segment (start-up)
  CRC_STATUS_DOING = 1,      // inside active compensation
  CRC_STATUS_RETRACT = 2,    // compensation is switched off on this segment (cancel)
};

enum crc_dir_t : int {
  CRC_DIR_NONE = -1,
  CRC_DIR_LEFT = 0,   // tool centre left of the direction of travel
  CRC_DIR_RIGHT = 1,  // tool centre right of the direction of travel
};

enum node_t : int {
  NODE_NONE = -1,
  NODE_LINE = 0,
  NODE_ARC = 1,
};

class CRC_API CCrcNode {
public:
  virtual ~CCrcNode();
  // True: a segment can be offset by any radius unless a subclass says otherwise.
  virtual bool CheckCanBeCrcMove(const double& radius);
  // Computes the offset start and end points for the radius on side m_CrcDir.
  virtual bool CrcMove(const double& radius) = 0;
  virtual double GetLength() const = 0;
  // A new heap copy of the same concrete kind, owned by the caller.
  virtual CCrcNode* Clone() const = 0;

  CCrcNode();
  // Note the parameter order: status before side. Points are copied without the setters' check.
  CCrcNode(const __point2<double>& start, const __point2<double>& end, const crc_status_t& status,
           const crc_dir_t& dir);
  CCrcNode(const CCrcNode& other) = default;
  CCrcNode& operator=(const CCrcNode& other) = default;

  // The accessors are defined here, inline: the engine reads them several times per segment.
  __point2<double> GetStartPoint() const { return m_StartPoint; }
  __point2<double> GetEndPoint() const { return m_EndPoint; }
  __point2<double> GetStartPointMoved() const { return m_StartPointMoved; }
  __point2<double> GetEndPointMoved() const { return m_EndPointMoved; }
  __point2<double> GetIntersectPoint() const { return m_IntersectPoint; }

  // Each setter refuses (returns false, field unchanged) a point whose x is INVALID_VALUE while
  // its y is not; a wholly unset point is stored (it resets the field).
  bool SetStartPoint(const __point2<double>& p) { return StorePoint(m_StartPoint, p); }
  bool SetEndPoint(const __point2<double>& p) { return StorePoint(m_EndPoint, p); }
  bool SetStartPointMoved(const __point2<double>& p) { return StorePoint(m_StartPointMoved, p); }
  bool SetEndPointMoved(const __point2<double>& p) { return StorePoint(m_EndPointMoved, p); }
  bool SetIntersectPoint(const __point2<double>& p) { return StorePoint(m_IntersectPoint, p); }

  void SetCrcDirType(const crc_dir_t& dir) { m_CrcDir = dir; }
  crc_dir_t GetCrcDirType() const { return m_CrcDir; }
  // The kind field. The constructors of CCrcLine and CCrcArc set it; a host may overwrite it,
  // but the engine takes a segment for a line only when the field says NODE_LINE and the object
  // is a CCrcLine (or derived from it), and for an arc only when the field says NODE_ARC and the
  // object is a CCrcArc. A segment whose field disagrees with its class is treated everywhere
  // as a segment of no kind (like NODE_NONE): it has no tangent, no corner point can be
  // computed with it, and it is never taken for an arc by the start-up and cancel checks.
  void SetNodeType(const node_t& type) { m_NodeType = type; }
  node_t GetNodeType() const { return m_NodeType; }
  void SetStatusType(const crc_status_t& status) { m_Status = status; }
  crc_status_t GetStatusType() const { return m_Status; }
  void SetHasBeenCrc(const bool& done) { m_HasBeenCrc = done; }
  bool HasBeenCrc() const { return m_HasBeenCrc; }
  // Terminal: marks the segment as dropped from the tool-centre path by interference evasion.
  void SetAsInvalidNode() { m_Valid = false; }
  bool IsValidNode() { return m_Valid; }

  // False when the offset chord runs against the programmed chord and is longer than 0.005.
  bool CheckMovedValid();

protected:
  __point2<double> m_StartPoint;
  __point2<double> m_EndPoint;
  __point2<double> m_StartPointMoved;
  __point2<double> m_EndPointMoved;
  __point2<double> m_IntersectPoint;
  crc_dir_t m_CrcDir;
  node_t m_NodeType;
  crc_status_t m_Status;
  bool m_HasBeenCrc;
  bool m_Valid;

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
