// SPDX-License-Identifier: Apache-2.0
// Raster documents: the page check, the print passes.
#include "raster_filter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "driver.h"
#include "job_run.h"

namespace kemb::app {
namespace {

std::string RasterTypeName(const cups_page_header2_t& h) {
  const char* space = nullptr;
  switch (h.cupsColorSpace) {
    case CUPS_CSPACE_SW: space = "sgray"; break;
    case CUPS_CSPACE_W: space = "gray"; break;
    case CUPS_CSPACE_K: space = "black"; break;
    case CUPS_CSPACE_SRGB: space = "srgb"; break;
    case CUPS_CSPACE_RGB: space = "rgb"; break;
    case CUPS_CSPACE_ADOBERGB: space = "adobe-rgb"; break;
    case CUPS_CSPACE_CMYK: space = "cmyk"; break;
    default: break;
  }
  std::string name = space ? space : "colour space " + std::to_string(h.cupsColorSpace);
  return name + "_" + std::to_string(h.cupsBitsPerColor);
}

std::string ResolutionList(const Model& model) {
  std::string list;
  const auto& all = model.raster_resolutions;
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0) list += i + 1 == all.size() ? " and " : ", ";
    list += std::to_string(all[i].x) + "x" + std::to_string(all[i].y);
  }
  return list;
}

// Reads every page once; the first problem, or "" with the page count.
std::string CheckPages(const Model& model, int fd, int* pages) {
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!raster) return "The document is not a PWG, Apple or CUPS raster stream";
  std::string problem;
  cups_page_header2_t header;
  std::vector<unsigned char> line;
  *pages = 0;
  while (problem.empty() && cupsRasterReadHeader2(raster, &header)) {
    ++*pages;
    problem = PageProblem(model, header);
    if (!problem.empty()) {
      problem = "Page " + std::to_string(*pages) + " " + problem;
      break;
    }
    line.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) !=
          header.cupsBytesPerLine) {
        problem = "Page " + std::to_string(*pages) + " ends after " + std::to_string(y) + " of " +
                  std::to_string(header.cupsHeight) + " lines";
        break;
      }
    }
  }
  cupsRasterClose(raster);
  if (problem.empty() && *pages == 0) problem = "The document has no pages";
  return problem;
}

}  // namespace

std::string PageProblem(const Model& model, const cups_page_header2_t& header) {
  SheetFormat sheet;
  if (!SheetFormatOf(header, nullptr, &sheet))
    return "is " + RasterTypeName(header) + " raster of " + std::to_string(header.cupsWidth) +
           "x" + std::to_string(header.cupsHeight) +
           " pixels; the printer prints black_1, black_8, sgray_8 and srgb_8 pages";
  if (!PrintsRasterAt(model, sheet.resolution))
    return "is at " + std::to_string(sheet.resolution.x) + "x" +
           std::to_string(sheet.resolution.y) + " dpi; the " + model.make_and_model +
           " prints raster pages at " + ResolutionList(model) + " dpi";
  return {};
}

bool RasterFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  CurrentRun current(job);
  JobRun* run = current.get();
  if (!run) return false;
  const int fd = open(current.document(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (!run->canceled())
      run->Fail(std::string("Unable to open the job's document: ") + std::strerror(errno));
    return false;
  }
  int pages = 0;
  const std::string problem = CheckPages(run->model(), fd, &pages);
  bool ok = problem.empty();
  if (!ok) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    run->Fail(problem);
  }
  pappl_pr_options_t* options = ok ? papplJobCreatePrintOptions(job, 0, true) : nullptr;
  if (ok && !options) {
    run->Fail("Unable to read the job's options");
    ok = false;
  }
  const int copies = options ? std::max(1, options->copies) : 1;
  if (ok) papplJobSetImpressions(job, pages * copies);
  // Collated: the whole document once per copy.
  for (int copy = 0; ok && copy < copies && !run->canceled(); ++copy) {
    cups_raster_t* raster = lseek(fd, 0, SEEK_SET) == 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ)
                                                        : nullptr;
    ok = raster && PrintRaster(*run, raster, device, options);
    if (!raster) run->Fail("Unable to read the job's document again");
    cupsRasterClose(raster);
  }
  papplJobDeletePrintOptions(options);
  close(fd);
  return run->EndJob(device).ok() && ok;
}

}  // namespace kemb::app
