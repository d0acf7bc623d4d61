// SPDX-License-Identifier: MIT
// The audit: the distance kernels and the contact rules as rows of two tables (kernels.txt,
// contacts.txt), whole contours run through the engine (contours/*.json), and the spatial index
// against a search of every wall on random contours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include <crc/crc.h>

#include "audit/clearance.h"
#include "audit/contour_index.h"
#include "list_host.h"
#include "tool_path.h"

namespace {

using crc::Curve;
using crc::audit::Point;
using crc::audit::Track;

// The '|'-separated, trimmed fields of each row of a table; '#' lines are comments.
std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
  std::ifstream in(std::string(CUTCOMP_AUDIT_DATA) + "/" + name);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, '|');) {
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
      fields.push_back(field);
    }
    rows.push_back(fields);
  }
  EXPECT_FALSE(rows.empty()) << name;
  return rows;
}

double Number(std::istream& in) {
  std::string token;
  in >> token;
  return std::strtod(token.c_str(), nullptr);  // reads "nan" too
}

Point ReadPoint(std::istream& in) {
  const double x = Number(in);
  return {x, Number(in)};
}

// L x0 y0 x1 y1 | A x0 y0 x1 y1 cx cy ccw|cw | F x0 y0 cx cy
Curve ReadCurve(std::istream& in) {
  std::string kind;
  in >> kind;
  Curve c;
  c.arc = kind != "L";
  c.fullCircle = kind == "F";
  c.from = ReadPoint(in);
  c.to = c.fullCircle ? c.from : ReadPoint(in);
  if (c.arc) {
    c.centre = ReadPoint(in);
    std::string sense = "ccw";
    in >> sense;
    c.ccw = sense == "ccw";
  }
  return c;
}

Track TrackOf(const std::string& text) {
  std::istringstream in(text);
  Track track;
  EXPECT_TRUE(crc::audit::MakeTrack(ReadCurve(in), track)) << text;
  return track;
}

// (piece id, wall ordinal, depth) of each gouge, against the expected ones in any order.
using Found = std::vector<std::tuple<std::int64_t, std::size_t, double>>;
void ExpectGouges(Found actual, Found expected) {
  std::sort(actual.begin(), actual.end());
  std::sort(expected.begin(), expected.end());
  std::ostringstream found;
  found.precision(17);
  for (const auto& [piece, wall, depth] : actual) {
    found << " {piece " << piece << ", wall " << wall << ", depth " << depth << "}";
  }
  ASSERT_EQ(actual.size(), expected.size()) << "found:" << found.str();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(std::get<0>(actual[i]), std::get<0>(expected[i]));
    EXPECT_EQ(std::get<1>(actual[i]), std::get<1>(expected[i]));
    EXPECT_NEAR(std::get<2>(actual[i]), std::get<2>(expected[i]), 1e-12);
  }
}

TEST(Audit, DistancesMatchClosedForms) {
  using crc::audit::Closest;
  for (const auto& row : ReadTable("kernels.txt")) {
    SCOPED_TRACE(row[0]);
    ASSERT_GE(row.size(), 5u);
    const Track piece = TrackOf(row[1]);
    const Track wall = TrackOf(row[2]);
    crc::audit::wall_end_t skip = crc::audit::WALL_INTERIOR;
    if (row.size() > 5) {
      skip = row[5] == "start" ? crc::audit::WALL_START : crc::audit::WALL_END;
    }
    const crc::audit::Approach a = Closest(piece, wall, skip);
    const double expected = std::strtod(row[3].c_str(), nullptr);
    EXPECT_NEAR(a.distance, expected, 1e-12);
    // The pair is real: each point lies on its curve, as far apart as reported.
    EXPECT_NEAR(crc::audit::Nearest(a.onPiece, piece).distance, 0.0, 1e-12);
    EXPECT_NEAR(crc::audit::Nearest(a.onWall, wall).distance, 0.0, 1e-12);
    EXPECT_NEAR((a.onPiece - a.onWall).GetLength(), a.distance, 1e-12);
    if (row[4] != "-") {
      std::istringstream at(row[4]);
      const Point p = ReadPoint(at);
      EXPECT_NEAR(a.onWall.x, p.x, 1e-12);
      EXPECT_NEAR(a.onWall.y, p.y, 1e-12);
    }
    if (skip == crc::audit::WALL_INTERIOR) {
      EXPECT_NEAR(Closest(wall, piece, skip).distance, expected, 1e-12) << "not symmetric";
    }
  }
}

