// SPDX-License-Identifier: Apache-2.0
// The text jobs every front end must print to the same bytes: a small text, the model's PPD,
// the job's options and copies, and the printer bytes expected after the job's wake-up.
//   TextCase        one row of the table
//   TextCases       the table: commands, page breaks, wrap, tabs, overstrike, UTF-8 and invalid
//                   bytes, a form feed on the last line, an empty document, copies, each model
//   TextJobBytes    a case's whole expected stream: wake-up included, nothing for no page
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kemb::testing {

struct TextCase {
  std::string name;
  std::string ppd;      // file name of the model's compiled PPD
  std::string options;  // as CUPS passes them: name=value, blank-separated
  int copies = 1;
  std::string input;
  std::vector<uint8_t> expected;  // after the wake-up's NUL bytes
};

const std::vector<TextCase>& TextCases();
std::vector<uint8_t> TextJobBytes(const TextCase& text_case);

}  // namespace kemb::testing
