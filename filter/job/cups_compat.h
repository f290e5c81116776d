// SPDX-License-Identifier: Apache-2.0
// libcups pieces the filter needs beyond the public, non-deprecated API:
//   <cups/ppd.h> with its deprecation warnings silenced here and nowhere else
//   _cupsLangPrintFilter, exported by libcups but declared only in a private header
#pragma once

#include <cstdio>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#pragma GCC diagnostic pop

extern "C" int _cupsLangPrintFilter(FILE* fp, const char* prefix, const char* message, ...)
    __attribute__((format(printf, 3, 4)));

namespace kemb {

// ppdOpenFile and friends, callable without a deprecation warning at each call site.
inline ppd_file_t* OpenPpd(const char* path) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ppdOpenFile(path);
#pragma GCC diagnostic pop
}

inline void ClosePpd(ppd_file_t* ppd) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ppdClose(ppd);
#pragma GCC diagnostic pop
}

// The parse error of the last failed open, and the line it was found on.
inline const char* LastPpdError(int* line) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ppdErrorString(ppdLastError(line));
#pragma GCC diagnostic pop
}

}  // namespace kemb
