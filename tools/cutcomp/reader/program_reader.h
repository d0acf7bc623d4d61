// SPDX-License-Identifier: MIT
// A part program as the compensation sees it: the language layer executes the file
// (parameters, expressions, O-word control flow, subroutine files) and hands each executed
// block to the modal reader, whose state after the blocks before it is what the program reads
// through the predefined parameters (#5420, #<_metric>...).
#pragma once

#include <cstdio>
#include <utility>

#include "language.h"
#include "modal_reader.h"

namespace cutcomp::cli {

class ProgramReader {
public:
  // `program` stays open and must be seekable when the program loops or calls (the CLI spools
  // standard input to a file).
  ProgramReader(std::FILE* program, const ReaderOptions& options,
                language::LanguageOptions language)
      : m_Reader(m_Feed, options), m_Language(program, m_Reader, std::move(language)) {
    m_Feed.source = &m_Language;
    m_Reader.FollowDialect(&m_Language.ChosenDialect());
  }

  // The next executed block, interpreted; false at the end. Throws InputError, located with
  // its file, line and call chain.
  bool Next(Block& block) { return m_Reader.Next(block); }
  // For messages: which subroutine was called at a call site (FormatPlace).
  const language::LanguageSource& Language() const { return m_Language; }

private:
  // The reader pulls its blocks from the layer, which is built after it (it reads the
  // reader's state).
  struct Feed : BlockSource {
    language::LanguageSource* source = nullptr;
    bool Next(SourceBlock& block) override { return source->Next(block); }
  };

  Feed m_Feed;
  ModalReader m_Reader;
  language::LanguageSource m_Language;
};

}  // namespace cutcomp::cli
