// SPDX-License-Identifier: Apache-2.0
// decode-floor [raster-file]: decodes every row of the job and discards it. Its cost is the
// part of the filter's work that belongs to libcups.
#include "floor_pages.h"

namespace {

class Discard final : public kembbench::PageVisitor {
 public:
  bool StartPage(const cups_page_header2_t&, unsigned) override { return true; }
  bool Row(const uint8_t*, size_t) override { return true; }
  bool EndPage() override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  Discard discard;
  return kembbench::DecodeJob(argc, argv, "decode-floor", discard);
}
