// SPDX-License-Identifier: Apache-2.0
// The KEMB drivers on PAPPL.
//   driver list     one entry per model
//   option mapping  resolution, content, page header to sheet
//   StreamCopies    a streamed job's pages kept for its copies
//   callbacks       raster job and page steps, identify, test page, printer deletion
//   DriverCallback  the driver data of one printer
//   AutoAdd         manufacturer KEMB in the device ID
//   PrintRaster     the page loop for raster streams the application reads itself
#include "driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "app_config.h"
#include "raster_filter.h"
#include "test_page.h"
#include "text_filter.h"

namespace kemb::app {

std::vector<pappl_pr_driver_t>& DriverList() {
  static std::vector<pappl_pr_driver_t> list = [] {
    std::vector<pappl_pr_driver_t> drivers;
    for (const Model& m : Models())
      drivers.push_back({m.driver_name, m.description, m.device_id, nullptr});
    return drivers;
  }();
  return list;
}

Resolution ResolutionFor(const Model& model, pappl_job_t* job, ipp_quality_t quality) {
  if (ipp_attribute_t* attr = papplJobGetAttribute(job, "printer-resolution")) {
    int y = 0;
    ipp_res_t units;
    int x = ippGetResolution(attr, 0, &y, &units);
    if (units == IPP_RES_PER_INCH && x > 0 && y > 0)
      return {static_cast<unsigned>(x), static_cast<unsigned>(y)};
  }
  // PAPPL's own choice for "normal" is the middle of the list, not the driver's default.
  switch (quality) {
    case IPP_QUALITY_DRAFT:
      return model.draft;
    case IPP_QUALITY_HIGH:
      return model.high;
    default:
      return model.normal;
  }
}

Content ContentFor(pappl_content_t content, const char* format) {
  switch (content) {
    case PAPPL_CONTENT_TEXT:
      return Content::kText;
    case PAPPL_CONTENT_PHOTO:
      return Content::kPhoto;
    case PAPPL_CONTENT_GRAPHIC:
      return Content::kGraphic;
    case PAPPL_CONTENT_TEXT_AND_GRAPHIC:
      return Content::kTextAndGraphic;
    default:
      break;
  }
  // The application's own `auto`: the page-wide dark share prints photos as black blocks, so a
  // picture sent as an image prints as a photo and every other page keeps its text crisp with
  // its pictures halftoned.
  const std::string_view f = format ? format : "";
  if (f == "image/jpeg" || f == "image/png") return Content::kPhoto;
  return Content::kTextAndGraphic;
}

bool SheetFormatOf(const cups_page_header2_t& header, const pappl_pr_options_t* options,
                   SheetFormat* sheet) {
  const unsigned bpp = header.cupsBitsPerPixel;
  const cups_cspace_t cs = header.cupsColorSpace;
  if (header.cupsColorOrder != CUPS_ORDER_CHUNKED) return false;
  if (bpp == 24 && header.cupsBitsPerColor == 8 &&
      (cs == CUPS_CSPACE_RGB || cs == CUPS_CSPACE_SRGB || cs == CUPS_CSPACE_ADOBERGB))
    sheet->layout = PixelLayout::kRgb8;
  else if (bpp == 8 && (cs == CUPS_CSPACE_W || cs == CUPS_CSPACE_SW))
    sheet->layout = PixelLayout::kGray8;
  else if (bpp == 8 && cs == CUPS_CSPACE_K)
    sheet->layout = PixelLayout::kBlack8;
  else if (bpp == 1 && cs == CUPS_CSPACE_K)
    sheet->layout = PixelLayout::kBlack1;
  else
    return false;
  if (header.cupsWidth == 0 || header.cupsHeight == 0 || header.HWResolution[0] == 0 ||
      header.HWResolution[1] == 0 || header.cupsWidth > 100000 || header.cupsHeight > 100000 ||
      header.cupsBytesPerLine != (size_t{header.cupsWidth} * bpp + 7) / 8)
    return false;
  sheet->width = header.cupsWidth;
  sheet->height = header.cupsHeight;
  sheet->bytes_per_line = header.cupsBytesPerLine;
  sheet->resolution = {header.HWResolution[0], header.HWResolution[1]};
  sheet->width_points = header.PageSize[0];
  sheet->length_points = header.PageSize[1];
  if (sheet->width_points == 0 || sheet->length_points == 0) {
    sheet->width_points =
        (header.cupsWidth * 72 + header.HWResolution[0] / 2) / header.HWResolution[0];
    sheet->length_points =
        (header.cupsHeight * 72 + header.HWResolution[1] / 2) / header.HWResolution[1];
  }
  sheet->continuous = options && std::strncmp(options->media.type, "continuous", 10) == 0;
  return true;
}

namespace {

// A streamed job's pages as they print, kept compressed in the job's folder for the copies
// after the first: PAPPL hands a stream over once, and makes no copies of it.
struct StreamCopies {
  int fd = -1;
  cups_raster_t* out = nullptr;
  int copies = 1;

