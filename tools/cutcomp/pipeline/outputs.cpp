// SPDX-License-Identifier: MIT
// Opening, finishing and committing the files a run writes.
#include "outputs.h"

#include <initializer_list>
#include <utility>

namespace cutcomp::cli {

namespace {

ErrorRecord CannotWrite(const std::string& path, const std::string& why) {
  ErrorRecord record;
  record.file = path;
  record.place = path;
  record.message = why;
  return record;
}

// The pieces of the written path, for a caller that keeps them in memory.
class KeptPieces : public RecordWriter {
public:
  explicit KeptPieces(std::vector<PieceRecord>& pieces) : m_Pieces(pieces) {}
  void Finish(const Result& /*result*/) override {}

private:
  void Piece(const PieceRecord& record) override {
    m_Pieces.push_back(record);
    m_Pieces.back().text = {};  // the line read is gone once written: file and line name it
  }

  std::vector<PieceRecord>& m_Pieces;
};

}  // namespace

Outputs::~Outputs() = default;

bool Outputs::Open(Output& output, const std::string& path, std::optional<ErrorRecord>& error) {
  if (output.Open(path)) {
    return true;
  }
  error = CannotWrite(path, "cannot write: " + output.Error());
  m_Messages.Error(error->place, error->message);
  return false;
}

bool Outputs::Open(std::optional<ErrorRecord>& error, bool pointWholeLengths,
                   std::function<std::string(const SourceBlock&)> place) {
  const std::string& name = m_Messages.Name();
  if (m_Capture.program) {
    m_Program.OpenMemory();
  } else if (!Open(m_Program, m_Options.output, error)) {
    return false;
  }
  if (m_Capture.json) {
    m_JsonFile.OpenMemory();
    m_Json = std::make_unique<JsonWriter>(m_JsonFile, name, m_Options.avoid);
  } else if (!m_Options.json.empty()) {
    if (!Open(m_JsonFile, m_Options.json, error)) {
      return false;
    }
    m_Json = std::make_unique<JsonWriter>(m_JsonFile, name, m_Options.avoid);
  }
  if (!m_Options.svg.empty()) {
    if (!Open(m_SvgFile, m_Options.svg, error)) {
      return false;
    }
    // The picture's body waits in a temporary file until its extent is known.
    if (!m_SvgBody.OpenTemporary()) {
      error = CannotWrite(m_Options.svg, "cannot write: " + m_SvgBody.Error());
      m_Messages.Error(error->place, error->message);
      return false;
    }
    m_Svg = std::make_unique<SvgWriter>(m_SvgFile, m_SvgBody, "cutcomp: " + name);
  }
  if (!m_Options.html.empty()) {
    if (!Open(m_HtmlFile, m_Options.html, error)) {
      return false;
    }
    m_Html = std::make_unique<HtmlWriter>(m_HtmlFile, name);
    m_Messages.ListTo([this](const WarningRecord& warning) { m_Html->Warning(warning); });
  }
  m_Gcode = std::make_unique<GcodeWriter>(m_Program, m_Options.precision);
  m_Gcode->PointWholeLengths(pointWholeLengths);
  if (m_Options.traceSource) {
    m_Gcode->Trace(std::move(place));
  }
  if (m_Capture.record) {
    m_Kept = std::make_unique<KeptPieces>(m_Result.record);
  }
  for (Writer* writer : std::initializer_list<Writer*>{m_Gcode.get(), m_Json.get(), m_Svg.get(),
                                                       m_Html.get(), m_Kept.get()}) {
    if (writer != nullptr) {
      Add(*writer);
    }
  }
  return true;
}

void Outputs::Finish(Result& result) {
  for (Writer* writer : m_Writers) {
    writer->Finish(result);
  }
  const bool reports = result.status != Status::BAD_INPUT;
  const bool program = reports && (result.status != Status::GOUGE || m_Options.allowGouge);
  for (Output* output : {&m_Program, &m_JsonFile, &m_SvgFile, &m_HtmlFile}) {
    if (!output->Finish(output == &m_Program ? program : reports)) {
      const std::string path = output->Path() == "-" ? "<stdout>" : output->Path();
      m_Messages.Error(path, "writing failed: " + output->Error());
      if (result.status == Status::OK || result.status == Status::MATERIAL_LEFT) {
        result.status = Status::BAD_INPUT;
        result.error = CannotWrite(path, "writing failed: " + output->Error());
      }
    }
  }
  if (m_Capture.program && program) {
    result.program = m_Program.TakeText();
  }
  if (m_Capture.json && reports) {
    result.json = m_JsonFile.TakeText();
  }
}

}  // namespace cutcomp::cli
