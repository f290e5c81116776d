// SPDX-License-Identifier: Apache-2.0
// Status: the outcome of a step that can end the job. A failure carries the text of its one
// "ERROR:" line (without the prefix), which the job loop writes before ending with status 1.
#pragma once

#include <string>
#include <utility>

namespace kemb {

struct [[nodiscard]] Status {
  bool failed = false;
  std::string error;

  bool ok() const { return !failed; }
  static Status Ok() { return {}; }
  static Status Fail(std::string message) { return {true, std::move(message)}; }
};

}  // namespace kemb
