// SPDX-License-Identifier: Apache-2.0
// PpmReader: reads the page the filter spooled, a raw PPM (P6, maxval 255), row by row.
//   kMaxColumns / kMaxRows   the largest page accepted
//   Open                     opens the file and parses its header (comments allowed)
//   columns / rows           the page size the header states
//   ReadRow                  the next row of R, G, B bytes; a short file ends in white paper
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "status.h"
#include "unique_fd.h"

namespace kemb::halftone {

// 16384 columns is 45 inches at 360 dpi; 32768 rows is 91 inches. Anything larger is
// not a page from the filter, and refusing it keeps the row buffers small.
inline constexpr size_t kMaxColumns = 16384;
inline constexpr size_t kMaxRows = 32768;

class PpmReader {
 public:
  PpmReader() = default;
  PpmReader(const PpmReader&) = delete;
  PpmReader& operator=(const PpmReader&) = delete;

  Status Open(const std::string& path);

  size_t columns() const { return columns_; }
  size_t rows() const { return rows_; }

  // `rgb` must hold columns() * 3 bytes. Bytes the file does not have are set to 255: the
  // filter states the raster height even when the raster ended early, and the rest of
  // the page is blank paper.
  Status ReadRow(std::span<uint8_t> rgb);

 private:
  enum : int { kEnd = -1, kFailed = -2 };

  Status ParseHeader();
  Status ReadNumber(const char* what, size_t* value);
  Status SkipSeparators(const char* before_what);
  int PeekByte();
  int NextByte();
  bool Refill();
  Status ReadFailure() const;
  Status Problem(const std::string& what) const;

  std::string path_;
  UniqueFd fd_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  int read_errno_ = 0;
  size_t columns_ = 0;
  size_t rows_ = 0;
};

}  // namespace kemb::halftone