  void Open(const JobRun& run, int n) {
    copies = n;
    const std::string path = run.folder() + "/copies.ras";
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    out = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED) : nullptr;
  }
  // The copies after the first, once the stream has ended.
  void Print(JobRun& run, pappl_device_t* device, const pappl_pr_options_t* options) {
    if (out) cupsRasterClose(out);
    out = nullptr;
    if (fd < 0 || copies < 2) return;
    if (run.pages() > 0) papplJobSetImpressions(run.job(), run.pages() * copies);
    for (int copy = 1; copy < copies && !run.failed() && !run.canceled(); ++copy) {
      cups_raster_t* raster =
          lseek(fd, 0, SEEK_SET) == 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
      if (!raster || !PrintRaster(run, raster, device, options))
        run.Fail("Unable to print copy " + std::to_string(copy + 1));
      cupsRasterClose(raster);
    }
  }
  void Close() {
    if (out) cupsRasterClose(out);
    if (fd >= 0) close(fd);
    *this = {};
  }
};
thread_local StreamCopies t_copies;

// Raster jobs PAPPL reads itself: JPEG and PNG through its image scaler (which makes their
// copies), and streamed PWG and Apple raster.
bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  PrinterContext* context = ContextOf(papplJobGetPrinter(job));
  if (!context) return false;
  JobRun* run = JobRun::StartCurrent(job, *context);
  if (!run->StartJob()) {
    JobRun::EndCurrent();
    return false;
  }
  t_copies.Close();
  if (!papplJobGetFilename(job) && options && options->copies > 1) {
    t_copies.Open(*run, options->copies);
    if (!t_copies.out) {
      run->Fail("Unable to keep the pages for their copies in " + run->folder());
      return false;
    }
  }
  return true;
}

// PAPPL 1.3.1 hands a streamed page's own header over only when the page has 8 bits or more a
// colour; for a 1-bit page it hands over the header it makes for such a page itself (over lines
// that are not in its layout), which this finds.
bool HeaderHidden(pappl_job_t* job, const cups_page_header2_t& header) {
  if (papplJobGetFilename(job)) return false;
  pappl_pr_options_t* made = papplJobCreatePrintOptions(
      job, static_cast<unsigned>(std::max(0, papplJobGetImpressions(job))), false);
  const bool same = made && std::memcmp(&made->header, &header, sizeof(header)) == 0;
  papplJobDeletePrintOptions(made);
  return same;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned page) {
  JobRun* run = JobRun::Current();
  if (!run) return false;
  std::string problem = PageProblem(run->model(), options->header);
  if (problem.empty() && HeaderHidden(job, options->header))
    problem = std::string("has fewer than 8 bits a colour (such as black_1), whose own page "
                          "header PAPPL does not pass on from a stream; send it as ") +
              kDriverFormat + " or as sgray_8";
  SheetFormat sheet;
  if (!problem.empty() || !SheetFormatOf(options->header, options, &sheet)) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    run->Fail("Page " + std::to_string(page) + " " + problem);
    return false;
  }
  if (!run->StartPage(device, sheet,
                      ContentFor(options->print_content_optimize, papplJobGetFormat(job)))
           .ok())
    return false;
  if (t_copies.out && !cupsRasterWriteHeader2(t_copies.out, &options->header)) {
    run->Fail("Unable to keep the pages for their copies");
    return false;
  }
  return true;
}

