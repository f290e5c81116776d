// SPDX-License-Identifier: Apache-2.0
// What the user says a job holds, and the path each page takes for it:
//   ContentChoice      the IPP job attribute print-content-optimize, also the PPD option: the
//                      page description's Content, which each page carries to the engine
//   ParseContentChoice its keyword (auto, text, photo, graphic, text-and-graphic)
//   ContentKeyword     the keyword back, for the log
//   ChoosePagePath     text, halftoner mode 2 or 3, or picture regions over thresholded text
// No libcups here: the CUPS filter reads the option from its options argument, a printer
// application from the job's IPP attributes.
#pragma once

#include <optional>
#include <string_view>

#include "printer/page_description.h"

namespace kemb {

inline constexpr std::string_view kContentOption = "print-content-optimize";

// kAuto: the page's dark share decides, as it always has; kText: thresholded; kPhoto: the
// halftoner, every pixel diffused (mode 2); kGraphic: the halftoner, dark solid and paper clean
// (mode 3); kTextAndGraphic: thresholded, picture regions from the halftoner's image.
using ContentChoice = Content;

std::optional<ContentChoice> ParseContentChoice(std::string_view keyword);
std::string_view ContentKeyword(ContentChoice choice);

// Halftoner modes.
inline constexpr int kModeTextOnly = 0;  // no halftoner: thresholded
inline constexpr int kModeDiffuseAll = 2;
inline constexpr int kModeSolidDark = 3;

struct PagePath {
  int mode = kModeTextOnly;  // the halftoner's mode for the page's image
  bool regions = false;      // the image only fills picture regions of a thresholded page
};

// `ratio`: the page's dark share (not a number for a page without ink); `auto_mode`: what the
// automatic rule makes of it. Text and graphic always asks for the regions; the page pipeline
// settles it once it knows them.
PagePath ChoosePagePath(ContentChoice choice, int auto_mode);

}  // namespace kemb
