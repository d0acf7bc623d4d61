// SPDX-License-Identifier: MIT
// What the row runners of the engine's steps share: a compensator whose protected steps the
// tests may call, a translator over a fixed array that records what the engine hands it, and
// the parameterised test every table runner instantiates.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <crc/crc.h>

#include "fixture.h"

namespace cutcomp::test {

class OpenCompensator : public crc::CCutterCompensator {
public:
  using CCutterCompensator::CalculateConnection;
  using CCutterCompensator::CalculateConnectionExt1;
  using CCutterCompensator::CalculateOffVector;
  using CCutterCompensator::CCutterCompensator;
  using CCutterCompensator::ChangeCrcType;
  using CCutterCompensator::CheckError;
  using CCutterCompensator::CheckIntervener;
  using CCutterCompensator::ComesBackToItself;
  using CCutterCompensator::GetConnectRawType;
  using CCutterCompensator::GetConnectType;
  using CCutterCompensator::InsertLineBefore;
  using CCutterCompensator::IsCRCPlaneMove;
  using CCutterCompensator::ProcessNoIntervine;
  using CCutterCompensator::SetLatestError;
};

// A translator over a fixed array of segments that records what the engine asks and inserts.
class RecordingTranslator : public crc::CCrcTranslator {
public:
  std::vector<crc::CCrcNode*> sequence;                  // not owned
  std::vector<std::unique_ptr<crc::CCrcLine>> inserted;  // copies of inserted lines, in call order
  std::vector<bool> insertedBefore;
  int asks = 0;

  crc::CCrcNode* GetNextNode(crc::CCrcNode* node) override {
    ++asks;
    for (std::size_t i = 0; i + 1 < sequence.size(); ++i) {
      if (sequence[i] == node) {
        return sequence[i + 1];
      }
    }
    return nullptr;
  }
  void InsertNode(crc::CCrcNode* /*anchor*/, crc::CCrcLine& line, const bool& before) override {
    inserted.push_back(std::make_unique<crc::CCrcLine>(line));
    insertedBefore.push_back(before);
  }
  void SetCrcEndPoint(double /*x*/, double /*y*/) override {}
  void CrcFinish() override {}
};

// A table runner: each operation a row may name ("op") and what it does with the row.
using Operations = std::map<std::string, std::function<void(const Json& row)>>;
inline void RunRow(const Operations& operations, const Json& row) {
  const auto op = operations.find(row.at("op").get<std::string>());
  ASSERT_NE(op, operations.end()) << "no such operation in this table: " << row.at("op");
  op->second(row);
}

}  // namespace cutcomp::test