TEST(Audit, ReportsGougesNotContacts) {
  for (const auto& row : ReadTable("contacts.txt")) {
    SCOPED_TRACE(row[0]);
    ASSERT_TRUE(row.size() == 4u || row.size() == 5u);
    crc::CGougeAudit audit(1e-9);
    bool accepted = true;
    if (row.size() == 5u && row[4].rfind("feed", 0) == 0) {
      std::istringstream feeds(row[4]);
      std::string word;
      for (Point d; feeds >> word >> d.x >> d.y;) {
        accepted = accepted && audit.AddStockFeed(d);
      }
    } else if (row.size() == 5u) {
      accepted = audit.SetWorkTop(std::strtod(row[4].c_str(), nullptr));
    }
    // A height after '@' at the end of an item: its lowest point along the plane's normal.
    auto low = [](std::string& item) {
      const std::size_t at = item.find('@');
      const double z = at == std::string::npos ? NAN : std::strtod(item.c_str() + at + 1, nullptr);
      item = item.substr(0, at);
      return z;
    };
    std::stringstream contour(row[1]);
    std::int64_t k = 0;
    for (std::string item; std::getline(contour, item, ';'); ++k) {
      crc::ContourSegment segment;
      segment.low = low(item);
      std::istringstream in(item);
      std::string phase;
      in >> phase;
      segment.curve = ReadCurve(in);
      segment.id = 10 * k;
      segment.phase = phase[0] == 'S'   ? crc::CRC_STATUS_ESTABLISH
                      : phase[0] == 'R' ? crc::CRC_STATUS_RETRACT
                      : phase[0] == 'N' ? crc::CRC_STATUS_NONE
                                        : crc::CRC_STATUS_DOING;
      segment.locate = phase[0] == 'P';
      segment.rapid = phase[0] == 'G';
      segment.side = phase.size() < 2  ? crc::CRC_DIR_NONE
                     : phase[1] == 'l' ? crc::CRC_DIR_LEFT
                                       : crc::CRC_DIR_RIGHT;
      segment.radius = 1.0;
      accepted = accepted && audit.AddSegment(segment);
    }
    std::vector<crc::Gouge> gouges;
    std::stringstream pieces(row[2]);
    for (std::string item; std::getline(pieces, item, ';');) {
      crc::ToolPiece piece;
      piece.low = low(item);
      std::istringstream in(item);
      in >> piece.id;
      piece.id = piece.id < 0 ? -1 : 10 * piece.id;
      piece.tool = ReadCurve(in);
      piece.radius = 1.0;
      accepted = accepted && audit.AuditPiece(piece, nullptr, &gouges);
    }
    if (row[3] == "refused") {
      EXPECT_FALSE(accepted);
      EXPECT_FALSE(audit.GetLatestError().empty());
      continue;
    }
    ASSERT_TRUE(accepted) << audit.GetLatestError();
    // WALL@DEPTH, or WALL@DEPTH/KIND with the number of the kind of move it comes from.
    Found expected;
    std::vector<std::pair<std::size_t, int>> kinds;
    std::istringstream want(row[3] == "none" ? "" : row[3]);
    for (std::string g; want >> g;) {
      expected.emplace_back(0, std::stoul(g), std::strtod(g.c_str() + g.find('@') + 1, nullptr));
      const std::size_t slash = g.find('/');
      if (slash != std::string::npos) {
        kinds.emplace_back(std::stoul(g), std::stoi(g.substr(slash + 1)));
      }
    }
    Found actual;
    for (const crc::Gouge& g : gouges) {
      actual.emplace_back(0, g.segment, g.depth);
      EXPECT_EQ(g.segmentId, static_cast<std::int64_t>(10 * g.segment));
      for (const auto& [wall, kind] : kinds) {
        if (wall == g.segment) {
          EXPECT_EQ(static_cast<int>(g.kind), kind) << "the gouge of wall " << wall;
        }
      }
    }
    ExpectGouges(actual, expected);
    EXPECT_EQ(audit.GetSummary().gouges, gouges.size());
  }
}

crc::__point2<double> JsonPoint(const nlohmann::json& p) { return {p.at(0), p.at(1)}; }

