// SPDX-License-Identifier: Apache-2.0
// The page engine: spool, path decision, read-back into bands, page end, clean-up.
//   StartJob / EndJob        the printer's wake-up and reset
//   StartPage / AddRow       page set-up, then raster rows to <folder>/kemb<job>_<page>.ppm,
//                            counting inked and dark pixels
//   FinishPage               text or picture (the picture path hands the spool to the
//                            halftoner), rows read back into OutputLine, EndPage, files removed
//   ReadTextRows             thresholding; a 360 x 360 page printed at 180 x 180, each dot
//                            standing for 2 x 2 pixels
//   ReadPictureRows          the halftoner's dot rows as they are
//   ChoosePath               the path for the job's content choice, its log line
//   ReadMixedRows            text and graphic: thresholded rows, the halftoner's dots laid over
//                            the pictures
#include "engine/page_engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/threshold.h"
#include "engine/picture.h"
#include "printer/printer.h"

namespace kemb {
namespace {

constexpr uint8_t kWhite = 0xFF;  // paper in an RGB row

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// What every front end must describe before a page is set up: RGB rows whose size fits the
// buffers and every count the printer is sent. The CUPS filter checks the raster header first
// and names its fields; this catches any other front end's slip.
Status CheckPage(const PageDescription& page) {
  auto bad = [](const char* field, unsigned value, const std::string& expected) {
    return Status::Fail(std::string("Unsupported page: ") + field + "=" + std::to_string(value) +
                        " (" + expected + ")");
  };
  if (page.width < 1 || page.width > kMaxPageWidth) {
    return bad("width", page.width, "must be 1 to " + std::to_string(kMaxPageWidth));
  }
  if (page.height < 1 || page.height > kMaxPageHeight) {
    return bad("height", page.height, "must be 1 to " + std::to_string(kMaxPageHeight));
  }
  if (page.bytes_per_line != 3 * page.width) {
    return bad("bytes_per_line", page.bytes_per_line,
               "must be 3 x width = " + std::to_string(3 * page.width));
  }
  if (page.xdpi < 1 || page.xdpi > kMaxResolution || page.ydpi < 1 || page.ydpi > kMaxResolution) {
    return bad(page.xdpi < 1 || page.xdpi > kMaxResolution ? "xdpi" : "ydpi",
               page.xdpi < 1 || page.xdpi > kMaxResolution ? page.xdpi : page.ydpi,
               "must be 1 to " + std::to_string(kMaxResolution));
  }
  if (page.band_rows != 24) return bad("band_rows", page.band_rows, "must be 24");
  return Status::Ok();
}

}  // namespace

PageEngine::PageEngine(const JobSettings& settings) : settings_(settings) {
  for (ByteBuffer* buffer :
       {&state_.Planes[0], &state_.CompBuffer, &state_.BandBlock, &plane360_, &image_row_}) {
    buffer->SetAllocator(settings_.allocator);
  }
}

// An engine dropped mid-page leaves no file behind; the page's bytes are the front end's
// business.
PageEngine::~PageEngine() = default;

Status PageEngine::StartJob() {
  return Setup(state_, *settings_.out);
}

Status PageEngine::EndJob() {
  return Shutdown(state_, *settings_.out);
}

std::span<uint8_t> PageEngine::RowBuffer() {
  return page_open_ ? state_.Planes[0].span() : std::span<uint8_t>();
}

std::string PageEngine::PpmHeader(const PageDescription& page) {
  return "P6\n" + std::to_string(page.bytes_per_line / 3) + " " + std::to_string(page.height) +
         "\n255\n";
}

Status PageEngine::MakeSpoolFolder() {
  if (!folder_.path().empty()) return Status::Ok();
  // It becomes part of file names: digits only, as the printing systems hand them out.
  const std::string& id = settings_.id;
  if (id.empty() || id.size() > 10 || id.find_first_not_of("0123456789") != std::string::npos) {
    return Status::Fail("Invalid job ID");
  }
  return folder_.Make(settings_.spool_dir, settings_.id);
}

Status PageEngine::StartPage(const PageDescription& page) {
  if (page_open_) return Status::Fail("A page is already in progress");
  if (Status s = CheckPage(page); !s.ok()) return s;
  if (Status s = MakeSpoolFolder(); !s.ok()) return s;
  ++page_number_;
  if (Status s = kemb::StartPage(state_, *settings_.out, page); !s.ok()) return s;
  page_open_ = true;
  page_ = rows_ = page;
  rows_added_ = 0;
  ink_ = {};
  regions_ = {};
  // A page too large for its region map is printed as a photo, which is what the regions
  // would mostly have taken from the halftoner anyway.
  mapped_ = page.content == ContentChoice::kTextAndGraphic &&
            region_map_.Start(page.bytes_per_line / 3, page.height, page.xdpi, page.ydpi);
  base_ = folder_.path() + "/kemb" + settings_.id + "_" + std::to_string(page_number_);
  ppm_.emplace(base_ + ".ppm");
  pbm_.emplace(base_ + ".pbm");

  spool_ = UniqueFd(CreateNew(ppm_->path()));
  if (!spool_.valid()) {
    return FailPage(Status::Fail(SystemError("Unable to create spool file", ppm_->path())));
  }
  ppm_->Arm();
  const std::string head = PpmHeader(page_);
  if (!WriteFull(spool_.get(), reinterpret_cast<const uint8_t*>(head.data()), head.size())) {
    return FailPage(Status::Fail(SystemError("Unable to write spool file", ppm_->path())));
  }
  return Status::Ok();
}

Status PageEngine::AddRow(std::span<const uint8_t> rgb) {
  if (!page_open_) return Status::Fail("No page in progress");
  const size_t row_bytes = page_.bytes_per_line;
  if (rgb.size() < row_bytes) {
    return FailPage(Status::Fail("Raster row of " + std::to_string(rgb.size()) +
                                 " bytes, the page has " + std::to_string(row_bytes)));
  }
  if (rows_added_ >= page_.height) {
    return FailPage(
        Status::Fail("More rows than the page height of " + std::to_string(page_.height)));
  }
  ink_.AddRow(rgb.data(), row_bytes);
  if (mapped_) region_map_.AddRow(rgb.data(), rows_added_);
  if (!WriteFull(spool_.get(), rgb.data(), row_bytes)) {
    return FailPage(Status::Fail(SystemError("Unable to write spool file", ppm_->path())));
  }
  ++rows_added_;
  return Status::Ok();
}

Status PageEngine::FinishPage() {
  if (!page_open_) return Status::Fail("No page in progress");
  spool_.Close();
  FILE* log = settings_.log;

  Source source;
  source.path = ppm_->path();
  source.head_len = PpmHeader(page_).size();
  Status status = Status::Ok();
  bool rows_left = true;
  const double ratio = ink_.Ratio();
  std::fprintf(log, "ERROR:pic number:%s\n", RatioText(ratio).c_str());
  if (const PagePath path = ChoosePath(ratio); path.mode != kModeTextOnly) {
    pbm_->Arm();
    status = Halftone(base_, path, &source);
    // Cancelled before its image was read: the page prints no more rows.
    rows_left = source.picture || !source.image_path.empty();
  }
  if (status.ok() && rows_left) status = ReadBack(source);

  // A failed page still ends with a form feed, so the printer is left at a page boundary.
  Status ended = EndPage(state_, *settings_.out, log, rows_);
  if (status.ok()) status = ended;
  page_open_ = false;

  RemoveFiles(source.picture || !source.image_path.empty());
  return status;
}

// Ends a page that cannot go on: form feed, buffers released, files removed.
Status PageEngine::FailPage(Status failure) {
  spool_.Close();
  // The failure is what the job reports; the page end is only to leave the printer tidy.
  (void)EndPage(state_, *settings_.out, settings_.log, rows_);
  page_open_ = false;
  RemoveFiles(false);
  return failure;
}

// Removes the spool, and the halftoner's image of a picture page, reporting what cannot be
// removed; anything else of ours goes silently.
void PageEngine::RemoveFiles(bool picture) {
  FILE* log = settings_.log;
  if (ppm_->armed()) {
    if (int ret = ppm_->Remove(); ret != 0) {
      std::fprintf(log, "ERROR: cCommand1:%s iRet=%d errno:%d\n", ppm_->path().c_str(), ret, errno);
    }
  }
  if (picture) {
    if (int ret = pbm_->Remove(); ret != 0) {
      std::fprintf(log, "ERROR: cCommand2:%s iRet=%d\n", pbm_->path().c_str(), ret);
    }
  }
  ppm_.reset();
  pbm_.reset();
}

PagePath PageEngine::ChoosePath(double ratio) {
  const ContentChoice choice = page_.content;
  PagePath path = ChoosePagePath(choice, ChooseHalftone(ratio));
  // The automatic rule's log is the ratio line alone, as it always was.
  if (choice == ContentChoice::kAuto) return path;

  std::string why;
  if (path.regions && (!mapped_ || !region_map_.usable())) {
    path = {kModeDiffuseAll, false};
    why = ", the page too large to map its regions";
  } else if (path.regions) {
    regions_ = region_map_.Find();
    const size_t count = regions_.pictures.size();
    why = " (" + std::to_string(regions_.picture_pixels) + " of " +
          std::to_string(regions_.inked_pixels) + " inked pixels are picture)";
    if (count == 0) {
      path = {kModeTextOnly, false};
    } else if (page_.xdpi == 360 && page_.ydpi == 360) {
      // Text of such a page prints at 180 x 180, the halftoner's image at 360 x 360: they
      // cannot share the page, so the halftoner's mode that keeps text solid takes it all.
      path = {kModeSolidDark, false};
      why += ", the page at 360 x 360 dpi prints one way";
    } else {
      // Appended, not `literal + string`: GCC 12 warns -Wrestrict on that form.
      std::string counted = " with ";
      counted += std::to_string(count);
      counted += count == 1 ? " picture" : " pictures";
      counted += " from the halftoner";
      why = counted + why + ":";
      // Their boxes; a page of many small tints names the first few.
      constexpr size_t kNamed = 8;
      for (size_t i = 0; i < std::min(count, kNamed); ++i) {
        const PixelRect& r = regions_.pictures[i];
        why += " " + std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" +
               std::to_string(r.x1) + "," + std::to_string(r.y1);
      }
      if (count > kNamed) why += " ...";
    }
  }
  const char* taken = path.mode == kModeTextOnly || path.regions ? "text path"
                      : path.mode == kModeDiffuseAll             ? "halftoner mode 2"
                                                                 : "halftoner mode 3";
  std::fprintf(settings_.log, "DEBUG: Page %d: %s=%s: %s%s\n", page_number_,
               std::string(kContentOption).c_str(), std::string(ContentKeyword(choice)).c_str(),
               taken, why.c_str());
  if (!path.regions) regions_ = {};
  return path;
}

Status PageEngine::Halftone(const std::string& base, const PagePath& path, Source* source) {
  const int mode = path.mode;
  const std::string& pbm_path = pbm_->path();
  // The halftoner's image must be its own: nothing stale of ours may stand in for it.
  ::unlink(pbm_path.c_str());
  settings_.out->Flush();
  if (Status s = SinkStatus(*settings_.out); !s.ok()) return s;
  // A cancelled page needs no image: no row of it is printed any more. The halftoner stops on
  // a cancel too, so the check after it counts as well.
  if (canceled()) return Status::Ok();
  const unsigned xres = page_.xdpi;
  if (Status s = settings_.halftone ? settings_.halftone(base, xres, mode)
                                    : RunHalftoner(settings_.halftoner, base, xres, mode,
                                                   settings_.log, settings_.canceled);
      !s.ok()) {
    if (canceled()) return Status::Ok();
    return s;
  }
  if (canceled()) return Status::Ok();

  errno = 0;
  UniqueFd image_file(OpenForRead(pbm_path));
  if (!image_file.valid()) {
    return Status::Fail("open " + pbm_path + " error:" + std::to_string(errno));
  }
  // No row may be wider than the buffers set up for the raster page.
  ImageHeader image;
  if (Status s = ReadImageHeader(image_file.get(), pbm_path, page_.width, page_.height, &image);
      !s.ok()) {
    return s;
  }
  if (path.regions) {
    // Dot for pixel: the image must cover the page it is laid over.
    if (image.width != page_.width || image.height != page_.height) {
      return Status::Fail("Bad halftoner image " + pbm_path + ": " + std::to_string(image.width) +
                          " x " + std::to_string(image.height) + " for a page of " +
                          std::to_string(page_.width) + " x " + std::to_string(page_.height));
    }
    source->image_path = pbm_path;
    source->image_head_len = image.head_len;
    source->image_width = image.width;
    return Status::Ok();
  }
  rows_.width = image.width;
  rows_.height = image.height;
  rows_.bytes_per_line = (image.width + 7) / 8;
  source->path = pbm_path;
  source->head_len = image.head_len;
  source->picture = true;
  return Status::Ok();
}

Status PageEngine::ReadBack(const Source& source) {
  FILE* log = settings_.log;
  bool reduce = false;
  if (!source.picture && source.image_path.empty() && rows_.xdpi == 360 && rows_.ydpi == 360) {
    // Printed at 180 x 180: each dot stands for a 2 x 2 block of pixels.
    rows_.xdpi = rows_.ydpi = 180;
    rows_.width = (rows_.width + 1) / 2;
    if (!plane360_.Allocate(rows_.bytes_per_line)) {
      return Status::Fail("Unable to allocate memory to Plane360");
    }
    reduce = true;
  }

  std::fprintf(log, "ERROR: cupsWidth:%u cupsHeight:%u PerLine:%u pbmHeadLen:%zu\n", rows_.width,
               rows_.height, rows_.bytes_per_line, source.head_len);
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

  if (source.picture) return ReadPictureRows(file.get());
  if (!source.image_path.empty()) return ReadMixedRows(file.get(), source);
  return ReadTextRows(file.get(), reduce);
}

Status PageEngine::ReadPictureRows(int fd) {
  uint8_t* row = state_.Planes[0].data();
  const size_t row_bytes = rows_.bytes_per_line;
  for (unsigned y = 0; y < rows_.height && !canceled(); ++y) {
    // Dot rows already: a row cut short is completed without dots.
    if (ssize_t n = ReadRow(fd, row, row_bytes, 0x00); n < 1) {
      std::fprintf(settings_.log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    if (Status s = OutputLine(state_, *settings_.out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PageEngine::ReadMixedRows(int fd, const Source& source) {
  FILE* log = settings_.log;
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

  uint8_t* row = state_.Planes[0].data();
  const size_t row_bytes = rows_.bytes_per_line;
  const std::span<uint8_t> dots(row, (rows_.width + 7) / 8);
  const std::span<const uint8_t> image_row(image_row_.data(), image_bytes);
  for (unsigned y = 0; y < rows_.height && !canceled(); ++y) {
    if (ssize_t n = ReadRow(fd, row, row_bytes, kWhite); n < 1) {
      std::fprintf(log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    // The halftoner writes every row the page states: fewer is a broken image.
    if (ReadRow(image.get(), image_row_.data(), image_bytes, 0x00) !=
        static_cast<ssize_t>(image_bytes)) {
      return Status::Fail("Bad halftoner image " + source.image_path + ": ends before row " +
                          std::to_string(y));
    }
    TransToGray(row, rows_.width);
    region_map_.LayRow(y, dots, image_row);
    if (Status s = OutputLine(state_, *settings_.out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PageEngine::ReadTextRows(int fd, bool reduce) {
  FILE* log = settings_.log;
  ByteSink& out = *settings_.out;
  uint8_t* row = state_.Planes[0].data();
  const size_t row_bytes = rows_.bytes_per_line;
  const int pixels = static_cast<int>(row_bytes / 3);
  const int pairs = pixels / 2, odd = pixels % 2;
  // The reduced row's dot bytes, the second row of the pair included in full.
  const size_t dot_bytes = (rows_.width + 7) / 8;

  auto read_row = [&](uint8_t* into) { return ReadRow(fd, into, row_bytes, kWhite); };

  for (unsigned y = 0; y < rows_.height && !canceled(); ++y) {
    if (ssize_t n = read_row(row); n < 1) {
      std::fprintf(log, "ERROR: readfile to Planes[0], iReadLen:%zd\n", n);
      break;
    }
    if (reduce) {
      TransToGray360(row, pairs, odd);
      if (y + 1 < rows_.height) {
        uint8_t* second = plane360_.data();
        if (ssize_t n = read_row(second); n < 1) {
          std::fprintf(log, "ERROR: readfile to 360_2, iReadLen:%zd\n", n);
          break;
        }
        ++y;
        TransToGray360(second, pairs, odd);
        for (size_t i = 0; i < dot_bytes; ++i) row[i] |= second[i];
      }
    } else {
      TransToGray(row, rows_.width);
    }
    if (Status s = OutputLine(state_, out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace kemb
