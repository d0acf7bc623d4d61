// SPDX-License-Identifier: MIT
// Saying messages: into the result, to the caller, and warnings to the page.
#include "messages.h"

namespace cutcomp::cli {

std::string FormatDiagnostic(const Diagnostic& diagnostic) {
  static const char* const SEVERITY[] = {": error: ", ": warning: ", ": note: "};
  return diagnostic.place + SEVERITY[diagnostic.severity] + diagnostic.text + "\n";
}

void Messages::Say(Diagnostic diagnostic) {
  m_Result.diagnostics.push_back(std::move(diagnostic));
  if (m_Capture.said) {
    m_Capture.said(m_Result.diagnostics.back());
  }
}

void Messages::RunWarning(std::string text, bool listed) {
  if (listed && m_List) {
    WarningRecord warning;
    warning.message = text;
    m_List(warning);
  }
  Say({Diagnostic::WARNING, m_Name, std::move(text)});
}

void Messages::Warning(const WarningRecord& warning, const std::function<std::string()>& place) {
  if (m_List) {
    m_List(warning);
  }
  ++m_Warnings;
  if (m_Warnings > MAX_WARNINGS) {
    if (m_Warnings == MAX_WARNINGS + 1) {
      Say({Diagnostic::WARNING, m_Name, "further warnings suppressed"});
    }
    ++m_Result.warningsSuppressed;
    return;
  }
  m_Result.warnings.push_back(warning);
  Say({Diagnostic::WARNING, place(), warning.message});
}

}  // namespace cutcomp::cli
