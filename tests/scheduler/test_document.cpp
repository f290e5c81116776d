// SPDX-License-Identifier: Apache-2.0
// Drawing the two test pages in PostScript, and rendering them with Ghostscript.
#include "scheduler/test_document.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scheduler/process.h"

namespace kemb::scheduler_test {
namespace {

constexpr int kPicturePixels = 240;  // per side

struct Line {
  const char* font;
  int size;
  const char* text;
};

// Sizes from headline down to the smallest a 180 dpi head still forms.
constexpr Line kTextLines[] = {
    {"Helvetica-Bold", 36, "KEMB WMZ-24 test"},
    {"Times-Roman", 24, "Twenty-four pins, one pass"},
    {"Helvetica", 18, "The quick brown fox jumps over"},
    {"Courier", 14, "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
    {"Times-Roman", 12, "Lorem ipsum dolor sit amet, consectetur adipiscing elit."},
    {"Helvetica", 10, "Sed do eiusmod tempor incididunt ut labore et dolore magna aliqua."},
    {"Courier", 8, "The smallest line: 8 points, mono-spaced, at the bottom of the list."},
};

double Ellipse(double x, double y, double cx, double cy, double rx, double ry) {
  return (x - cx) * (x - cx) / (rx * rx) + (y - cy) * (y - cy) / (ry * ry);
}

uint8_t Clamp(double v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

// A face on a soft backdrop: shaded skin, mid-brown hair, and only the eyes and mouth dark
// enough (R+G+B <= 300) to count as dark ink, so the page is taken for a picture.
void PicturePixel(int x, int y, uint32_t* noise, uint8_t rgb[3]) {
  const double u = (x - 120) / 120.0, v = (y - 120) / 120.0;
  double r = 205 + 30 * u, g = 210 + 20 * v, b = 220 - 25 * u;
  if (Ellipse(x, y, 120, 110, 88, 98) <= 1 && y < 95) {
    r = 150 - 20 * v, g = 105 - 15 * v, b = 72;
  }
  if (Ellipse(x, y, 120, 132, 70, 88) <= 1) {
    const double shade = 1 - 0.3 * Ellipse(x, y, 100, 120, 90, 110);
    r = 238 * shade, g = 192 * shade, b = 160 * shade;
  }
  if (Ellipse(x, y, 95, 118, 12, 7) <= 1 || Ellipse(x, y, 145, 118, 12, 7) <= 1) {
    r = 35, g = 28, b = 25;
  }
  if (Ellipse(x, y, 120, 178, 28, 9) <= 1 && y >= 178) r = 125, g = 40, b = 45;
  // Film grain: a few levels of deterministic noise, as in a scanned photograph.
  *noise = *noise * 1664525u + 1013904223u;
  const double grain = static_cast<int>((*noise >> 24) % 9) - 4;
  rgb[0] = Clamp(r + grain), rgb[1] = Clamp(g + grain), rgb[2] = Clamp(b + grain);
}

}  // namespace

std::string DocumentPostScript() {
  std::ostringstream ps;
  ps << "%!PS-Adobe-3.0\n%%Pages: 2\n%%BoundingBox: 0 0 " << kDocumentWidth << ' '
     << kDocumentHeight << "\n%%EndComments\n"
     << "<< /PageSize [" << kDocumentWidth << ' ' << kDocumentHeight << "] >> setpagedevice\n"
     << "%%Page: 1 1\n0 setgray\n";
  int baseline = 760;
  for (const Line& line : kTextLines) {
    ps << '/' << line.font << " findfont " << line.size << " scalefont setfont 72 " << baseline
       << " moveto (" << line.text << ") show\n";
    baseline -= line.size * 2;
  }
  ps << "showpage\n%%Page: 2 2\ngsave\n"
     << kPictureLeft << ' ' << kPictureBottom << " translate " << kPictureSize << ' '
     << kPictureSize << " scale\n"
     << kPicturePixels << ' ' << kPicturePixels << " 8 [" << kPicturePixels << " 0 0 -"
     << kPicturePixels << " 0 " << kPicturePixels << "]\n"
     << "currentfile /ASCIIHexDecode filter false 3 colorimage\n";
  uint32_t noise = 12345;
  char hex[8];
  for (int y = 0; y < kPicturePixels; ++y) {
    for (int x = 0; x < kPicturePixels; ++x) {
      uint8_t rgb[3];
      PicturePixel(x, y, &noise, rgb);
      std::snprintf(hex, sizeof hex, "%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
      ps << hex;
    }
    ps << '\n';
  }
  ps << ">\ngrestore\nshowpage\n%%EOF\n";
  return ps.str();
}

int RgbImage::Sum(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 765;
  const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
  return p[0] + p[1] + p[2];
}

bool ReadPpm(const std::string& path, RgbImage* image, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  // Header fields are separated by blanks and may be interleaved with # comment lines.
  auto field = [&in]() {
    std::string token;
    while (in >> token && token[0] == '#') in.ignore(1 << 20, '\n');
    return token;
  };
  const std::string magic = field(), width_text = field(), height_text = field(),
                    maxval_text = field();
  long width = 0, height = 0;
  const bool numbers = !maxval_text.empty() &&
                       std::sscanf(width_text.c_str(), "%ld", &width) == 1 &&
                       std::sscanf(height_text.c_str(), "%ld", &height) == 1;
  if (!in || magic != "P6" || maxval_text != "255" || !numbers || width < 1 || height < 1 ||
      width > 40000 || height > 40000) {
    *error = path + " is not a raw PPM of 8-bit samples";
    return false;
  }
  in.get();  // the one blank before the samples
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->rgb.resize(size_t(width) * size_t(height) * 3);
  in.read(reinterpret_cast<char*>(image->rgb.data()), std::streamsize(image->rgb.size()));
  if (in.gcount() != std::streamsize(image->rgb.size())) {
    *error = path + " ends before its " + std::to_string(width) + "x" + std::to_string(height) +
             " pixels";
    return false;
  }
  return true;
}

std::string MakePdf(const std::string& postscript_path, const std::string& pdf_path) {
  std::ofstream(postscript_path) << DocumentPostScript();
  // Lossless picture: the reference and the printed page should see the same pixels.
  const Command command{{"ps2pdf", "-dAutoFilterColorImages=false",
                         "-dColorImageFilter=/FlateEncode", postscript_path, pdf_path}};
  const CommandResult result = RunCommand(command);
  return result.Ok() ? "" : result.Describe(command);
}

std::string RenderPages(const std::string& pdf_path, int xdpi, int ydpi, const std::string& folder,
                        std::vector<RgbImage>* pages) {
  const std::string stem =
      folder + "/reference-" + std::to_string(xdpi) + "x" + std::to_string(ydpi) + "-";
  // Flags as the scheduler's gstoraster passes them where they change pixels.
  const Command command{{"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE",
                         "-sDEVICE=ppmraw",
                         "-r" + std::to_string(xdpi) + "x" + std::to_string(ydpi),
                         "-sOutputFile=" + stem + "%d.ppm", pdf_path}};
  const CommandResult result = RunCommand(command);
  if (!result.Ok()) return result.Describe(command);
  pages->clear();
  for (int page = 1;; ++page) {
    const std::string name = stem + std::to_string(page) + ".ppm";
    if (!std::filesystem::exists(name)) break;
    RgbImage image;
    std::string error;
    if (!ReadPpm(name, &image, &error)) return error;
    pages->push_back(std::move(image));
  }
  return "";
}

}  // namespace kemb::scheduler_test
