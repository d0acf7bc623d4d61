// SPDX-License-Identifier: MIT
// What the tool says, in one place: every message goes into the result in the order said and
// to the caller as it comes; warnings go to the page as well (it lists them all), while no more
// than MAX_WARNINGS about blocks are said, then one line saying the rest are suppressed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

#include "pipeline.h"
#include "result.h"

namespace cutcomp::cli {

class Messages {
public:
  // `name`: the program as messages name it.
  Messages(Result& result, const Capture& capture, std::string name)
      : m_Result(result), m_Capture(capture), m_Name(std::move(name)) {}

  // Where every warning is listed besides (the page), once it is open.
  void ListTo(std::function<void(const WarningRecord&)> list) { m_List = std::move(list); }

  const std::string& Name() const { return m_Name; }

  // An error or a note: always said.
  void Error(std::string place, std::string text) {
    Say({Diagnostic::ERROR, std::move(place), std::move(text)});
  }
  void Note(std::string place, std::string text) {
    Say({Diagnostic::NOTE, std::move(place), std::move(text)});
  }
  // A warning about the whole run, said however many came before (a summary, a path not
  // checked); `listed`: the page lists it too.
  void RunWarning(std::string text, bool listed);
  // A warning about a block, said at `place` while warnings are not suppressed. `place` is
  // made only for a warning that is said: a program may have many.
  void Warning(const WarningRecord& warning, const std::function<std::string()>& place);

private:
  void Say(Diagnostic diagnostic);

  Result& m_Result;
  const Capture& m_Capture;
  std::string m_Name;
  std::function<void(const WarningRecord&)> m_List;
  std::size_t m_Warnings = 0;
};

}  // namespace cutcomp::cli
