// SPDX-License-Identifier: Apache-2.0
// The job: wake-up, PPD identity, each raster page read row by row into the page engine, reset.
#include "job/job.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "job/cancel.h"
#include "job/page_header.h"

namespace kemb {
namespace {

// The product string is "(KEMB-WMZ)" or the like: the brackets are not compared.
bool IsOurProduct(const char* product) {
  return product != nullptr && std::strlen(product) == 10 &&
         std::memcmp(product + 1, "KEMB-WMZ", 8) == 0;
}

bool IsOurManufacturer(const char* manufacturer) {
  return manufacturer != nullptr && std::strcmp(manufacturer, "KEMB") == 0;
}

}  // namespace

Status CheckPpdIdentity(const ppd_file_t* ppd) {
  if (!IsOurProduct(ppd->product)) return Status::Fail("Brand Error");
  if (!IsOurManufacturer(ppd->manufacturer)) return Status::Fail("Manufac Error");
  return Status::Ok();
}

bool IsOkidata(const ppd_file_t* ppd) {
  return ppd != nullptr && ppd->nickname != nullptr &&
         std::strstr(ppd->nickname, "OKIDATA") != nullptr;
}

namespace {

int Fail(const Job& job, const Status& status) {
  std::fprintf(job.log, "ERROR: %s\n", status.error.c_str());
  return 1;
}

void ReportPage(FILE* log, int page, const cups_page_header2_t& h) {
  std::fprintf(log,
               "ERROR: V1.0 PAGE: %d %u Width:%u Height:%u PerLine:%u  RowCount:%u "
               "Resolution:%u %u pagesize:%u %u\n",
               page, h.NumCopies, h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine, h.cupsRowCount,
               h.HWResolution[0], h.HWResolution[1], h.PageSize[0], h.PageSize[1]);
  std::fflush(log);
}

std::string_view OutputTypeOf(const cups_page_header2_t& header) {
  return {header.OutputType, strnlen(header.OutputType, sizeof header.OutputType)};
}

// One raster page into the engine, row by row; a cancel stops the rows, not the page. `row`
// is the job's, grown to the widest page so far.
Status PrintPage(const Job& job, PageEngine& engine, const cups_page_header2_t& header,
                 std::vector<uint8_t>& row) {
  PageDescription page = DescribePage(header, job.ppd);
  page.content = job.content;  // from the job's options: the same for every page
  if (Status s = engine.StartPage(page); !s.ok()) return s;
  row.resize(header.cupsBytesPerLine);
  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (cupsRasterReadPixels(job.raster, row.data(), header.cupsBytesPerLine) == 0) break;
    if (Status s = engine.AddRow(row); !s.ok()) return s;
  }
  return engine.EndPage();
}

// From the wake-up to the last page; `pages` counts the pages begun.
Status PrintPages(const Job& job, PageEngine& engine, int* pages) {
  // The job's private folder is made here, and gone, after its files, however the job ends.
  if (Status s = engine.StartJob(); !s.ok()) return s;
  if (Status s = CheckPpdIdentity(job.ppd); !s.ok()) return s;

  cups_page_header2_t header;
  std::vector<uint8_t> row;
  while (cupsRasterReadHeader2(job.raster, &header)) {
    if (Canceled) break;
    const int page = ++*pages;
    ReportPage(job.log, page, header);
    header.cupsRowCount = 24;  // every band is 24 dots high, whatever the stream says

    if (Status s = CheckPageHeader(header); !s.ok()) return s;
    if (OutputTypeOf(header).empty()) return Status::Fail("OutputType Error");
    if (Status s = PrintPage(job, engine, header, row); !s.ok()) return s;
    // Page accounting for CUPS: each page goes out once; CUPS makes the copies.
    std::fprintf(job.log, "PAGE: %d 1\n", page);
    // CUPS shows the last message as the printer's and the job's status: a plain word after
    // each page and at the end, not the last progress line of the engine.
    std::fprintf(job.log, "INFO: Printed page %d\n", page);
    if (Canceled) break;
  }
  return Status::Ok();
}

}  // namespace

PageDescription DescribePage(const cups_page_header2_t& header, const ppd_file_t* ppd) {
  PageDescription page;
  const bool lq = OutputTypeOf(header) == "LQ";
  page.command_set = lq ? CommandSetId::kLq : CommandSetId::kAlternate;
  page.okidata = lq && IsOkidata(ppd);
  page.xdpi = header.HWResolution[0];
  page.ydpi = header.HWResolution[1];
  page.width = header.cupsWidth;
  page.height = header.cupsHeight;
  page.bytes_per_line = header.cupsBytesPerLine;
  page.length_points = header.PageSize[1];
  page.band_rows = header.cupsRowCount;
  return page;
}

int RunJob(const Job& job) {
  LineLog log(job.log);
  JobSettings settings = job.engine;
  settings.log = &log;
  // The process-wide flag of the SIGTERM handler, read through the job.
  settings.canceled = [] { return Canceled != 0; };
  PageEngine engine(settings);
  int page = 0;
  // The engine decides what a failure leaves out: the reset, for one.
  if (Status s = engine.EndJob(PrintPages(job, engine, &page)); !s.ok()) return Fail(job, s);
  if (page > 0) {
    if (!Canceled) std::fputs("INFO: Ready\n", job.log);
    return 0;
  }
  // Else CUPS shows no more than "Filter failed".
  if (!Canceled) std::fputs("ERROR: The job held no pages\n", job.log);
  return 1;
}

}  // namespace kemb
