// SPDX-License-Identifier: Apache-2.0
// Image filters: their registration, the page header at our resolution, JPEG and PNG decoding,
// and the common step into PAPPL's image scaler.
//
// PAPPL 1.3.1's own JPEG and PNG filters take the resolution from its own print-quality rule
// (the middle of the list for normal), which is 360 x 180 on the LQ models where ours is
// 180 x 180. Ours lead to the driver's own format, which PAPPL looks for first.
#include "image_filters.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// libjpeg's headers need FILE and size_t first.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include "driver.h"
#include "format_sniff.h"
#include "job_run.h"

namespace kemb::app {
namespace {

const char* RasterType(const cups_page_header2_t& h) {
  if (h.cupsColorSpace == CUPS_CSPACE_SRGB && h.cupsBitsPerPixel == 24) return "srgb_8";
  if (h.cupsColorSpace == CUPS_CSPACE_ADOBERGB && h.cupsBitsPerPixel == 24) return "adobe-rgb_8";
  if (h.cupsColorSpace == CUPS_CSPACE_RGB && h.cupsBitsPerPixel == 24) return "rgb_8";
  if (h.cupsColorSpace == CUPS_CSPACE_SW && h.cupsBitsPerPixel == 8) return "sgray_8";
  if (h.cupsColorSpace == CUPS_CSPACE_K && h.cupsBitsPerPixel == 8) return "black_8";
  if (h.cupsColorSpace == CUPS_CSPACE_K && h.cupsBitsPerPixel == 1) return "black_1";
  return nullptr;
}

// One error for the job: its log line (as PAPPL's filters write them), its message, and the
// job-state-reasons PAPPL gives the same fault.
void Fail(pappl_job_t* job, pappl_jreason_t reason, const std::string& message) {
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
}

struct Image {
  std::vector<unsigned char> pixels;
  int width = 0, height = 0, depth = 0;  // depth: 1 grey, 3 sRGB
  int xdpi = 0, ydpi = 0;                // 0: not given
};

// PAPPL's limits on the images it takes.
bool TooLarge(pappl_job_t* job, const char* kind, size_t width, size_t height, size_t depth) {
  int max_width = 0, max_height = 0;
  pappl_system_t* system = papplPrinterGetSystem(papplJobGetPrinter(job));
  const size_t max_size = papplSystemGetMaxImageSize(system, &max_width, &max_height);
  if (width >= 1 && height >= 1 && width <= static_cast<size_t>(max_width) &&
      height <= static_cast<size_t>(max_height) && width * height * depth <= max_size)
    return false;
  Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
       std::string(kind) + " image is too large to print.");
  return true;
}

// Options at our resolution, the image through PAPPL's scaler into the driver's raster steps.
bool PrintImage(pappl_job_t* job, pappl_device_t* device, pappl_pr_options_t* options,
                const Image& image, const char* kind, bool smoothing) {
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s image resolution is %dx%ddpi", kind, image.xdpi,
              image.ydpi);
  if (image.xdpi != image.ydpi) {
    Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
         std::string(kind) + " image has non-square aspect ratio - not currently supported.");
    return false;
  }
  PrinterContext* context = ContextOf(papplJobGetPrinter(job));
  if (!context) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer has no KEMB driver.");
    return false;
  }
  const Resolution res = ResolutionFor(*context->model, job, options->print_quality);
  if (!UseResolution(options, res)) {
    Fail(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
         std::string("Unable to print on the paper '") + options->media.size_name + "'");
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Printing the %s image at %ux%u dpi.", kind, res.x,
              res.y);
  return papplJobFilterImage(job, device, options, image.pixels.data(), image.width,
                             image.height, image.depth, image.xdpi, smoothing);
}

// libjpeg: errors come back here instead of ending the process; a file that ends early is an
// error too (libjpeg would fill the rest with grey and call it a warning).
struct JpegErrors {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  pappl_job_t* job;
  bool warned;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void JpegMessage(j_common_ptr info, int level) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  if (level >= 0) return;  // trace messages
  if (info->err->msg_code == JWRN_JPEG_EOF) JpegExit(info);
  if (!errors->warned) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    papplLogJob(errors->job, PAPPL_LOGLEVEL_WARN, "JPEG: %s", text);
    errors->warned = true;
  }
  ++info->err->num_warnings;
}

