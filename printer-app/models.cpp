// SPDX-License-Identifier: Apache-2.0
// Model and paper tables, device-ID matching and the printable area of a sheet.
//   tables          resolutions, papers and the four models, as ppd/kemb.drv describes them
//   lookups         FindModel, ModelForDeviceId (a small IEEE-1284 ID parser)
//   paper and area  PaperForSize, PointsOf, PrintableArea
#include "models.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace kemb::app {
namespace {

// LQ set: 180 and 360 across at 180 down, the rows its interleaved half-passes lay down. With
// two entries PAPPL's own rule for the images it renders (JPEG, PNG) gives normal the second.
constexpr Resolution kLqResolutions[] = {{180, 180}, {360, 180}};
// Alternate set: the PPD offers five; PAPPL takes four. 60 x 60 goes: no print dialog's
// quality lands on it and it cannot render ordinary 10-point text legibly; 120 x 120 stays as
// the draft quality. The order is PAPPL's own quality rule for the images it renders itself
// (JPEG, PNG: draft the first, normal the middle, high the last entry), so it agrees with ours.
constexpr Resolution kAltResolutions[] = {{120, 120}, {240, 240}, {180, 180}, {360, 180}};
constexpr Resolution kLqRaster[] = {{180, 180}, {360, 180}, {360, 360}};
constexpr Resolution kAltRaster[] = {{60, 60},   {120, 120}, {180, 180},
                                     {240, 240}, {360, 180}, {360, 360}};

// Cut sheets: HWMargins 18 36 18 18. Fanfold: half an inch clear of the tractor strips.
constexpr Paper kA4{"iso_a4_210x297mm", "A4", 595, 842, 18, 36, 18, 18, false};
constexpr Paper kLetter{"na_letter_8.5x11in", "US Letter", 612, 792, 18, 36, 18, 18, false};
constexpr Paper kLegal{"na_legal_8.5x14in", "US Legal", 612, 1008, 18, 36, 18, 18, false};
constexpr Paper kLetterFanfold{
    "na_letter_8.5x11in", "Fanfold 8.5 x 11 in", 612, 792, 36, 12, 36, 12, true};
constexpr Paper kFanfold12{
    "na_fanfold-eur_8.5x12in", "Fanfold 8.5 x 12 in", 612, 864, 36, 12, 36, 12, true};
constexpr Paper kFanfoldWide{
    "custom_fanfold-wide_14.875x11in", "Fanfold 14.875 x 11 in", 1071, 792, 46, 12, 46, 12, true};

constexpr const Paper* kNarrowPapers[] = {&kA4, &kLetter, &kLegal, &kFanfold12};
constexpr const Paper* kWidePapers[] = {&kA4, &kLetter, &kLegal, &kFanfold12, &kFanfoldWide};
constexpr const Paper* kAllPapers[] = {&kA4,        &kLetter,     &kLegal, &kLetterFanfold,
                                       &kFanfold12, &kFanfoldWide};

const Model kModels[] = {
    {"kemb_wmz24",
     "KEMB WMZ-24",
     "KEMB WMZ-24",
     "MFG:KEMB;MDL:WMZ-24;CMD:ESCP24;CLS:PRINTER;",
     "WMZ-24",
     CommandSetId::kLq,
     false,
     kLqResolutions,
     {180, 180},
     {180, 180},
     {360, 180},
     kNarrowPapers,
     kLqRaster},
    {"kemb_wmz24w",
     "KEMB WMZ-24W (wide carriage)",
     "KEMB WMZ-24W",
     "MFG:KEMB;MDL:WMZ-24W;CMD:ESCP24;CLS:PRINTER;",
     "WMZ-24W",
     CommandSetId::kLq,
     false,
     kLqResolutions,
     {180, 180},
     {180, 180},
     {360, 180},
     kWidePapers,
     kLqRaster},
    {"kemb_wmz24o",
     "KEMB OKIDATA WMZ-24",
     "KEMB OKIDATA WMZ-24",
     "MFG:KEMB;MDL:OKIDATA WMZ-24;CMD:ESCP24;CLS:PRINTER;",
     "OKIDATA WMZ-24",
     CommandSetId::kLq,
     true,
     kLqResolutions,
     {180, 180},
     {180, 180},
     {360, 180},
     kNarrowPapers,
     kLqRaster},
    {"kemb_wmz24a",
     "KEMB WMZ-24A",
     "KEMB WMZ-24A",
     "MFG:KEMB;MDL:WMZ-24A;CMD:KEMBALT;CLS:PRINTER;",
     "WMZ-24A",
     CommandSetId::kAlternate,
     false,
     kAltResolutions,
     {120, 120},
     {180, 180},
     {360, 180},
     kNarrowPapers,
     kAltRaster},
};

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The value of the first key among `keys` in an IEEE-1284 ID ("KEY:value;KEY:value;").
std::string_view IdValue(std::string_view id, std::initializer_list<std::string_view> keys) {
  while (!id.empty()) {
    size_t end = id.find(';');
    std::string_view pair = id.substr(0, end);
    id = end == std::string_view::npos ? std::string_view{} : id.substr(end + 1);
    size_t colon = pair.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = Trim(pair.substr(0, colon));
    for (std::string_view k : keys)
      if (SameText(key, k)) return Trim(pair.substr(colon + 1));
  }
  return {};
}

unsigned Dots(unsigned points, unsigned dpi) {
  return static_cast<unsigned>(std::floor(points * static_cast<double>(dpi) / 72.0 + 0.5));
}

}  // namespace

