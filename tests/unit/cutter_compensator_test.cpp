// SPDX-License-Identifier: MIT
// The compensator frame and driver: copying, the refusals that come before any geometry,
// pass-through of finished segments, start-up without and with a successor, and the
// look-behind list's capacity and ownership.
#include <crc/compensator/cutter_compensator.h>

#include "test_support.h"

namespace {

using cutcomp::test::Line;
using cutcomp::test::Point;
using cutcomp::test::PointEq;
using cutcomp::test::PointNear;
using cutcomp::test::RecordingTranslator;
using cutcomp::test::Unset;

constexpr double kTol = 1e-9;

// Counts how often the engine asks for a successor.
class CountingTranslator : public RecordingTranslator {
public:
  int asks = 0;
  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override {
    ++asks;
    return RecordingTranslator::GetNextNode(node);
  }
};

// A compensator whose look-behind entries the tests may inspect.
class ListProbe : public crc::CCutterCompensator {
public:
  using CCutterCompensator::CCutterCompensator;
  std::vector<const crc::CCrcNode*> Entries() const {
    std::vector<const crc::CCrcNode*> entries;
    for (const auto& entry : m_NodeList) {
      entries.push_back(entry.get());
    }
    return entries;
  }
};

std::unique_ptr<crc::CCrcLine> Doing(Point from, Point to) {
  return Line(from, to, crc::CRC_STATUS_DOING, crc::CRC_DIR_LEFT);
}

// ---- Settings and copying -------------------------------------------------------------------

void ExpectSameSettings(const crc::CCutterCompensator& copy,
                        const crc::CCutterCompensator& source) {
  EXPECT_EQ(copy.GetCrcRadius(), source.GetCrcRadius());
  EXPECT_EQ(copy.GetCrcType(), source.GetCrcType());
  EXPECT_EQ(copy.GetListSize(), source.GetListSize());
  EXPECT_EQ(copy.GetInterveneEvade(), source.GetInterveneEvade());
  EXPECT_EQ(copy.GetCrcPreRetractOption(), source.GetCrcPreRetractOption());
  EXPECT_EQ(copy.GetEstablish(), source.GetEstablish());
  EXPECT_EQ(copy.GetLatestError(), source.GetLatestError());
  EXPECT_EQ(copy.GetLatestErrorCode(), source.GetLatestErrorCode());
}

// A source with every setting away from its default, a stored message and two list entries.
ListProbe MakeSource(RecordingTranslator* host, const crc::CCrcNode& a, const crc::CCrcNode& b) {
  ListProbe source(3.5, host, 4, crc::CRC_TYPE_INTERSECT);
  source.SetInterveneEvade(true);
  source.SetCrcPreRetractOption(1);
  source.SetEstablish(true);
  source.AddToList(&a);
  source.AddToList(&b);
  return source;
}

TEST(CompensatorCopy, CopyConstructionCopiesSettingsAndClonesTheList) {
  RecordingTranslator host;
  auto a = Doing(Point(0, 0), Point(1, 0));
  auto b = Doing(Point(1, 0), Point(2, 0));
  auto source = std::make_unique<ListProbe>(MakeSource(&host, *a, *b));
  EXPECT_FALSE(source->AdjustNode(Doing(Point(0, 0), Point(0, 0)).get()));  // stores a message
  ListProbe copy(*source);
  ExpectSameSettings(copy, *source);
  EXPECT_NE(copy.GetLatestError(), "");

  const auto sourceEntries = source->Entries();
  const auto copyEntries = copy.Entries();
  ASSERT_EQ(copyEntries.size(), 2U);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE(copyEntries[i], sourceEntries[i]);  // own clones, not shared entries
    EXPECT_THAT(copyEntries[i]->GetStartPoint(), PointEq(sourceEntries[i]->GetStartPoint()));
  }
  // The source deletes its entries; the copy's must survive that (ASan checks the reads).
  source.reset();
  EXPECT_THAT(copyEntries[1]->GetEndPoint(), PointEq(Point(2, 0)));
}

