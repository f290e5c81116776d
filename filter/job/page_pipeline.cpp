// The page pipeline: spool, path decision, read-back into bands, page end, clean-up.
#include "job/page_pipeline.h"

#include <cerrno>
#include <cstring>

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

  Status status = [&] {
    UniqueFd spool(CreateNew(ppm.path()));
    if (!spool.valid()) return Status::Fail(SystemError("Unable to create spool file", ppm.path()));
    ppm.Arm();
    return Spool(state, header, spool.get(), ppm.path(), &ink);
  }();

  Source source{ppm.path(), PpmHeader(header).size(), false};
  bool rows_left = true;
  if (status.ok()) {
    const double ratio = ink.Ratio();
    std::fprintf(log, "ERROR:pic number:%s\n", RatioText(ratio).c_str());
    if (const int mode = ChooseHalftone(ratio); mode != 0) {
      pbm.Arm();
      status = Halftone(header, base, mode, pbm.path(), &source);
      // Cancelled before its image was read: the page prints no more rows.
      rows_left = source.picture;
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
  if (source.picture) {
    if (int ret = pbm.Remove(); ret != 0) {
      std::fprintf(log, "ERROR: cCommand2:%s iRet=%d\n", pbm.path().c_str(), ret);
    }
  }
  return status;
}

Status PagePipeline::Halftone(cups_page_header2_t& header, const std::string& base, int mode,
                              const std::string& pbm_path, Source* source) {
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
  header.cupsWidth = image.width;
  header.cupsHeight = image.height;
  header.cupsBytesPerLine = (image.width + 7) / 8;
  *source = {pbm_path, image.head_len, true};
  return Status::Ok();
}

std::string PagePipeline::PpmHeader(const cups_page_header2_t& header) {
  return "P6\n" + std::to_string(header.cupsBytesPerLine / 3) + " " +
         std::to_string(header.cupsHeight) + "\n255\n";
}

Status PagePipeline::Spool(PrintState& state, const cups_page_header2_t& header, int fd,
                           const std::string& path, InkCount* ink) {
  const std::string head = PpmHeader(header);
  if (!WriteFull(fd, reinterpret_cast<const uint8_t*>(head.data()), head.size())) {
    return Status::Fail(SystemError("Unable to write spool file", path));
  }
  uint8_t* row = state.Planes[0].data();
  const unsigned row_bytes = header.cupsBytesPerLine;
  for (unsigned y = 0; y < header.cupsHeight && !Canceled; ++y) {
    if (cupsRasterReadPixels(job_.raster, row, row_bytes) == 0) break;
    ink->AddRow(row, row_bytes);
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
  if (!source.picture && header.HWResolution[0] == 360 && header.HWResolution[1] == 360) {
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
