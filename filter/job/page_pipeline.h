// PagePipeline: one page from raster rows to printer bands.
//   Spool     raster rows to <folder>/kemb<job>_<page>.ppm, counting inked and dark pixels
//   decide    text or picture (the picture path hands the spool to the halftoner), by the
//             page's dark share or by the content the user chose
//   ReadBack  rows from the spool (thresholded here) or the halftoner's image, into OutputLine;
//             for text and graphic both, the image filling the page's picture regions
//   end       EndPage, temporary files removed
// The 360 x 360 text page is printed at 180 x 180, each dot standing for 2 x 2 pixels.
#pragma once

#include <string>
#include <utility>

#include <cups/raster.h>

#include "content/regions.h"
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
    image_row_.SetAllocator(job.allocator);
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
    // Text and graphic: the spool thresholded, with the halftoner's image in the regions.
    std::string image_path;
    size_t image_head_len = 0;
    unsigned image_width = 0;
  };

  static std::string PpmHeader(const cups_page_header2_t& header);
  Status Spool(PrintState& state, const cups_page_header2_t& header, int fd,
               const std::string& path, InkCount* ink, RegionMap* regions);
  PagePath ChoosePath(const cups_page_header2_t& header, int page, double ratio,
                      bool mapped);
  Status Halftone(cups_page_header2_t& header, const std::string& base, const PagePath& path,
                  const std::string& pbm_path, Source* source);
  Status ReadBack(PrintState& state, cups_page_header2_t& header, const Source& source);
  Status ReadTextRows(PrintState& state, cups_page_header2_t& header, int fd, bool reduce);
  Status ReadPictureRows(PrintState& state, const cups_page_header2_t& header, int fd);
  Status ReadMixedRows(PrintState& state, const cups_page_header2_t& header, int fd,
                       const Source& source);

  const Job& job_;
  std::string folder_;
  ByteBuffer plane360_;  // second row of a pair on reduced pages
  ByteBuffer image_row_;  // the halftoner's row beside the thresholded one
  RegionMap region_map_;  // text and graphic: counted while spooling
  Regions regions_;       // and found once the page is spooled
};

}  // namespace kemb
