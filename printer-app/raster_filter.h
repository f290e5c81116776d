// SPDX-License-Identifier: Apache-2.0
// Raster documents in the driver's own format (PWG, Apple or CUPS raster as a file), printed in
// a job thread. PAPPL 1.3.1 streams image/pwg-raster and image/urf in the client's thread
// whatever the driver's format, and hides the header of a page of fewer than 8 bits there;
// as a file, every page's own header is read.
//   RasterFilter  the MIME filter for the driver's format: every page checked before a byte
//                 is sent, then the pages printed, `copies` times in order
//   PageProblem   why the driver cannot print a page ("" when it can)
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "models.h"

namespace kemb::app {

bool RasterFilter(pappl_job_t* job, pappl_device_t* device, void* data);

std::string PageProblem(const Model& model, const cups_page_header2_t& header);

}  // namespace kemb::app
