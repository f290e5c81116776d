// SPDX-License-Identifier: Apache-2.0
// Status: the outcome of one step of the halftoner.
//   Status::Ok()        the step worked
//   Status::Error(why)  the step failed; `why` becomes the one-line ERROR message
#pragma once

#include <string>
#include <utility>

namespace kemb::halftone {

class Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string why) { return Status(std::move(why)); }

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

 private:
  Status() = default;
  // An empty reason would read as success, so it is replaced.
  explicit Status(std::string why)
      : message_(why.empty() ? std::string("unknown failure") : std::move(why)) {}

  std::string message_;
};

}  // namespace kemb::halftone