TEST(CompensatorCopy, AssignmentReplacesSettingsAndDisposesOfTheOldEntries) {
  RecordingTranslator host;
  auto a = Doing(Point(0, 0), Point(1, 0));
  auto b = Doing(Point(1, 0), Point(2, 0));
  ListProbe source = MakeSource(&host, *a, *b);
  ListProbe target(9.0, nullptr, 2, crc::CRC_TYPE_NORMAL);
  auto old = Doing(Point(5, 5), Point(6, 6));
  target.AddToList(old.get());
  target.AddToList(old.get());

  target = source;  // the old clones must be freed (LSan reports a leak otherwise)
  ExpectSameSettings(target, source);
  const auto entries = target.Entries();
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_THAT(entries[0]->GetStartPoint(), PointEq(Point(0, 0)));
  EXPECT_NE(entries[0], source.Entries()[0]);

  const ListProbe& alias = target;
  target = alias;  // self-assignment keeps everything
  EXPECT_EQ(target.GetListCount(), 2U);
  EXPECT_THAT(target.Entries()[1]->GetStartPoint(), PointEq(Point(1, 0)));
}

// ---- Refusals before any geometry -----------------------------------------------------------

TEST(CompensatorDriver, MissingTranslatorIsMessageOneEvenOnADefaultEngine) {
  auto line = Doing(Point(0, 0), Point(10, 0));
  crc::CCutterCompensator plain;
  EXPECT_FALSE(plain.AdjustNode(line.get()));
  EXPECT_EQ(plain.GetLatestErrorCode(), 1);

  crc::CCutterCompensator withRadius(5.0, nullptr);
  EXPECT_FALSE(withRadius.AdjustNode(line.get()));
  EXPECT_EQ(withRadius.GetLatestErrorCode(), 1);
  // The translator is checked before the node.
  EXPECT_FALSE(withRadius.AdjustNode(nullptr));
  EXPECT_EQ(withRadius.GetLatestErrorCode(), 1);
  EXPECT_THAT(line->GetStartPointMoved(), PointEq(Unset()));
}

TEST(CompensatorDriver, UnsetOrZeroRadiusFailsSilently) {
  CountingTranslator host;
  auto line = Doing(Point(0, 0), Point(10, 0));
  auto next = Doing(Point(10, 0), Point(20, 0));
  host.sequence = {line.get(), next.get()};
  for (double radius : {crc::INVALID_VALUE, 0.0, 5e-7, -5e-7}) {
    crc::CCutterCompensator engine(radius, &host);
    engine.SetEstablish(true);
    EXPECT_FALSE(engine.AdjustNode(line.get())) << radius;
    EXPECT_EQ(engine.GetLatestError(), "") << radius;
    // The node is checked after the radius: no message for a null node either.
    EXPECT_FALSE(engine.AdjustNode(nullptr));
    EXPECT_EQ(engine.GetLatestErrorCode(), 0);
  }
  EXPECT_EQ(host.asks, 0);
  EXPECT_THAT(line->GetStartPointMoved(), PointEq(Unset()));
  EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  EXPECT_FALSE(line->HasBeenCrc());

  // A default engine given a translator but no radius: false and still no message.
  crc::CCutterCompensator unset;
  unset.SetTranslator(&host);
  EXPECT_FALSE(unset.AdjustNode(line.get()));
  EXPECT_EQ(unset.GetLatestError(), "");
}

TEST(CompensatorDriver, FinishedSegmentPassesThroughUntouched) {
  CountingTranslator host;
  // Not established: without the finished flag this segment would be refused with message 2.
  auto done = Doing(Point(0, 0), Point(10, 0));
  auto next = Doing(Point(10, 0), Point(20, 0));
  done->SetHasBeenCrc(true);
  done->SetStartPointMoved(Point(1, 2));
  host.sequence = {done.get(), next.get()};
  crc::CCutterCompensator engine(1.0, &host);
  EXPECT_TRUE(engine.AdjustNode(done.get()));
  EXPECT_EQ(host.asks, 0);
  EXPECT_THAT(done->GetStartPointMoved(), PointEq(Point(1, 2)));
  EXPECT_THAT(done->GetEndPointMoved(), PointEq(Unset()));
  EXPECT_THAT(next->GetIntersectPoint(), PointEq(Unset()));
  EXPECT_EQ(engine.GetListCount(), 0U);
  EXPECT_FALSE(engine.GetEstablish());
}

