// SPDX-License-Identifier: Apache-2.0
// The job generator: a small counter-based random source, the tables it draws from, the
// page plans (text, picture, mixed, with ink across the printable area's edges and in the
// margins), and the rendering into each raster type.
#include "printer-app/random_sheets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "models.h"
#include "printer-app/filter_oracle.h"

namespace kemb::app_test {
namespace {

// splitmix64: the same numbers on every machine and library, unlike the standard
// distributions.
class Random {
 public:
  explicit Random(uint64_t state) : state_(state) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  double Between(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(Next() >> 11) / 9007199254740992.0;
  }
  bool Chance(double p) { return Between(0, 1) < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

const DiffPrinter kPrinterTable[] = {{"lq", "kemb_wmz24", "kemb24.ppd", false},
                                     {"wide", "kemb_wmz24w", "kemb24w.ppd", true},
                                     {"oki", "kemb_wmz24o", "kemb24o.ppd", false},
                                     {"alt", "kemb_wmz24a", "kemb24a.ppd", false}};

struct PaperEntry {
  const char* page_size;  // PPD choice
  const char* media;      // PWG name
  const char* media_type;
  bool wide_only;
};
const PaperEntry kPaperTable[] = {
    {"A4", "iso_a4_210x297mm", "", false},
    {"Letter", "na_letter_8.5x11in", "", false},
    {"Letter.Fanfold", "na_letter_8.5x11in", "continuous", false},
    {"FanFoldGerman", "na_fanfold-eur_8.5x12in", "", false},
    {"Legal", "na_legal_8.5x14in", "", false},
    {"11x14.875Rotated", "custom_fanfold-wide_14.875x11in", "", true},
};

// Resolutions the models print, and ones some of them do not (60, 120 and 240 on the LQ set).
const app::Resolution kResolutions[] = {{180, 180}, {180, 180}, {360, 180}, {360, 180},
                                        {360, 360}, {120, 120}, {240, 240}, {60, 60}};
const char* const kContents[] = {"", "auto", "text", "photo", "graphic", "text-and-graphic"};

// The filter prints every resolution of the model's PPD, and 360 x 360 (text pages reduced to
// 180 x 180); a page at any other must be refused.
bool Printable(const std::string& ppd, app::Resolution res) {
  return res == app::Resolution{360, 360} || PpdOffers(ppd, res.x, res.y);
}

struct Ink {
  uint8_t r, g, b;
};
Ink DarkInk(Random& rnd) {
  if (rnd.Chance(0.6)) return {0, 0, 0};
  return {static_cast<uint8_t>(rnd.Below(110)), static_cast<uint8_t>(rnd.Below(110)),
          static_cast<uint8_t>(rnd.Below(110))};
}
Ink AnyInk(Random& rnd) {
  return {static_cast<uint8_t>(rnd.Below(256)), static_cast<uint8_t>(rnd.Below(256)),
          static_cast<uint8_t>(rnd.Below(256))};
}

Patch MakePatch(double x0, double y0, double x1, double y1, PatchKind kind, Ink ink) {
  return {x0, y0, x1, y1, kind, ink.r, ink.g, ink.b};
}

PatchKind PictureKind(Random& rnd) {
  static const PatchKind kinds[] = {PatchKind::kFlat, PatchKind::kGradient, PatchKind::kGradient,
                                    PatchKind::kNoise, PatchKind::kHairlines};
  return rnd.Pick(kinds);
}

struct Box {
  double left, top, right, bottom;  // points
};

// A block of a text page or a picture, somewhere on the sheet (it may reach the margins).
Patch Block(Random& rnd, const Box& sheet, bool text) {
  const double w = rnd.Between(40, std::max(60.0, sheet.right * (text ? 0.9 : 0.6)));
  const double h = rnd.Between(20, std::max(40.0, sheet.bottom * (text ? 0.5 : 0.4)));
  const double x0 = rnd.Between(0, std::max(1.0, sheet.right - w * 0.5));
  const double y0 = rnd.Between(0, std::max(1.0, sheet.bottom - h * 0.5));
  return MakePatch(x0, y0, x0 + w, y0 + h, text ? PatchKind::kGlyphs : PictureKind(rnd),
                   text ? DarkInk(rnd) : AnyInk(rnd));
}

// A patch across one edge of the printable area, by a fraction of a point up to a few dozen.
Patch AcrossEdge(Random& rnd, const Box& area, const Box& sheet, bool text) {
  const double in = rnd.Chance(0.3) ? rnd.Between(0.1, 3) : rnd.Between(3, 60);
  const double out = rnd.Chance(0.3) ? rnd.Between(0.1, 3) : rnd.Between(3, 40);
  const double along = rnd.Between(10, 200);
  double x0, y0, x1, y1;
  switch (rnd.Below(4)) {
    case 0:  // left
      x0 = area.left - out, x1 = area.left + in;
      y0 = rnd.Between(0, sheet.bottom), y1 = y0 + along;
      break;
    case 1:  // right
      x0 = area.right - in, x1 = area.right + out;
      y0 = rnd.Between(0, sheet.bottom), y1 = y0 + along;
      break;
    case 2:  // top
      y0 = area.top - out, y1 = area.top + in;
      x0 = rnd.Between(0, sheet.right), x1 = x0 + along;
      break;
    default:  // bottom
      y0 = area.bottom - in, y1 = area.bottom + out;
      x0 = rnd.Between(0, sheet.right), x1 = x0 + along;
      break;
  }
  return MakePatch(x0, y0, x1, y1, text ? PatchKind::kGlyphs : PictureKind(rnd),
                   text ? DarkInk(rnd) : AnyInk(rnd));
}

// Ink wholly in a margin, from the sheet's very edge or a little in from it.
Patch InMargin(Random& rnd, const Box& area, const Box& sheet) {
  const Box margins[] = {{0, 0, area.left, sheet.bottom},
                         {area.right, 0, sheet.right, sheet.bottom},
                         {0, 0, sheet.right, area.top},
                         {0, area.bottom, sheet.right, sheet.bottom}};
  const Box& m = margins[rnd.Below(4)];
  const double x0 = rnd.Chance(0.3) ? m.left : rnd.Between(m.left, m.right);
  const double y0 = rnd.Chance(0.3) ? m.top : rnd.Between(m.top, m.bottom);
  const double x1 = std::min(m.right, x0 + rnd.Between(1, 80));
  const double y1 = std::min(m.bottom, y0 + rnd.Between(1, 80));
  return MakePatch(x0, y0, x1, y1, PictureKind(rnd), rnd.Chance(0.5) ? Ink{0, 0, 0} : AnyInk(rnd));
}

PagePlan PlanPage(Random& rnd, const Box& area, const Box& sheet) {
  PagePlan page;
  page.kind = static_cast<PageKind>(rnd.Below(3));
  const bool text = page.kind != PageKind::kPicture;
  const bool pictures = page.kind != PageKind::kText;
  if (pictures)
    for (unsigned i = 1 + rnd.Below(3); i > 0; --i)
      page.patches.push_back(Block(rnd, sheet, false));
  if (text)
    for (unsigned i = 1 + rnd.Below(4); i > 0; --i) page.patches.push_back(Block(rnd, sheet, true));
  for (unsigned i = rnd.Below(4); i > 0; --i)
    page.patches.push_back(AcrossEdge(rnd, area, sheet, text && (!pictures || rnd.Chance(0.5))));
  for (unsigned i = rnd.Below(3); i > 0; --i) page.patches.push_back(InMargin(rnd, area, sheet));
  return page;
}

// Glyph-like strokes on lines of `size` points.
bool GlyphInk(double px, double py, double size, unsigned salt) {
  const double pitch = size * 1.5, cell_w = size * 0.7;
  const int line = static_cast<int>(py / pitch);
  const double in_line = std::fmod(py, pitch);
  const int cell = static_cast<int>(px / cell_w);
  const double in_cell = std::fmod(px, cell_w);
  if (in_line > size || in_cell > cell_w * 0.75 || (cell * 7 + line * 3 + salt) % 11 == 0)
    return false;
  const unsigned shape = (static_cast<unsigned>(cell) * 2654435761u +
                          static_cast<unsigned>(line) * 40503u + salt * 97u) >>
                         7;
  const double stroke = std::max(0.6, size * 0.12);
  return (in_cell < stroke && (shape & 1)) || (in_line < stroke && (shape & 2)) ||
         (in_line > size - stroke && (shape & 4)) ||
         (std::fabs(in_line - size / 2) < stroke / 2 && (shape & 8)) ||
         (in_cell > cell_w * 0.75 - stroke && (shape & 16));
}

uint8_t Mix(uint8_t a, double t) {
  return static_cast<uint8_t>(std::lround(a * (1 - t) + (255 - a) * t));
}

uint8_t Gray(const uint8_t* rgb) {
  return static_cast<uint8_t>((rgb[0] * 77u + rgb[1] * 150u + rgb[2] * 29u + 128u) >> 8);
}

void Draw(const Patch& p, unsigned xdpi, unsigned ydpi, unsigned width, unsigned height,
          std::vector<uint8_t>& rgb) {
  auto first = [](double points, unsigned dpi, unsigned limit) {
    const double d = std::ceil(points * dpi / 72.0);
    return static_cast<unsigned>(std::clamp(d, 0.0, static_cast<double>(limit)));
  };
  const unsigned xa = first(p.x0, xdpi, width), xb = first(p.x1, xdpi, width);
  const unsigned ya = first(p.y0, ydpi, height), yb = first(p.y1, ydpi, height);
  const double glyph_size = 6 + static_cast<double>(p.r % 11);
  const unsigned salt = p.g + 3u * p.b;
  const double angle = (p.r + p.g) * 0.05;
  const double span = std::max(1.0, std::hypot(p.x1 - p.x0, p.y1 - p.y0));
  const double ax = std::cos(angle) / span, ay = std::sin(angle) / span;
  for (unsigned y = ya; y < yb; ++y) {
    uint8_t* row = rgb.data() + size_t{y} * width * 3;
    const double py = y * 72.0 / ydpi;
    const double ripple = 0.1 * std::cos(py / 31.0);
    for (unsigned x = xa; x < xb; ++x) {
      const double px = x * 72.0 / xdpi;
      uint8_t* dot = row + size_t{x} * 3;
      double t = 0;
      switch (p.kind) {
        case PatchKind::kGlyphs:
          if (!GlyphInk(px - p.x0, py - p.y0, glyph_size, salt)) continue;
          break;
        case PatchKind::kFlat:
          break;
        case PatchKind::kGradient:
          t = std::clamp((px - p.x0) * ax + (py - p.y0) * ay + ripple * std::sin(px / 23.0), 0.0,
                         1.0);
          break;
        case PatchKind::kNoise:
          t = static_cast<double>(((x * 73856093u) ^ (y * 19349663u) ^ salt) % 257u) / 256.0;
          break;
        case PatchKind::kHairlines:
          if ((p.b & 1 ? x : y) % (2 + p.g % 5) != 0) continue;
          break;
      }
      dot[0] = Mix(p.r, t);
      dot[1] = Mix(p.g, t);
      dot[2] = Mix(p.b, t);
    }
  }
}

}  // namespace

std::span<const DiffPrinter> DiffPrinters() {
  return kPrinterTable;
}

const char* PwgName(RasterType type) {
  switch (type) {
    case RasterType::kSgray8:
      return "sgray_8";
    case RasterType::kSrgb8:
      return "srgb_8";
    case RasterType::kBlack1:
      return "black_1";
    case RasterType::kBlack8:
      return "black_8";
  }
  return "";
}

DiffJob PlanJob(uint64_t seed, unsigned number, const DiffChoices& choices) {
  const std::vector<RasterType>& types = choices.types;
  if (types.empty() || choices.formats.empty())
    throw std::runtime_error("no raster types or formats to draw from");
  Random rnd(seed ^ (0xD1B54A32D192ED03ull * (uint64_t{number} + 1)));
  DiffJob job;
  job.seed = seed;
  job.number = number;
  const DiffPrinter& printer = rnd.Pick(kPrinterTable);
  job.printer = printer.printer;
  job.ppd = printer.ppd;
  PaperEntry paper;
  do paper = rnd.Pick(kPaperTable);
  while (paper.wide_only && !printer.wide);
  job.page_size = paper.page_size;
  job.media = paper.media;
  job.media_type = paper.media_type;
  job.format = choices.formats[rnd.Below(static_cast<unsigned>(choices.formats.size()))];
  // Apple raster has one resolution for both directions, and no black types.
  const bool apple = job.format == "image/urf";
  // One job in five at a resolution the model does not print, where there is one.
  std::vector<app::Resolution> printable, unprintable;
  for (const app::Resolution& r : kResolutions)
    if (!apple || r.x == r.y) (Printable(job.ppd, r) ? printable : unprintable).push_back(r);
  const bool refuse = choices.unoffered_resolutions && !unprintable.empty() && rnd.Chance(0.2);
  const std::vector<app::Resolution>& from = refuse ? unprintable : printable;
  const app::Resolution res = from[rnd.Below(static_cast<unsigned>(from.size()))];
  job.xdpi = res.x;
  job.ydpi = res.y;
  std::vector<RasterType> usable;
  for (RasterType t : types)
    if (!apple || t == RasterType::kSgray8 || t == RasterType::kSrgb8) usable.push_back(t);
  if (usable.empty()) throw std::runtime_error("no raster type for " + job.format);
  job.type = usable[rnd.Below(static_cast<unsigned>(usable.size()))];
  if (!Printable(job.ppd, res)) {
    job.refusal = "a resolution the model does not print";
    job.refusal_names.push_back(std::to_string(res.x) + "x" + std::to_string(res.y));
  }
  if (job.type == RasterType::kBlack1 && job.format == "image/pwg-raster") {
    // PAPPL passes a streamed page's own header on only at 8 bits or more a colour (so the
    // application cannot see the page's resolution either).
    job.refusal += std::string(job.refusal.empty() ? "" : ", ") + "a streamed 1-bit page";
    job.refusal_names.push_back("bit");
  }
  job.content = rnd.Pick(kContents);

  pwg_media_t* pwg = pwgMediaForPWG(job.media.c_str());
  if (!pwg) throw std::runtime_error("no PWG size " + job.media);
  const unsigned width = static_cast<unsigned>(std::lround(pwg->width * 72.0 / 2540));
  const unsigned length = static_cast<unsigned>(std::lround(pwg->length * 72.0 / 2540));
  // Aimed at the application's printable area; the filter's PPD is what judges.
  const app::Paper p = app::PaperForSize(width, length, job.media_type == "continuous");
  const Box sheet{0, 0, static_cast<double>(width), static_cast<double>(length)};
  const Box area{static_cast<double>(p.left), static_cast<double>(p.top),
                 static_cast<double>(width - p.right), static_cast<double>(length - p.bottom)};
  for (unsigned i = rnd.Chance(0.2) ? 2 : 1; i > 0; --i)
    job.pages.push_back(PlanPage(rnd, area, sheet));
  return job;
}

SheetPage RenderPage(const DiffJob& job, const PagePlan& plan) {
  SheetPage page;
  if (!cupsRasterInitPWGHeader(&page.header, pwgMediaForPWG(job.media.c_str()), PwgName(job.type),
                               static_cast<int>(job.xdpi), static_cast<int>(job.ydpi), "one-sided",
                               nullptr))
    throw std::runtime_error("no PWG header for " + job.media + " " + PwgName(job.type));
  const cups_page_header2_t& h = page.header;
  std::vector<uint8_t> rgb(size_t{h.cupsWidth} * h.cupsHeight * 3, 0xFF);
  for (const Patch& p : plan.patches) Draw(p, job.xdpi, job.ydpi, h.cupsWidth, h.cupsHeight, rgb);
  if (job.type == RasterType::kSrgb8) {
    page.rgb = std::move(rgb);
    return page;
  }
  page.rgb.assign(size_t{h.cupsBytesPerLine} * h.cupsHeight, 0);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    uint8_t* out = page.rgb.data() + size_t{y} * h.cupsBytesPerLine;
    const uint8_t* in = rgb.data() + size_t{y} * h.cupsWidth * 3;
    for (unsigned x = 0; x < h.cupsWidth; ++x) {
      const uint8_t gray = Gray(in + size_t{x} * 3);
      switch (job.type) {
        case RasterType::kSgray8:
          out[x] = gray;
          break;
        case RasterType::kBlack8:
          out[x] = static_cast<uint8_t>(255 - gray);
          break;
        case RasterType::kBlack1: {
          // 4 x 4 ordered dither: pictures stay pictures in one bit.
          static const uint8_t kBayer[4][4] = {
              {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
          if (gray < kBayer[y % 4][x % 4] * 16u + 8u)
            out[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
          break;
        }
        case RasterType::kSrgb8:
          break;
      }
    }
  }
  return page;
}

std::string Describe(const DiffJob& job) {
  static const char* const kKinds[] = {"text", "picture", "mixed"};
  std::string pages;
  for (const PagePlan& p : job.pages) {
    if (!pages.empty()) pages += "+";
    pages += kKinds[static_cast<int>(p.kind)] + std::string("/") + std::to_string(p.patches.size());
  }
  char text[400];
  std::snprintf(
      text, sizeof(text), "seed %llu job %u: %s %s%s%s %ux%u %s as %s content=%s pages=%s%s%s%s",
      static_cast<unsigned long long>(job.seed), job.number, job.printer.c_str(), job.media.c_str(),
      job.media_type.empty() ? "" : " ", job.media_type.c_str(), job.xdpi, job.ydpi,
      PwgName(job.type), job.format.c_str(), job.content.empty() ? "(none)" : job.content.c_str(),
      pages.c_str(), job.refusal.empty() ? "" : " (to be refused: ", job.refusal.c_str(),
      job.refusal.empty() ? "" : ")");
  return text;
}

}  // namespace kemb::app_test
