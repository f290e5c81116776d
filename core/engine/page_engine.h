// SPDX-License-Identifier: Apache-2.0
// PageEngine: one print job on the printer side, fed a page at a time by any front end.
//
// How a front end uses it (the CUPS filter in filter/job does exactly this):
//   1. Fill a JobSettings: job ID (part of the spool names), spool folder, printer stream
//      (a ByteSink), log (a JobLog), cancel test, halftoner (empty: the kemb_ID program on
//      PATH; or a function such as InProcessHalftoner() that halftones without a process).
//   2. PageEngine engine(settings);  engine.StartJob();   wakes the printer, makes the job's
//                                                        private folder for page files
//   3. For each page:
//        engine.StartPage(page);   a PageDescription: command set, resolution, size, content
//        engine.AddRow(rgb);       per raster row (page.bytes_per_line bytes of R, G, B), top
//                                  first, at most page.height rows
//        engine.EndPage();         decides text or picture (by the page's dark share, or by
//                                  page.content), halftones, prints the bands, ends the page,
//                                  removes the spool files
//   4. engine.EndJob(outcome);     leaves the printer in its default state, unless the job
//                                  failed: then nothing more is sent
// Every call returns a Status. A failed StartPage, AddRow or EndPage has already ended the
// page (form feed, files removed) if the page had been set up; the job stops there, and
// EndJob, handed the failure or finding one of its own, sends no reset. A page description no
// printer count can carry is refused before a byte is sent. A cancel (settings.canceled()
// turning true) is no failure: the front end stops adding rows, a running halftoner is stopped,
// and EndPage ends the page with what it has.
// page.content is the front end's choice of content; kAuto (the default) lets the engine's own
// dark-pixel test decide text or picture. Any other choice logs one debug line per page with
// the path taken and why (content/content_choice.h, content/regions.h).
//
// The page lives in a spool file between StartPage and EndPage, so a page of any size costs
// a few rows of memory. The page files are made in a private folder of the job's own
// (mkdtemp below settings.spool_dir, see spool_folder.h), made by StartJob and removed with
// the engine. Each engine owns its state, folder and buffers; two engines can run in one
// process, even with the same job ID.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "content/content_choice.h"
#include "content/regions.h"
#include "convert/ink_count.h"
#include "engine/job_log.h"
#include "engine/picture.h"
#include "engine/spool_folder.h"
#include "engine/temp_file.h"
#include "pixel/halftone_mode.h"
#include "printer/byte_buffer.h"
#include "printer/byte_sink.h"
#include "printer/page_description.h"
#include "printer/print_state.h"
#include "printer/status.h"

namespace kemb {

struct JobSettings {
  std::string id;                  // job ID: 1 to 10 digits, part of the spool file names
  std::string spool_dir = "/tmp";  // where the job's private folder for page files is made
  HalftoneRunner halftone;         // empty: the kemb_ID program, found on PATH
  Allocator* allocator = nullptr;  // the page buffers' blocks; nullptr: the heap
  ByteSink* out = nullptr;         // the printer stream
  JobLog* log = nullptr;           // nullptr: the events go nowhere
  CancelTest canceled;             // empty: never cancelled
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

  // A failure names the folder it could not make.
  Status StartJob();
  Status StartPage(const PageDescription& page);
  Status AddRow(std::span<const uint8_t> rgb);
  Status EndPage();
  // `outcome`: how the job went on the front end's side. Returns it when it is a failure,
  // else the engine's own failure or the reset's status.
  Status EndJob(Status outcome = Status::Ok());

  bool canceled() const { return settings_.canceled && settings_.canceled(); }
  // Pages started so far; the spool names count from 1.
  int pages() const { return page_number_; }
  const JobSettings& settings() const { return settings_; }

 private:
  // What a page's rows are read back from.
  enum class ReadBackKind {
    kText,            // the spool, thresholded
    kPicture,         // the halftoner's image: dot rows already
    kTextAndGraphic,  // the spool thresholded, the halftoner's image over the toned pixels
    kNone,            // cancelled before the image was read: no row prints
  };
  struct ReadBack {
    ReadBackKind kind = ReadBackKind::kText;
    std::string path;      // the file read back
    size_t head_len = 0;   // header bytes to skip
    PageDescription rows;  // the rows as they print
    // Text and graphic: the halftoner's image laid over the toned pixels.
    std::string image_path;
    size_t image_head_len = 0;
    unsigned image_width = 0;
  };
  struct PathChoice {
    PagePath path;
    std::string why;  // the debug line's reason; empty on auto, which logs the share alone
  };

  static std::string PpmHeader(const PageDescription& page);
  void Log(LogLevel level, LogEvent event, const std::string& text) const;
  Status FailPage(Status failure);
  void RemoveFiles(bool image);
  // Settles the strokes and toned shapes when the path takes them.
  PathChoice ChoosePath(double ratio);
  void LogPath(const PathChoice& choice) const;
  Status Halftone(const PathChoice& choice, ReadBack* back);
  Status PrintRows(const ReadBack& back);
  Status ReadTextRows(int fd, bool reduce);
  Status ReadPictureRows(int fd);
  Status ReadTextAndGraphicRows(int fd, const ReadBack& back);
  void LogRowsEnded(const char* buffer, ssize_t got) const;

  JobSettings settings_;
  HalftoneRunner halftone_;  // chosen once for the job
  PrintState state_;
  ByteBuffer plane360_;   // second row of a pair on reduced pages
  ByteBuffer image_row_;  // the halftoner's row beside the thresholded one
  int page_number_ = 0;
  bool failed_ = false;  // a page failed: the job ends without the reset
  SpoolFolder folder_;   // outlives the page files below

  // The page in progress.
  bool page_open_ = false;
  PageDescription page_;  // as set up
  PageDescription rows_;  // the rows as they are printed: reduced, or the halftoner's image
  std::string base_;
  std::optional<TempFile> ppm_, pbm_;
  UniqueFd spool_;
  unsigned rows_added_ = 0;
  InkCount ink_;
  bool mapped_ = false;  // text and graphic: regions counted while spooling
  RegionMap region_map_;
};

}  // namespace kemb
