// The page pipeline: spool, path decision, read-back into bands, page end, clean-up.
#include "job/page_pipeline.h"

#include <cerrno>
#include <cstring>

#include "content/content_choice.h"
#include "convert/threshold.h"
#include "job/cancel.h"
#include "job/temp_file.h"
#include "printer/printer.h"

namespace kemb {
namespace {

constexpr uint8_t kWhite = 0xFF;  // paper in an RGB row

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

Status PagePipeline::PrintPage(PrintState& state, cups_page_header2_t& header, int page) {
  const std::string base = folder_ + "/kemb" + job_.id + "_" + std::to_string(page);
  TempFile ppm(base + ".ppm");
  TempFile pbm(base + ".pbm");
  FILE* log = job_.log;
  InkCount ink;
  regions_ = {};
  // A page too large for its region map is printed as a photo, which is what the regions
  // would mostly have taken from the halftoner anyway.
  const bool mapped = job_.content == ContentChoice::kTextAndGraphic &&
                      region_map_.Start(header.cupsBytesPerLine / 3, header.cupsHeight);

  Status status = [&] {
    UniqueFd spool(CreateNew(ppm.path()));
    if (!spool.valid()) return Status::Fail(SystemError("Unable to create spool file", ppm.path()));
    ppm.Arm();
    return Spool(state, header, spool.get(), ppm.path(), &ink, mapped ? &region_map_ : nullptr);
  }();

  Source source;
  source.path = ppm.path();
  source.head_len = PpmHeader(header).size();
  bool rows_left = true;
  if (status.ok()) {
    const double ratio = ink.Ratio();
    std::fprintf(log, "ERROR:pic number:%s\n", RatioText(ratio).c_str());
    if (const PagePath path = ChoosePath(header, page, ratio, mapped); path.mode != 0) {
      pbm.Arm();
      status = Halftone(header, base, path, pbm.path(), &source);
      // Cancelled before its image was read: the page prints no more rows.
      rows_left = source.picture || !source.image_path.empty();
    }
  }
  if (status.ok() && rows_left) status = ReadBack(state, header, source);

  // A failed page still ends with a form feed, so the printer is left at a page boundary.
  Status ended = EndPage(state, *job_.out, log, header);
  if (status.ok()) status = ended;

  if (ppm.armed()) {
    if (int ret = ppm.Remove(); ret != 0) {
      std::fprintf(log, "ERROR: cCommand1:%s iRet=%d errno:%d\n", ppm.path().c_str(), ret, errno);
    }
  }
  if (source.picture || !source.image_path.empty()) {
    if (int ret = pbm.Remove(); ret != 0) {
      std::fprintf(log, "ERROR: cCommand2:%s iRet=%d\n", pbm.path().c_str(), ret);
    }
  }
  return status;
}

PagePath PagePipeline::ChoosePath(const cups_page_header2_t& header, int page, double ratio,
                                  bool mapped) {
  const ContentChoice choice = job_.content;
  PagePath path = ChoosePagePath(choice, ChooseHalftone(ratio));
  // The automatic rule's log is the ratio line alone, as it always was.
  if (choice == ContentChoice::kAuto) return path;

  std::string why;
  if (path.regions && !mapped) {
    path = {kModeDiffuseAll, false};
    why = ", the page too large to map its regions";
  } else if (path.regions) {
    regions_ = region_map_.Find();
    const size_t count = regions_.pictures.size();
    why = " (" + std::to_string(regions_.picture_tiles) + " of " +
          std::to_string(regions_.tiles) + " tiles are picture, " +
          std::to_string(regions_.open_joins) + " joins not on paper)";
    if (count == 0) {
      path = {kModeTextOnly, false};
    } else if (header.HWResolution[0] == 360 && header.HWResolution[1] == 360) {
      // Text of such a page prints at 180 x 180, the halftoner's image at 360 x 360: they
      // cannot share the page, so the halftoner's mode that keeps text solid takes it all.
      path = {kModeSolidDark, false};
      why += ", the page at 360 x 360 dpi prints one way";
    } else {
      why = " with " + std::to_string(count) + " picture region" + (count == 1 ? "" : "s") +
            " from the halftoner" + why + ":";
      for (const PixelRect& r : regions_.pictures) {
        why += " " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" +
               std::to_string(r.x1) + "," + std::to_string(r.y1);
      }
    }
  }
  const char* taken = path.mode == kModeTextOnly || path.regions ? "text path"
                      : path.mode == kModeDiffuseAll                 ? "halftoner mode 2"
                                                                     : "halftoner mode 3";
  std::fprintf(job_.log, "DEBUG: Page %d: %s=%s: %s%s\n", page,
               std::string(kContentOption).c_str(), std::string(ContentKeyword(choice)).c_str(),
               taken, why.c_str());
  if (!path.regions) regions_ = {};
  return path;
}

Status PagePipeline::Halftone(cups_page_header2_t& header, const std::string& base,
                              const PagePath& path, const std::string& pbm_path,
                              Source* source) {
  const int mode = path.mode;
  // The halftoner's image must be its own: nothing stale of ours may stand in for it.
  ::unlink(pbm_path.c_str());
  job_.out->Flush();
  if (Status s = SinkStatus(*job_.out); !s.ok()) return s;
  // A cancelled page needs no image: no row of it is printed any more. The halftoner stops on
  // a cancel too, so the check after it counts as well.
  if (Canceled) return Status::Ok();
  const unsigned xres = header.HWResolution[0];
  if (Status s = job_.halftone ? job_.halftone(base, xres, mode)
                               : RunHalftoner(job_.halftoner, base, xres, mode, job_.log);
      !s.ok()) {
    return s;
  }
  if (Canceled) return Status::Ok();

  errno = 0;
  UniqueFd image_file(OpenForRead(pbm_path));
  if (!image_file.valid()) {
    return Status::Fail("open " + pbm_path + " error:" + std::to_string(errno));
  }
  // No row may be wider than the buffers set up for the raster page.
  ImageHeader image;
  if (Status s =
          ReadImageHeader(image_file.get(), pbm_path, header.cupsWidth, header.cupsHeight, &image);
      !s.ok()) {
    return s;
  }
  if (path.regions) {
    // Dot for pixel: the image must cover the page it is laid over.
    if (image.width != header.cupsWidth || image.height != header.cupsHeight) {
      return Status::Fail("Bad halftoner image " + pbm_path + ": " +
                          std::to_string(image.width) + " x " + std::to_string(image.height) +
                          " for a page of " + std::to_string(header.cupsWidth) + " x " +
                          std::to_string(header.cupsHeight));
    }
    source->image_path = pbm_path;
    source->image_head_len = image.head_len;
    source->image_width = image.width;
    return Status::Ok();
  }
  header.cupsWidth = image.width;
  header.cupsHeight = image.height;
  header.cupsBytesPerLine = (image.width + 7) / 8;
  source->path = pbm_path;
  source->head_len = image.head_len;
  source->picture = true;
  return Status::Ok();
}

std::string PagePipeline::PpmHeader(const cups_page_header2_t& header) {
  return "P6\n" + std::to_string(header.cupsBytesPerLine / 3) + " " +
         std::to_string(header.cupsHeight) + "\n255\n";
}

Status PagePipeline::Spool(PrintState& state, const cups_page_header2_t& header, int fd,
                           const std::string& path, InkCount* ink, RegionMap* regions) {
  const std::string head = PpmHeader(header);
  if (!WriteFull(fd, reinterpret_cast<const uint8_t*>(head.data()), head.size())) {
    return Status::Fail(SystemError("Unable to write spool file", path));
  }
  uint8_t* row = state.Planes[0].data();
  const unsigned row_bytes = header.cupsBytesPerLine;
  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (cupsRasterReadPixels(job_.raster, row, row_bytes) == 0) break;
    ink->AddRow(row, row_bytes);
    if (regions != nullptr) regions->AddRow(row, y);
    if (!WriteFull(fd, row, row_bytes)) {
      return Status::Fail(SystemError("Unable to write spool file", path));
    }
  }
  return Status::Ok();
}

Status PagePipeline::ReadBack(PrintState& state, cups_page_header2_t& header,
                              const Source& source) {
  FILE* log = job_.log;
  bool reduce = false;
  if (!source.picture && source.image_path.empty() && header.HWResolution[0] == 360 && header.HWResolution[1] == 360) {
    // Printed at 180 x 180: each dot stands for a 2 x 2 block of pixels.
    header.HWResolution[0] = header.HWResolution[1] = 180;
    header.cupsWidth = (header.cupsWidth + 1) / 2;
    if (!plane360_.Allocate(header.cupsBytesPerLine)) {
      return Status::Fail("Unable to allocate memory to Plane360");
    }
    reduce = true;
  }

  std::fprintf(log, "ERROR: cupsWidth:%u cupsHeight:%u PerLine:%u pbmHeadLen:%zu\n",
               header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine, source.head_len);
  errno = 0;
  UniqueFd file(OpenForRead(source.path));
  if (!file.valid()) {
    return Status::Fail("open " + source.path + " error:" + std::to_string(errno));
  }
  std::fprintf(log, "ERROR: open %s ok %d\n", source.path.c_str(), errno);

  std::string head(source.head_len, '\0');
  ssize_t got = ReadFull(file.get(), reinterpret_cast<uint8_t*>(head.data()), head.size());
  head.resize(got > 0 ? static_cast<size_t>(got) : 0);
  std::fprintf(log, "ERROR: pbmHead %s ok \n", head.c_str());

  if (source.picture) return ReadPictureRows(state, header, file.get());
  if (!source.image_path.empty()) return ReadMixedRows(state, header, file.get(), source);
  return ReadTextRows(state, header, file.get(), reduce);
}

Status PagePipeline::ReadPictureRows(PrintState& state, const cups_page_header2_t& header, int fd) {
  uint8_t* row = state.Planes[0].data();
  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    // Dot rows already: a row cut short is completed without dots.
    if (ssize_t n = ReadRow(fd, row, header.cupsBytesPerLine, 0x00); n < 1) {
      std::fprintf(job_.log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    if (Status s = OutputLine(state, *job_.out, header); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PagePipeline::ReadMixedRows(PrintState& state, const cups_page_header2_t& header, int fd,
                                   const Source& source) {
  FILE* log = job_.log;
  errno = 0;
  UniqueFd image(OpenForRead(source.image_path));
  if (!image.valid()) {
    return Status::Fail("open " + source.image_path + " error:" + std::to_string(errno));
  }
  std::fprintf(log, "ERROR: open %s ok %d\n", source.image_path.c_str(), errno);
  const size_t image_bytes = (source.image_width + 7) / 8;
  if (!image_row_.Allocate(image_bytes)) return Status::Fail("Unable to allocate memory");
  std::string head(source.image_head_len, '\0');
  if (ReadFull(image.get(), reinterpret_cast<uint8_t*>(head.data()), head.size()) !=
      static_cast<ssize_t>(head.size())) {
    return Status::Fail("Bad halftoner image " + source.image_path + ": no rows");
  }

  uint8_t* row = state.Planes[0].data();
  const size_t row_bytes = header.cupsBytesPerLine;
  const std::span<uint8_t> dots(row, (header.cupsWidth + 7) / 8);
  const std::span<const uint8_t> image_row(image_row_.data(), image_bytes);
  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (ssize_t n = ReadRow(fd, row, row_bytes, kWhite); n < 1) {
      std::fprintf(log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    // The halftoner writes every row the page header states: fewer is a broken image.
    if (ReadRow(image.get(), image_row_.data(), image_bytes, 0x00) !=
        static_cast<ssize_t>(image_bytes)) {
      return Status::Fail("Bad halftoner image " + source.image_path + ": ends before row " +
                          std::to_string(y));
    }
    TransToGray(row, header);
    for (const PixelRect& r : regions_.pictures) {
      if (r.y0 <= y && y < r.y1) CopyDots(dots, image_row, r.x0, r.x1);
    }
    if (Status s = OutputLine(state, *job_.out, header); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PagePipeline::ReadTextRows(PrintState& state, cups_page_header2_t& header, int fd,
                                  bool reduce) {
  FILE* log = job_.log;
  ByteSink& out = *job_.out;
  uint8_t* row = state.Planes[0].data();
  const size_t row_bytes = header.cupsBytesPerLine;
  const int pixels = static_cast<int>(row_bytes / 3);
  const int pairs = pixels / 2, odd = pixels % 2;
  // The reduced row's dot bytes, the second row of the pair included in full.
  const size_t dot_bytes = (header.cupsWidth + 7) / 8;

  auto read_row = [&](uint8_t* into) { return ReadRow(fd, into, row_bytes, kWhite); };

  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (ssize_t n = read_row(row); n < 1) {
      std::fprintf(log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    if (reduce) {
      TransToGray360(row, header, pairs, odd);
      if (y + 1 < header.cupsHeight) {
        uint8_t* second = plane360_.data();
        if (ssize_t n = read_row(second); n < 1) {
          std::fprintf(log, "ERROR: readfile to 360_2, iReadLen:%zd\n", n);
          break;
        }
        ++y;
        TransToGray360(second, header, pairs, odd);
        for (size_t i = 0; i < dot_bytes; ++i) row[i] |= second[i];
      }
    } else {
      TransToGray(row, header);
    }
    if (Status s = OutputLine(state, out, header); !s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace kemb
