// SPDX-License-Identifier: Apache-2.0
// Following the print head and the paper through the stream, page by page.
//
//   CheckedOptions   option densities within range
//   UnitsFor         exact position units for the chosen densities
//   TextStyle        pitch, line spacing and style the text commands set
//   PrintModel       head position, paper position, form length, text style; one page draft
//   RenderPages, Render
#include <algorithm>
#include <cstdio>
#include <numeric>

#include "command_reader.h"
#include "font.h"
#include "page_draft.h"
#include "page_text.h"
#include "stream_decoder.h"

namespace kembview {
namespace detail {
namespace {

// Far beyond any paper, small enough that exact positions cannot overflow.
constexpr int64_t kMaxHeadInches = 1000;
constexpr int64_t kMaxPaperInches = 100000;

std::string Where(size_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "offset 0x%zx: ", offset);
  return text;
}

int CheckedDpi(int dpi, int fallback, const char* what, ProblemLog& log) {
  if (dpi >= kMinOptionDpi && dpi <= kMaxOptionDpi) return dpi;
  log.Add(std::string(what) + " " + std::to_string(dpi) + " out of range, using " +
          std::to_string(fallback));
  return fallback;
}

RenderOptions CheckedOptions(const RenderOptions& options, ProblemLog& log) {
  const RenderOptions defaults;
  RenderOptions checked;
  checked.alternate_xdpi =
      CheckedDpi(options.alternate_xdpi, defaults.alternate_xdpi, "alternate x dpi", log);
  checked.alternate_ydpi =
      CheckedDpi(options.alternate_ydpi, defaults.alternate_ydpi, "alternate y dpi", log);
  checked.modeless_xdpi =
      CheckedDpi(options.modeless_xdpi, defaults.modeless_xdpi, "modeless x dpi", log);
  return checked;
}

Units UnitsFor(const RenderOptions& options) {
  Units units;
  // 720 holds every LQ column pitch (60, 120, 180, 240, 360 dpi).
  units.x_per_inch = std::lcm(std::lcm(int64_t{720}, int64_t{options.alternate_xdpi}),
                              int64_t{options.modeless_xdpi});
  // 3600 holds the m/3600 unit and both LQ row pitches; 2 * ydpi the 1.5-row unit.
  units.y_per_inch = std::lcm(int64_t{3600}, 2 * int64_t{options.alternate_ydpi});
  return units;
}

// What ESC @ (or an alternate page's ESC N) restores: 10 cpi, 1/6 inch, letter quality.
struct TextStyle {
  int width = 36;          // character width at the pitch, 1/360 inch
  bool condensed = false;  // 10 cpi -> 17.14 cpi (21/360), 12 -> 20 cpi; no effect at 15
  int line_spacing = 600;  // 1/3600 inch
  bool bold = false, underline = false, draft = false;

  int Width() const {
    if (!condensed) return width;
    return width == 36 ? 21 : width == 30 ? 18 : width;
  }
};

class PrintModel {
 public:
  PrintModel(std::span<const uint8_t> stream, const RenderOptions& options, const Font& font,
             ProblemLog& log, const std::function<void(Page&&)>& sink)
      : stream_(stream),
        options_(options),
        units_(UnitsFor(options)),
        font_(font),
        log_(log),
        sink_(sink) {}

  void Apply(const Token& token) {
    if (token.command.unknown) {
      const Command& c = token.command;
      log_.Add(Where(c.offset) + c.name + (c.params.empty() ? "" : " (" + c.params + ")"));
    }
    switch (token.op) {
      case Op::kReset:
        unit_ = kDefaultUnit;
        form_length_ = 0;
        head_ = 0;
        style_ = TextStyle();
        page_.saw_lq = true;
        break;
      case Op::kAltStart:
        style_ = TextStyle();
        page_.saw_alternate = true;
        break;
      case Op::kCarriageReturn:
        head_ = 0;
        break;
      case Op::kFormFeed:
        EndPage(true);
        break;
      case Op::kLqImage: {
        const int column_dpi = token.has_mode ? token.column_dpi : options_.modeless_xdpi;
        Place(token, column_dpi, token.row_dpi);
        page_.saw_lq = true;
        break;
      }
      case Op::kAltImage:
        Place(token, options_.alternate_xdpi, options_.alternate_ydpi);
        page_.saw_alternate = true;
        break;
      case Op::kUnit:
        if (token.value == 0) {
          log_.Add(Where(token.command.offset) + "ESC ( U with unit 0 ignored");
        } else {
          unit_ = token.value;
        }
        page_.saw_lq = true;
        break;
      case Op::kLqAdvance:
        Advance(int64_t{token.value} * unit_ * (units_.y_per_inch / 3600));
        page_.saw_lq = true;
        break;
      case Op::kAltAdvance:
        // 16 units are one 24-pin band: a unit is 1.5 rows.
        Advance(int64_t{token.value} * 3 * units_.y_per_inch / (2 * options_.alternate_ydpi));
        page_.saw_alternate = true;
        break;
      case Op::kLqPageLength:
        if (token.value == 0) log_.Add(Where(token.command.offset) + "ESC C with 0 lines");
        form_length_ = int64_t{token.value} * units_.y_per_inch / 6;
        page_.saw_lq = true;
        break;
      case Op::kAltPageLength:
        form_length_ = int64_t{token.value} * units_.y_per_inch / 6;
        page_.saw_alternate = true;
        break;
      case Op::kText:
        PlaceText(token);
        break;
      case Op::kLineFeed:
        // LF also returns the head to the left margin.
        Advance(int64_t{style_.line_spacing} * (units_.y_per_inch / 3600));
        head_ = 0;
        break;
      case Op::kLineSpacing:
        style_.line_spacing = token.value;
        page_.saw_lq = true;
        break;
      case Op::kPitch:
        style_.width = token.value;
        page_.saw_lq = true;
        break;
      case Op::kCondensed:
        style_.condensed = token.value == 1;
        page_.saw_lq = true;
        break;
      case Op::kQuality:
        if (token.value >= 0) style_.draft = token.value == 0;
        page_.saw_lq = true;
        break;
      case Op::kBold:
        style_.bold = token.value == 1;
        page_.saw_lq = true;
        break;
      case Op::kUnderline:
        if (token.value >= 0) style_.underline = token.value == 1;
        page_.saw_lq = true;
        break;
      case Op::kCharacterTable:
      case Op::kLqSetting:
        page_.saw_lq = true;
        break;
      case Op::kAltSetting:
        page_.saw_alternate = true;
        break;
      case Op::kSetting:
      case Op::kNul:
      case Op::kUnknown:
        break;
    }
  }

