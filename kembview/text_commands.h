// SPDX-License-Identifier: Apache-2.0
// Reading printed characters and the LQ set's text commands (internal to kembdecode).
//
//   IsTextEscape    whether ESC followed by a letter is a text command in a set
//   ReadTextEscape  ESC x, P, M, g, 0, t, E, F (LQ set), -
//   ReadCondensed   SI, DC2
//   ReadTextRun     printed characters, shown as UTF-8
// In the alternate set the text commands are listed with what they would do, as problems:
// that printer is not known to understand them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "command_reader.h"

namespace kembview::detail {

bool IsTextEscape(uint8_t letter, CommandSet set);
Token ReadTextEscape(std::span<const uint8_t> stream, size_t pos, CommandSet set);
Token ReadCondensed(size_t pos, uint8_t byte, CommandSet set);
Token ReadTextRun(std::span<const uint8_t> stream, size_t pos, CommandSet set);

}  // namespace kembview::detail
