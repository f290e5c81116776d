// SPDX-License-Identifier: Apache-2.0
// Characters into cells of a line, lines into pages, pages into the printer's commands.
#include "text/text_engine.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "engine/temp_file.h"
#include "printer/command_set.h"
#include "printer/print_state.h"
#include "printer/printer.h"
#include "text/code_page.h"

namespace kemb {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t kBold = 1, kUnderline = 2;
// Attribute changes per cell at most: bold off or on (2 bytes), underline (3 bytes).
constexpr size_t kMostBytesPerCell = 1 + 2 + 3;

}  // namespace

TextEngine::TextEngine(const TextLayout& layout, ByteSink& out,
                       std::function<void(unsigned)> page_done)
    : layout_(layout),
      out_(out),
      page_done_(std::move(page_done)),
      lq_(layout.command_set == CommandSetId::kLq) {}

Status TextEngine::Start() {
  size_t line_bytes = 0;
  if (!CheckedMul(layout_.columns, kMostBytesPerCell, &line_bytes) ||
      line_bytes > SIZE_MAX - layout_.indent - 16 || !chars_.Allocate(layout_.columns) ||
      !attrs_.Allocate(layout_.columns) ||
      !line_out_.Allocate(line_bytes + layout_.indent + 16)) {
    return Status::Fail("Unable to allocate memory");
  }
  return Status::Ok();
}

void TextEngine::Feed(std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* const end = p + bytes.size();
  auto character = [this](uint32_t c) { Character(c); };
  while (p < end) {
    // Printable ASCII straight into cells while nothing else is going on.
    if (decoder_.idle() && !overstrike_) {
      uint8_t* const chars = chars_.data();
      uint8_t* const attrs = attrs_.data();
      const size_t columns = layout_.columns;
      size_t column = column_;
      const uint8_t* const run = p;
      while (p < end && *p >= 0x20 && *p < 0x7F && column < columns) {
        chars[column] = *p++;
        attrs[column++] = 0;
      }
      column_ = column;
      if (p != run) after_cr_ = false;
      if (p == end) break;
      if (*p >= 0x20 && *p < 0x7F) {  // the line is full
        after_cr_ = false;
        Cell(*p++);
        continue;
      }
    }
    decoder_.Put(*p++, character);
  }
}

void TextEngine::Character(uint32_t c) {
  const bool was_cr = std::exchange(after_cr_, false);
  switch (c) {
    case '\n':
      if (!was_cr) EndLine();
      return;
    case '\r':
      EndLine();
      after_cr_ = true;
      return;
    case '\f':
      FormFeed();
      return;
    case '\t':
      Tab();
      return;
    case '\b':
      if (column_ > 0 && !cut_) overstrike_ = true;
      return;
    default:
      break;
  }
  uint8_t byte = 0;
  if (c >= 0x20 && c < 0x7F) {
    byte = static_cast<uint8_t>(c);
  } else if (c >= 0xA0 && lq_) {
    byte = ToCodePage437(c);
  }
  if (byte == 0) {
    // Control codes and characters the printer lacks: never a command, always a mark.
    ++substituted_;
    byte = c >= 0xA0 ? ToPlainAscii(c) : 0;
    if (byte == 0) byte = '?';
  }
  Cell(byte);
}

void TextEngine::Cell(uint8_t byte) {
  if (overstrike_) {
    overstrike_ = false;
    const size_t last = column_ - 1;
    uint8_t& cell = chars_.data()[last];
    uint8_t& attr = attrs_.data()[last];
    // As formatters write bold (c BS c) and underline (_ BS c, or c BS _).
    if (cell == byte) {
      attr |= kBold;
    } else if (cell == '_') {
      cell = byte, attr |= kUnderline;
    } else if (byte == '_') {
      attr |= kUnderline;
    } else {
      cell = byte;
    }
    return;
  }
  if (column_ == layout_.columns) {
    if (!layout_.wrap) {
      cut_ = true;
      return;
    }
    EndLine();
  }
  chars_.data()[column_] = byte;
  attrs_.data()[column_++] = 0;
}

void TextEngine::Tab() {
  const size_t stop = (column_ / 8 + 1) * 8;
  if (stop > layout_.columns) {
    // The stop is past the line's end: the next character starts the next line.
    if (layout_.wrap) {
      EndLine();
      return;
    }
    cut_ = true;
  }
  while (column_ < stop && column_ < layout_.columns) {
    chars_.data()[column_] = ' ';
    attrs_.data()[column_++] = 0;
  }
}

