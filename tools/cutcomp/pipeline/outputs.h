// SPDX-License-Identifier: MIT
// The files a run writes and their writers: the compensated program (a file, standard output,
// or memory for a caller that keeps it), the JSON record, the picture and the page. Every file
// is staged until the run is over: bad input leaves every target as it was, a gouge the
// program's (unless --allow-gouge), and a write that failed anywhere is an error.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "gcode_writer.h"
#include "html_report.h"
#include "messages.h"
#include "options.h"
#include "output.h"
#include "pipeline.h"
#include "reports.h"
#include "result.h"

namespace cutcomp::cli {

class Outputs {
public:
  Outputs(const Options& options, const Capture& capture, Messages& messages)
      : m_Options(options), m_Capture(capture), m_Messages(messages) {}

  // Opens every target and makes its writer. False when one cannot be written (the error is
  // said and kept in `error`).
  // refuses: a target that cannot be opened or staged.
  bool Open(std::optional<ErrorRecord>& error);

  GcodeWriter& Gcode() { return *m_Gcode; }
  // Whether any report draws or lists the pieces (they are recorded only then), and the piece
  // as every report takes it.
  bool Records() const { return m_Json || m_Svg || m_Html || m_Capture.record; }
  void Piece(const PieceRecord& record, Result& result);
  // The picture marks the stretches of the contour that are no walls.
  bool WantsOpenStretches() const { return m_Svg != nullptr; }

  // The reports finish with the result, then every file is closed and committed as the status
  // allows. A write that failed is said, and turns a success into BAD_INPUT.
  void Finish(Result& result);

private:
  bool Open(Output& output, const std::string& path, std::optional<ErrorRecord>& error);

  const Options& m_Options;
  const Capture& m_Capture;
  Messages& m_Messages;
  Output m_Program;
  Output m_JsonFile;
  Output m_SvgFile;
  Output m_SvgBody;
  Output m_HtmlFile;
  std::unique_ptr<GcodeWriter> m_Gcode;
  std::unique_ptr<JsonWriter> m_Json;
  std::unique_ptr<SvgWriter> m_Svg;
  std::unique_ptr<HtmlWriter> m_Html;
};

}  // namespace cutcomp::cli
