// SPDX-License-Identifier: Apache-2.0
// kembview: shows what a printer byte stream says, as a command list or as page images.
//
//   kHelp          usage and the printer model the rendering assumes
//   ParseDpi       "X" or "XxY" option values
//   ReadStream     the whole input file (or standard input for "-")
//   PageFileName   OUT.png -> OUT-1.png, OUT-2.png, ...
//   ParseDiameter  --dot-diameter in millimetres
//   List, Draw     the two modes; Draw also the paper view
//   main           arguments and exit status
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "page_image_file.h"
#include "paper_view.h"
#include "stream_decoder.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFailure = 1;   // usage, unreadable input, unwritable output
constexpr int kExitProblems = 2;  // the stream has bytes or commands that did not decode

constexpr size_t kMaxStreamBytes = size_t{1} << 30;

constexpr const char* kHelp = R"(Usage:
  kembview --list FILE
  kembview --render OUT.png|OUT.pbm [--alternate-dpi X[xY]] [--modeless-dpi X] FILE
  kembview --render OUT.png --paper [--dot-diameter MM] [...] FILE
  kembview --help
FILE "-" reads standard input.

--list prints one line per command: hexadecimal offset, command name, decoded parameters.
Runs of NUL are one line. Printed characters are one `text "..."` line per run (up to 512),
shown as UTF-8 from code page 437, with \" and \\ for quote and backslash. Bytes the command
vocabulary does not explain are "UNKNOWN xxh"; a stream cut inside a command ends with a
"truncated ..." line.

--render writes one image per form feed, OUT-1.png, OUT-2.png, ... (PBM when OUT ends in
.pbm); dots or characters after the last form feed make one more page. Black is a dot;
characters are drawn from a built-in font at their printed position. PNG files carry the
grid resolution; PBM files name it in a header comment.

--paper draws what the paper will show instead: each dot a disc of the dot diameter (default
0.25 mm, --dot-diameter) centred on its grid position, overlaps inked once, as 8-bit grey PNG
at 360 dpi, each pixel the inked share of its 4 x 4 samples.

Exit status: 0 when the stream decoded cleanly; 2 when it did not (unknown bytes, truncated
commands, capped pages): everything that did decode is still listed or drawn and each problem
is an ERROR line on stderr; 1 for wrong arguments or a file that cannot be read or written.

