// SPDX-License-Identifier: MIT
// The compensator frame and the per-segment driver: settings, the look-behind list, the
// message store and AdjustNode. The phase routines it dispatches to live in their own files
// (validation, startup, connection, lookahead, cancel, interference).
#include <crc/compensator/cutter_compensator.h>

#include <new>

#include "compensator/messages.h"
#include "compensator/workspace.h"
#include "geometry/tolerance.h"

namespace crc {

CCutterCompensator::~CCutterCompensator() { DestroyList(); }

CCutterCompensator::CCutterCompensator()
    : m_CrcType(CRC_TYPE_NORMAL),
      m_CrcRadius(INVALID_VALUE),
      m_Establish(false),
      m_Translator(nullptr),
      m_ListSize(3),
      m_InterveneEvade(false),
      m_CamTolerance(false),
      m_ClosureTolerance(false),
      m_StartInPlace(false),
      m_ArcStartup(false),
      m_PreRetractOption(0),
      m_LatestErrorCode(CRC_ERROR_NONE) {
  m_LatestError.reserve(LONGEST_MESSAGE);
}

CCutterCompensator::CCutterCompensator(const double& radius, CCrcTranslator* translator,
                                       const unsigned int& listSize, crc_t type)
    : m_CrcType(type),
      m_CrcRadius(radius),
      m_Establish(false),
      m_Translator(translator),
      m_ListSize(listSize),
      m_InterveneEvade(false),
      m_CamTolerance(false),
      m_ClosureTolerance(false),
      m_StartInPlace(false),
      m_ArcStartup(false),
      m_PreRetractOption(0),
      m_LatestErrorCode(CRC_ERROR_NONE) {
  m_LatestError.reserve(LONGEST_MESSAGE);
}

CCutterCompensator::CCutterCompensator(const CCutterCompensator& other)
    : m_CrcType(other.m_CrcType),
      m_LatestError(other.m_LatestError),
      m_CrcRadius(other.m_CrcRadius),
      m_Establish(other.m_Establish),
      m_Translator(other.m_Translator),
      m_ListSize(other.m_ListSize),
      m_InterveneEvade(other.m_InterveneEvade),
      m_CamTolerance(other.m_CamTolerance),
      m_ClosureTolerance(other.m_ClosureTolerance),
      m_StartInPlace(other.m_StartInPlace),
      m_ArcStartup(other.m_ArcStartup),
      m_PreRetractOption(other.m_PreRetractOption),
      m_LatestErrorCode(other.m_LatestErrorCode) {
  m_LatestError.reserve(LONGEST_MESSAGE);
  // Each compensator deletes its own list entries, so the copy gets clones of its own.
  for (const auto& entry : other.m_NodeList) {
    AddToList(entry.get());
  }
}

CCutterCompensator& CCutterCompensator::operator=(const CCutterCompensator& other) {
  if (this == &other) {
    return *this;
  }
  DestroyList();
  m_CrcType = other.m_CrcType;
  m_LatestError = other.m_LatestError;
  m_CrcRadius = other.m_CrcRadius;
  m_Establish = other.m_Establish;
  m_Translator = other.m_Translator;
  m_ListSize = other.m_ListSize;
  m_InterveneEvade = other.m_InterveneEvade;
  m_CamTolerance = other.m_CamTolerance;
  m_ClosureTolerance = other.m_ClosureTolerance;
  m_StartInPlace = other.m_StartInPlace;
  m_ArcStartup = other.m_ArcStartup;
  m_PreRetractOption = other.m_PreRetractOption;
  m_LatestErrorCode = other.m_LatestErrorCode;
  for (const auto& entry : other.m_NodeList) {
    AddToList(entry.get());
  }
  return *this;
}

void CCutterCompensator::SetCrcRadius(const double& radius) { m_CrcRadius = radius; }
void CCutterCompensator::SetCrcType(const crc_t& type) { m_CrcType = type; }
void CCutterCompensator::SetInterveneEvade(bool on) { m_InterveneEvade = on; }
bool CCutterCompensator::GetInterveneEvade() const { return m_InterveneEvade; }
void CCutterCompensator::SetCamTolerance(bool on) { m_CamTolerance = on; }
bool CCutterCompensator::GetCamTolerance() const { return m_CamTolerance; }
void CCutterCompensator::SetClosureTolerance(bool on) { m_ClosureTolerance = on; }
bool CCutterCompensator::GetClosureTolerance() const { return m_ClosureTolerance; }
void CCutterCompensator::SetStartInPlace(bool on) { m_StartInPlace = on; }
bool CCutterCompensator::GetStartInPlace() const { return m_StartInPlace; }
void CCutterCompensator::SetArcStartup(bool on) { m_ArcStartup = on; }
bool CCutterCompensator::GetArcStartup() const { return m_ArcStartup; }
void CCutterCompensator::SetCrcPreRetractOption(int option) { m_PreRetractOption = option; }
void CCutterCompensator::SetEstablish(bool on) { m_Establish = on; }

void CCutterCompensator::SetTranslator(CCrcTranslator* translator) {
  if (translator != nullptr) {
    m_Translator = translator;
  }
}

std::string CCutterCompensator::GetLatestError() const { return m_LatestError; }
int CCutterCompensator::GetLatestErrorCode() const { return m_LatestErrorCode; }
double CCutterCompensator::GetCrcRadius() const { return m_CrcRadius; }
crc_t CCutterCompensator::GetCrcType() const { return m_CrcType; }
int CCutterCompensator::GetCrcPreRetractOption() const { return m_PreRetractOption; }
bool CCutterCompensator::GetEstablish() const { return m_Establish; }
unsigned int CCutterCompensator::GetListSize() const { return m_ListSize; }
unsigned int CCutterCompensator::GetListCount() const {
  return static_cast<unsigned int>(m_NodeList.size());
}

void CCutterCompensator::SetLatestError(const std::string& text) {
  try {
    m_LatestError = text;
  } catch (const std::bad_alloc&) {
    m_LatestError.clear();  // a text longer than any message, and no memory for it
  }
  m_LatestErrorCode = FindMessageCode(m_LatestError);
}

void CCutterCompensator::SetLatestError(crc_error_t code) {
  const MessageEntry* entry = FindMessage(code);
  // The constructors reserved room for the longest message, so this never allocates.
  m_LatestError.assign(entry != nullptr ? entry->text : "");
  m_LatestErrorCode = entry != nullptr ? code : CRC_ERROR_NONE;
}

void CCutterCompensator::AddToList(const CCrcNode* node) {
  AppendToLookBehind(m_NodeList, m_Workspace, m_ListSize, node, false);
}

void CCutterCompensator::DestroyList() {
  m_NodeList.clear();
  if (m_Workspace) {
    m_Workspace->Clear();
  }
}

// Compensates one segment. Contract:
// - writes node's offset points (and, for the joint with its successor, the successor's
//   intersect point and provisional offset points); inserted lines reach the host through the
//   translator; a finished node is marked compensated;
// - fails with false and a stored message, except for an unset/zero radius and a phase outside
//   the enum, which fail silently;
// - nothing written before a failure is rolled back, but the side swap of a negative radius is
//   always undone, so the radius and the segments' sides read as before the call;
// - lets no exception out: the engine itself throws none, and one thrown by the host's own code
//   (its translator, or a segment class of its own) is caught and ends the call with false and
//   message 16.
bool CCutterCompensator::AdjustNode(CCrcNode* node) {
  if (m_Translator == nullptr) {
    SetLatestError(CRC_ERROR_FUNCTION_UNDEFINED);
    return false;
  }
  if (IsInvalidValue(m_CrcRadius) || IsEqual(m_CrcRadius, 0, EPSILON)) {
    return false;  // silent: no radius means no compensation
  }
  if (node == nullptr) {
    SetLatestError(CRC_ERROR_NO_PLANE_MOTION);
    return false;
  }
  if (node->HasBeenCrc()) {
    return true;  // inserted lines and segments finished by a look-ahead step pass through
  }

  // A negative radius is the positive radius on the other side: both segments' sides are
  // swapped for the duration of the call and swapped back on every way out, an exception
  // from the host's code included.
  struct SideSwap {
    CCutterCompensator* engine = nullptr;
    CCrcNode* node = nullptr;
    CCrcNode* next = nullptr;
    SideSwap() = default;
    SideSwap(const SideSwap&) = delete;
    SideSwap& operator=(const SideSwap&) = delete;
    ~SideSwap() {
      if (engine != nullptr) {
        engine->ChangeCrcType(node, next);
      }
    }
  };

  try {
    const crc_status_t status = node->GetStatusType();
    CCrcNode* next = nullptr;
    if (status != CRC_STATUS_RETRACT) {
      next = m_Translator->GetNextNode(node);
    }

    // A start-up segment whose successor is not known yet runs on its programmed path for now;
    // it stays uncompensated so the host can pass it again once a successor exists.
    if (status == CRC_STATUS_ESTABLISH && next == nullptr && m_CrcType != CRC_TYPE_INSERT) {
      node->SetStartPointMoved(node->GetStartPoint());
      node->SetEndPointMoved(node->GetEndPoint());
      return true;
    }
    if (next != nullptr && status == CRC_STATUS_ESTABLISH &&
        next->GetStatusType() == CRC_STATUS_RETRACT) {
      SetLatestError(CRC_ERROR_ONLY_ESTABLISH_RETRACT);
      return false;
    }

    SideSwap swap;
    if (IsLess(m_CrcRadius, 0, EPSILON)) {
      ChangeCrcType(node, next);
      swap.engine = this;
      swap.node = node;
      swap.next = next;
    }

    if (!CheckError(node, next)) {
      return false;
    }
    if (status != CRC_STATUS_RETRACT && !node->CheckCanBeCrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    if (next != nullptr && next->GetStatusType() != CRC_STATUS_RETRACT &&
        !next->CheckCanBeCrcMove(m_CrcRadius)) {
      SetLatestError(CRC_ERROR_RADIUS_UNREASONABLE);
      return false;
    }
    if (status == CRC_STATUS_ESTABLISH) {
      return CrcEstablish(node, next);
    }
    if (status == CRC_STATUS_DOING) {
      return CrcDoing(node, next);
    }
    if (status == CRC_STATUS_RETRACT) {
      return CrcRetract(node);
    }
    return false;  // silent: a phase outside the enum
  } catch (...) {
    SetLatestError(CRC_ERROR_NO_PLANE_MOTION);
    return false;
  }
}

}  // namespace crc
