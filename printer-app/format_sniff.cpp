// SPDX-License-Identifier: Apache-2.0
#include "format_sniff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace kemb::app {
namespace {

bool StartsWith(std::span<const uint8_t> head, std::string_view magic) {
  return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

// What a reader would call the format in a message.
const char* NameOf(std::string_view format) {
  if (format == "application/pdf") return "a PDF";
  if (format == "image/jpeg") return "a JPEG image";
  if (format == "image/png") return "a PNG image";
  if (format == "image/pwg-raster") return "PWG raster";
  if (format == "image/urf") return "Apple raster";
  if (format == kDriverFormat) return "CUPS raster";
  return nullptr;
}

// Printable characters (UTF-8 or Latin-1 alike) and the controls of plain text: tabs, line and
// form feeds, and the backspaces and escapes of formatted manual pages and terminal output.
bool LooksLikeText(std::span<const uint8_t> head) {
  if (head.empty()) return false;
  return std::all_of(head.begin(), head.end(), [](uint8_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\b' || c == 0x1b ||
           (c >= 0x20 && c != 0x7f);
  });
}

}  // namespace

const char* FormatOf(std::span<const uint8_t> head) {
  head = head.first(std::min(head.size(), kSniffBytes));
  if (StartsWith(head, "\xff\xd8\xff")) return "image/jpeg";
  if (StartsWith(head, "\x89PNG\r\n\x1a\n")) return "image/png";
  if (StartsWith(head, "RaS2PwgR")) return "image/pwg-raster";
  if (StartsWith(head, std::string_view("UNIRAST\0", 8))) return "image/urf";
  // CUPS raster in either byte order, version 1, 2 or 3.
  for (std::string_view sync : {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR"})
    if (StartsWith(head, sync)) return kDriverFormat;
  // Readers accept a PDF header within the first kilobyte.
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  if (text.find("%PDF-") != std::string_view::npos) return "application/pdf";
  // PostScript is text too, but not to be printed as a listing.
  if (!StartsWith(head, "%!") && LooksLikeText(head)) return "text/plain";
  return nullptr;
}

std::string FormatMismatch(const char* declared, std::span<const uint8_t> head) {
  // Only the documents our filters decode; raster is checked page by page as it is read.
  const std::string_view d = declared ? declared : "";
  if (d != "application/pdf" && d != "image/jpeg" && d != "image/png") return {};
  const char* expected = NameOf(d);
  const char* found = FormatOf(head);
  if (found && std::strcmp(found, declared) == 0) return {};
  std::string message = std::string("The document was sent as ") + declared + " but is not " +
                        expected + ": ";
  if (head.empty()) return message + "it is empty";
  if (const char* name = found ? NameOf(found) : nullptr)
    return message + "it is " + name;
  if (LooksLikeText(head.first(std::min<size_t>(head.size(), 64))))
    return message + "it is text";
  message += "it starts with the bytes";
  for (uint8_t b : head.first(std::min<size_t>(head.size(), 4))) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), " %02X", b);
    message += hex;
  }
  return message;
}

std::vector<uint8_t> ReadHead(const char* filename) {
  std::vector<uint8_t> head(kSniffBytes);
  FILE* fp = filename ? std::fopen(filename, "rbe") : nullptr;
  if (!fp) return {};
  head.resize(std::fread(head.data(), 1, head.size(), fp));
  std::fclose(fp);
  return head;
}

}  // namespace kemb::app