// Reads the JPEG and makes the job's options (their colour mode decides grey or RGB). Only
// trivially destructible locals here: libjpeg's errors jump back into this function.
bool DecodeJpeg(pappl_job_t* job, FILE* fp, Image* image, pappl_pr_options_t** options) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = JpegExit;
  errors.mgr.emit_message = JpegMessage;
  errors.job = job;
  errors.warned = false;
  errors.message[0] = '\0';
  jpeg_create_decompress(&info);
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
         std::string("Unable to read the JPEG image: ") + errors.message);
    return false;
  }
  jpeg_stdio_src(&info, fp);
  jpeg_read_header(&info, TRUE);

  *options = papplJobCreatePrintOptions(job, 1, info.num_components > 1);
  if (!*options) {
    jpeg_destroy_decompress(&info);
    Fail(job, PAPPL_JREASON_ERRORS_DETECTED, "Unable to read the job's options");
    return false;
  }
  info.quantize_colors = FALSE;
  info.out_color_space = (*options)->header.cupsNumColors == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_calc_output_dimensions(&info);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "JPEG image dimensions are %ux%ux%d", info.output_width,
              info.output_height, info.output_components);
  if (TooLarge(job, "JPEG", info.output_width, info.output_height,
               static_cast<size_t>(info.output_components))) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const size_t row_bytes = size_t{info.output_width} * static_cast<size_t>(info.output_components);
  image->pixels.resize(row_bytes * info.output_height);
  image->width = static_cast<int>(info.output_width);
  image->height = static_cast<int>(info.output_height);
  image->depth = info.output_components;

  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->pixels.data() + row_bytes * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  switch (info.density_unit) {
    case 1:  // dots per inch
      image->xdpi = info.X_density;
      image->ydpi = info.Y_density;
      break;
    case 2:  // dots per centimetre
      image->xdpi = info.X_density * 254 / 100;
      image->ydpi = info.Y_density * 254 / 100;
      break;
    default:  // no unit: an aspect ratio at most
      image->xdpi = image->ydpi = 0;
      break;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// libpng: the first error message, and a jump back instead of libpng's own report.
struct PngErrors {
  pappl_job_t* job;
  char message[256];
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  if (!errors->message[0]) snprintf(errors->message, sizeof(errors->message), "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp png, png_const_charp message) {
  auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  papplLogJob(errors->job, PAPPL_LOGLEVEL_WARN, "PNG: %s", message);
}

// Reads the PNG as 8-bit grey or sRGB, transparency over white paper. Only trivially
// destructible locals here: libpng's errors jump back into this function.
bool DecodePng(pappl_job_t* job, FILE* fp, Image* image) {
  PngErrors errors{job, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "Unable to allocate memory for PNG file");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
         std::string("Unable to read the PNG image: ") + errors.message);
    return false;
  }
  png_init_io(png, fp);
#if defined(PNG_SKIP_sRGB_CHECK_PROFILE) && defined(PNG_SET_OPTION_SUPPORTED)
  // Images from some editors carry sRGB profiles libpng calls invalid.
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int color_type = png_get_color_type(png, info);
  const int depth = (color_type & PNG_COLOR_MASK_COLOR) ? 3 : 1;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "PNG image dimensions are %ux%ux%d", width, height, depth);
  if (TooLarge(job, "PNG", width, height, static_cast<size_t>(depth))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  image->xdpi = static_cast<int>(png_get_x_pixels_per_inch(png, info));
  image->ydpi = static_cast<int>(png_get_y_pixels_per_inch(png, info));

  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (png_get_bit_depth(png, info) > 8) png_set_scale_16(png);
  if (png_get_bit_depth(png, info) < 8) {
    if (depth == 1)
      png_set_expand_gray_1_2_4_to_8(png);
    else
      png_set_packing(png);
  }
  if (color_type & PNG_COLOR_MASK_PALETTE) png_set_palette_to_rgb(png);
  png_color_16 white{};
  white.red = white.green = white.blue = white.gray = 65535;
  png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t row_bytes = size_t{width} * static_cast<size_t>(depth);
  if (png_get_rowbytes(png, info) != row_bytes) {
    png_destroy_read_struct(&png, &info, nullptr);
    Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, "Unsupported PNG pixel format");
    return false;
  }
  image->pixels.assign(row_bytes * height, 0xFF);
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->depth = depth;
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, image->pixels.data() + row_bytes * y, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// The job's document, or false (with the job's error) when it cannot be opened or is not of
// its format.
FILE* OpenDocument(pappl_job_t* job, const char* kind, const char* format) {
  const char* filename = papplJobGetFilename(job);
  if (!filename) {
    // A job cancelled before it started has lost its document.
    if (!papplJobIsCanceled(job)) Fail(job, PAPPL_JREASON_ERRORS_DETECTED, "The job has no document");
    return nullptr;
  }
  FILE* fp = fopen(filename, "rbe");
  if (!fp) {
    Fail(job, PAPPL_JREASON_ERRORS_DETECTED,
         std::string("Unable to open ") + kind + " file: " + std::strerror(errno));
    return nullptr;
  }
  if (const std::string wrong = FormatMismatch(format, ReadHead(filename)); !wrong.empty()) {
    Fail(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, wrong);
    fclose(fp);
    return nullptr;
  }
  return fp;
}

}  // namespace

