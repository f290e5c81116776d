// SPDX-License-Identifier: Apache-2.0
// The page engine: spool, path decision, read-back into bands, page end, clean-up.
//   StartJob / EndJob        the printer's wake-up and the job's folder; the reset, unless the
//                            job failed
//   StartPage / AddRow       page set-up, then raster rows to <folder>/kemb<job>_<page>.ppm,
//                            counting inked and dark pixels
//   EndPage                  the path chosen, then taken (the picture paths hand the spool to
//                            the halftoner), then logged; rows read back into the printer's
//                            AddRow, its EndPage, files removed
//   ChoosePath / LogPath     the path for the page's content choice; its debug line
//   Halftone                 the halftoner's image, checked, as the page's read-back
//   PrintRows                the read-back by its kind:
//     ReadTextRows           thresholding; a 360 x 360 page printed at 180 x 180, each dot
//                            standing for 2 x 2 pixels
//     ReadPictureRows        the halftoner's dot rows as they are
//     ReadTextAndGraphicRows thresholded rows, the halftoner's dots laid over every pixel
//                            that prints as its tone
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

}  // namespace

PageEngine::PageEngine(const JobSettings& settings)
    : settings_(settings),
      halftone_(settings.halftone ? settings.halftone
                                  : ProgramHalftoner("kemb_ID", settings.log, settings.canceled)) {
  for (ByteBuffer* buffer :
       {&state_.Planes[0], &state_.CompBuffer, &state_.BandBlock, &plane360_, &image_row_}) {
    buffer->SetAllocator(settings_.allocator);
  }
}

// An engine dropped mid-page leaves no file behind; the page's bytes are the front end's
// business.
PageEngine::~PageEngine() = default;

Status PageEngine::StartJob() {
  if (!folder_.path().empty()) return Status::Fail("The job has already started");
  if (!IsValidJobId(settings_.id)) return Status::Fail("Invalid job ID");
  if (Status s = kemb::StartJob(state_, *settings_.out); !s.ok()) return s;
  return folder_.Make(settings_.spool_dir, settings_.id);
}

// A failed job leaves the printer where its failure stopped it: the reset would only add bytes
// to a job that is not printed whole.
Status PageEngine::EndJob(Status outcome) {
  if (!outcome.ok()) return outcome;
  if (failed_) return Status::Fail("A page of the job failed");
  return kemb::EndJob(state_, *settings_.out);
}

void PageEngine::Log(LogLevel level, LogEvent event, const std::string& text) const {
  if (settings_.log) settings_.log->Write(level, event, text);
}

std::string PageEngine::PpmHeader(const PageDescription& page) {
  return "P6\n" + std::to_string(page.bytes_per_line / 3) + " " + std::to_string(page.height) +
         "\n255\n";
}

