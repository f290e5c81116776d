// SPDX-License-Identifier: Apache-2.0
// PageEngine: one print job on the printer side, fed a page at a time by any front end.
//
// How a front end uses it (the CUPS filter in filter/job does exactly this):
//   1. Fill a JobSettings: job ID (part of the spool names), spool folder, printer stream
//      (a ByteSink), log (a FILE*), cancel test, halftoner (the kemb_ID program found on PATH,
//      or a function such as InProcessHalftoner() that halftones without a process).
//   2. PageEngine engine(settings);  engine.StartJob();         wakes the printer
//      engine.MakeSpoolFolder();       the job's private folder (else made by the first page)
//   3. For each page:
//        engine.StartPage(page);           a PageDescription: command set, resolution, size
//        engine.AddRow(rgb) per raster row (page.bytes_per_line bytes of R, G, B), top first,
//                                          at most page.height rows; rows may be read straight
//                                          into engine.RowBuffer()
//        engine.EndPage();                 decides text or picture (by the page's dark share,
//                                          or by page.content), halftones, prints the
//                                          bands, ends the page, removes the spool files
//   4. engine.EndJob();                    leaves the printer in its default state
// Every call returns a Status. A failed StartPage, AddRow or EndPage has already ended the
// page (form feed, files removed) if the page had been set up; the job stops there (the CUPS
// filter writes the failure as its one ERROR line and sends no EndJob). A page description no
// printer count can carry is refused before a byte is sent. A cancel (settings.canceled()
// turning true) is no failure: the front end stops adding rows, a running halftoner is stopped,
// and EndPage ends the page with what it has.
// page.content is the front end's choice of content; kAuto (the default) lets the engine's own
// dark-pixel test decide text or picture. Any other choice logs one DEBUG line per page with
// the path taken and why (content/content_choice.h, content/regions.h).
//
// The page lives in a spool file between StartPage and EndPage, so a page of any size costs
// a few rows of memory. The page files are made in a private folder of the job's own
// (mkdtemp below settings.spool_dir, see spool_folder.h), made by MakeSpoolFolder or else by
// the first StartPage, and removed with the engine. Each engine owns its state, folder and
// buffers; two engines can run in one process, even with the same job ID.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "content/content_choice.h"
#include "content/regions.h"
#include "convert/ink_count.h"
#include "engine/spool_folder.h"
#include "engine/temp_file.h"
#include "printer/byte_buffer.h"
#include "printer/byte_sink.h"
#include "printer/page_description.h"
#include "printer/print_state.h"
#include "printer/status.h"

namespace kemb {

// Makes base.pbm from base.ppm for a picture page (base: the spool path without extension).
using HalftoneRunner =
    std::function<Status(const std::string& base, unsigned xres, HalftoneMode mode)>;
// True once the job is to stop.
using CancelTest = std::function<bool()>;

struct JobSettings {
  std::string id;                     // job ID: 1 to 10 digits, part of the spool file names
  std::string spool_dir = "/tmp";     // where the job's private folder for page files is made
  std::string halftoner = "kemb_ID";  // the program, found on PATH, when `halftone` is empty
  HalftoneRunner halftone;            // empty: run `halftoner` as a child process
  Allocator* allocator = nullptr;     // the page buffers' blocks; nullptr: the heap
  ByteSink* out = nullptr;            // the printer stream
  FILE* log = nullptr;                // the job log: one line per message
  CancelTest canceled;                // empty: never cancelled
};

// A halftoner that runs in this process, on the same files as the program; it stops at the
// next row once `canceled` is true.
HalftoneRunner InProcessHalftoner(CancelTest canceled);

class PageEngine {
 public:
  explicit PageEngine(const JobSettings& settings);
  ~PageEngine();
  PageEngine(const PageEngine&) = delete;
  PageEngine& operator=(const PageEngine&) = delete;

  Status StartJob();
  // The job's private folder for page files; a failure names it. Made once.
  Status MakeSpoolFolder();
  Status StartPage(const PageDescription& page);
  // A row buffer of page.bytes_per_line bytes, valid from StartPage to EndPage.
  std::span<uint8_t> RowBuffer();
  Status AddRow(std::span<const uint8_t> rgb);
  Status EndPage();
  Status EndJob();

  bool canceled() const { return settings_.canceled && settings_.canceled(); }
  // Pages started so far; the spool names count from 1.
  int pages() const { return page_number_; }
  const JobSettings& settings() const { return settings_; }

 private:
  struct Source {
    std::string path;      // the file read back
    size_t head_len = 0;   // header bytes to skip
    bool picture = false;  // rows are dot rows already
    // Text and graphic: the spool thresholded, with the halftoner's image in the regions.
    std::string image_path;
    size_t image_head_len = 0;
    unsigned image_width = 0;
  };

  static std::string PpmHeader(const PageDescription& page);
  Status FailPage(Status failure);
  void RemoveFiles(bool picture);
  PagePath ChoosePath(double ratio);
  Status Halftone(const std::string& base, const PagePath& path, Source* source);
  Status ReadBack(const Source& source);
  Status ReadTextRows(int fd, bool reduce);
  Status ReadPictureRows(int fd);
  Status ReadTextAndGraphicRows(int fd, const Source& source);

  JobSettings settings_;
  PrintState state_;
  ByteBuffer plane360_;  // second row of a pair on reduced pages
  ByteBuffer image_row_;  // the halftoner's row beside the thresholded one
  int page_number_ = 0;
  SpoolFolder folder_;  // outlives the page files below

  // The page in progress.
  bool page_open_ = false;
  PageDescription page_;  // as set up; `rows_` changes as the page is read back
  PageDescription rows_;  // the rows as they are printed: reduced, or the halftoner's image
  std::string base_;
  std::optional<TempFile> ppm_, pbm_;
  UniqueFd spool_;
  unsigned rows_added_ = 0;
  InkCount ink_;
  bool mapped_ = false;  // text and graphic: regions counted while spooling
  RegionMap region_map_;
  Regions regions_;  // found once the page is spooled
};

}  // namespace kemb