// Whole contours: each run compensated by the engine through the host (left side; start-up and
// cancel by the run's "strategy", normal by default; evasion when "evade" is set), the contour of
// every run given first, then the whole path audited.
TEST(Audit, EngineRunsGougeWhereExpected) {
  // CUTCOMP_AUDIT_CONTOURS names another folder, or one file, to replay without rebuilding.
  const char* other = std::getenv("CUTCOMP_AUDIT_CONTOURS");
  const std::filesystem::path folder =
      other != nullptr ? other : std::string(CUTCOMP_AUDIT_DATA) + "/contours";
  std::vector<std::filesystem::path> paths{folder};
  if (std::filesystem::is_directory(folder)) {
    paths.assign(std::filesystem::directory_iterator(folder), {});
  }
  int files = 0;
  for (const std::filesystem::path& file : paths) {
    ++files;
    SCOPED_TRACE(file.filename().string());
    const nlohmann::json doc = nlohmann::json::parse(std::ifstream(file));
    crc::CGougeAudit audit(doc.at("tolerance").get<double>());
    std::vector<crc::ToolPiece> pieces;
    std::int64_t id = 0;
    for (const nlohmann::json& run : doc.at("runs")) {
      const double radius = run.at("radius");
      const std::int64_t first = id;
      std::vector<std::unique_ptr<crc::CCrcNode>> program;
      for (const nlohmann::json& s : run.at("segments")) {
        const std::string phase = s.at("phase");
        crc::ContourSegment segment;
        segment.id = id++;
        segment.phase = phase == "S"   ? crc::CRC_STATUS_ESTABLISH
                        : phase == "R" ? crc::CRC_STATUS_RETRACT
                                       : crc::CRC_STATUS_DOING;
        Curve& c = segment.curve;
        c.arc = s.contains("arc");
        if (c.arc) {
          const nlohmann::json& a = s.at("arc");
          c.from = JsonPoint(a.at("from"));
          c.to = JsonPoint(a.at("to"));
          c.centre = JsonPoint(a.at("centre"));
          c.ccw = a.at("sense") == "ccw";
          program.push_back(std::make_unique<crc::CCrcArc>(c.centre, c.from, c.to,
                                                           (c.from - c.centre).GetLength(), c.ccw,
                                                           segment.phase, crc::CRC_DIR_LEFT));
        } else {
          c.from = JsonPoint(s.at("line").at(0));
          c.to = JsonPoint(s.at("line").at(1));
          program.push_back(std::make_unique<crc::CCrcLine>(c.from, c.to, segment.phase,
                                                            crc::CRC_DIR_LEFT, false));
        }
        ASSERT_TRUE(audit.AddSegment(segment)) << audit.GetLatestError();
      }
      const std::string strategy = run.value("strategy", "normal");
      crc::CCutterCompensator engine(radius, nullptr, run.value("lookBehind", 3u),
                                     strategy == "insert"      ? crc::CRC_TYPE_INSERT
                                     : strategy == "intersect" ? crc::CRC_TYPE_INTERSECT
                                                               : crc::CRC_TYPE_NORMAL);
      engine.SetInterveneEvade(run.value("evade", false));
      const cutcomp::HostRun result = cutcomp::RunProgram(engine, std::move(program));
      ASSERT_TRUE(result.ok) << result.failure.message;
      for (const cutcomp::HostSegment& segment : result.segments) {
        const cutcomp::PathPiece p = cutcomp::ReadPiece(segment);
        if (!p.dropped && (p.inserted || !p.offsetUnset)) {
          pieces.push_back({p.tool, radius, first + p.id});
        }
      }
    }
    std::vector<crc::Gouge> gouges;
    for (const crc::ToolPiece& piece : pieces) {
      ASSERT_TRUE(audit.AuditPiece(piece, nullptr, &gouges)) << audit.GetLatestError();
    }
    Found actual;
    for (const crc::Gouge& g : gouges) {
      actual.emplace_back(g.pieceId, g.segment, g.depth);
    }
    Found expected;
    for (const nlohmann::json& g : doc.at("gouges")) {
      expected.emplace_back(g.at("piece"), g.at("wall"), g.at("depth"));
    }
    ExpectGouges(actual, expected);
  }
  EXPECT_GT(files, 0);
}