Status PageEngine::StartPage(const PageDescription& page) {
  if (page_open_) return Status::Fail("A page is already in progress");
  // The CUPS filter has checked the raster header in its own names; this catches any other
  // front end's slip.
  if (Status s = CheckPageLimits(page); !s.ok()) return s;
  if (folder_.path().empty()) return Status::Fail("The job has not started");
  ++page_number_;
  if (Status s = kemb::StartPage(state_, *settings_.out, page); !s.ok()) return s;
  page_open_ = true;
  page_ = rows_ = page;
  rows_added_ = 0;
  ink_ = {};
  // A page too large for its region map is printed as a photo, which is what the regions
  // would mostly have taken from the halftoner anyway.
  mapped_ = page.content == Content::kTextAndGraphic &&
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

Status PageEngine::EndPage() {
  if (!page_open_) return Status::Fail("No page in progress");
  spool_.Close();

  ReadBack back;
  back.path = ppm_->path();
  back.head_len = PpmHeader(page_).size();
  back.rows = page_;
  const double ratio = ink_.Ratio();
  Log(LogLevel::kDebug, LogEvent::kDarkShare, "pic number:" + RatioText(ratio));
  const PathChoice choice = ChoosePath(ratio);
  LogPath(choice);

  Status status = Status::Ok();
  if (choice.path.mode != HalftoneMode::kThreshold) {
    pbm_->Arm();
    status = Halftone(choice, &back);
  }
  if (status.ok()) status = PrintRows(back);

  // A failed page still ends with a form feed, so the printer is left at a page boundary.
  if (state_.DotBytes != 0) {
    Log(LogLevel::kDebug, LogEvent::kShingling, "Shingling0:" + std::to_string(state_.Shingling));
  }
  Status ended = kemb::EndPage(state_, *settings_.out, rows_);
  if (status.ok()) status = ended;
  page_open_ = false;
  if (!status.ok()) failed_ = true;

  RemoveFiles(back.kind == ReadBackKind::kPicture || back.kind == ReadBackKind::kTextAndGraphic);
  return status;
}

// Ends a page that cannot go on: form feed, buffers released, files removed.
Status PageEngine::FailPage(Status failure) {
  spool_.Close();
  // The failure is what the job reports; the page end is only to leave the printer tidy.
  (void)kemb::EndPage(state_, *settings_.out, rows_);
  page_open_ = false;
  failed_ = true;
  RemoveFiles(false);
  return failure;
}

// Removes the spool, and the halftoner's image of a picture page, reporting what cannot be
// removed; anything else of ours goes silently.
void PageEngine::RemoveFiles(bool image) {
  if (ppm_->armed()) {
    if (int ret = ppm_->Remove(); ret != 0) {
      Log(LogLevel::kWarning, LogEvent::kNotRemoved,
          "cCommand1:" + ppm_->path() + " iRet=" + std::to_string(ret) +
              " errno:" + std::to_string(errno));
    }
  }
  if (image) {
    if (int ret = pbm_->Remove(); ret != 0) {
      Log(LogLevel::kWarning, LogEvent::kNotRemoved,
          "cCommand2:" + pbm_->path() + " iRet=" + std::to_string(ret));
    }
  }
  ppm_.reset();
  pbm_.reset();
}

PageEngine::PathChoice PageEngine::ChoosePath(double ratio) {
  PathChoice choice;
  const Content content = page_.content;
  PagePath& path = choice.path;
  path = ChoosePagePath(content, ChooseHalftone(ratio));
  // The automatic rule's log is the ratio line alone, as it always was.
  if (content == Content::kAuto) return choice;

  std::string& why = choice.why;
  if (path.regions && (!mapped_ || !region_map_.usable())) {
    path = {HalftoneMode::kDiffuseAll, false};
    why = ", the page too large to map its regions";
  } else if (path.regions) {
    const Regions found = region_map_.Find();
    const size_t count = found.pictures.size();
    why = " (" + std::to_string(found.picture_pixels) + " of " +
          std::to_string(found.inked_pixels) + " inked pixels print as their tone)";
    if (count == 0) {
      path = {HalftoneMode::kThreshold, false};
    } else if (page_.xdpi == 360 && page_.ydpi == 360) {
      // Text of such a page prints at 180 x 180, the halftoner's image at 360 x 360: they
      // cannot share the page, so the halftoner's mode that keeps text solid takes it all.
      path = {HalftoneMode::kSolidDark, false};
      why += ", the page at 360 x 360 dpi prints one way";
    } else {
      // Appended, not `literal + string`: GCC 12 warns -Wrestrict on that form.
      std::string counted = " with ";
      counted += std::to_string(count);
      counted += count == 1 ? " toned shape" : " toned shapes";
      counted += " from the halftoner";
      why = counted + why + ":";
      // Their boxes; a page of many small shapes names the first few.
      constexpr size_t kNamed = 8;
      for (size_t i = 0; i < std::min(count, kNamed); ++i) {
        const PixelRect& r = found.pictures[i];
        why += ' ';
        why += std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" + std::to_string(r.x1) +
               "," + std::to_string(r.y1);
      }
      if (count > kNamed) why += " ...";
    }
  }
  return choice;
}

void PageEngine::LogPath(const PathChoice& choice) const {
  const Content content = page_.content;
  if (content == Content::kAuto) return;
  const PagePath& path = choice.path;
  const char* taken = path.mode == HalftoneMode::kThreshold || path.regions ? "text path"
                      : path.mode == HalftoneMode::kDiffuseAll              ? "halftoner mode 2"
                                                                            : "halftoner mode 3";
  std::string line = "Page " + std::to_string(page_number_) + ": ";
  line += kContentOption;
  line += "=";
  line += ContentKeyword(content);
  line += ": ";
  line += taken;
  line += choice.why;
  Log(LogLevel::kDebug, LogEvent::kContentPath, line);
}

Status PageEngine::Halftone(const PathChoice& choice, ReadBack* back) {
  // Until the image is read, no row of the page is left to print.
  back->kind = ReadBackKind::kNone;
  const std::string& pbm_path = pbm_->path();
  // The halftoner's image must be its own: nothing stale of ours may stand in for it.
  ::unlink(pbm_path.c_str());
  settings_.out->Flush();
  if (Status s = SinkStatus(*settings_.out); !s.ok()) return s;
  // A cancelled page needs no image: no row of it is printed any more. The halftoner stops on
  // a cancel too, so the check after it counts as well.
  if (canceled()) return Status::Ok();
  if (Status s = halftone_(base_, page_.xdpi, choice.path.mode); !s.ok()) {
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
  if (choice.path.regions) {
    // Dot for pixel: the image must cover the page it is laid over.
    if (image.width != page_.width || image.height != page_.height) {
      return Status::Fail("Bad halftoner image " + pbm_path + ": " + std::to_string(image.width) +
                          " x " + std::to_string(image.height) + " for a page of " +
                          std::to_string(page_.width) + " x " + std::to_string(page_.height));
    }
    back->kind = ReadBackKind::kTextAndGraphic;
    back->image_path = pbm_path;
    back->image_head_len = image.head_len;
    back->image_width = image.width;
    return Status::Ok();
  }
  back->kind = ReadBackKind::kPicture;
  back->rows.width = image.width;
  back->rows.height = image.height;
  back->rows.bytes_per_line = (image.width + 7) / 8;
  back->path = pbm_path;
  back->head_len = image.head_len;
  return Status::Ok();
}

Status PageEngine::PrintRows(const ReadBack& back) {
  if (back.kind == ReadBackKind::kNone) return Status::Ok();
  rows_ = back.rows;
  const bool reduce = back.kind == ReadBackKind::kText && rows_.xdpi == 360 && rows_.ydpi == 360;
  if (reduce) {
    // Printed at 180 x 180: each dot stands for a 2 x 2 block of pixels.
    rows_.xdpi = rows_.ydpi = 180;
    rows_.width = (rows_.width + 1) / 2;
    if (!plane360_.Allocate(rows_.bytes_per_line)) {
      return Status::Fail("Unable to allocate memory to Plane360");
    }
  }

  Log(LogLevel::kDebug, LogEvent::kReadBack,
      "cupsWidth:" + std::to_string(rows_.width) + " cupsHeight:" + std::to_string(rows_.height) +
          " PerLine:" + std::to_string(rows_.bytes_per_line) +
          " pbmHeadLen:" + std::to_string(back.head_len));
  errno = 0;
  UniqueFd file(OpenForRead(back.path));
  if (!file.valid()) {
    return Status::Fail("open " + back.path + " error:" + std::to_string(errno));
  }
  Log(LogLevel::kDebug, LogEvent::kFileOpened,
      "open " + back.path + " ok " + std::to_string(errno));

  std::string head(back.head_len, '\0');
  ssize_t got = ReadFull(file.get(), reinterpret_cast<uint8_t*>(head.data()), head.size());
  head.resize(got > 0 ? static_cast<size_t>(got) : 0);
  Log(LogLevel::kDebug, LogEvent::kImageHeader, "pbmHead " + head + " ok ");

  switch (back.kind) {
    case ReadBackKind::kPicture:
      return ReadPictureRows(file.get());
    case ReadBackKind::kTextAndGraphic:
      return ReadTextAndGraphicRows(file.get(), back);
    case ReadBackKind::kText:
    case ReadBackKind::kNone:
      break;
  }
  return ReadTextRows(file.get(), reduce);
}

void PageEngine::LogRowsEnded(const char* buffer, ssize_t got) const {
  Log(LogLevel::kWarning, LogEvent::kRowsEnded,
      std::string("readfile to ") + buffer + ", iReadLen:" + std::to_string(got));
}

Status PageEngine::ReadPictureRows(int fd) {
  uint8_t* row = state_.Planes[0].data();
  const size_t row_bytes = rows_.bytes_per_line;
  for (unsigned y = 0; y < rows_.height && !canceled(); ++y) {
    // Dot rows already: a row cut short is completed without dots.
    if (ssize_t n = ReadRow(fd, row, row_bytes, 0x00); n < 1) {
      LogRowsEnded("Planes[0]", n);
      break;
    }
    if (Status s = kemb::AddRow(state_, *settings_.out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PageEngine::ReadTextAndGraphicRows(int fd, const ReadBack& source) {
  errno = 0;
  UniqueFd image(OpenForRead(source.image_path));
  if (!image.valid()) {
    return Status::Fail("open " + source.image_path + " error:" + std::to_string(errno));
  }
  Log(LogLevel::kDebug, LogEvent::kFileOpened,
      "open " + source.image_path + " ok " + std::to_string(errno));
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
      LogRowsEnded("Planes[0]", n);
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
    if (Status s = kemb::AddRow(state_, *settings_.out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

Status PageEngine::ReadTextRows(int fd, bool reduce) {
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
      LogRowsEnded("Planes[0]", n);
      break;
    }
    if (reduce) {
      TransToGray360(row, pairs, odd);
      if (y + 1 < rows_.height) {
        uint8_t* second = plane360_.data();
        if (ssize_t n = read_row(second); n < 1) {
          LogRowsEnded("360_2", n);
          break;
        }
        ++y;
        TransToGray360(second, pairs, odd);
        for (size_t i = 0; i < dot_bytes; ++i) row[i] |= second[i];
      }
    } else {
      TransToGray(row, rows_.width);
    }
    if (Status s = kemb::AddRow(state_, out, rows_, {row, row_bytes}); !s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace kemb
