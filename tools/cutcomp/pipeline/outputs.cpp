// SPDX-License-Identifier: MIT
// Opening, finishing and committing the files a run writes.
#include "outputs.h"

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

}  // namespace

bool Outputs::Open(Output& output, const std::string& path, std::optional<ErrorRecord>& error) {
  if (output.Open(path)) {
    return true;
  }
  error = CannotWrite(path, "cannot write: " + output.Error());
  m_Messages.Error(error->place, error->message);
  return false;
}

bool Outputs::Open(std::optional<ErrorRecord>& error) {
  const std::string& name = m_Messages.Name();
  if (m_Capture.program) {
    m_Program.OpenMemory();
  } else if (!Open(m_Program, m_Options.output, error)) {
    return false;
  }
  if (m_Capture.json) {
    m_JsonFile.OpenMemory();
    m_Json = std::make_unique<JsonWriter>(m_JsonFile, name);
  } else if (!m_Options.json.empty()) {
    if (!Open(m_JsonFile, m_Options.json, error)) {
      return false;
    }
    m_Json = std::make_unique<JsonWriter>(m_JsonFile, name);
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
  return true;
}

void Outputs::Piece(const PieceRecord& record, Result& result) {
  if (m_Json) {
    m_Json->Piece(record);
  }
  if (m_Svg) {
    m_Svg->Piece(record);
  }
  if (m_Html) {
    m_Html->Piece(record);
  }
  if (m_Capture.record) {
    result.record.push_back(record);
    result.record.back().text = {};  // the line read is gone once written: file and line name it
  }
}

void Outputs::Finish(Result& result) {
  static const std::vector<GougeRecord> none;
  const ErrorRecord* error = result.error ? &*result.error : nullptr;
  if (m_Json) {
    m_Json->Finish(error, result.audited ? &result.gouges : nullptr,
                   m_Options.avoid ? &result.left : nullptr);
  }
  if (m_Svg) {
    m_Svg->Finish(error, result.audited ? result.gouges : none, result.open, result.left);
  }
  if (m_Html) {
    m_Html->Finish(error);
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
