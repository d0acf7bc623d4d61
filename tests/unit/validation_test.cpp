// SPDX-License-Identifier: MIT
// Input validation: the plane-motion test, every rejection rule in its order with its message,
// the inner-radius rule at its boundary, and the side swap used for a negative radius.
#include <functional>

#include "compensator/messages.h"
#include "test_support.h"
#include "unit_builders.h"

namespace {

using cutcomp::test::ArcAt;
using cutcomp::test::kPi;
using cutcomp::test::Line;
using cutcomp::test::OpenCompensator;
using cutcomp::test::Point;
using cutcomp::test::RecordingTranslator;
using NodePtr = std::unique_ptr<crc::CCrcNode>;

constexpr crc::crc_status_t kUp = crc::CRC_STATUS_ESTABLISH;
constexpr crc::crc_status_t kIn = crc::CRC_STATUS_DOING;
constexpr crc::crc_status_t kOff = crc::CRC_STATUS_RETRACT;
constexpr crc::crc_dir_t kLeft = crc::CRC_DIR_LEFT;
constexpr crc::crc_dir_t kRight = crc::CRC_DIR_RIGHT;
constexpr crc::crc_dir_t kNone = crc::CRC_DIR_NONE;

NodePtr Ln(crc::crc_status_t status, crc::crc_dir_t side = kLeft) {
  return Line(Point(0, 0), Point(10, 0), status, side);
}
NodePtr Zero(crc::crc_status_t status) { return Line(Point(5, 5), Point(5, 5), status, kLeft); }
// A quarter arc of radius R about the origin.
NodePtr Ar(crc::crc_status_t status, crc::crc_dir_t side, bool ccw, double radius) {
  return ArcAt(Point(0, 0), radius, 0.0, kPi / 2, ccw, side, status);
}
NodePtr None() { return nullptr; }

struct RuleCase {
  const char* name;
  std::function<NodePtr()> node;
  std::function<NodePtr()> next;
  crc::crc_t type;
  bool established;
  int code;  // 0: accepted
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class CheckErrorRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(CheckErrorRules, FirstRuleThatFiresDecidesTheMessage) {
  const RuleCase& c = GetParam();
  OpenCompensator engine(5.0, nullptr, 3, c.type);
  engine.SetEstablish(c.established);
  NodePtr node = c.node();
  NodePtr next = c.next();
  const crc::crc_dir_t sideBefore = node ? node->GetCrcDirType() : kNone;

  const bool ok = engine.CheckError(node.get(), next.get());
  EXPECT_EQ(ok, c.code == 0);
  EXPECT_EQ(engine.GetLatestErrorCode(), c.code);
  if (c.code != 0) {
    EXPECT_EQ(engine.GetLatestError(), crc::FindMessage(c.code)->text);
  } else {
    EXPECT_EQ(engine.GetLatestError(), "");
  }
  // Validation changes no segment.
  if (node) {
    EXPECT_EQ(node->GetCrcDirType(), sideBefore);
  }
  EXPECT_EQ(engine.GetCrcRadius(), 5.0);
}

constexpr crc::crc_t kNormal = crc::CRC_TYPE_NORMAL;
constexpr crc::crc_t kIntersect = crc::CRC_TYPE_INTERSECT;
constexpr crc::crc_t kInsert = crc::CRC_TYPE_INSERT;

INSTANTIATE_TEST_SUITE_P(
    Rules, CheckErrorRules,
    ::testing::Values(
        // No plane motion, in any phase.
        RuleCase{"NullNode", None, [] { return Ln(kIn); }, kNormal, true, 16},
        RuleCase{"ZeroStartUpInsert", [] { return Zero(kUp); }, None, kInsert, true, 16},
        RuleCase{"ZeroDoing", [] { return Zero(kIn); }, [] { return Ln(kIn); }, kNormal, true, 16},
        RuleCase{"ZeroSweepArc", [] { return ArcAt(Point(0, 0), 5.0, 1.0, 0.0, true, kLeft, kIn); },
                 None, kNormal, true, 16},
        // Start-up.
        RuleCase{"StartUpAccepted", [] { return Ln(kUp); }, [] { return Ln(kIn); }, kNormal, false,
                 0},
        RuleCase{"StartUpZeroNext", [] { return Ln(kUp); }, [] { return Zero(kIn); }, kNormal,
                 false, 3},
        RuleCase{"StartUpZeroNextBeforeArc", [] { return Ar(kUp, kLeft, false, 10); },
                 [] { return Zero(kIn); }, kNormal, false, 3},
        RuleCase{"StartUpArcNormal", [] { return Ar(kUp, kLeft, false, 10); },
                 [] { return Ln(kIn); }, kNormal, false, 4},
        RuleCase{"StartUpArcBeforeSidelessNext", [] { return Ar(kUp, kLeft, false, 10); },
                 [] { return Ln(kIn, kNone); }, kNormal, false, 4},
        RuleCase{"StartUpSidelessNext", [] { return Ln(kUp); }, [] { return Ln(kIn, kNone); },
                 kNormal, false, 13},
        // The inserting start-up accepts anything after a plane motion.
        RuleCase{"StartUpArcInsert", [] { return Ar(kUp, kLeft, false, 10); },
                 [] { return Ln(kIn, kNone); }, kInsert, false, 0},
        RuleCase{"StartUpInsertNoNext", [] { return Ln(kUp); }, None, kInsert, false, 0},
        // In progress.
        RuleCase{"DoingUnestablished", [] { return Ln(kIn); }, [] { return Ln(kIn); }, kNormal,
                 false, 2},
        RuleCase{"DoingUnestablishedBeforeZeroNext", [] { return Ln(kIn); },
                 [] { return Zero(kIn); }, kNormal, false, 2},
        RuleCase{"DoingWithoutNext", [] { return Ar(kIn, kLeft, true, 1); }, None, kNormal, true,
                 0},
        RuleCase{"DoingZeroNext", [] { return Ln(kIn); }, [] { return Zero(kOff); }, kNormal, true,
                 6},
        RuleCase{"DoingZeroNextBeforeInnerRadius", [] { return Ar(kIn, kLeft, true, 5); },
                 [] { return Zero(kIn); }, kNormal, true, 6},
        RuleCase{"DoingAccepted", [] { return Ln(kIn); }, [] { return Ln(kOff); }, kNormal, true,
                 0},
        // Inner-radius rule, cutter radius 5: the tool inside an arc of radius 5 fails.
        RuleCase{"InnerCcwLeftEqual", [] { return Ar(kIn, kLeft, true, 5); },
                 [] { return Ln(kIn); }, kNormal, true, 5},
        RuleCase{"InnerCwRightEqual", [] { return Ar(kIn, kRight, false, 5); },
                 [] { return Ln(kIn); }, kNormal, true, 5},
        RuleCase{"InnerBoundaryJustInside", [] { return Ar(kIn, kLeft, true, 5 + 0.9e-6); },
                 [] { return Ln(kIn); }, kNormal, true, 5},
        RuleCase{"InnerBoundaryJustOutside", [] { return Ar(kIn, kLeft, true, 5 + 1.1e-6); },
                 [] { return Ln(kIn); }, kNormal, true, 0},
        // Outside the arc, or without a side, any radius passes.
        RuleCase{"OuterCcwRight", [] { return Ar(kIn, kRight, true, 1); }, [] { return Ln(kIn); },
                 kNormal, true, 0},
        RuleCase{"SidelessArc", [] { return Ar(kIn, kNone, true, 1); }, [] { return Ln(kIn); },
                 kNormal, true, 0},
        // The successor is checked too.
        RuleCase{"InnerNext", [] { return Ln(kIn); }, [] { return Ar(kIn, kLeft, true, 5); },
                 kNormal, true, 5},
        // Cancel.
        RuleCase{"CancelLine", [] { return Ln(kOff); }, None, kNormal, false, 0},
        RuleCase{"CancelArcNormal", [] { return Ar(kOff, kLeft, true, 10); }, None, kNormal, true,
                 9},
        RuleCase{"CancelArcInsert", [] { return Ar(kOff, kLeft, true, 10); }, None, kInsert, true,
                 0},
        // A strategy outside the enum is not the inserting one.
        RuleCase{"CancelArcUnknownStrategy", [] { return Ar(kOff, kLeft, true, 10); }, None,
                 static_cast<crc::crc_t>(9), true, 9},
        // A phase outside the enum passes validation (the driver refuses it later).
        RuleCase{"UnknownPhase", [] { return Ln(static_cast<crc::crc_status_t>(7)); }, None,
                 kNormal, false, 0}),
    cutcomp::test::CaseName());

TEST(PlaneMove, LengthMustReachEpsilon) {
  OpenCompensator engine(5.0, nullptr);
  EXPECT_FALSE(engine.IsCRCPlaneMove(Line(Point(0, 0), Point(0, 0)).get()));
  EXPECT_FALSE(engine.IsCRCPlaneMove(Line(Point(0, 0), Point(9e-7, 0)).get()));
  // Exactly EPSILON is not "equal to zero within EPSILON" (strict).
  EXPECT_TRUE(engine.IsCRCPlaneMove(Line(Point(0, 0), Point(0, 1e-6)).get()));
  EXPECT_TRUE(engine.IsCRCPlaneMove(Line(Point(0, 0), Point(3, 4)).get()));
  // An arc's length is its swept angle times its radius.
  EXPECT_FALSE(engine.IsCRCPlaneMove(ArcAt(Point(0, 0), 1e-3, 0, 5e-4, true).get()));
  EXPECT_TRUE(engine.IsCRCPlaneMove(ArcAt(Point(0, 0), 1e-3, 0, 2e-3, true).get()));
}

TEST(ChangeCrcType, SwapsRealSidesNegatesRadiusAndUndoesItselfWhenRepeated) {
  OpenCompensator engine(5.0, nullptr);
  auto left = Ln(kIn, kLeft);
  auto right = Ln(kIn, kRight);
  engine.ChangeCrcType(left.get(), right.get());
  EXPECT_EQ(left->GetCrcDirType(), kRight);
  EXPECT_EQ(right->GetCrcDirType(), kLeft);
  EXPECT_EQ(engine.GetCrcRadius(), -5.0);
  engine.ChangeCrcType(left.get(), right.get());
  EXPECT_EQ(left->GetCrcDirType(), kLeft);
  EXPECT_EQ(right->GetCrcDirType(), kRight);
  EXPECT_EQ(engine.GetCrcRadius(), 5.0);
}

TEST(ChangeCrcType, LeavesSidelessAndMissingSegmentsButStillNegatesTheRadius) {
  OpenCompensator engine(-2.5, nullptr);
  engine.ChangeCrcType(nullptr, nullptr);
  EXPECT_EQ(engine.GetCrcRadius(), 2.5);

  auto sideless = Ln(kIn, kNone);
  engine.ChangeCrcType(sideless.get(), nullptr);
  EXPECT_EQ(sideless->GetCrcDirType(), kNone);
  EXPECT_EQ(engine.GetCrcRadius(), -2.5);

  // Any side other than left becomes left.
  auto odd = Ln(kIn, static_cast<crc::crc_dir_t>(4));
  engine.ChangeCrcType(nullptr, odd.get());
  EXPECT_EQ(odd->GetCrcDirType(), kLeft);
}

// A negative radius swaps the sides before validation: an arc whose outside is named becomes
// an inside arc, and the inner-radius rule refuses it. Sides and radius read as before.
TEST(NegativeRadiusValidation, SwappedSideIsValidatedAndRestored) {
  RecordingTranslator host;
  auto arc = Ar(kIn, kRight, true, 5);
  auto after = Line(Point(0, 5), Point(-10, 5), kIn, kRight);
  host.sequence = {arc.get(), after.get()};

  OpenCompensator positive(5.0, &host);
  positive.SetEstablish(true);
  EXPECT_TRUE(positive.CheckError(arc.get(), after.get()));

  OpenCompensator negative(-5.0, &host);
  negative.SetEstablish(true);
  EXPECT_FALSE(negative.AdjustNode(arc.get()));
  EXPECT_EQ(negative.GetLatestErrorCode(), 5);
  EXPECT_EQ(arc->GetCrcDirType(), kRight);
  EXPECT_EQ(after->GetCrcDirType(), kRight);
  EXPECT_EQ(negative.GetCrcRadius(), -5.0);
  EXPECT_FALSE(arc->HasBeenCrc());
}

}  // namespace
