// The job: wake-up, PPD identity, one pass of the page pipeline per raster page, reset.
#include "job/job.h"

#include <cstring>

#include "job/cancel.h"
#include "job/page_header.h"
#include "job/page_pipeline.h"
#include "job/spool_folder.h"
#include "printer/printer.h"

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

}  // namespace

bool IsValidJobId(const char* id) {
  const size_t length = std::strlen(id);
  if (length < 1 || length > 10) return false;
  return std::strspn(id, "0123456789") == length;
}

int RunJob(const Job& job) {
  PrintState state;
  for (ByteBuffer* buffer : {&state.Planes[0], &state.CompBuffer, &state.BandBlock}) {
    buffer->SetAllocator(job.allocator);
  }
  ByteSink& out = *job.out;
  if (Status s = Setup(state, out); !s.ok()) return Fail(job, s);

  if (!IsOurProduct(job.ppd->product)) {
    std::fputs("ERROR: Brand Error\n", job.log);
    return 1;
  }
  if (!IsOurManufacturer(job.ppd->manufacturer)) {
    std::fputs("ERROR: Manufac Error\n", job.log);
    return 1;
  }

  // Made before the first page and gone, after its files, however the job ends.
  SpoolFolder folder;
  if (Status s = folder.Make(job.spool_dir, job.id); !s.ok()) return Fail(job, s);
  PagePipeline pipeline(job, folder.path());
  cups_page_header2_t header;
  int page = 0;
  while (cupsRasterReadHeader2(job.raster, &header)) {
    if (Canceled) break;
    ++page;
    ReportPage(job.log, page, header);
    header.cupsRowCount = 24;  // every band is 24 dots high, whatever the stream says

    if (Status s = CheckPageHeader(header); !s.ok()) return Fail(job, s);
    if (Status s = StartPage(state, out, job.ppd, header); !s.ok()) return Fail(job, s);
    if (Status s = pipeline.PrintPage(state, header, page); !s.ok()) return Fail(job, s);
    // Page accounting for CUPS: each page goes out once; CUPS makes the copies.
    std::fprintf(job.log, "PAGE: %d 1\n", page);
    if (Canceled) break;
  }

  if (Status s = Shutdown(state, out); !s.ok()) return Fail(job, s);
  if (page > 0) return 0;
  // Else CUPS shows no more than "Filter failed".
  if (!Canceled) std::fputs("ERROR: The job held no pages\n", job.log);
  return 1;
}

}  // namespace kemb
