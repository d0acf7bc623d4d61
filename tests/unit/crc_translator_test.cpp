// SPDX-License-Identifier: MIT
// The host interface's own error text: a non-empty text replaces the stored one, an empty text
// leaves it, and copies carry it.
#include "test_support.h"

namespace {

class TextHost : public crc::CCrcTranslator {
public:
  using CCrcTranslator::SetLatestError;
  crc::CCrcNode* GetNextNode(crc::CCrcNode* /*node*/) override { return nullptr; }
  void InsertNode(crc::CCrcNode* /*anchor*/, crc::CCrcLine& /*line*/,
                  const bool& /*before*/) override {}
  void SetCrcEndPoint(double /*x*/, double /*y*/) override {}
  void CrcFinish() override {}
};

TEST(CrcTranslator, EmptyTextNeverErasesTheStoredOne) {
  TextHost host;
  EXPECT_EQ(host.GetLatestError(), "");
  host.SetLatestError("tool table missing");
  EXPECT_EQ(host.GetLatestError(), "tool table missing");
  host.SetLatestError("");
  EXPECT_EQ(host.GetLatestError(), "tool table missing");
  host.SetLatestError("feed too high");
  EXPECT_EQ(host.GetLatestError(), "feed too high");

  TextHost copy(host);
  EXPECT_EQ(copy.GetLatestError(), "feed too high");
  TextHost assigned;
  assigned = host;
  EXPECT_EQ(assigned.GetLatestError(), "feed too high");
}

}  // namespace