// The cheap tests that set pairs aside unmeasured, against the exact distance d, on random pairs
// and on pairs in contact (a wall's offset, concentric arcs, shared ends): at a limit just above
// d no test may claim the pair lies that far apart, and whatever they set aside at a limit
// below d must measure at least that limit. Lines against lines go through the band about the
// piece and the wall's line as the scan uses them.
TEST(Audit, CheapTestsNeverSetAsideWhatComesWithinTheLimit) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  auto point = [&](double size) { return Point(unit(random), unit(random)) * size; };
  auto curve = [&](const Point& from, double size) {
    Curve c;
    c.from = from;
    c.to = from + point(size);
    c.arc = unit(random) < 0.0;
    const Point chord = c.to - c.from;
    c.centre = (c.from + c.to) * 0.5 + Point(-chord.y, chord.x) * unit(random);
    c.ccw = unit(random) < 0.0;
    return c;
  };
  int setAside = 0;
  for (int i = 0; i < 200000; ++i) {
    Track wall;
    ASSERT_TRUE(crc::audit::MakeTrack(curve(point(50.0), 10.0 * std::fabs(unit(random))), wall));
    Curve c = curve(point(50.0), 10.0 * std::fabs(unit(random)));
    const double offset = 3.0 * unit(random);
    if (i % 3 == 0) {  // the wall's offset: at its radius from the wall and its neighbours
      c.arc = wall.arc;
      c.centre = wall.centre;
      c.ccw = wall.ccw;
      const Point n = wall.arc ? Point() : Point(wall.from.y - wall.to.y, wall.to.x - wall.from.x);
      const double f = wall.arc ? (wall.radius + offset) / wall.radius : 0.0;
      c.from = wall.arc ? wall.centre + (wall.from - wall.centre) * f
                        : wall.from + n * (offset / std::sqrt(crc::audit::Dot(n, n)));
      c.to = wall.arc ? wall.centre + (wall.to - wall.centre) * f : c.from + (wall.to - wall.from);
    } else if (i % 3 == 1) {  // leading off the wall's end
      c.from = wall.to;
    }
    Track piece;
    if (!crc::audit::MakeTrack(c, piece) || !(wall.arc || !(wall.from == wall.to))) {
      continue;
    }
    const double d = crc::audit::Closest(piece, wall, crc::audit::WALL_INTERIOR).distance;
    const double scale = 0x1p-40 * 80.0;
    for (const double limit : {d + 1e-9, d * (1.0 - 1e-9), d * unit(random) + d}) {
      const crc::audit::Probe probe = crc::audit::MakeProbe(piece, limit);
      bool apart = crc::audit::ApartBy(probe, wall);
      if (!piece.arc && !wall.arc && probe.length2 > 0.0) {
        const crc::audit::Band band(probe);
        apart = apart || band.Apart(band.Of(wall.from), band.Of(wall.to)) ||
                crc::audit::AcrossWall(probe, wall.from, wall.to);
      }
      setAside += apart ? 1 : 0;
      EXPECT_FALSE(apart && d < limit - scale)
          << "pair " << i << ": set aside at " << limit << " but " << d << " apart";
    }
  }
  EXPECT_GT(setAside, 100000);  // the tests do set most pairs aside
}

// A box rounded outward to floats all at once is the one rounded a coordinate at a time, over
// every size a coordinate may have (beyond the float range and below its smallest normal too).
TEST(Audit, BoxRoundsOutwardLikeEachCoordinate) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  auto value = [&] { return unit(random) * std::pow(10.0, 100.0 * unit(random)); };
  for (int i = 0; i < 100000; ++i) {
    const crc::audit::Box b{value(), value(), value(), value()};
    const crc::audit::FloatBox f = crc::audit::Outward(b);
    ASSERT_EQ(f.minX, crc::audit::FloatBelow(b.minX)) << b.minX;
    ASSERT_EQ(f.minY, crc::audit::FloatBelow(b.minY)) << b.minY;
    ASSERT_EQ(f.maxX, crc::audit::FloatAbove(b.maxX)) << b.maxX;
    ASSERT_EQ(f.maxY, crc::audit::FloatAbove(b.maxY)) << b.maxY;
  }
}

