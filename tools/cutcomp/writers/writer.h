// SPDX-License-Identifier: MIT
// The one stream every writer takes: an event per line of the written program, in the order the
// lines are written, saying what became of its block and, when the line moves the tool in the
// plane, the piece as the reports draw it. The compensated program, the JSON record, the picture,
// the page and the records a caller keeps in memory are all writers of the same stream; each
// takes from an event what it writes and ignores the rest.
#pragma once

#include "block.h"
#include "tool_path.h"

namespace cutcomp::cli {

struct PieceRecord;
struct Result;

// A line of the written program. The pointers are valid while the event is handed on.
struct WrittenBlock {
  enum Kind {
    PASSED,    // the block with its own words, its compensation words removed
    REPLACED,  // the block with its plane motion replaced by `curve`
    INSERTED,  // `curve`, a line the tool adds for the block (or an arc about a corner of walls)
    STRIPPED,  // the block without its plane motion (no move of its own, or dropped from the path)
  };
  WrittenBlock(Kind what, const Block& read) : kind(what), block(read) {}

  Kind kind;
  // The block read; for an inserted line, the block it is written for.
  const Block& block;
  // REPLACED, INSERTED: the piece as written. `fromKnown` false: the written program's position
  // was unknown, the piece starts where it was computed to and increments count from its end.
  const cutcomp::Curve* curve = nullptr;
  bool fromKnown = true;
  // INSERTED: the written program's modal state, in which the added line is expressed.
  const Modal* modal = nullptr;
  // REPLACED, INSERTED: the programmed move's feed per minute, for inverse-time F words.
  double feed = 0.0;
  // STRIPPED: where the written program's tool stands (null: not known; a move to where the
  // block already was is then dropped), and a comment to append (null: none).
  const Point* position = nullptr;
  const char* comment = nullptr;
  // The piece the line draws, as the reports take it; null when it draws none, or when no
  // writer takes records (they are made only for one that does).
  const PieceRecord* record = nullptr;
};

class Writer {
public:
  virtual ~Writer() = default;
  virtual void Write(const WrittenBlock& line) = 0;
  // Whether this writer takes the pieces' records (WrittenBlock::record).
  virtual bool TakesRecords() const = 0;
  // The run is over: what comes after the last line (the error, the gouges...).
  virtual void Finish(const Result& result) = 0;
};

// A writer of the pieces' records only (the reports, the records a caller keeps): a line that
// draws nothing is none of its business.
class RecordWriter : public Writer {
public:
  void Write(const WrittenBlock& line) final {
    if (line.record != nullptr) {
      Piece(*line.record);
    }
  }
  bool TakesRecords() const final { return true; }

protected:
  virtual void Piece(const PieceRecord& record) = 0;
};

}  // namespace cutcomp::cli