TEST(CompensatorDriver, CancelSegmentDoesNotAskForASuccessor) {
  CountingTranslator host;
  auto cancel = Line(Point(0, 0), Point(0, -5), crc::CRC_STATUS_RETRACT);
  auto after = Doing(Point(0, -5), Point(10, -5));
  host.sequence = {cancel.get(), after.get()};
  crc::CCutterCompensator engine(1.0, &host);
  engine.SetEstablish(true);
  engine.AdjustNode(cancel.get());
  EXPECT_EQ(host.asks, 0);
}

TEST(CompensatorDriver, NullTranslatorDoesNotReplaceTheCurrentOne) {
  CountingTranslator first;
  CountingTranslator second;
  auto startUp = Line(Point(0, 0), Point(5, 0), crc::CRC_STATUS_ESTABLISH);
  crc::CCutterCompensator engine(1.0, &first);
  engine.SetTranslator(nullptr);
  EXPECT_TRUE(engine.AdjustNode(startUp.get()));  // no successor yet: passed through
  EXPECT_EQ(first.asks, 1);
  engine.SetTranslator(&second);
  EXPECT_TRUE(engine.AdjustNode(startUp.get()));
  EXPECT_EQ(first.asks, 1);
  EXPECT_EQ(second.asks, 1);
}

TEST(CompensatorDriver, PhaseOutsideTheEnumFailsSilently) {
  RecordingTranslator host;
  auto odd = Line(Point(0, 0), Point(10, 0), static_cast<crc::crc_status_t>(7));
  host.sequence = {odd.get()};
  crc::CCutterCompensator engine(1.0, &host);
  engine.SetEstablish(true);
  EXPECT_FALSE(engine.AdjustNode(odd.get()));
  EXPECT_EQ(engine.GetLatestErrorCode(), 0);
  EXPECT_FALSE(odd->HasBeenCrc());
}

// After validation the segment and then its successor must accept the radius. A side-less arc
// passes the inner-radius rule but has no offset radius.
TEST(CompensatorDriver, SegmentOrSuccessorThatCannotBeOffsetIsRefused) {
  RecordingTranslator host;
  auto line = Doing(Point(0, 0), Point(10, 0));
  auto sidelessArc = cutcomp::test::Arc(Point(10, 5), Point(10, 0), Point(15, 5), true,
                                        crc::CRC_STATUS_DOING, crc::CRC_DIR_NONE);
  host.sequence = {line.get(), sidelessArc.get()};
  crc::CCutterCompensator engine(1.0, &host);
  engine.SetEstablish(true);
  EXPECT_FALSE(engine.AdjustNode(line.get()));
  EXPECT_EQ(engine.GetLatestErrorCode(), 5);
  EXPECT_THAT(line->GetEndPointMoved(), PointEq(Unset()));
  EXPECT_THAT(sidelessArc->GetIntersectPoint(), PointEq(Unset()));

  crc::CCutterCompensator other(1.0, &host);
  other.SetEstablish(true);
  EXPECT_FALSE(other.AdjustNode(sidelessArc.get()));  // last in the sequence: no successor
  EXPECT_EQ(other.GetLatestErrorCode(), 5);
  EXPECT_FALSE(sidelessArc->HasBeenCrc());
}

// ---- Start-up -------------------------------------------------------------------------------

class StartUpWithoutSuccessor : public ::testing::TestWithParam<crc::crc_t> {};

