// SPDX-License-Identifier: Apache-2.0
// One scheduler session: both queues, both jobs, and what they left behind.
//   QueueCase, kQueues   the queues of the table: PPD, options, command set, text tolerance
//   JobResult, Session   printer files, job states and log lines, gathered once for all tests;
//                        each queue prints the document, then its first page as a photo
//   RunSession           sandbox, document, Ghostscript references, queues, jobs, wait, stop
//   PaperGeometry        page length and imageable area of the chosen paper, from the PPD
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scheduler/job_log.h"
#include "scheduler/test_document.h"

namespace kemb::scheduler_test {

struct QueueCase {
  const char* queue;
  const char* ppd;         // in the build's ppd folder
  const char* resolution;  // the Resolution choice printed with
  int xdpi, ydpi;
  const char* page_size;
  bool lq;  // LQ command set; else the alternate set
  // Reset and set-up that open every page, in hex; nn: page length in lines, tt and uu: its
  // tens and units.
  const char* set_up;
  // Least share of text dots that must agree with Ghostscript's pixels exactly. Where the page
  // length is not a whole number of rows (A4 at 120 dpi), the scheduler's raster and our
  // reference sit a fraction of a row apart and glyph edges round differently; within one
  // pixel they must agree everywhere.
  double exact_text_share;
};

inline constexpr QueueCase kQueues[] = {
    {"kembtest", "kemb24.ppd", "180x180dpi", 180, 180, "A4", true,
     "1B 40  1B 36  1C 78 30  1B 55 30  1B 32  1B 43 nn  1B 33 08", 0.97},
    {"kembalt", "kemb24a.ppd", "120x120dpi", 120, 120, "A4", false,
     "1B 4E  1B 25 42  1B 36  1B 46 tt uu", 0.90},
};

struct JobResult {
  int id = 0;
  int state = 0;  // IPP job state
  std::vector<uint8_t> stream;
  std::vector<JobLine> log;
  std::vector<std::string> leftovers;  // kemb<id>* in /tmp or TempDir once the job had ended
};

struct Session {
  std::string error;  // why nothing could be printed; empty when the jobs ran
  std::string stop_problem;
  std::vector<JobResult> jobs;                      // one per queue, in table order
  // Per queue, page 1 again with print-content-optimize=photo.
  std::vector<JobResult> photo_jobs;
  std::map<int, std::vector<RgbImage>> references;  // Ghostscript's pages, by case
};

// Fills the session; throws std::runtime_error when nothing could be printed. The scheduler is
// stopped and its folder removed before it returns, whatever happened.
void RunSession(Session& session);

struct PaperGeometry {
  double length = 0;         // points
  double left = 0, top = 0;  // imageable area, points from the left and from the top edge
  double right = 0, bottom = 0;
};

PaperGeometry PaperFromPpd(const QueueCase& c);

}  // namespace kemb::scheduler_test