Printer model:
  Position 0,0 is the left margin at the top of the form; a form starts at the beginning
  of the stream and after every FF. CR returns the head to the left margin; after a bit
  image the head stands at the image's right end, so images on the same line overlay.
  ESC @ returns the head, restores the vertical unit and forgets the form length.
  Bit images: 3 bytes per column, byte 0 at the top, most significant bit = top pin.
  LQ set: ESC * m nL nH, m = 00 60 dpi, 01 120, 27h 180, 03 240, 28h 360 dpi columns,
    rows 1/180 inch apart; 48h 360 dpi columns with rows 1/360 inch apart.
    A byte after ESC * that is none of these is taken as nL of an image without mode
    byte (the filter sends those for densities outside the table); it is drawn at
    --modeless-dpi (default 180). An image without mode byte whose nL happens to be one
    of the mode values cannot be told apart and is read as having that mode.
    ESC ( U 01 00 m sets the vertical unit to m/3600 inch; before any ESC ( U (and after
    ESC @) the unit is 1/360 inch, the ESC/P2 default. ESC ( v 02 00 nL nH moves the
    paper forward n units (n unsigned). ESC C n sets the form length to n lines of 1/6 inch.
    ESC 6, ESC U, FS x, ESC { A are listed but do not move dots.
  Alternate set: ESC % 1 nH nL data (n big endian) draws one grid column per column and
    one grid row per pin at --alternate-dpi (default 180x180; the stream does not say).
    ESC % 5 n moves the paper n units, 16 units = one 24-pin band (1.5 rows a unit).
    ESC F t u sets the form length to t*10+u lines. ESC N, ESC % B do not move dots.
  Command set: ESC @ starts the LQ set, ESC N the alternate set. ESC F is bold off in the
    LQ set, the page length in the alternate set and before either command.
  Text: bytes 20h-7Eh are characters, and in the LQ set 80h-FFh too, as code page 437
    (ESC t 1; no other table is known). A character is drawn in a cell one character
    wide and 24 pins (24/180 inch) high from the head's position, from a built-in
    7 x 12 font, two pins a font row; the head then moves one character width.
    ESC P, ESC M, ESC g: 10, 12, 15 cpi. SI condenses 10 cpi to 17.14 cpi (21/360 inch)
    and 12 cpi to 20 cpi, not 15 cpi; DC2 ends it. LF moves the paper one line and
    returns the head: ESC 2 1/6 inch, ESC 0 1/8 inch, ESC 3 n n/180, ESC + n n/360.
    Box drawing reaches the cell's edges: it joins line to line at 1/8 inch; at 1/6 inch
    the 24-pin head leaves a gap of 6/180 inch between lines.
    ESC E / ESC F bold: each stroke printed again half a font column to the right.
    ESC - 1 / ESC - 0 underline: the cell's last two pins, spaces included.
    ESC x 0 draft: one pin a font row, lighter; ESC x 1 letter quality.
    ESC @ and ESC N restore 10 cpi, 1/6 inch, letter quality, no bold or underline.
    The alternate set is known to print ASCII, CR, LF and FF at 10 cpi and 1/6 inch;
    the LQ text commands there are problems and change nothing.
  A page with characters is drawn on a grid of at least 360 x 180 dpi.
  Grid of a page: its finest column density and finest row pitch; when a coarser density
  does not divide the finest, 360 dpi (or the finest, if higher) with dots rounded to whole
  grid dots. A coarser image's dot covers several grid dots. A page with only 180 dpi
  images is 180x180, one grid dot per printed dot. Image width reaches the rightmost dot,
  height the form length or the lowest dot, whichever is more; images are capped at
  30000x60000 grid dots and 2^27 dots in all.
)";

std::optional<int> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Densities outside the range the renderer accepts are refused here, not silently replaced.
bool ParseDpi(const std::string& text, int& x, int* y) {
  const size_t cross = text.find('x');
  const auto first = ParseNumber(text.substr(0, cross));
  const auto second = cross == std::string::npos ? first : ParseNumber(text.substr(cross + 1));
  if (!first || !second || (!y && cross != std::string::npos)) return false;
  const auto in_range = [](int dpi) {
    return dpi >= kembview::kMinOptionDpi && dpi <= kembview::kMaxOptionDpi;
  };
  if (!in_range(*first) || !in_range(*second)) return false;
  x = *first;
  if (y) *y = *second;
  return true;
}

bool ReadStream(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) return false;
    in = &file;
  }
  char chunk[65536];
  while (*in) {
    in->read(chunk, sizeof chunk);
    const size_t got = static_cast<size_t>(in->gcount());
    if (bytes.size() + got > kMaxStreamBytes) return false;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return in->eof();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() <= tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) {
      return false;
    }
  }
  return true;
}

std::string PageFileName(const std::string& out, int number) {
  const size_t dot = out.size() - 4;  // ".png" or ".pbm"
  return out.substr(0, dot) + "-" + std::to_string(number) + out.substr(dot);
}

int List(const std::vector<uint8_t>& stream, const std::string& path) {
  size_t unknown = 0;
  for (const kembview::Command& command : kembview::ListCommands(stream)) {
    std::printf("%s\n", kembview::FormatListLine(command).c_str());
    if (command.unknown) ++unknown;
  }
  if (unknown == 0) return kExitClean;
  std::fprintf(stderr, "ERROR: %s: %zu entries not explained by the command vocabulary\n",
               path.c_str(), unknown);
  return kExitProblems;
}

