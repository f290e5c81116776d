// SPDX-License-Identifier: Apache-2.0
// The printer's resident character table, code page 437, for listing and drawing text
// (internal to kembdecode).
//
//   IsPrintable        the bytes a command set prints as characters
//   AppendUtf8         one printed byte as UTF-8, for the listing
#pragma once

#include <cstdint>
#include <string>

namespace kembview::detail {

// The LQ set prints 20h-7Eh and, with the code page 437 table, 80h-FFh; the alternate set
// is known to print ASCII only. 7Fh and the C0 controls are not characters on either.
inline bool IsPrintable(uint8_t byte, bool ascii_only) {
  if (byte >= 0x20 && byte <= 0x7E) return true;
  return !ascii_only && byte >= 0x80;
}

void AppendUtf8(uint8_t byte, std::string& out);

}  // namespace kembview::detail
