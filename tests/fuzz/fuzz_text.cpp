// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the text engine (TextEngine) on any document and settings.
// Byte 0 gives the settings: pitch (of 5), 8 lpi, no wrap, draft, the alternate command set;
// byte 1 the page: 1 to 16 columns, 1 to 8 lines, and the size of the pieces the document is
// fed in (1 to 4 bytes, or whole). The rest is the document.
// Checks: fed in pieces or whole the bytes are the same; after the wake-up the stream holds
// only the page set-up, bold and underline commands, CR LF, FF and printable characters
// (printable ASCII alone on the alternate model); no line is longer than the page's columns,
// no page longer than its lines.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "printer/byte_sink.h"
#include "printer/printer.h"
#include "text/text_engine.h"
#include "text/text_layout.h"

namespace {

std::vector<uint8_t> Print(const kemb::TextLayout& layout, std::span<const uint8_t> doc,
                           size_t piece) {
  kemb::MemorySink out;
  kemb::TextEngine engine(layout, out);
  FUZZ_CHECK(engine.Start().ok(), "no memory for a line of %zu columns", layout.columns);
  for (size_t at = 0; at < doc.size(); at += piece) {
    engine.Feed(doc.subspan(at, std::min(piece, doc.size() - at)));
  }
  FUZZ_CHECK(engine.EndCopy().ok(), "a memory sink failed");
  FUZZ_CHECK(engine.EndJob().ok(), "a memory sink failed");
  return out.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return -1;
  const uint8_t s = data[0], p = data[1];
  kemb::TextPaper paper;
  paper.command_set = (s & 0x80) ? kemb::CommandSetId::kAlternate : kemb::CommandSetId::kLq;
  paper.width = paper.length = 2000;
  paper.length_points = 792;
  kemb::TextSettings settings;
  const bool lq = paper.command_set == kemb::CommandSetId::kLq;
  if (lq) {
    static const unsigned kCpi[] = {10, 12, 15, 17, 20};
    settings.cpi = kCpi[(s & 7) % 5];
    settings.lpi = (s & 8) ? 8 : 6;
    settings.quality = (s & 0x20) ? kemb::TextQuality::kDraft : kemb::TextQuality::kLetter;
  }
  settings.wrap = !(s & 0x10);
  const unsigned cpi = settings.cpi.value_or(10), lpi = settings.lpi.value_or(6);
  const size_t columns = 1 + (p & 15), lines = 1 + ((p >> 4) & 7);
  // Margins that leave exactly that many columns and lines (17 cpi is 120 per 7 inches).
  const double column = cpi == 17 ? 72.0 * 7 / 120 : 72.0 / cpi;
  settings.page_left = 0, settings.page_top = 0;
  settings.page_right = paper.width - (columns + 0.5) * column;
  settings.page_bottom = paper.length - (lines + 0.5) * 72.0 / lpi;
  kemb::TextLayout layout;
  const kemb::Status made = kemb::MakeTextLayout(paper, settings, &layout);
  FUZZ_CHECK(made.ok(), "layout refused: %s", made.error.c_str());
  FUZZ_CHECK(layout.columns == columns && layout.lines == lines, "%zu x %zu for %zu x %zu",
             layout.columns, layout.lines, columns, lines);

  const std::span<const uint8_t> doc(data + 2, size - 2);
  const std::vector<uint8_t> whole = Print(layout, doc, doc.size() + 1);
  const size_t piece = (p >> 7) ? 1 + (s & 3) : doc.size() + 1;
  FUZZ_CHECK(Print(layout, doc, piece) == whole, "pieces of %zu print other bytes", piece);
  if (whole.empty()) return 0;

  FUZZ_CHECK(whole.size() > kemb::kWakeUpNulCount, "no more than the wake-up");
  const uint8_t* b = whole.data() + kemb::kWakeUpNulCount;
  const uint8_t* const end = whole.data() + whole.size();
  size_t cells = 0, lines_on_page = 0;
  auto need = [&](size_t n) { FUZZ_CHECK(end - b >= static_cast<long>(n), "command cut short"); };
  while (b < end) {
    const uint8_t c = *b++;
    if (c == 0x1B) {
      need(1);
      const uint8_t command = *b++;
      switch (command) {
        case '@': case '6': case '2': case '0': case 'P': case 'M': case 'g': case 'E': case 'N':
          FUZZ_CHECK(lq || command == '6' || command == 'N', "ESC %c on the alternate set", command);
          break;
        case 'C': case 't': case 'x': case '-':
          FUZZ_CHECK(lq, "ESC %c on the alternate set", command);
          need(1), ++b;
          break;
        case 'F':
          if (!lq) need(2), b += 2;
          break;
        case '{':
          need(1);
          FUZZ_CHECK(*b++ == 'A', "ESC { not A");
          break;
        case '%':
          FUZZ_CHECK(!lq, "ESC %% on the LQ set");
          need(1);
          FUZZ_CHECK(*b++ == 'B', "ESC %% not B");
          break;
        default:
          FUZZ_CHECK(false, "unknown command ESC %02x", command);
      }
    } else if (c == '\r') {
      FUZZ_CHECK(b < end && *b == '\n', "CR without LF");
      ++b;
      FUZZ_CHECK(cells <= columns, "a line of %zu cells on a page of %zu columns", cells, columns);
      FUZZ_CHECK(++lines_on_page <= lines, "%zu lines on a page of %zu", lines_on_page, lines);
      cells = 0;
    } else if (c == 0x0C) {
      lines_on_page = 0, cells = 0;
    } else if (c == 0x0F) {
      FUZZ_CHECK(lq && (cpi == 17 || cpi == 20), "SI at %u cpi", cpi);
    } else {
      FUZZ_CHECK(c >= 0x20 && c != 0x7F && (lq || c < 0x80), "byte %02x printed", c);
      ++cells;
    }
  }
  return 0;
}
