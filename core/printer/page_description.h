// SPDX-License-Identifier: Apache-2.0
// PageDescription: what the printer side needs to know about a page, built by the front end
// (from the PPD and raster header in the CUPS filter, from the model and job options in a
// printer application). Plain values, no libcups types.
//   CommandSetId    which of the printer's two command languages the page uses
//   Content         what the page holds, as the front end was told; kAuto lets the engine decide
//   PageDescription resolution, size in dots and rows, row bytes, paper length, band height
//   kMaxPageWidth ...  the largest page any front end may describe
//   CheckPageLimits    refuses a page beyond them, in the front end's own field names
//   UnsupportedPage    the failure that names a field, its value and what it must be
#pragma once

#include <cstddef>
#include <string>

#include "printer/status.h"

namespace kemb {

enum class CommandSetId {
  kLq,         // ESC/P-family commands
  kAlternate,  // ESC % sequences
};

// The kind of content the page holds. kAuto: the engine's own test of dark pixels decides
// between text thresholding and the halftoner.
enum class Content { kAuto, kText, kPhoto, kGraphic, kTextAndGraphic };

struct PageDescription {
  CommandSetId command_set = CommandSetId::kLq;
  bool okidata = false;  // the OKIDATA variant of the LQ set: one more command before the reset
  unsigned xdpi = 180, ydpi = 180;
  unsigned width = 0;           // dots (pixels) per row
  unsigned height = 0;          // rows
  unsigned bytes_per_line = 0;  // bytes of one row as handed over: 3 per pixel for RGB rows
  unsigned length_points = 0;   // paper length in points (1/72 inch)
  unsigned band_rows = 24;      // dot rows per band: the pins of the head
  Content content = Content::kAuto;
};

// 40 inches at 360 dpi: wider than any carriage, and far below the 16-bit column count of a
// bit image.
inline constexpr unsigned kMaxPageWidth = 14400;
// 60 inches at 360 dpi. The longest blank stretch then needs at most 60 * 360 / 4 band steps
// of 8 units, within the 16-bit count of one paper move.
inline constexpr unsigned kMaxPageHeight = 21600;
inline constexpr unsigned kMaxResolution = 720;

// A page's fields as a front end names them in its messages (the CUPS filter: the raster
// header's fields).
struct PageFieldNames {
  const char* width = "width";
  const char* height = "height";
  const char* bytes_per_line = "bytes_per_line";
  const char* xdpi = "xdpi";
  const char* ydpi = "ydpi";
  const char* band_rows = "band_rows";
};

// RGB rows whose size fits the buffers and every count the printer is sent; a failure names
// the first field out of bounds and the value found.
Status CheckPageLimits(const PageDescription& page, const PageFieldNames& names = {});
Status UnsupportedPage(const char* field, unsigned value, const std::string& expected);

// Page length in lines of 1/6 inch, rounded as the printer's set-up expects.
unsigned PageLengthLines(const PageDescription& page);

}  // namespace kemb
