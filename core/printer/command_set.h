// SPDX-License-Identifier: Apache-2.0
// CommandSet: the bytes that differ between the printer's two command languages.
//   SetUpPage       reset and page set-up; decides shingling
//   BitImageHeader  the header in front of one pass of band data
//   Advance         the pending vertical move in front of a band
//   EndJob          what the job's end sends
// LqCommands() and AlternateCommands() live in their own files.
#pragma once

#include <cstddef>

#include "printer/byte_sink.h"
#include "printer/page_description.h"

namespace kemb {

class CommandSet {
 public:
  virtual ~CommandSet() = default;

  // Send the page set-up; returns 1 when bands are to be printed as two half-passes.
  virtual int SetUpPage(ByteSink& out, const PageDescription& page) const = 0;
  virtual void BitImageHeader(ByteSink& out, const PageDescription& page,
                              size_t columns) const = 0;
  // Move the paper by `band_steps` steps (8/180 inch, or 16 alternate-set units).
  virtual void Advance(ByteSink& out, unsigned band_steps) const = 0;
  virtual void EndJob(ByteSink& out) const = 0;
};

const CommandSet& LqCommands();
const CommandSet& AlternateCommands();

}  // namespace kemb
