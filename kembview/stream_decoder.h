// SPDX-License-Identifier: Apache-2.0
// Reading a printer byte stream back: the public face of kembdecode.
//
//   Command, ListCommands, FormatListLine  one entry per command, as `kembview --list` prints it
//   RenderOptions                          densities the stream itself does not state
//   Page, Rendering, Render, RenderPages   the dots each page puts on paper
//
// This is an independent reading of the LQ and alternate command sets: it shares nothing with
// the filter's own printer code, so the two can check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kembview {

struct Command {
  size_t offset = 0;     // first byte of the command in the stream
  size_t length = 0;     // bytes it spans, bit-image data included
  std::string name;      // "ESC *", "CR", "NUL x 9800", "UNKNOWN 41h", "truncated ESC *"
  std::string params;    // decoded parameters, empty when the command has none
  bool unknown = false;  // not explained by the vocabulary, or cut short
};

// One entry per command; the entries cover the stream without gaps, in order.
std::vector<Command> ListCommands(std::span<const uint8_t> stream);

// "0000264a  ESC *         mode=27h (180dpi) columns=3 data=9 bytes": hex offset, name, params.
std::string FormatListLine(const Command& command);

struct RenderOptions {
  int alternate_xdpi = 180;  // the alternate set's bit image carries no density
  int alternate_ydpi = 180;
  int modeless_xdpi = 180;  // ESC * sent without a mode byte (densities outside the table)
};

struct Page {
  int xdpi = 180, ydpi = 180;  // grid of this page's dot image
  int width = 0, height = 0;   // extent of the image in grid dots
  std::vector<uint8_t> dots;   // width*height, row after row, 1 = dot
  bool ended_by_form_feed = false;

  bool Dot(int x, int y) const;  // false outside the image
  size_t CountDots() const;
};

struct Rendering {
  std::vector<Page> pages;
  std::vector<std::string> problems;  // "offset 0x...: ..." for each thing that did not decode
};

// Largest page image drawn; dots beyond are dropped and reported.
inline constexpr int kMaxPageWidth = 30000;
inline constexpr int kMaxPageHeight = 60000;
inline constexpr size_t kMaxPageDots = size_t{1} << 27;

// Option densities outside kMinOptionDpi..kMaxOptionDpi are reported as a problem and replaced
// by the default.
inline constexpr int kMinOptionDpi = 30;
inline constexpr int kMaxOptionDpi = 1440;

Rendering Render(std::span<const uint8_t> stream, const RenderOptions& options = {});

// Same reading, handing each page over as soon as it ends so that only one page image is held.
// Returns the problems.
std::vector<std::string> RenderPages(std::span<const uint8_t> stream, const RenderOptions& options,
                                     const std::function<void(Page&&)>& page_sink);

}  // namespace kembview
