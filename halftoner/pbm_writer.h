// SPDX-License-Identifier: Apache-2.0
// PbmWriter: writes the dot image so the filter never sees half of it.
//   PbmHeader   the exact header the filter parses: "P4\n<width> <height>\n"
//   Create      makes <final>.XXXXXX (mode 0600) beside the final name, writes the header
//   WriteRow    appends one packed dot row through a large buffer
//   Commit      flushes, closes and renames the file onto its final name
//   ~PbmWriter  removes the temporary file if Commit did not succeed
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "status.h"
#include "unique_fd.h"

namespace kemb::halftone {

std::string PbmHeader(size_t columns, size_t rows);

class PbmWriter {
 public:
  PbmWriter() = default;
  PbmWriter(const PbmWriter&) = delete;
  PbmWriter& operator=(const PbmWriter&) = delete;
  ~PbmWriter();

  Status Create(const std::string& final_path, size_t columns, size_t rows);
  // `dots` holds one row, (columns + 7) / 8 bytes.
  Status WriteRow(std::span<const uint8_t> dots);
  Status Commit();

  const std::string& temp_path() const { return temp_path_; }

 private:
  Status Append(const void* bytes, size_t count);
  Status Flush();
  Status Fail(const std::string& what);
  void Discard();

  std::string final_path_;
  std::string temp_path_;
  UniqueFd fd_;
  std::vector<uint8_t> buffer_;
  size_t buffered_ = 0;
  size_t row_bytes_ = 0;
  size_t rows_left_ = 0;
};

}  // namespace kemb::halftone
