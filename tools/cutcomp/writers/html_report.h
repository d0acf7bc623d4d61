// SPDX-License-Identifier: MIT
// The HTML report: one self-contained page (its script and style inline, nothing fetched) that
// draws the programmed contour and the tool-centre path, pans and zooms, shows the block behind
// every piece, and lists the error and the warnings. The records go into the page as JSON as
// they come, so that the writer, like the others, holds no more than one piece at a time; the
// page draws them when it is opened.
#pragma once

#include <string>

#include "output.h"
#include "reports.h"

namespace cutcomp::cli {

class HtmlWriter : public RecordWriter {
public:
  HtmlWriter(Output& out, const std::string& input);
  // The warnings go into the page's list among the pieces, as they are said.
  void Warning(const WarningRecord& warning);
  void Finish(const Result& result) override;

private:
  void Piece(const PieceRecord& record) override;
  void Item(const std::string& json);

  Output& m_Out;
  bool m_First = true;
};

}  // namespace cutcomp::cli
