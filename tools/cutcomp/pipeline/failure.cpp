// SPDX-License-Identifier: MIT
// Failure attribution: the engine's refusal turned into the error of a block.
#include "failure.h"

#include <cmath>
#include <memory>
#include <string>

#include "number_format.h"

namespace cutcomp::cli {

namespace {

std::string Short(double value) { return FormatNumber(value, 6); }

}  // namespace

cutcomp::Curve ProgrammedOf(const Block& b) {
  cutcomp::Curve c;
  c.from = b.start;
  c.to = b.end;
  if (IsArc(b.motion)) {
    c.arc = true;
    c.centre = b.centre;
    c.radius = b.radius;
    c.ccw = b.motion == Motion::ARC_CCW;
    c.fullCircle = b.fullCircle;
  }
  return c;
}

ErrorRecord AttributeFailure(const HostFailure& failure, const ListHost& host,
                             const RunOrder& order, double radius, bool verbose,
                             const Reading& reading, Messages& messages) {
  ErrorRecord error;
  error.compensation = true;
  error.code = failure.code;
  error.engineMessage = failure.message;
  const char* gloss = crc::GetErrorGloss(failure.code);
  error.message = gloss != nullptr && *gloss != '\0' ? gloss : "compensation failed";
  // The engine checks a segment and its successor together: a radius the cutter cannot follow
  // and an arc as cancel move are refused while the segment before is adjusted. Point at the
  // block at fault.
  std::int64_t blamed = failure.id;
  if (failure.code == crc::CRC_ERROR_RADIUS_UNREASONABLE ||
      failure.code == crc::CRC_ERROR_ARC_RETRACT) {
    int looked = 0;
    for (const HostSegment& pending : host.Pending()) {
      if (pending.inserted || ++looked > 2) {
        continue;
      }
      const bool cancelArc = pending.node->GetNodeType() == crc::NODE_ARC &&
                             pending.node->GetStatusType() == crc::CRC_STATUS_RETRACT;
      std::unique_ptr<crc::CCrcNode> probe(pending.node->Clone());
      const bool tooTight = probe && !probe->CheckCanBeCrcMove(radius);
      if (failure.code == crc::CRC_ERROR_ARC_RETRACT ? cancelArc : tooTight) {
        blamed = pending.id;
        break;
      }
    }
  }
  if (failure.code == crc::CRC_ERROR_ARC_ESTABLISH) {
    error.message += ": start with a straight lead-in move, or use --start insert";
  } else if (failure.code == crc::CRC_ERROR_ARC_RETRACT) {
    error.message += ": end with a straight lead-out move, or use --start insert";
  }
  const Block* at = order.Find(blamed);
  if (at != nullptr) {
    error.file = at->source.where.file;
    error.line = at->Line();
    error.text = at->source.text;
    error.hasGeometry = at->planeMotion;
    error.segment = ProgrammedOf(*at);
  }
  error.place = at != nullptr ? reading.Place(at->source) : messages.Name();
  const std::string& place = error.place;
  const std::int64_t lastChord = order.LastCovered(blamed);
  for (const HostSegment& pending : host.Pending()) {
    if (lastChord != blamed && pending.id == blamed && !pending.inserted) {
      error.segment = ProgrammedCurve(*pending.node);  // the piece fitted to the chords
      break;
    }
  }
  if (verbose && !error.engineMessage.empty()) {
    messages.Error(place, error.message + " (" + error.engineMessage + ")");
  } else {
    messages.Error(place, error.message);
  }
  if (blamed != failure.id && failure.code == crc::CRC_ERROR_RADIUS_UNREASONABLE && at != nullptr) {
    if (const Block* entry = order.Find(failure.id)) {
      messages.Note(reading.Place(entry->source),
                    "found while joining this block to " + reading.LineOf(*at, *entry, "line ") +
                        ": the cutter (radius " + Short(std::fabs(radius)) +
                        ") does not fit that arc");
    }
  }
  // The refused segment may be a line or arc fitted to several chords: say which.
  if (const Block* entry = order.Find(lastChord);
      entry != nullptr && at != nullptr && lastChord != blamed) {
    const std::string piece =
        error.segment.arc ? "arc of radius " + Short(error.segment.radius) : std::string("line");
    messages.Note(place, "lines " + std::to_string(at->Line()) + " to " +
                             reading.LineOf(*entry, *at, "") + " were compensated as one " + piece +
                             " fitted to their chords; --no-fit compensates them as programmed");
  }
  return error;
}

}  // namespace cutcomp::cli