std::span<const Model> Models() {
  return kModels;
}

const Model* FindModel(std::string_view driver_name) {
  for (const Model& m : kModels)
    if (driver_name == m.driver_name) return &m;
  return nullptr;
}

const Model* ModelForDeviceId(std::string_view device_id) {
  if (!SameText(IdValue(device_id, {"MFG", "MANUFACTURER"}), "KEMB")) return nullptr;
  std::string_view mdl = IdValue(device_id, {"MDL", "MODEL"});
  for (const Model& m : kModels)
    if (SameText(mdl, m.model_field)) return &m;
  // A KEMB model this release does not know: its command set decides.
  std::string_view cmd = IdValue(device_id, {"CMD", "COMMAND SET"});
  if (cmd.find("KEMBALT") != std::string_view::npos) return FindModel("kemb_wmz24a");
  return FindModel("kemb_wmz24");
}

bool PrintsRasterAt(const Model& model, Resolution res) {
  return std::find(model.raster_resolutions.begin(), model.raster_resolutions.end(), res) !=
         model.raster_resolutions.end();
}

unsigned PointsOf(int hundredths_mm) {
  return hundredths_mm > 0 ? static_cast<unsigned>((hundredths_mm * 72 + 1270) / 2540) : 0;
}

Paper PaperForSize(unsigned width_points, unsigned length_points, bool continuous) {
  auto near = [](unsigned a, unsigned b) { return a + 1 >= b && b + 1 >= a; };
  for (const Paper* p : kAllPapers) {
    if (!near(p->width_points, width_points) || !near(p->length_points, length_points)) continue;
    // Letter is both a cut sheet and a fanfold form; only the media type tells them apart.
    if (std::string_view(p->pwg_name) == kLetter.pwg_name && p->continuous != continuous) continue;
    return *p;
  }
  Paper other = kA4;
  other.pwg_name = "";
  other.label = "custom";
  other.width_points = width_points;
  other.length_points = length_points;
  return other;
}

Area PrintableArea(const Paper& paper, Resolution res) {
  Area a;
  a.x = Dots(paper.left, res.x);
  a.y = Dots(paper.top, res.y);
  unsigned w = paper.width_points > paper.left + paper.right
                   ? paper.width_points - paper.left - paper.right
                   : 0;
  unsigned h = paper.length_points > paper.top + paper.bottom
                   ? paper.length_points - paper.top - paper.bottom
                   : 0;
  a.width = Dots(w, res.x);
  a.height = Dots(h, res.y);
  return a;
}

}  // namespace kemb::app