bool WriteLine(pappl_job_t*, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
               const unsigned char* line) {
  JobRun* run = JobRun::Current();
  if (!run) return false;
  if (t_copies.out && cupsRasterWritePixels(t_copies.out, const_cast<unsigned char*>(line),
                                            options->header.cupsBytesPerLine) !=
                          options->header.cupsBytesPerLine) {
    run->Fail("Unable to keep the pages for their copies");
    return false;
  }
  return run->AddRow(y, {line, options->header.cupsBytesPerLine}).ok();
}

bool EndPage(pappl_job_t*, pappl_pr_options_t*, pappl_device_t* device, unsigned) {
  JobRun* run = JobRun::Current();
  if (!run) return false;
  return run->EndPage(device).ok();
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  JobRun* run = JobRun::Current();
  if (!run) return false;
  // PAPPL refuses a streamed page it cannot read (16 bits a colour, planes) with a log line
  // only, and the job then counts as cancelled: the job says why.
  if (run->pages() == 0 && !run->failed() &&
      (papplJobGetReasons(job) & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR))
    run->Fail("The raster's first page is of a kind the printer cannot read; it prints "
              "black_8, sgray_8 and srgb_8 raster streams");
  if (options) t_copies.Print(*run, device, options);
  t_copies.Close();
  const bool ok = run->EndJob(device).ok();
  JobRun::EndCurrent();
  return ok;
}

// A dot-matrix printer cannot show a message, but it can ring its bell.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char*) {
  PrinterContext* context = ContextOf(printer);
  if (!context || !(actions & PAPPL_IDENTIFY_ACTIONS_SOUND)) return;
  if (!context->gate->MayAdmit()) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Printing; identify skipped.");
    return;
  }
  if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
    static const unsigned char kBell[] = {0x07, 0x07, 0x07};
    papplDeviceWrite(device, kBell, sizeof(kBell));
    papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
  }
}

const char* TestPage(pappl_printer_t* printer, char* buffer, size_t size) {
  PrinterContext* context = ContextOf(printer);
  // A job created this way bypasses the IPP operation check, so it must wait its turn here.
  if (!context || !context->gate->MayAdmit() || papplPrinterGetNumberOfActiveJobs(printer) > 0)
    return nullptr;
  std::string dir = Config().state_dir.empty() ? Config().spool_dir : Config().state_dir;
  std::string path = dir + "/testpage-" + std::to_string(papplPrinterGetID(printer)) + ".pdf";
  if (!WriteTestPage(path, *context->model, papplPrinterGetName(printer))) return nullptr;
  snprintf(buffer, size, "%s", path.c_str());
  return buffer;
}

void DeletePrinter(pappl_printer_t*, pappl_pr_driver_data_t* data) {
  delete static_cast<PrinterContext*>(data->extension);
  data->extension = nullptr;
}

int HundredthsMm(unsigned points) {
  return static_cast<int>((points * 2540 + 36) / 72);
}

// PAPPL checks ready media against its media list: the PWG size, and the driver's margins.
pappl_media_col_t MediaCol(const Paper& paper, const pappl_pr_driver_data_t& data) {
  pappl_media_col_t col{};
  snprintf(col.size_name, sizeof(col.size_name), "%s", paper.pwg_name);
  if (pwg_media_t* pwg = pwgMediaForPWG(paper.pwg_name)) {
    col.size_width = pwg->width;
    col.size_length = pwg->length;
  }
  col.left_margin = col.right_margin = data.left_right;
  col.top_margin = col.bottom_margin = data.bottom_top;
  snprintf(col.source, sizeof(col.source), "%s", paper.continuous ? "main-roll" : "main");
  snprintf(col.type, sizeof(col.type), "%s", paper.continuous ? "continuous" : "stationery");
  return col;
}

}  // namespace