// Random contours (scattered, chained short steps, chained mixed steps, and a long chain under
// pieces whose reach spans most of it), a fifth arcs and some segments outside compensation.
// Pieces: random ones, and offsets of walls at about their radius, which meet the wall and its
// corner neighbours right at the limit where the cheap tests must prove the clearance. Every
// gouge and every nearest wall must be exactly what measuring the piece against every wall
// with the exact kernel gives.
TEST(Audit, FindsWhatMeasuringEveryWallGives) {
  std::mt19937_64 random(12);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto curve = [&](Point from, double step) {
    Curve c;
    c.from = from;
    c.to = from + Point(unit(random) - 0.5, unit(random) - 0.5) * step;
    if (unit(random) < 0.2) {
      const Point chord = c.to - c.from;
      c.arc = true;
      c.ccw = unit(random) < 0.5;
      c.centre = (c.from + c.to) * 0.5 + Point(-chord.y, chord.x) * (2.0 * unit(random) - 1.0);
    }
    return c;
  };
  constexpr double TOLERANCE = 1e-6;
  for (int set = 0; set < 4; ++set) {
    crc::CGougeAudit audit(TOLERANCE);
    std::vector<crc::ContourSegment> contour;
    std::vector<Track> tracks;
    Point at(50.0, 50.0);
    for (int k = 0; k < (set < 3 ? 500 : 6000); ++k) {
      const Point from = set == 0 ? Point(100.0 * unit(random), 100.0 * unit(random)) : at;
      const double step = set % 2 == 1 || unit(random) < 0.9 ? 4.0 : 60.0;
      contour.push_back({curve(from, step), k, crc::CRC_STATUS_DOING, false});
      contour.back().phase = k % 9 == 4 ? crc::CRC_STATUS_NONE : crc::CRC_STATUS_DOING;
      ASSERT_TRUE(audit.AddSegment(contour.back())) << audit.GetLatestError();
      tracks.emplace_back();
      crc::audit::MakeTrack(contour.back().curve, tracks.back());
      at = contour.back().curve.to;
    }
    for (int i = 0; i < (set < 3 ? 600 : 20); ++i) {
      // Pieces attached to no segment: the engine's smooth-joint allowance, which needs the
      // piece's own segment, is left to the contact rows.
      crc::ToolPiece piece{curve(Point(100.0 * unit(random), 100.0 * unit(random)), 20.0),
                           (set < 3 ? 5.0 : 60.0) * unit(random) + 0.2, -1};
      const crc::ContourSegment& s = contour[random() % contour.size()];
      const Track& w = tracks[static_cast<std::size_t>(s.id)];
      if (i % 2 == 1 && crc::CGougeAudit::IsWall(s) && (w.arc || !(w.from == w.to))) {
        // The wall's offset at the radius, or up to two tolerances nearer or farther.
        const double side = unit(random) < 0.5 ? 1.0 : -1.0;
        const double offset = side * (piece.radius + TOLERANCE * double(int(random() % 5) - 2));
        crc::Curve& t = piece.tool;
        t = s.curve;
        if (!w.arc) {
          const Point n =
              Point(w.from.y - w.to.y, w.to.x - w.from.x) * (1.0 / (w.to - w.from).GetLength());
          t.from = w.from + n * offset;
          t.to = w.to + n * offset;
        } else if (w.radius + offset > 0.0) {
          t.from = w.centre + (w.from - w.centre) * ((w.radius + offset) / w.radius);
          t.to = w.centre + (w.to - w.centre) * ((w.radius + offset) / w.radius);
        }
      }
      Track track;
      ASSERT_TRUE(crc::audit::MakeTrack(piece.tool, track));
      std::vector<crc::Gouge> expected;
      double nearest = std::numeric_limits<double>::infinity();
      for (std::size_t k = 0; k < tracks.size(); ++k) {
        const crc::audit::Approach a =
            crc::audit::Closest(track, tracks[k], crc::audit::WALL_INTERIOR);
        if (crc::CGougeAudit::IsWall(contour[k]) && a.distance < piece.radius - TOLERANCE) {
          expected.push_back({0, 0, k, 0, a.onPiece, a.onWall, a.distance, 0.0});
        }
        if (crc::CGougeAudit::IsWall(contour[k]) && a.distance <= piece.radius + TOLERANCE) {
          nearest = std::min(nearest, a.distance);
        }
      }
      crc::PieceClearance got;
      for (crc::PieceClearance* clearance : {&got, static_cast<crc::PieceClearance*>(nullptr)}) {
        std::vector<crc::Gouge> gouges;
        ASSERT_TRUE(audit.AuditPiece(piece, clearance, &gouges)) << audit.GetLatestError();
        std::sort(gouges.begin(), gouges.end(),
                  [](auto& a, auto& b) { return a.segment < b.segment; });
        ASSERT_EQ(gouges.size(), expected.size()) << "set " << set << " piece " << i;
        for (std::size_t g = 0; g < gouges.size(); ++g) {
          EXPECT_EQ(gouges[g].segment, expected[g].segment);
          EXPECT_EQ(gouges[g].clearance, expected[g].clearance);
          EXPECT_EQ(gouges[g].toolPoint, expected[g].toolPoint);
          EXPECT_EQ(gouges[g].wallPoint, expected[g].wallPoint);
        }
      }
      EXPECT_EQ(got.clearance, nearest) << "set " << set << " piece " << i;
    }
  }
}

}  // namespace
