// Test fixtures on the input side:
//   PageHeader     a page header as the PPDs make it: 24-bit chunky RGB, OutputType, paper length
//   RasterPage     a header and its RGB rows; SetDot / Fill to draw on it
//   RasterBytes    a CUPS raster stream written by libcups itself
//   WritePpd       a small PPD with a chosen product, manufacturer and nickname
//   TempDir        a private folder removed with its contents
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace kemb::testing {

cups_page_header2_t PageHeader(unsigned width, unsigned height, unsigned xdpi = 180,
                               unsigned ydpi = 180, const char* output_type = "LQ",
                               unsigned page_length_points = 792);

struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> rgb;  // cupsHeight rows of cupsBytesPerLine bytes, white to start

  explicit RasterPage(const cups_page_header2_t& h);
  uint8_t* Row(unsigned y) { return rgb.data() + size_t{y} * header.cupsBytesPerLine; }
  void SetPixel(unsigned x, unsigned y, uint8_t r, uint8_t g, uint8_t b);
  void SetDot(unsigned x, unsigned y) { SetPixel(x, y, 0, 0, 0); }
  bool IsBlack(unsigned x, unsigned y) const;
};

// The stream libcups writes for `pages` (CUPS_RASTER_WRITE: uncompressed; WRITE_COMPRESSED).
std::vector<uint8_t> RasterBytes(const std::vector<RasterPage>& pages,
                                 cups_mode_t mode = CUPS_RASTER_WRITE);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

std::string WritePpd(const std::string& path, const std::string& product,
                     const std::string& manufacturer, const std::string& nickname = "KEMB LQ");

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace kemb::testing
