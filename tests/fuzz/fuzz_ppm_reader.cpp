// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the halftoner's image reader (PpmReader) over any file content.
//   ReadFile      the bytes as a file (a memfd), opened and read up to two rows past the data
//   checks        an accepted page lies within kMaxColumns x kMaxRows; no row read fails on a
//                 readable file; and, comparing with the same file plus one byte 00 appended,
//                 the rows are exactly the file's bytes after the header followed by white
//                 paper (the appended byte shows up exactly where the paper began)
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "ppm_reader.h"
#include "unique_fd.h"

namespace {

struct Reading {
  bool opened = false;
  size_t columns = 0, rows = 0;
  std::vector<uint8_t> rgb;  // the rows read, one after the other
};

// Reads up to two rows past `data_end` bytes, which no header can make too few.
Reading ReadFile(const std::vector<uint8_t>& bytes, size_t data_end) {
  kemb::halftone::UniqueFd file(memfd_create("ppm", MFD_CLOEXEC));
  FUZZ_CHECK(file.valid(), "memfd_create failed");
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    FUZZ_CHECK(n > 0, "write to memfd failed");
    done += static_cast<size_t>(n);
  }
  kemb::halftone::PpmReader reader;
  Reading reading;
  if (!reader.Open("/proc/self/fd/" + std::to_string(file.get())).ok()) return reading;
  reading.opened = true;
  reading.columns = reader.columns();
  reading.rows = reader.rows();
  FUZZ_CHECK(reading.columns >= 1 && reading.columns <= kemb::halftone::kMaxColumns && reading.rows >= 1 &&
                 reading.rows <= kemb::halftone::kMaxRows,
             "accepted a page of %zu x %zu", reading.columns, reading.rows);
  const size_t row_bytes = reading.columns * 3;
  const size_t rows = std::min(reading.rows, data_end / row_bytes + 2);
  std::vector<uint8_t> row(row_bytes);
  for (size_t y = 0; y < rows; ++y) {
    const kemb::halftone::Status status = reader.ReadRow(row);
    FUZZ_CHECK(status.ok(), "row %zu: %s", y, status.message().c_str());
    reading.rgb.insert(reading.rgb.end(), row.begin(), row.end());
  }
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const Reading plain = ReadFile(bytes, size);
  if (!plain.opened) return 0;

  bytes.push_back(0x00);
  const Reading longer = ReadFile(bytes, size);
  FUZZ_CHECK(longer.opened && longer.columns == plain.columns && longer.rows == plain.rows,
             "one byte more after the header changes the header reading");
  const std::vector<uint8_t>& a = plain.rgb;
  const std::vector<uint8_t>& b = longer.rgb;
  FUZZ_CHECK(a.size() == b.size(), "%zu and %zu row bytes", a.size(), b.size());

  size_t paper = 0;  // first byte of paper in `a`
  while (paper < a.size() && a[paper] == b[paper]) ++paper;
  if (paper == a.size()) {
    // The data outlasted the rows read, which must then be the whole page.
    FUZZ_CHECK(a.size() == plain.rows * plain.columns * 3,
               "rows end at byte %zu without paper, page not complete", a.size());
    return 0;
  }
  FUZZ_CHECK(a[paper] == 0xFF && b[paper] == 0x00, "row byte %zu reads %02x and %02x", paper,
             a[paper], b[paper]);
  for (size_t i = paper + 1; i < a.size(); ++i) {
    FUZZ_CHECK(a[i] == 0xFF && b[i] == 0xFF, "row byte %zu after the data is not paper", i);
  }
  // The data are the file's last `paper` bytes, after a header of size - paper bytes.
  FUZZ_CHECK(paper < size, "more data (%zu) than file (%zu)", paper, size);
  const size_t header = size - paper;
  for (size_t i = 0; i < paper; ++i) {
    FUZZ_CHECK(a[i] == data[header + i], "row byte %zu is not file byte %zu", i, header + i);
  }
  return 0;
}
