// SPDX-License-Identifier: Apache-2.0
// libcups pieces the filter needs beyond the public, non-deprecated API:
//   <cups/ppd.h> with its deprecation warnings silenced here and nowhere else: opening, marking
//   the job's options, the marked choices and page size, the raster header they make
//   _cupsLangPrintFilter, exported by libcups but declared only in a private header
#pragma once

#include <cstdio>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
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

inline void MarkJobOptions(ppd_file_t* ppd, int count, cups_option_t* options) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, options);
#pragma GCC diagnostic pop
}

// The keyword of the option's marked choice, or nullptr.
inline const char* MarkedChoice(ppd_file_t* ppd, const char* option) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
#pragma GCC diagnostic pop
  return choice != nullptr ? choice->choice : nullptr;
}

// The marked page size with its imageable area.
inline ppd_size_t* MarkedPageSize(ppd_file_t* ppd) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ppdPageSize(ppd, nullptr);
#pragma GCC diagnostic pop
}

// The raster header the PPD's marked options make, as the raster path's pages carry it.
inline bool InterpretPpd(cups_page_header2_t* header, ppd_file_t* ppd, int count,
                         cups_option_t* options) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return cupsRasterInterpretPPD(header, ppd, count, options, nullptr) == 0;
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