bool PrintRaster(JobRun& run, cups_raster_t* raster, pappl_device_t* device,
                 const pappl_pr_options_t* options) {
  cups_page_header2_t header;
  std::vector<uint8_t> line;
  const Content content =
      ContentFor(options->print_content_optimize, papplJobGetFormat(run.job()));
  while (!run.canceled() && cupsRasterReadHeader2(raster, &header)) {
    SheetFormat sheet;
    const std::string problem = PageProblem(run.model(), header);
    if (!problem.empty() || !SheetFormatOf(header, options, &sheet)) {
      run.Fail("Page " + std::to_string(run.pages() + 1) + " " + problem);
      return false;
    }
    line.resize(sheet.bytes_per_line);
    papplJobSetImpressionsCompleted(run.job(), 1);
    if (!run.StartPage(device, sheet, content).ok()) return false;
    for (unsigned y = 0; y < sheet.height && !run.canceled(); ++y) {
      if (cupsRasterReadPixels(raster, line.data(), sheet.bytes_per_line) != sheet.bytes_per_line) {
        run.Fail("Page " + std::to_string(run.pages()) + " ends after " + std::to_string(y) +
                 " of " + std::to_string(sheet.height) + " lines");
        (void)run.EndPage(device);
        return false;
      }
      if (!run.AddRow(y, line).ok()) return false;
    }
    if (!run.EndPage(device).ok()) return false;
  }
  return !run.failed();
}

bool DriverCallback(pappl_system_t*, const char* driver_name, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  const Model* model = FindModel(driver_name ? driver_name : "");
  if (!model) return false;

  // PAPPL calls this once per printer it creates or reads back, with fresh driver data.
  auto context = std::make_unique<PrinterContext>();
  context->model = model;
  data->extension = context.release();
  data->delete_cb = DeletePrinter;
  data->identify_cb = Identify;
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
  data->testpage_cb = TestPage;

  data->format = kDriverFormat;
  snprintf(data->make_and_model, sizeof(data->make_and_model), "%s", model->make_and_model);
  data->ppm = 1;
  data->kind = PAPPL_KIND_DOCUMENT;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  // The page engine tells text from pictures by colour, as the filter does with the RGB
  // raster its PPD asks for; colour raster is taken and printed in black.
  data->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_COLOR;
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;

  data->num_resolution = 0;
  for (const Resolution& r : model->resolutions) {
    if (data->num_resolution == PAPPL_MAX_RESOLUTION) break;
    data->x_resolution[data->num_resolution] = static_cast<int>(r.x);
    data->y_resolution[data->num_resolution] = static_cast<int>(r.y);
    ++data->num_resolution;
  }
  data->x_default = static_cast<int>(model->normal.x);
  data->y_default = static_cast<int>(model->normal.y);

  // Clients are told the widest margins of any paper, so nothing they place is cut off.
  unsigned side = 0, end = 0;
  data->num_media = 0;
  for (const Paper* paper : model->papers) {
    side = std::max({side, paper->left, paper->right});
    end = std::max({end, paper->top, paper->bottom});
    data->media[data->num_media++] = paper->pwg_name;
  }
  data->left_right = HundredthsMm(side);
  data->bottom_top = HundredthsMm(end);
  data->borderless = false;

  data->num_source = 2;
  data->source[0] = "main";
  data->source[1] = "main-roll";
  data->media_ready[0] = MediaCol(PaperForSize(595, 842, false), *data);
  data->media_ready[1] = MediaCol(PaperForSize(612, 864, true), *data);
  data->media_default = data->media_ready[0];
  // IPP Everywhere attributes PAPPL leaves to the driver, answered as the driver behaves: no
  // rendering intents (monochrome dots), one-sided pages, no preferred-attributes reply.
  if (attrs) {
    if (!*attrs) *attrs = ippNew();
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "print-rendering-intent-default", nullptr, "auto");
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "print-rendering-intent-supported", nullptr, "auto");
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "pwg-raster-document-sheet-back", nullptr, "normal");
    ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    AddTextDefaults(*model, data, *attrs);
  }

  data->num_type = 2;
  data->type[0] = "stationery";
  data->type[1] = "continuous";
  return true;
}

const char* AutoAdd(const char*, const char*, const char* device_id, void*) {
  const Model* model = ModelForDeviceId(device_id ? device_id : "");
  return model ? model->driver_name : nullptr;
}

}  // namespace kemb::app
