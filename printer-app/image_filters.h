// SPDX-License-Identifier: Apache-2.0
// JPEG and PNG jobs at the resolution print-quality maps to, not at PAPPL's own choice.
//   InstallImageFilters  JpegFilter and PngFilter to the driver's format, ahead of PAPPL's own
//   JpegFilter           image/jpeg: libjpeg, then PAPPL's image scaler and our raster steps
//   PngFilter            image/png: libpng, likewise
//   UseResolution        a job's print options, page header included, at another resolution
#pragma once

#include <pappl/pappl.h>

#include "models.h"

namespace kemb::app {

// Call before the system runs.
void InstallImageFilters(pappl_system_t* system);

bool JpegFilter(pappl_job_t* job, pappl_device_t* device, void* data);
bool PngFilter(pappl_job_t* job, pappl_device_t* device, void* data);

// Rebuilds options->header for the same sheet and raster type at `res`. False when the sheet
// has no PWG size.
bool UseResolution(pappl_pr_options_t* options, Resolution res);

}  // namespace kemb::app
