// SPDX-License-Identifier: Apache-2.0
// What the user says a job holds, and the path each page takes for it:
//   kContentOption     the IPP job attribute print-content-optimize, also the PPD option: the
//                      page description's Content, which each page carries to the engine
//   ParseContent       its keyword (auto, text, photo, graphic, text-and-graphic)
//   ContentKeyword     the keyword back, for the log
//   ChoosePagePath     thresholded, a halftoning mode, or toned shapes beside crisp strokes
// No libcups here: the CUPS filter reads the option from its options argument, a printer
// application from the job's IPP attributes.
#pragma once

#include <optional>
#include <string_view>

#include "pixel/halftone_mode.h"
#include "printer/page_description.h"

namespace kemb {

inline constexpr std::string_view kContentOption = "print-content-optimize";

// kAuto: the page's dark share decides, as it always has; kText: thresholded; kPhoto: the
// halftoner's kDiffuseAll; kGraphic: its kSolidDark; kTextAndGraphic: dark strokes
// thresholded, everything else from the halftoner's image (content/regions.h).
std::optional<Content> ParseContent(std::string_view keyword);
std::string_view ContentKeyword(Content choice);

struct PagePath {
  HalftoneMode mode = HalftoneMode::kThreshold;  // kThreshold: no halftoner image
  bool regions = false;      // the image only fills the toned pixels of a thresholded page
};

// `ratio`: the page's dark share (not a number for a page without ink); `auto_mode`: what the
// automatic rule makes of it. Text and graphic always asks for the regions; the page pipeline
// settles it once it knows them.
PagePath ChoosePagePath(Content choice, HalftoneMode auto_mode);

}  // namespace kemb
