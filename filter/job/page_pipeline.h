// PagePipeline: one page from raster rows to printer bands.
//   Spool     raster rows to <folder>/kemb<job>_<page>.ppm, counting inked and dark pixels
//   decide    text or picture (the picture path hands the spool to the halftoner)
//   ReadBack  rows from the spool (thresholded here) or the halftoner's image, into OutputLine
//   end       EndPage, temporary files removed
// The 360 x 360 text page is printed at 180 x 180, each dot standing for 2 x 2 pixels.
#pragma once

#include <string>
#include <utility>

#include <cups/raster.h>

#include "job/job.h"
#include "job/picture.h"
#include "printer/byte_buffer.h"
#include "printer/print_state.h"
#include "printer/status.h"

namespace kemb {

class PagePipeline {
 public:
  // `folder`: the job's private folder, where the page files are made.
  PagePipeline(const Job& job, std::string folder) : job_(job), folder_(std::move(folder)) {
    plane360_.SetAllocator(job.allocator);
  }

  // Called after StartPage; ends the page. A failure has ended the page (form feed) and removed
  // its files; the job must stop. A cancel stops the row loops and the halftoner; the page
  // still ends.
  Status PrintPage(PrintState& state, cups_page_header2_t& header, int page);

 private:
  struct Source {
    std::string path;      // the file read back
    size_t head_len = 0;   // header bytes to skip
    bool picture = false;  // rows are dot rows already
  };

  static std::string PpmHeader(const cups_page_header2_t& header);
  Status Spool(PrintState& state, const cups_page_header2_t& header, int fd,
               const std::string& path, InkCount* ink);
  Status Halftone(cups_page_header2_t& header, const std::string& base, int mode,
                  const std::string& pbm_path, Source* source);
  Status ReadBack(PrintState& state, cups_page_header2_t& header, const Source& source);
  Status ReadTextRows(PrintState& state, cups_page_header2_t& header, int fd, bool reduce);
  Status ReadPictureRows(PrintState& state, const cups_page_header2_t& header, int fd);

  const Job& job_;
  std::string folder_;
  ByteBuffer plane360_;  // second row of a pair on reduced pages
};

}  // namespace kemb