void TextEngine::EndLine() {
  if (page_open_ && lines_on_page_ == layout_.lines) ClosePage();
  if (!page_open_) OpenPage();
  WriteLine();
  ++lines_on_page_;
  column_ = 0;
  overstrike_ = cut_ = false;
}

void TextEngine::FormFeed() {
  if (column_ > 0) EndLine();
  overstrike_ = cut_ = false;
  // A form feed before anything of the document only finds the paper at the top of a form.
  if (!page_open_ && !copy_started_) return;
  if (!page_open_) OpenPage();
  ClosePage();
}

void TextEngine::OpenPage() {
  if (!job_started_) {
    PrintState state;
    (void)StartJob(state, out_);
    job_started_ = true;
  }
  copy_started_ = page_open_ = true;
  lines_on_page_ = 0;
  // The raster path's reset and page length in 1/6 inch lines, so forms stay in step.
  if (lq_) {
    if (layout_.okidata) out_.Write({ESC, '{', 'A'});
    out_.Write({ESC, '@', ESC, '6', ESC, '2', ESC, 'C',
                static_cast<uint8_t>(layout_.length_lines)});
    out_.Write({ESC, 't', 0x01, ESC, 'x',
                static_cast<uint8_t>(layout_.quality == TextQuality::kLetter ? 1 : 0)});
    switch (layout_.cpi) {
      case 12: out_.Write({ESC, 'M'}); break;
      case 15: out_.Write({ESC, 'g'}); break;
      case 17: out_.Write({ESC, 'P', 0x0F}); break;
      case 20: out_.Write({ESC, 'M', 0x0F}); break;
      default: out_.Write({ESC, 'P'}); break;
    }
    if (layout_.lpi == 8) out_.Write({ESC, '0'});
  } else {
    const unsigned lines = layout_.length_lines;
    out_.Write({ESC, 'N', ESC, '%', 'B', ESC, '6', ESC, 'F', static_cast<uint8_t>(lines / 10),
                static_cast<uint8_t>(lines % 10)});
  }
  for (size_t i = 0; i < layout_.top_lines; ++i) out_.Put('\n');
}

void TextEngine::ClosePage() {
  out_.Put(0x0C);
  out_.Flush();
  page_open_ = false;
  ++pages_;
  if (page_done_) page_done_(pages_);
}

void TextEngine::WriteLine() {
  const uint8_t* chars = chars_.data();
  const uint8_t* attrs = attrs_.data();
  size_t length = column_;
  // Trailing blanks only cost head travel.
  while (length > 0 && chars[length - 1] == ' ' && attrs[length - 1] == 0) --length;
  uint8_t* const start = line_out_.data();
  uint8_t* o = start;
  if (length > 0) {
    std::memset(o, ' ', layout_.indent);
    o += layout_.indent;
  }
  uint8_t current = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t want = lq_ ? attrs[i] : 0;
    if (want != current) {
      if ((want ^ current) & kBold) *o++ = ESC, *o++ = (want & kBold) ? 'E' : 'F';
      if ((want ^ current) & kUnderline) {
        *o++ = ESC, *o++ = '-', *o++ = (want & kUnderline) ? 1 : 0;
      }
      current = want;
    }
    *o++ = chars[i];
  }
  if (current & kBold) *o++ = ESC, *o++ = 'F';
  if (current & kUnderline) *o++ = ESC, *o++ = '-', *o++ = 0;
  *o++ = '\r', *o++ = '\n';
  out_.Write(start, static_cast<size_t>(o - start));
}

Status TextEngine::EndCopy() {
  decoder_.Finish([this](uint32_t c) { Character(c); });
  if (column_ > 0) EndLine();
  if (page_open_) ClosePage();
  column_ = 0;
  overstrike_ = cut_ = after_cr_ = false;
  copy_started_ = false;
  return SinkStatus(out_);
}

Status TextEngine::EndJob() {
  if (job_started_ && lq_) LqCommands().EndJob(out_);
  out_.Flush();
  return SinkStatus(out_);
}

Status PrintCopy(TextEngine& engine, std::span<const uint8_t> first, int fd,
                 std::span<uint8_t> block, const std::function<bool()>& canceled,
                 const char* document) {
  engine.Feed(first);
  while (!canceled()) {
    const ssize_t n = ReadFull(fd, block.data(), block.size());
    if (n < 0) {
      const int error = errno;
      (void)engine.EndCopy();
      return Status::Fail(std::string("Unable to read ") + document + ": " +
                          std::strerror(error));
    }
    if (n == 0) break;
    engine.Feed({block.data(), static_cast<size_t>(n)});
  }
  return engine.EndCopy();
}

}  // namespace kemb
