// SPDX-License-Identifier: Apache-2.0
// The command listing of `kembview --list`.
//
//   ListCommands     the stream as one entry per command
//   FormatListLine   one entry as a line of text
#include <algorithm>
#include <cstdio>

#include "command_reader.h"
#include "stream_decoder.h"

namespace kembview {

std::vector<Command> ListCommands(std::span<const uint8_t> stream) {
  std::vector<Command> commands;
  detail::CommandReader reader(stream);
  while (!reader.AtEnd()) commands.push_back(reader.Next().command);
  return commands;
}

std::string FormatListLine(const Command& command) {
  char offset[24];
  std::snprintf(offset, sizeof offset, "%08zx  ", command.offset);
  std::string line = offset + command.name;
  if (!command.params.empty()) {
    line.resize(std::max(line.size() + 1, size_t{10 + 16}), ' ');
    line += command.params;
  }
  return line;
}

}  // namespace kembview
