// SPDX-License-Identifier: Apache-2.0
// Pages, jobs and checks the fault tables share:
//   TextPage, PhotoPage   a page that takes the text path, one that takes the picture path
//   MixedPages            text and picture pages at 180 x 180 and 360 x 360, in turn
//   FaultJob              a FaultCall for the built filter: fresh job ID, PPD, raster input,
//                         PATH with the built halftoner (or a folder of stand-ins) first
//   StandIn               a shell script standing in for kemb_ID
//   ProcessGone           the process has ended (gone, or a zombie nobody reaps) within 2 s
//   CountCommands         commands of one name in a printer stream
//   SamePrefix            how many first bytes two streams share
//   ImagesFrom            bit images of a stream that end past a byte offset
//   FilterUser            the unprivileged user CUPS runs filters as (lp, else daemon), with a
//                         folder of the built programs it can reach; Planter, a third user
//   AsFilterUser          a FaultCall run as that user, from that folder
//   Runner                a fault table's two passes: as we are, and as the filter user
#pragma once

#include <optional>

#include <sys/types.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/fault_process.h"
#include "support/raster_writer.h"

namespace kemb::testing {

using Bytes = std::vector<uint8_t>;

// Dark strokes on white: the dark share is high, so the filter thresholds it itself.
RasterPage TextPage(unsigned width, unsigned height, unsigned dpi = 180, unsigned seed = 1,
                    const char* type = "LQ");
RasterPage TextPage(const cups_page_header2_t& header, unsigned seed);
// A soft shading without dark pixels: the halftoner's page.
RasterPage PhotoPage(unsigned width, unsigned height, unsigned dpi = 180, unsigned seed = 1);
// `count` pages: text 180, photo 180, text 360, photo 360, and again.
std::vector<RasterPage> MixedPages(size_t count, unsigned width, unsigned height);

// `halftoner_dir`: the folder searched first for kemb_ID; empty: the built one.
FaultCall FaultJob(const std::string& job, const std::string& ppd, const Bytes& raster,
                   const std::string& halftoner_dir = "");

// Writes `dir`/kemb_ID: records its arguments to `dir`/calls, sets w and h from the spool's
// header and defines write_image (an all-black image of the page's size) before `body`.
void StandIn(const std::string& dir, const std::string& body);

bool ProcessGone(pid_t pid);
size_t CountCommands(const Bytes& stream, const std::string& name);
size_t SamePrefix(const Bytes& a, const Bytes& b);
size_t ImagesFrom(const Bytes& stream, size_t offset);

struct FilterUserInfo {
  std::string name;
  RunAs ids;
  std::string bin_dir;  // holds rastertokemb and kemb_ID, reachable by the user
};
// Empty with *why set when this process cannot run programs as another user (not root).
std::optional<FilterUserInfo> FilterUser(std::string* why);
RunAs Planter();  // nobody
FaultCall AsFilterUser(FaultCall call, const FilterUserInfo& user);

// A pass of a fault table: as we are, or as CUPS runs filters.
enum class Runner { kInvoker, kFilterUser };
std::string RunnerName(const ::testing::TestParamInfo<Runner>& info);

}  // namespace kemb::testing
