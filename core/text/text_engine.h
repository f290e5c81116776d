// SPDX-License-Identifier: Apache-2.0
// TextEngine: a text document into the printer's own text commands, streamed in pieces of any
// size with memory bounded by one line:
//   Feed       bytes of the document (UTF-8; other bytes as ISO-8859-1)
//   EndCopy    the end of the document: the last line and the last page's form feed
//   EndJob     the printer's reset, when anything was printed
//   PrintCopy  one copy of a document read from a file descriptor
// A front end feeds the whole document once per copy, so copies come out collated. Each page
// starts with the raster path's reset and page length, then the text set-up; the job starts
// with its wake-up, on the first page, so an empty document sends nothing at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "printer/byte_buffer.h"
#include "printer/byte_sink.h"
#include "printer/status.h"
#include "text/text_layout.h"
#include "text/utf8_decoder.h"

namespace kemb {

class TextEngine {
 public:
  // `page_done(n)` after the form feed of the job's page n (counted across copies).
  TextEngine(const TextLayout& layout, ByteSink& out,
             std::function<void(unsigned page)> page_done = {});

  // Allocates the line; a failure means nothing can print.
  Status Start();
  void Feed(std::span<const uint8_t> bytes);
  Status EndCopy();
  Status EndJob();

  unsigned pages() const { return pages_; }
  // Characters that did not print as themselves (as ? or, on the alternate model, a look-alike).
  size_t substituted() const { return substituted_; }

 private:
  void Character(uint32_t code_point);
  void Cell(uint8_t byte);
  void Tab();
  void EndLine();
  void FormFeed();
  void OpenPage();
  void ClosePage();
  void WriteLine();

  TextLayout layout_;
  ByteSink& out_;
  std::function<void(unsigned)> page_done_;
  const bool lq_;

  // The line being filled: one character and one attribute byte per column.
  ByteBuffer chars_, attrs_, line_out_;
  size_t column_ = 0;
  bool overstrike_ = false;  // a backspace: the next character lands on the last cell
  bool cut_ = false;         // the line is past the page's width and cut (wrap=false)
  bool after_cr_ = false;    // a CR ended the line: an LF right after it ends nothing more

  Utf8Decoder decoder_;
  bool job_started_ = false;
  bool page_open_ = false;
  bool copy_started_ = false;  // a page of this copy was begun
  size_t lines_on_page_ = 0;
  unsigned pages_ = 0;
  size_t substituted_ = 0;
};

// One copy of a document: its first bytes (read and checked already), then the rest of `fd`
// in blocks of `block`'s size until its end or `canceled`, then the copy's end. A failed read
// ends the copy and says "Unable to read <document>: <reason>".
Status PrintCopy(TextEngine& engine, std::span<const uint8_t> first, int fd,
                 std::span<uint8_t> block, const std::function<bool()>& canceled,
                 const char* document);

}  // namespace kemb
