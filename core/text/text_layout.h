// SPDX-License-Identifier: Apache-2.0
// What a text job is set to and where its characters go on the paper:
//   TextQuality     draft or letter quality
//   TextSettings    the user's settings, by the names of CUPS's text options: cpi, lpi,
//                   page-left/-right/-top/-bottom (points), wrap, and the quality
//   SetTextOption   one named setting from its text form (a job option, a printer default);
//                   false for a name that is not a text setting
//   TextPaper       the paper and the printer: size, the printer's own margins, command set
//   TextLayout      columns per line, lines per page, the indent and top lines that make the
//                   margins, the page length the printer is set to
//   MakeTextLayout  the layout, or a failure that says which setting does not fit
//   CheckTextStart  refuses a document whose first bytes are not text (NUL bytes, control codes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "printer/page_description.h"
#include "printer/status.h"

namespace kemb {

enum class TextQuality { kDraft, kLetter };

struct TextSettings {
  // Unset: the printer's own (the alternate model) or 10 cpi, 6 lpi, letter quality.
  std::optional<unsigned> cpi;  // 10, 12, 15, 17 or 20
  std::optional<unsigned> lpi;  // 6 or 8
  std::optional<TextQuality> quality;
  // Points from the paper's edges; unset: the printer's own margins for the paper.
  std::optional<double> page_left, page_right, page_top, page_bottom;
  bool wrap = true;  // false: a line longer than the page is cut
};

// Names: "cpi", "lpi", "page-left", "page-right", "page-top", "page-bottom", "wrap", and
// "text-quality" (draft or letter). Returns false for any other name; a value that is not
// valid for the setting is a failure that names both.
bool SetTextOption(TextSettings& settings, std::string_view name, std::string_view value,
                   Status* status);

struct TextPaper {
  CommandSetId command_set = CommandSetId::kLq;
  bool okidata = false;
  std::string model = "the printer";  // named in the messages of settings it refuses
  unsigned length_points = 0;         // as the raster path's page header gives it
  double width = 0, length = 0;       // points
  // Where the head starts on the paper and where the printer's printable area ends.
  double left = 0, right = 0, top = 0, bottom = 0;
};

struct TextLayout {
  CommandSetId command_set = CommandSetId::kLq;
  bool okidata = false;
  unsigned cpi = 10, lpi = 6;
  TextQuality quality = TextQuality::kLetter;
  bool wrap = true;
  size_t columns = 0;         // characters per line
  size_t lines = 0;           // lines per page
  size_t indent = 0;          // spaces in front of each line: the left margin past the head's start
  size_t top_lines = 0;       // line feeds at the top of each page: the top margin
  unsigned length_lines = 0;  // page length in 1/6 inch lines, as the raster path sets it
};

Status MakeTextLayout(const TextPaper& paper, const TextSettings& settings, TextLayout* layout);

// The bytes a document starts with, up to kTextCheckBytes: a NUL byte, or more than a few
// control codes that text never holds and in more than 1 of 100 bytes, mean it is not text.
inline constexpr size_t kTextCheckBytes = 64 * 1024;
Status CheckTextStart(std::span<const uint8_t> start);

}  // namespace kemb
