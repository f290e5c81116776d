// SPDX-License-Identifier: Apache-2.0
// Document formats by their content, for documents sent without a format (or as
// application/octet-stream) and to catch a document whose content contradicts its format.
//   FormatOf        the format the first bytes show: PDF, JPEG (with or without a JFIF or Exif
//                   marker), PNG, PWG and Apple raster, CUPS raster (the driver's own format),
//                   plain text (printable characters and the controls text holds)
//   FormatMismatch  for a PDF, JPEG or PNG document and its first bytes: empty when they
//                   agree, else the job's message
//   ReadHead        the first bytes of a document file
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kemb::app {

// How many bytes FormatOf looks at, at most (PDF's header may follow a little leading junk).
inline constexpr size_t kSniffBytes = 1024;
// The driver's own document format: PWG, Apple or CUPS raster, which the application reads
// from the spooled file. PAPPL looks for a filter to it before its own to image/pwg-raster.
inline constexpr const char* kDriverFormat = "application/vnd.kemb-raster";

// Null when the bytes show none of the formats the printers take.
const char* FormatOf(std::span<const uint8_t> head);
std::string FormatMismatch(const char* declared, std::span<const uint8_t> head);
// Empty when the file cannot be read.
std::vector<uint8_t> ReadHead(const char* filename);

}  // namespace kemb::app
