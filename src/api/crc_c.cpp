// SPDX-License-Identifier: MIT
// The C interface: opaque handles over the one-call API's C++ types, plain structures copied in
// and out, and every exception stopped at the boundary (an allocation failure becomes
// CUTCOMP_OUT_OF_MEMORY; nothing else is expected).
#include <crc/crc_c.h>

#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <crc/path.h>

struct cutcomp_path {
  crc::Path segments;
};

struct cutcomp_options {
  crc::CompensateOptions options{0.0};
};

struct cutcomp_result {
  int status = CUTCOMP_OK;
  crc::CompensateResult result;
};

struct cutcomp_audit_result {
  int status = CUTCOMP_OK;
  crc::AuditResult result;
};

namespace {

// The C names carry the C++ enums' values; a change on either side must fail the build.
template <typename E>
constexpr int V(E value) {
  return static_cast<int>(value);
}
static_assert(V(CUTCOMP_PHASE_NONE) == V(crc::CRC_STATUS_NONE) &&
              V(CUTCOMP_PHASE_ESTABLISH) == V(crc::CRC_STATUS_ESTABLISH) &&
              V(CUTCOMP_PHASE_DOING) == V(crc::CRC_STATUS_DOING) &&
              V(CUTCOMP_PHASE_RETRACT) == V(crc::CRC_STATUS_RETRACT));
static_assert(V(CUTCOMP_SIDE_NONE) == V(crc::CRC_DIR_NONE) &&
              V(CUTCOMP_SIDE_LEFT) == V(crc::CRC_DIR_LEFT) &&
              V(CUTCOMP_SIDE_RIGHT) == V(crc::CRC_DIR_RIGHT));
static_assert(V(CUTCOMP_START_NORMAL) == V(crc::CRC_TYPE_NORMAL) &&
              V(CUTCOMP_START_INTERSECT) == V(crc::CRC_TYPE_INTERSECT) &&
              V(CUTCOMP_START_INSERT) == V(crc::CRC_TYPE_INSERT));
static_assert(V(CUTCOMP_END_LINE) == V(crc::CRC_END_LINE) &&
              V(CUTCOMP_END_STAY) == V(crc::CRC_END_STAY) &&
              V(CUTCOMP_END_NONE) == V(crc::CRC_END_NONE));
static_assert(V(CUTCOMP_UNIT_MM) == V(crc::CRC_UNIT_MM) &&
              V(CUTCOMP_UNIT_INCH) == V(crc::CRC_UNIT_INCH));

// Runs `body`, turning what it throws into a status.
template <typename Body>
int Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return CUTCOMP_OUT_OF_MEMORY;
  } catch (...) {
    return CUTCOMP_INTERNAL_ERROR;
  }
}

crc::__point2<double> In(const cutcomp_point& p) { return {p.x, p.y}; }
cutcomp_point Out(const crc::__point2<double>& p) { return {p.x, p.y}; }

crc::Curve In(const cutcomp_curve& c) {
  crc::Curve curve;
  curve.arc = c.arc != 0;
  curve.from = In(c.from);
  curve.to = In(c.to);
  curve.centre = In(c.centre);
  curve.ccw = c.ccw != 0;
  curve.fullCircle = c.full_circle != 0;
  return curve;
}

cutcomp_curve Out(const crc::Curve& c, double radius) {
  return {c.arc ? 1 : 0,          Out(c.from),         Out(c.to), Out(c.centre), radius,
          c.ccw && c.arc ? 1 : 0, c.fullCircle ? 1 : 0};
}

crc::PathSegment In(const cutcomp_segment& s) {
  crc::PathSegment segment;
  segment.curve = In(s.curve);
  segment.phase = static_cast<crc::crc_status_t>(s.phase);
  segment.side = static_cast<crc::crc_dir_t>(s.side);
  segment.id = s.id;
  segment.locate = s.locate != 0;
  return segment;
}

cutcomp_segment Out(const crc::PathSegment& s) {
  const double radius = s.curve.arc ? (s.curve.from - s.curve.centre).GetLength() : 0.0;
  return {Out(s.curve, radius), s.phase, s.side, s.id, s.locate ? 1 : 0};
}

