// SPDX-License-Identifier: Apache-2.0
// PDF jobs: Ghostscript renders the pages as PWG raster on a pipe (no shell, no file), and
// the driver prints them as they arrive.
//   GhostscriptArgs  the command line for a resolution and sheet size
//   PdfFilter        the MIME filter PAPPL calls for application/pdf
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "models.h"

namespace kemb::app {

std::vector<std::string> GhostscriptArgs(const std::string& pdf, Resolution res,
                                         unsigned width_points, unsigned length_points);

bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace kemb::app
