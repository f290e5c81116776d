// SPDX-License-Identifier: Apache-2.0
// Text settings from their text form, the page layout they make on a paper, the start-of-
// document check.
#include "text/text_layout.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace kemb {
namespace {

std::optional<double> ParseNumber(std::string_view value) {
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size() || !std::isfinite(number)) {
    return std::nullopt;
  }
  return number;
}

std::optional<bool> ParseBoolean(std::string_view value) {
  for (std::string_view yes : {"true", "yes", "on", "1"}) {
    if (value == yes) return true;
  }
  for (std::string_view no : {"false", "no", "off", "0"}) {
    if (value == no) return false;
  }
  return std::nullopt;
}

Status BadValue(std::string_view name, std::string_view value, const char* expected) {
  std::string shown(value.substr(0, 40));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return Status::Fail("Unsupported " + std::string(name) + "=\"" + shown + "\" (" + expected +
                      ")");
}

// Characters per inch as a fraction: condensed 10 cpi is 120/7 (about 17.1).
struct Pitch {
  unsigned per = 10, inches = 1;
};

Pitch PitchOf(unsigned cpi) { return cpi == 17 ? Pitch{120, 7} : Pitch{cpi, 1}; }

// How many whole steps of `per` per `inches` inch fit into `points`.
size_t WholeSteps(double points, unsigned per, unsigned inches) {
  const double steps = points * per / (72.0 * inches);
  return steps <= 0 ? 0 : static_cast<size_t>(steps + 1e-6);
}

size_t RoundedSteps(double points, unsigned per, unsigned inches) {
  const double steps = points * per / (72.0 * inches);
  return steps <= 0 ? 0 : static_cast<size_t>(steps + 0.5);
}

std::string Points(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

bool SetTextOption(TextSettings& settings, std::string_view name, std::string_view value,
                   Status* status) {
  *status = Status::Ok();
  if (name == "cpi") {
    const std::optional<double> n = ParseNumber(value);
    for (unsigned cpi : {10u, 12u, 15u, 17u, 20u}) {
      if (n && *n == cpi) {
        settings.cpi = cpi;
        return true;
      }
    }
    *status = BadValue(name, value, "10, 12, 15, 17 or 20");
  } else if (name == "lpi") {
    const std::optional<double> n = ParseNumber(value);
    if (n && (*n == 6 || *n == 8)) {
      settings.lpi = static_cast<unsigned>(*n);
      return true;
    }
    *status = BadValue(name, value, "6 or 8");
  } else if (name == "page-left" || name == "page-right" || name == "page-top" ||
             name == "page-bottom") {
    const std::optional<double> n = ParseNumber(value);
    if (!n || *n < 0 || *n > 10000) {
      *status = BadValue(name, value, "points from the paper's edge, 0 or more");
      return true;
    }
    (name == "page-left"    ? settings.page_left
     : name == "page-right" ? settings.page_right
     : name == "page-top"   ? settings.page_top
                            : settings.page_bottom) = *n;
  } else if (name == "wrap") {
    if (const std::optional<bool> wrap = ParseBoolean(value)) {
      settings.wrap = *wrap;
    } else {
      *status = BadValue(name, value, "true or false");
    }
  } else if (name == "text-quality") {
    if (value == "draft") {
      settings.quality = TextQuality::kDraft;
    } else if (value == "letter") {
      settings.quality = TextQuality::kLetter;
    } else {
      *status = BadValue(name, value, "draft or letter");
    }
  } else {
    return false;
  }
  return true;
}

Status MakeTextLayout(const TextPaper& paper, const TextSettings& settings, TextLayout* layout) {
  TextLayout l;
  l.command_set = paper.command_set;
  l.okidata = paper.okidata && paper.command_set == CommandSetId::kLq;
  l.wrap = settings.wrap;
  if (paper.command_set == CommandSetId::kAlternate) {
    // Its pitch, line spacing and quality commands are unknown: it prints as it is set.
    const char* refused = settings.cpi       ? "cpi"
                          : settings.lpi     ? "lpi"
                          : settings.quality ? "the text quality"
                                             : nullptr;
    if (refused != nullptr) {
      return Status::Fail("The " + paper.model +
                          " prints text at its own pitch, line spacing and quality: " +
                          refused + " cannot be set for it");
    }
  } else {
    l.cpi = settings.cpi.value_or(10);
    l.lpi = settings.lpi.value_or(6);
    l.quality = settings.quality.value_or(TextQuality::kLetter);
  }

  const double left = settings.page_left.value_or(paper.left);
  const double right = settings.page_right.value_or(paper.right);
  const double top = settings.page_top.value_or(paper.top);
  const double bottom = settings.page_bottom.value_or(paper.bottom);
  const Pitch pitch = PitchOf(l.cpi);
  l.columns = WholeSteps(paper.width - left - right, pitch.per, pitch.inches);
  l.lines = WholeSteps(paper.length - top - bottom, l.lpi, 1);
  if (l.columns == 0) {
    return Status::Fail("No room for a character between page-left=" + Points(left) +
                        " and page-right=" + Points(right) + " on paper " +
                        Points(paper.width) + " points wide");
  }
  if (l.lines == 0) {
    return Status::Fail("No room for a line between page-top=" + Points(top) +
                        " and page-bottom=" + Points(bottom) + " on paper " +
                        Points(paper.length) + " points long");
  }
  // The head starts at the printer's own margin, the first line at the top of the form.
  l.indent = RoundedSteps(left - paper.left, pitch.per, pitch.inches);
  l.top_lines = RoundedSteps(top - paper.top, l.lpi, 1);
  PageDescription page;
  page.length_points = paper.length_points;
  l.length_lines = PageLengthLines(page);
  *layout = l;
  return Status::Ok();
}

Status CheckTextStart(std::span<const uint8_t> start) {
  // A stray bell or two in a short note is not yet binary data.
  constexpr size_t kFewControls = 8;
  size_t controls = 0;
  for (size_t i = 0; i < start.size(); ++i) {
    const uint8_t b = start[i];
    if (b == 0) {
      return Status::Fail("The document is not text: it holds a NUL byte (byte " +
                          std::to_string(i + 1) + ")");
    }
    // Tab, line feed, form feed, carriage return, backspace and escape occur in text.
    const bool text_control = b == '\t' || b == '\n' || b == '\f' || b == '\r' || b == '\b' ||
                              b == 0x1B;
    if ((b < 0x20 && !text_control) || b == 0x7F) ++controls;
  }
  if (controls > kFewControls && controls * 100 > start.size()) {
    return Status::Fail("The document is not text: " + std::to_string(controls) +
                        " control codes in its first " + std::to_string(start.size()) +
                        " bytes");
  }
  return Status::Ok();
}

}  // namespace kemb