int Add(cutcomp_path* path, const crc::PathSegment& segment) {
  if (path == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  return Guard([&] {
    path->segments.push_back(segment);
    return CUTCOMP_OK;
  });
}

// Runs a setter on options that exist.
template <typename Set>
int Setting(cutcomp_options* options, Set&& set) {
  if (options == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  set(options->options);
  return CUTCOMP_OK;
}

}  // namespace

extern "C" {

const char* cutcomp_version(void) { return CUTCOMP_VERSION; }

const char* cutcomp_status_text(int status) {
  switch (status) {
  case CUTCOMP_OK:
    return "done";
  case CUTCOMP_REFUSED:
    return "the engine refused a segment";
  case CUTCOMP_INVALID_INPUT:
    return "an option, segment or tolerance that cannot be used";
  case CUTCOMP_INVALID_ARGUMENT:
    return "a null handle or pointer, or an index out of range";
  case CUTCOMP_OUT_OF_MEMORY:
    return "out of memory";
  case CUTCOMP_INTERNAL_ERROR:
    return "an unexpected failure inside the library";
  default:
    return "";
  }
}

const char* cutcomp_error_gloss(int code) { return crc::GetErrorGloss(code); }

cutcomp_path* cutcomp_path_new(void) { return new (std::nothrow) cutcomp_path(); }

void cutcomp_path_free(cutcomp_path* path) { delete path; }

int cutcomp_path_add_segment(cutcomp_path* path, const cutcomp_segment* segment) {
  if (segment == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  return Add(path, In(*segment));
}

int cutcomp_path_add_line(cutcomp_path* path, double x0, double y0, double x1, double y1, int phase,
                          int side, int64_t id) {
  return Add(path, crc::PathSegment::Line({x0, y0}, {x1, y1}, static_cast<crc::crc_status_t>(phase),
                                          static_cast<crc::crc_dir_t>(side), id));
}

int cutcomp_path_add_arc(cutcomp_path* path, double x0, double y0, double x1, double y1, double cx,
                         double cy, int ccw, int phase, int side, int64_t id) {
  return Add(path, crc::PathSegment::Arc({x0, y0}, {x1, y1}, {cx, cy}, ccw != 0,
                                         static_cast<crc::crc_status_t>(phase),
                                         static_cast<crc::crc_dir_t>(side), id));
}

size_t cutcomp_path_size(const cutcomp_path* path) {
  return path != nullptr ? path->segments.size() : 0;
}

int cutcomp_path_segment(const cutcomp_path* path, size_t index, cutcomp_segment* out) {
  if (path == nullptr || out == nullptr || index >= path->segments.size()) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  *out = Out(path->segments[index]);
  return CUTCOMP_OK;
}

cutcomp_options* cutcomp_options_new(double radius) {
  cutcomp_options* options = new (std::nothrow) cutcomp_options();
  if (options != nullptr) {
    options->options.radius = radius;
  }
  return options;
}

void cutcomp_options_free(cutcomp_options* options) { delete options; }

int cutcomp_options_set_radius(cutcomp_options* options, double radius) {
  return Setting(options, [radius](crc::CompensateOptions& o) { o.radius = radius; });
}

int cutcomp_options_set_start(cutcomp_options* options, int start) {
  return Setting(options,
                 [start](crc::CompensateOptions& o) { o.start = static_cast<crc::crc_t>(start); });
}

int cutcomp_options_set_look_behind(cutcomp_options* options, unsigned int look_behind) {
  return Setting(options, [look_behind](crc::CompensateOptions& o) { o.lookBehind = look_behind; });
}

int cutcomp_options_set_evade(cutcomp_options* options, int evade) {
  return Setting(options, [evade](crc::CompensateOptions& o) { o.evade = evade != 0; });
}

int cutcomp_options_set_cam_tolerance(cutcomp_options* options, int on) {
  return Setting(options, [on](crc::CompensateOptions& o) { o.camTolerance = on != 0; });
}

int cutcomp_options_set_closure_tolerance(cutcomp_options* options, int on) {
  return Setting(options, [on](crc::CompensateOptions& o) { o.closureTolerance = on != 0; });
}

int cutcomp_options_set_start_in_place(cutcomp_options* options, int on) {
  return Setting(options, [on](crc::CompensateOptions& o) { o.startInPlace = on != 0; });
}

int cutcomp_options_set_arc_startup(cutcomp_options* options, int on) {
  return Setting(options, [on](crc::CompensateOptions& o) { o.arcStartup = on != 0; });
}

int cutcomp_options_set_end(cutcomp_options* options, int end) {
  return Setting(options,
                 [end](crc::CompensateOptions& o) { o.end = static_cast<crc::crc_end_t>(end); });
}

int cutcomp_options_set_units(cutcomp_options* options, int units) {
  return Setting(options, [units](crc::CompensateOptions& o) {
    o.units = static_cast<crc::crc_unit_t>(units);
  });
}

int cutcomp_options_set_fit(cutcomp_options* options, int on, double tolerance) {
  return Setting(options, [on, tolerance](crc::CompensateOptions& o) {
    o.fit = on != 0;
    // exact: 0 asks for the default; any other value, even a bad one, is the caller's and is
    // checked by cutcomp_compensate
    o.fitTolerance = tolerance == 0.0 ? std::nullopt : std::optional<double>(tolerance);
  });
}

int cutcomp_options_set_arc_tolerance(cutcomp_options* options, double tolerance) {
  return Setting(options, [tolerance](crc::CompensateOptions& o) {
    o.arcTolerance = tolerance < 0.0 ? std::nullopt : std::optional<double>(tolerance);
  });
}

int cutcomp_options_set_avoid(cutcomp_options* options, int on, double tolerance) {
  return Setting(options, [on, tolerance](crc::CompensateOptions& o) {
    o.avoid = on != 0;
    // exact: 0 asks for the default; any other value is checked by cutcomp_compensate
    o.avoidTolerance = tolerance == 0.0 ? std::nullopt : std::optional<double>(tolerance);
  });
}

int cutcomp_compensate(const cutcomp_path* path, const cutcomp_options* options,
                       cutcomp_result** result) {
  if (result == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  *result = nullptr;
  if (path == nullptr || options == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  return Guard([&] {
    auto made = std::make_unique<cutcomp_result>();
    made->result = crc::Compensate(path->segments, options->options);
    made->status = made->result.ok              ? CUTCOMP_OK
                   : made->result.failure.input ? CUTCOMP_INVALID_INPUT
                                                : CUTCOMP_REFUSED;
    *result = made.release();
    return (*result)->status;
  });
}

void cutcomp_result_free(cutcomp_result* result) { delete result; }

int cutcomp_result_status(const cutcomp_result* result) {
  return result != nullptr ? result->status : CUTCOMP_INVALID_ARGUMENT;
}

size_t cutcomp_result_size(const cutcomp_result* result) {
  return result != nullptr ? result->result.path.size() : 0;
}

int cutcomp_result_piece(const cutcomp_result* result, size_t index, cutcomp_piece* out) {
  if (result == nullptr || out == nullptr || index >= result->result.path.size()) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  const cutcomp::PathPiece& p = result->result.path[index];
  *out = {Out(p.tool, p.tool.radius),
          Out(p.programmed, p.programmed.radius),
          p.id,
          p.lastId,
          p.phase,
          p.side,
          p.inserted ? 1 : 0,
          p.dropped ? 1 : 0,
          p.locate ? 1 : 0};
  return CUTCOMP_OK;
}

size_t cutcomp_result_material_count(const cutcomp_result* result) {
  return result != nullptr ? result->result.left.size() : 0;
}

int cutcomp_result_material(const cutcomp_result* result, size_t index, cutcomp_material* out) {
  if (result == nullptr || out == nullptr || index >= result->result.left.size()) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  const crc::MaterialLeft& m = result->result.left[index];
  *out = {m.firstId, m.lastId, m.depth, {m.wallPoint.x, m.wallPoint.y}, m.wallId,
          m.extent,  m.before, m.after, static_cast<int>(m.cause)};
  return CUTCOMP_OK;
}

int cutcomp_result_failure(const cutcomp_result* result, cutcomp_failure* out) {
  if (result == nullptr || out == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  *out = {0, -1, -1, 0, 0};
  if (!result->result.ok) {
    const crc::PathFailure& f = result->result.failure;
    *out = {f.input ? 1 : 0, f.index, f.id, f.inserted ? 1 : 0, f.code};
  }
  return CUTCOMP_OK;
}

const char* cutcomp_result_message(const cutcomp_result* result) {
  return result != nullptr && !result->result.ok ? result->result.failure.gloss.c_str() : "";
}

const char* cutcomp_result_engine_message(const cutcomp_result* result) {
  return result != nullptr && !result->result.ok ? result->result.failure.message.c_str() : "";
}

int cutcomp_result_tool_path(const cutcomp_result* result, cutcomp_path** path) {
  if (path == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  *path = nullptr;
  if (result == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  return Guard([&] {
    auto made = std::make_unique<cutcomp_path>();
    for (const cutcomp::PathPiece& piece : result->result.path) {
      if (piece.dropped) {
        continue;
      }
      crc::PathSegment segment;
      segment.curve = piece.tool;
      segment.phase = piece.phase;
      segment.side = piece.side;
      segment.id = piece.id;
      segment.locate = piece.locate;
      made->segments.push_back(segment);
    }
    *path = made.release();
    return CUTCOMP_OK;
  });
}

int cutcomp_audit(const cutcomp_path* contour, const cutcomp_path* tool_path, double radius,
                  double tolerance, cutcomp_audit_result** result) {
  if (result == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  *result = nullptr;
  if (contour == nullptr || tool_path == nullptr) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  return Guard([&] {
    auto made = std::make_unique<cutcomp_audit_result>();
    made->result = crc::Audit(contour->segments, tool_path->segments, radius, tolerance);
    made->status = made->result.ok ? CUTCOMP_OK : CUTCOMP_INVALID_INPUT;
    *result = made.release();
    return (*result)->status;
  });
}

void cutcomp_audit_free(cutcomp_audit_result* result) { delete result; }

size_t cutcomp_audit_gouge_count(const cutcomp_audit_result* result) {
  return result != nullptr ? result->result.gouges.size() : 0;
}

int cutcomp_audit_gouge(const cutcomp_audit_result* result, size_t index, cutcomp_gouge* out) {
  if (result == nullptr || out == nullptr || index >= result->result.gouges.size()) {
    return CUTCOMP_INVALID_ARGUMENT;
  }
  const crc::Gouge& g = result->result.gouges[index];
  *out = {g.piece,          g.pieceId,        g.segment,   g.segmentId,
          Out(g.toolPoint), Out(g.wallPoint), g.clearance, g.depth};
  return CUTCOMP_OK;
}

const char* cutcomp_audit_message(const cutcomp_audit_result* result) {
  return result != nullptr ? result->result.error.c_str() : "";
}

}  // extern "C"