  // The last page counts only when it has dots: what follows the last FF is job-end framing.
  void Finish() { EndPage(false); }

 private:
  void PlaceText(const Token& token) {
    PlacedText run;
    run.x = head_;
    run.y = paper_;
    run.advance = int64_t{style_.Width()} * (units_.x_per_inch / 360);
    run.data_offset = token.data_offset;
    run.count = std::min(token.data_present, kMaxPageCharacters - page_.characters);
    run.bold = style_.bold;
    run.underline = style_.underline;
    run.draft = style_.draft;
    if (run.count < token.data_present && page_.characters < kMaxPageCharacters) {
      log_.Add("page " + std::to_string(page_.number) + ": more than " +
               std::to_string(kMaxPageCharacters) + " characters, the rest not drawn");
    }
    page_.characters += run.count;
    if (run.count > 0) page_.texts.push_back(run);
    const int64_t width = static_cast<int64_t>(token.data_present) * run.advance;
    head_ = std::min(head_ + width, kMaxHeadInches * units_.x_per_inch);
  }

  void Place(const Token& token, int column_dpi, int row_dpi) {
    PlacedImage image;
    image.column_dpi = column_dpi;
    image.row_dpi = row_dpi;
    image.x = head_;
    image.y = paper_;
    image.data_offset = token.data_offset;
    image.data_present = token.data_present;
    if (image.data_present > 0) page_.images.push_back(image);
    // The head stops at the image's right end.
    const int64_t width = static_cast<int64_t>(token.columns) * (units_.x_per_inch / column_dpi);
    head_ = std::min(head_ + width, kMaxHeadInches * units_.x_per_inch);
  }

  void Advance(int64_t distance) {
    paper_ = std::min(paper_ + distance, kMaxPaperInches * units_.y_per_inch);
  }

  // Judged on the stream, not the image: dots beyond the page cap still make a page.
  bool HasDots() const {
    for (const PlacedText& run : page_.texts) {
      if (HasInk(run, stream_, font_)) return true;
    }
    for (const PlacedImage& image : page_.images) {
      const auto data = stream_.subspan(image.data_offset, image.data_present);
      if (std::any_of(data.begin(), data.end(), [](uint8_t byte) { return byte != 0; })) {
        return true;
      }
    }
    return false;
  }

  void EndPage(bool by_form_feed) {
    page_.length = form_length_;
    page_.ended_by_form_feed = by_form_feed;
    if (by_form_feed || HasDots()) {
      sink_(Rasterize(page_, stream_, units_, options_, font_, log_));
    }
    const int next = page_.number + 1;
    page_ = PageDraft();
    page_.number = next;
    head_ = 0;
    paper_ = 0;
  }

  std::span<const uint8_t> stream_;
  RenderOptions options_;
  Units units_;
  const Font& font_;
  ProblemLog& log_;
  const std::function<void(Page&&)>& sink_;
  PageDraft page_;
  int64_t head_ = 0;         // from the left margin, Units::x_per_inch
  int64_t paper_ = 0;        // from the top of the form, Units::y_per_inch
  int64_t form_length_ = 0;  // 0 until ESC C or ESC F
  int unit_ = kDefaultUnit;  // ESC ( v unit, 1/3600 inch
  TextStyle style_;
};

}  // namespace
}  // namespace detail

std::vector<std::string> RenderPages(std::span<const uint8_t> stream, const RenderOptions& options,
                                     const std::function<void(Page&&)>& page_sink) {
  detail::ProblemLog log;
  const detail::Font font = detail::BuildFont();
  detail::PrintModel model(stream, detail::CheckedOptions(options, log), font, log, page_sink);
  detail::CommandReader reader(stream);
  while (!reader.AtEnd()) model.Apply(reader.Next());
  model.Finish();
  return log.Take();
}

Rendering Render(std::span<const uint8_t> stream, const RenderOptions& options) {
  Rendering rendering;
  rendering.problems = RenderPages(
      stream, options, [&rendering](Page&& page) { rendering.pages.push_back(std::move(page)); });
  return rendering;
}

}  // namespace kembview
