// SPDX-License-Identifier: MIT
// The files a run writes and their writers: the compensated program (a file, standard output,
// or memory for a caller that keeps it), the JSON record, the picture and the page. Every file
// is staged until the run is over: bad input leaves every target as it was, a gouge the
// program's (unless --allow-gouge), and a write that failed anywhere is an error.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gcode_writer.h"
#include "html_report.h"
#include "messages.h"
#include "options.h"
#include "output.h"
#include "pipeline.h"
#include "reports.h"
#include "result.h"
#include "writer.h"

namespace cutcomp::cli {

class Outputs {
public:
  // `result`: where the pieces go when the caller keeps them (Capture::record).
  Outputs(const Options& options, const Capture& capture, Messages& messages, Result& result)
      : m_Options(options), m_Capture(capture), m_Messages(messages), m_Result(result) {}
  ~Outputs();
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  // Opens every target and makes its writer. False when one cannot be written (the error is
  // said and kept in `error`). `pointWholeLengths`: the program is read in a dialect whose
  // controls want a decimal point in every length; `place`: where a block was read, for the
  // source trace (--trace-source).
  // refuses: a target that cannot be opened or staged.
  bool Open(std::optional<ErrorRecord>& error, bool pointWholeLengths,
            std::function<std::string(const SourceBlock&)> place);

  // Every writer opened takes every line, in the order written.
  void Write(const WrittenBlock& line) {
    for (Writer* writer : m_Writers) {
      writer->Write(line);
    }
  }
  // Whether a writer takes the pieces' records: they are made only then.
  bool Records() const { return m_Records; }
  // The picture marks the stretches of the contour that are no walls.
  bool WantsOpenStretches() const { return m_Svg != nullptr; }

  // The writers finish with the result, then every file is closed and committed as the status
  // allows. A write that failed is said, and turns a success into BAD_INPUT.
  void Finish(Result& result);

private:
  bool Open(Output& output, const std::string& path, std::optional<ErrorRecord>& error);
  void Add(Writer& writer) {
    m_Writers.push_back(&writer);
    m_Records = m_Records || writer.TakesRecords();
  }

  const Options& m_Options;
  const Capture& m_Capture;
  Messages& m_Messages;
  Result& m_Result;
  Output m_Program;
  Output m_JsonFile;
  Output m_SvgFile;
  Output m_SvgBody;
  Output m_HtmlFile;
  std::unique_ptr<GcodeWriter> m_Gcode;
  std::unique_ptr<JsonWriter> m_Json;
  std::unique_ptr<SvgWriter> m_Svg;
  std::unique_ptr<HtmlWriter> m_Html;
  std::unique_ptr<Writer> m_Kept;  // the pieces the caller keeps
  std::vector<Writer*> m_Writers;  // the writers opened, the program's first
  bool m_Records = false;
};

}  // namespace cutcomp::cli
