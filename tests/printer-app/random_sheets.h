// SPDX-License-Identifier: Apache-2.0
// Seed-driven whole-sheet jobs for the random comparison of the application with the filter.
//   DiffPrinter  the four models as the run's server names them, with their PPDs
//   RasterType   the PWG raster types a client may send, and the run's table of them
//   Patch        a rectangle of ink on the sheet, in points: glyph strokes, flat tone, a
//                gradient, fine noise or hairlines, in any colour
//   DiffChoices  what the run draws from: raster types, document formats, and whether
//                resolutions the model does not print come up
//   DiffJob      one job: printer, paper, resolution, raster type, content choice, pages
//   PlanJob      job `number` of the run with `seed`: the pair alone decides it, so any job
//                replays on its own
//   RenderPage   a page of the job as the client's raster, in the job's raster type
//   Describe     one line naming the job's choices
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "printer-app/app_server.h"

namespace kemb::app_test {

struct DiffPrinter {
  const char* printer;  // name on the test server
  const char* driver;
  const char* ppd;
  bool wide;  // takes the wide fanfold form
};
std::span<const DiffPrinter> DiffPrinters();

enum class RasterType { kSgray8, kSrgb8, kBlack1, kBlack8 };
const char* PwgName(RasterType type);  // sgray_8, srgb_8, black_1, black_8

struct DiffChoices {
  std::vector<RasterType> types;
  std::vector<std::string> formats;  // document formats the raster goes as
  bool unoffered_resolutions = true;
};

enum class PatchKind { kGlyphs, kFlat, kGradient, kNoise, kHairlines };
struct Patch {
  double x0, y0, x1, y1;  // points from the sheet's top left corner
  PatchKind kind;
  uint8_t r, g, b;  // the ink; gradients run from it to its inverse
};

enum class PageKind { kText, kPicture, kMixed };
struct PagePlan {
  PageKind kind;
  std::vector<Patch> patches;  // drawn in order on white
};

struct DiffJob {
  uint64_t seed = 0;
  unsigned number = 0;
  std::string printer, ppd;       // the test server's printer name and the model's PPD file
  std::string page_size;          // the PPD's PageSize choice
  std::string media, media_type;  // what the job asks for over IPP
  unsigned xdpi = 180, ydpi = 180;
  RasterType type = RasterType::kSrgb8;
  std::string format;                      // document-format of the raster stream
  std::string refusal;                     // why the job must be refused, empty when it must print
  std::vector<std::string> refusal_names;  // what its message may name, one at least
  std::string content;                     // print-content-optimize, empty for none
  std::vector<PagePlan> pages;
};

DiffJob PlanJob(uint64_t seed, unsigned number, const DiffChoices& choices);
SheetPage RenderPage(const DiffJob& job, const PagePlan& page);
std::string Describe(const DiffJob& job);

}  // namespace kemb::app_test