TEST_P(StartUpWithoutSuccessor, RunsOnItsProgrammedPathAndStaysOpen) {
  RecordingTranslator host;
  auto startUp = Line(Point(-5, -5), Point(0, 0), crc::CRC_STATUS_ESTABLISH);
  host.sequence = {startUp.get()};
  crc::CCutterCompensator engine(1.0, &host, 3, GetParam());
  EXPECT_TRUE(engine.AdjustNode(startUp.get()));
  EXPECT_THAT(startUp->GetStartPointMoved(), PointEq(Point(-5, -5)));
  EXPECT_THAT(startUp->GetEndPointMoved(), PointEq(Point(0, 0)));
  EXPECT_FALSE(startUp->HasBeenCrc());
  EXPECT_FALSE(engine.GetEstablish());
  EXPECT_TRUE(host.inserted.empty());
}

INSTANTIATE_TEST_SUITE_P(Strategies, StartUpWithoutSuccessor,
                         ::testing::Values(crc::CRC_TYPE_NORMAL, crc::CRC_TYPE_INTERSECT,
                                           static_cast<crc::crc_t>(3)));

TEST(StartUp, SecondPassWithASuccessorIsProcessedInFull) {
  RecordingTranslator host;
  auto startUp = Line(Point(-5, -5), Point(0, 0), crc::CRC_STATUS_ESTABLISH);
  auto first = Doing(Point(0, 0), Point(10, 0));
  host.sequence = {startUp.get()};
  crc::CCutterCompensator engine(1.0, &host);
  ASSERT_TRUE(engine.AdjustNode(startUp.get()));
  ASSERT_FALSE(startUp->HasBeenCrc());

  host.sequence.push_back(first.get());
  EXPECT_TRUE(engine.AdjustNode(startUp.get()));
  // Straight from the programmed start to the point beside the contour's first point.
  EXPECT_THAT(startUp->GetStartPointMoved(), PointNear(Point(-5, -5), kTol));
  EXPECT_THAT(startUp->GetEndPointMoved(), PointNear(Point(0, 1), kTol));
  EXPECT_THAT(first->GetIntersectPoint(), PointNear(Point(0, 1), kTol));
  EXPECT_TRUE(startUp->HasBeenCrc());
  EXPECT_TRUE(engine.GetEstablish());
}

TEST(StartUp, FollowedDirectlyByCancelIsRefusedBeforeValidation) {
  RecordingTranslator host;
  // Zero length: validation would say message 16, but the phase rule comes first.
  auto startUp = Line(Point(3, 3), Point(3, 3), crc::CRC_STATUS_ESTABLISH);
  auto cancel = Line(Point(3, 3), Point(8, 3), crc::CRC_STATUS_RETRACT);
  host.sequence = {startUp.get(), cancel.get()};
  crc::CCutterCompensator engine(-1.0, &host);
  EXPECT_FALSE(engine.AdjustNode(startUp.get()));
  EXPECT_EQ(engine.GetLatestErrorCode(), 13);
  EXPECT_EQ(engine.GetLatestError(), "仅含刀补建立和撤销，无刀补进行过程");
  EXPECT_THAT(startUp->GetStartPointMoved(), PointEq(Unset()));
  EXPECT_THAT(cancel->GetIntersectPoint(), PointEq(Unset()));
  EXPECT_EQ(startUp->GetCrcDirType(), crc::CRC_DIR_LEFT);
  EXPECT_EQ(engine.GetCrcRadius(), -1.0);
  EXPECT_FALSE(engine.GetEstablish());
}

// ---- Look-behind list -----------------------------------------------------------------------

