// SPDX-License-Identifier: MIT
// The message table: numbering, texts reachable by number, and the English glosses.
#include "compensator/messages.h"

#include <set>

#include "test_support.h"

namespace {

TEST(Messages, EveryNumberHasTextAndGlossAndTextsAreDistinct) {
  std::set<std::string> texts;
  for (int code = 1; code <= 16; ++code) {
    const crc::MessageEntry* entry = crc::FindMessage(code);
    ASSERT_NE(entry, nullptr) << code;
    EXPECT_EQ(entry->code, code);
    EXPECT_STRNE(entry->text, "");
    EXPECT_STRNE(crc::GetErrorGloss(code), "");
    EXPECT_EQ(crc::FindMessageCode(entry->text), code);
    texts.insert(entry->text);
  }
  EXPECT_EQ(texts.size(), 16U);
}

TEST(Messages, OutOfRangeCodesHaveNoEntry) {
  for (int code : {-1, 0, 17, 1000}) {
    EXPECT_EQ(crc::FindMessage(code), nullptr);
    EXPECT_STREQ(crc::GetErrorGloss(code), "");
  }
  EXPECT_EQ(crc::FindMessageCode("not a message"), 0);
}

// The punctuation differs between messages on purpose (ASCII "!" in some, full-width in
// others, none in message 13); a "tidy-up" of the table must not unify it.
TEST(Messages, PunctuationIsKeptAsWritten) {
  EXPECT_EQ(std::string(crc::FindMessage(14)->text), "无效偏移起点!");
  EXPECT_EQ(std::string(crc::FindMessage(12)->text), "存在干涉现象，可能是刀补半径过大！");
  EXPECT_EQ(std::string(crc::FindMessage(13)->text), "仅含刀补建立和撤销，无刀补进行过程");
}

TEST(Messages, StoredErrorKeepsItsNumberAndSuccessNeverClearsIt) {
  cutcomp::test::OpenCompensator engine;
  EXPECT_EQ(engine.GetLatestErrorCode(), 0);
  EXPECT_EQ(engine.GetLatestError(), "");
  engine.SetLatestError(crc::CRC_ERROR_INTERFERENCE);
  EXPECT_EQ(engine.GetLatestErrorCode(), 12);
  engine.SetLatestError(std::string("刀补建立失败!"));
  EXPECT_EQ(engine.GetLatestErrorCode(), 3);
  engine.SetLatestError(std::string("a host's own text"));
  EXPECT_EQ(engine.GetLatestErrorCode(), 0);
  EXPECT_EQ(engine.GetLatestError(), "a host's own text");
}

}  // namespace
