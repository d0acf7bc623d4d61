// SPDX-License-Identifier: MIT
// The HTML report: the page around the records, which are written into it as JSON.
#include "html_report.h"

#include <string_view>

#include "html_report_page.h"  // HTML_REPORT_HEAD, HTML_REPORT_TAIL: the page, built in
#include "report_json.h"
#include "result.h"

namespace cutcomp::cli {

namespace {

// JSON inside a script element: a "<" in the program's text could close the element ("</script>")
// or open a comment, so every one is written as its escape, which JSON.parse reads back.
std::string ForScript(const nlohmann::json& value) {
  const std::string json = DumpJson(value);
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

HtmlWriter::HtmlWriter(Output& out, const std::string& input) : m_Out(out) {
  m_Out.Write(HTML_REPORT_HEAD);
  m_Out.Write("{\"input\": " + ForScript(nlohmann::json(input)) + ",\n\"items\": [\n");
}

void HtmlWriter::Item(const std::string& json) {
  m_Out.Write((m_First ? "" : ",\n") + json);
  m_First = false;
}

void HtmlWriter::Piece(const PieceRecord& record) {
  nlohmann::json j = PieceJson(record);
  j["item"] = "piece";
  j["text"] = std::string(record.text);
  j["run_start"] = record.runStart;
  Item(ForScript(j));
}

void HtmlWriter::Warning(const WarningRecord& warning) {
  nlohmann::json j = {{"item", "warning"}, {"line", warning.line}, {"message", warning.message}};
  if (!warning.file.empty()) {
    j["file"] = warning.file;
  }
  if (warning.hasGeometry) {
    j["segment"] = JsonCurve(warning.segment);
  }
  Item(ForScript(j));
}

void HtmlWriter::Finish(const Result& result) {
  const ErrorRecord* error = result.error ? &*result.error : nullptr;
  nlohmann::json e = nullptr;
  if (error != nullptr) {
    e = ErrorJson(*error);
    if (!error->text.empty()) {
      e["text"] = error->text;
    }
    if (error->hasGeometry) {
      e["segment"] = JsonCurve(error->segment);
    }
  }
  m_Out.Write(std::string(m_First ? "" : "\n") + "],\n\"error\": " + ForScript(e) + "}\n");
  m_Out.Write(HTML_REPORT_TAIL);
}

}  // namespace cutcomp::cli