bool UseResolution(pappl_pr_options_t* options, Resolution res) {
  cups_page_header2_t& old = options->header;
  if (old.HWResolution[0] == res.x && old.HWResolution[1] == res.y &&
      options->printer_resolution[0] == static_cast<int>(res.x) &&
      options->printer_resolution[1] == static_cast<int>(res.y))
    return true;
  pwg_media_t* media = pwgMediaForPWG(options->media.size_name);
  if (!media) media = pwgMediaForSize(options->media.size_width, options->media.size_length);
  const char* type = RasterType(old);
  cups_page_header2_t header;
  if (!media || !type ||
      !cupsRasterInitPWGHeader(&header, media, type, static_cast<int>(res.x),
                               static_cast<int>(res.y), "one-sided", "normal"))
    return false;
  // What PAPPL sets past the PWG defaults.
  header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] =
      old.cupsInteger[CUPS_RASTER_PWG_TotalPageCount];
  std::memcpy(header.OutputType, old.OutputType, sizeof(header.OutputType));
  old = header;
  options->printer_resolution[0] = static_cast<int>(res.x);
  options->printer_resolution[1] = static_cast<int>(res.y);
  return true;
}

void InstallImageFilters(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, "image/jpeg", kDriverFormat, JpegFilter, nullptr);
  papplSystemAddMIMEFilter(system, "image/png", kDriverFormat, PngFilter, nullptr);
}

bool JpegFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  FILE* fp = OpenDocument(job, "JPEG", "image/jpeg");
  if (!fp) return false;
  Image image;
  pappl_pr_options_t* options = nullptr;
  bool ok = DecodeJpeg(job, fp, &image, &options);
  fclose(fp);
  if (ok) ok = PrintImage(job, device, options, image, "JPEG", true);
  papplJobDeletePrintOptions(options);
  return ok;
}

bool PngFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  FILE* fp = OpenDocument(job, "PNG", "image/png");
  if (!fp) return false;
  Image image;
  bool ok = DecodePng(job, fp, &image);
  fclose(fp);
  pappl_pr_options_t* options = nullptr;
  if (ok) {
    options = papplJobCreatePrintOptions(job, 1, image.depth == 3);
    if (!options) Fail(job, PAPPL_JREASON_ERRORS_DETECTED, "Unable to read the job's options");
    ok = options && PrintImage(job, device, options, image, "PNG", false);
  }
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace kemb::app