// 0 < mm <= 5, as a plain decimal number.
bool ParseDiameter(const std::string& text, double& mm) {
  if (text.empty() || text.size() > 8) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(value > 0 && value <= 5)) return false;
  mm = value;
  return true;
}

// `dot_mm` > 0: the paper view instead of the dot grid.
int Draw(const std::vector<uint8_t>& stream, const std::string& path, const std::string& out,
         const kembview::RenderOptions& options, double dot_mm) {
  const bool pbm = EndsWith(out, ".pbm");
  int number = 0;
  std::string write_error;
  const std::vector<std::string> problems =
      kembview::RenderPages(stream, options, [&](kembview::Page&& page) {
        const std::string name = PageFileName(out, ++number);
        if (!write_error.empty()) return;
        if (dot_mm > 0) {
          kembview::PaperImage paper;
          write_error = kembview::PaperView(page, dot_mm, paper);
          if (write_error.empty()) write_error = kembview::WriteGreyPng(paper, name);
          if (write_error.empty()) {
            std::printf("%s: %dx%d pixels at %d dpi, %zu dots of %.2f mm\n", name.c_str(),
                        paper.width, paper.height, paper.dpi, page.CountDots(), dot_mm);
          }
          return;
        }
        write_error = pbm ? kembview::WritePbm(page, name) : kembview::WritePng(page, name);
        if (write_error.empty()) {
          std::printf("%s: %dx%d dots at %dx%d dpi, %zu printed\n", name.c_str(), page.width,
                      page.height, page.xdpi, page.ydpi, page.CountDots());
        }
      });
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "ERROR: %s: %s\n", path.c_str(), problem.c_str());
  }
  if (!write_error.empty()) {
    std::fprintf(stderr, "ERROR: %s\n", write_error.c_str());
    return kExitFailure;
  }
  return problems.empty() ? kExitClean : kExitProblems;
}

int Usage() {
  std::fprintf(stderr, "ERROR: wrong arguments; see kembview --help\n");
  return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHelp, stdout);
    return kExitClean;
  }
  bool list = false, paper = false;
  double dot_mm = kembview::kDefaultDotMm;
  std::string out, input;
  kembview::RenderOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--list") {
      list = true;
    } else if (args[i] == "--render" && has_value) {
      out = args[++i];
    } else if (args[i] == "--alternate-dpi" && has_value) {
      if (!ParseDpi(args[++i], options.alternate_xdpi, &options.alternate_ydpi)) return Usage();
    } else if (args[i] == "--paper") {
      paper = true;
    } else if (args[i] == "--dot-diameter" && has_value) {
      if (!ParseDiameter(args[++i], dot_mm)) return Usage();
    } else if (args[i] == "--modeless-dpi" && has_value) {
      if (!ParseDpi(args[++i], options.modeless_xdpi, nullptr)) return Usage();
    } else if (input.empty() && (args[i] == "-" || args[i].rfind("--", 0) != 0)) {
      input = args[i];
    } else {
      return Usage();
    }
  }
  if (input.empty() || list == !out.empty() || (paper && list)) return Usage();
  if (paper && !EndsWith(out, ".png")) {
    std::fprintf(stderr, "ERROR: %s: the paper view is grey: output name must end in .png\n",
                 out.c_str());
    return kExitFailure;
  }
  if (!out.empty() && !EndsWith(out, ".png") && !EndsWith(out, ".pbm")) {
    std::fprintf(stderr, "ERROR: %s: output name must end in .png or .pbm\n", out.c_str());
    return kExitFailure;
  }
  std::vector<uint8_t> stream;
  if (!ReadStream(input, stream)) {
    std::fprintf(stderr, "ERROR: cannot read %s (missing, unreadable or over 1 GiB)\n",
                 input.c_str());
    return kExitFailure;
  }
  return list ? List(stream, input) : Draw(stream, input, out, options, paper ? dot_mm : 0);
}