TEST(LookBehind, KeepsClonesOfTheNewestEntriesUpToTheCapacity) {
  ListProbe engine(1.0, nullptr, 3);
  std::vector<std::unique_ptr<crc::CCrcLine>> host;
  for (int i = 0; i < 5; ++i) {
    host.push_back(Doing(Point(i, 0), Point(i + 1, 0)));
    engine.AddToList(host.back().get());
    EXPECT_EQ(engine.GetListCount(), static_cast<unsigned>(std::min(i + 1, 3)));
  }
  auto entries = engine.Entries();
  ASSERT_EQ(entries.size(), 3U);
  for (int k = 0; k < 3; ++k) {
    // Oldest at the front: the third, fourth and fifth segments.
    EXPECT_THAT(entries[k]->GetStartPoint(), PointEq(Point(k + 2, 0)));
    EXPECT_NE(entries[k], host[k + 2].get());
  }
  // The clones are independent of the host's segments and outlive them.
  host[4]->SetStartPoint(Point(-100, -100));
  EXPECT_THAT(entries[2]->GetStartPoint(), PointEq(Point(4, 0)));
  host.clear();
  EXPECT_THAT(entries[0]->GetEndPoint(), PointEq(Point(3, 0)));
}

TEST(LookBehind, CapacityZeroHoldsNothingAndCapacityOneTheNewest) {
  auto a = Doing(Point(0, 0), Point(1, 0));
  auto b = Doing(Point(1, 0), Point(2, 0));
  ListProbe none(1.0, nullptr, 0);
  none.AddToList(a.get());
  EXPECT_EQ(none.GetListCount(), 0U);
  ListProbe one(1.0, nullptr, 1);
  one.AddToList(a.get());
  one.AddToList(b.get());
  ASSERT_EQ(one.GetListCount(), 1U);
  EXPECT_THAT(one.Entries()[0]->GetStartPoint(), PointEq(Point(1, 0)));
}

// Finished segments enter the list through the driver; with capacity 3 the list ends with
// clones of the third to fifth finished segments, carrying their final offset points.
TEST(LookBehind, DriverListsTheLastFinishedSegments) {
  RecordingTranslator host;
  std::vector<std::unique_ptr<crc::CCrcLine>> segments;
  segments.push_back(Line(Point(-5, -5), Point(0, 0), crc::CRC_STATUS_ESTABLISH));
  for (int i = 0; i < 6; ++i) {
    segments.push_back(Doing(Point(10 * i, 0), Point(10 * (i + 1), 0)));
  }
  for (auto& segment : segments) {
    host.sequence.push_back(segment.get());
  }
  ListProbe engine(1.0, &host, 3);
  for (std::size_t i = 0; i <= 5; ++i) {
    ASSERT_TRUE(engine.AdjustNode(segments[i].get())) << i << ": " << engine.GetLatestError();
  }
  auto entries = engine.Entries();
  ASSERT_EQ(entries.size(), 3U);
  for (std::size_t k = 0; k < 3; ++k) {
    const crc::CCrcNode& finished = *segments[k + 3];  // in-progress lines 3, 4, 5
    EXPECT_NE(entries[k], &finished);
    EXPECT_THAT(entries[k]->GetStartPoint(), PointEq(finished.GetStartPoint()));
    EXPECT_THAT(entries[k]->GetStartPointMoved(), PointNear(Point(10.0 * (k + 2), 1), kTol));
    EXPECT_THAT(entries[k]->GetEndPointMoved(), PointNear(Point(10.0 * (k + 3), 1), kTol));
  }
  EXPECT_EQ(engine.GetListCount(), 3U);
}

TEST(LookBehind, DestroyingTheEngineLeavesHostSegmentsAndTranslatorAlone) {
  RecordingTranslator host;
  auto startUp = Line(Point(-5, -5), Point(0, 0), crc::CRC_STATUS_ESTABLISH);
  auto first = Doing(Point(0, 0), Point(10, 0));
  auto second = Doing(Point(10, 0), Point(20, 0));
  host.sequence = {startUp.get(), first.get(), second.get()};
  {
    ListProbe engine(1.0, &host, 3);
    ASSERT_TRUE(engine.AdjustNode(startUp.get()));
    ASSERT_TRUE(engine.AdjustNode(first.get()));
    ASSERT_EQ(engine.GetListCount(), 1U);
  }
  // Use-after-free or double free here would be reported by the sanitizers.
  EXPECT_THAT(first->GetEndPointMoved(), PointNear(Point(10, 1), kTol));
  EXPECT_EQ(host.GetNextNode(first.get()), second.get());
}

}  // namespace
