// SPDX-License-Identifier: Apache-2.0
// What each compiled PPD must offer, one row per model:
//   PaperSize, Resolution   a page-size keyword or resolution choice with its values
//   PpdModel                file name, model, command set, OEM flag, print line, resolutions,
//                           sizes
//   Models()                the table the PPD tests run over
//   ModelTestName()         the model as a test name
//   PpdPath()               where the build put a model's PPD
#pragma once

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace kemb::ppd_test {

struct PaperSize {
  std::string keyword;
  int width;   // points
  int length;  // points
};

struct Resolution {
  std::string keyword;
  int x;
  int y;
};

struct PpdModel {
  std::string file;                     // name in the build's ppd folder
  std::string model;                    // MDL of the printer's IEEE 1284 device ID
  std::string output_type;              // OutputType every page must carry
  bool okidata;                         // nickname names the OEM customer
  double print_line;                    // widest imageable width the carriage allows, points
  std::vector<Resolution> resolutions;  // offered, in PPD order
  std::string default_resolution;
  std::vector<PaperSize> sizes;  // offered, in PPD order; the first is the default
};

inline const std::vector<PaperSize>& SheetAndFanfoldSizes() {
  static const std::vector<PaperSize> sizes = {
      {"A4", 595, 842},
      {"Letter", 612, 792},
      {"Legal", 612, 1008},
      {"Letter.Fanfold", 612, 792},
      {"FanFoldGerman", 612, 864},
  };
  return sizes;
}

inline const std::vector<PpdModel>& Models() {
  static const std::vector<PpdModel> models = [] {
    const std::vector<Resolution> lq = {{"180x180dpi", 180, 180}, {"360x180dpi", 360, 180}};
    const std::vector<Resolution> alt = {{"60x60dpi", 60, 60},
                                         {"120x120dpi", 120, 120},
                                         {"180x180dpi", 180, 180},
                                         {"240x240dpi", 240, 240},
                                         {"360x180dpi", 360, 180}};
    const double narrow_line = 8.0 * 72;  // 80 columns at 10 per inch
    const double wide_line = 13.6 * 72;   // 136 columns
    std::vector<PaperSize> wide_sizes = SheetAndFanfoldSizes();
    wide_sizes.push_back({"11x14.875Rotated", 1071, 792});
    return std::vector<PpdModel>{
        {"kemb24.ppd", "WMZ-24", "LQ", false, narrow_line, lq, "180x180dpi", SheetAndFanfoldSizes()},
        {"kemb24w.ppd", "WMZ-24W", "LQ", false, wide_line, lq, "180x180dpi", wide_sizes},
        {"kemb24o.ppd", "OKIDATA WMZ-24", "LQ", true, narrow_line, lq, "180x180dpi", SheetAndFanfoldSizes()},
        {"kemb24a.ppd", "WMZ-24A", "ALT", false, narrow_line, alt, "180x180dpi", SheetAndFanfoldSizes()},
    };
  }();
  return models;
}

// Names the model in test output instead of dumping its bytes.
inline void PrintTo(const PpdModel& model, std::ostream* os) {
  *os << model.file;
}

// A test-name-safe form of the model's file name: kemb24.ppd gives kemb24_ppd.
inline std::string ModelTestName(const PpdModel& model) {
  std::string name = model.file;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

inline std::string PpdPath(const PpdModel& model) {
  return std::string(KEMB_PPD_DIR) + "/" + model.file;
}

}  // namespace kemb::ppd_test
