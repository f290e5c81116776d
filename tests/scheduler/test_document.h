// SPDX-License-Identifier: Apache-2.0
// The document the scheduler test prints, and Ghostscript's own picture of it to compare with.
//   kDocument*, kPicture*   page size and where the picture sits, in points
//   DocumentPostScript      page 1: lines of black text in several faces and sizes; page 2: a
//                           smooth colour portrait, mostly mid-tones, with few dark pixels
//   RgbImage, ReadPpm       a decoded P6 file
//   MakePdf, RenderPages    ps2pdf and gs runs (commands with their output on failure)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kemb::scheduler_test {

inline constexpr int kDocumentWidth = 595;  // A4
inline constexpr int kDocumentHeight = 842;
inline constexpr int kPictureLeft = 170, kPictureBottom = 400, kPictureSize = 252;

std::string DocumentPostScript();

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width*height pixels, R G B

  // R + G + B, 0 to 765; 765 (paper) outside the image.
  int Sum(int x, int y) const;
};

// Decodes a raw PPM (P6, maxval 255); false with *error set when it is not one.
bool ReadPpm(const std::string& path, RgbImage* image, std::string* error);

// Both return an empty string on success, else what went wrong.
std::string MakePdf(const std::string& postscript_path, const std::string& pdf_path);
std::string RenderPages(const std::string& pdf_path, int xdpi, int ydpi, const std::string& folder,
                        std::vector<RgbImage>* pages);

}  // namespace kemb::scheduler_test
