// SPDX-License-Identifier: MIT
// The JSON form of a piece of the written path and of a failure, shared by the JSON record and
// the HTML report so that both say the same about every piece.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "reports.h"

namespace cutcomp::cli {

nlohmann::json JsonPoint(const Point& p);
nlohmann::json JsonCurve(const cutcomp::Curve& c);
// A piece as the record lists it: source line, motion, plane, phase, side, radius, inserted,
// dropped, programmed and tool geometry, and the chords a fitted piece stands for.
nlohmann::json PieceJson(const PieceRecord& record);
nlohmann::json ErrorJson(const ErrorRecord& error);
// Text from the input (a file name, a comment quoted in a message) need not be UTF-8: invalid
// bytes become U+FFFD instead of failing the whole record.
std::string DumpJson(const nlohmann::json& value);

}  // namespace cutcomp::cli
