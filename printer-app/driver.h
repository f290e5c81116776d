// SPDX-License-Identifier: Apache-2.0
// The KEMB drivers as PAPPL sees them.
//   DriverList       one pappl_pr_driver_t per model, for papplMainloop
//   DriverCallback   fills a printer's driver data: model, media, resolutions, callbacks
//   AutoAdd          the driver for a discovered device's IEEE-1284 ID
//   ResolutionFor    the job's resolution: printer-resolution if given, else print-quality
//                    mapped explicitly (draft, normal, high)
//   ContentFor       print-content-optimize as the engine's content choice; `auto` by format
//   SheetFormatOf    a PWG/CUPS page header as the sheet it describes
//   PrintRaster      every page of a raster stream through the job (PDF filter, raster files)
#pragma once

#include <vector>

#include <pappl/pappl.h>

#include "format_sniff.h"
#include "job_run.h"
#include "models.h"
#include "sheet_feed.h"

namespace kemb::app {

std::vector<pappl_pr_driver_t>& DriverList();

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);
const char* AutoAdd(const char* device_info, const char* device_uri, const char* device_id,
                    void* data);

Resolution ResolutionFor(const Model& model, pappl_job_t* job, ipp_quality_t quality);
Content ContentFor(pappl_content_t content, const char* format);
// False for pixel layouts the driver cannot read.
bool SheetFormatOf(const cups_page_header2_t& header, const pappl_pr_options_t* options,
                   SheetFormat* sheet);

// Prints the pages of `raster` through `run`; false when the job failed.
bool PrintRaster(JobRun& run, cups_raster_t* raster, pappl_device_t* device,
                 const pappl_pr_options_t* options);

}  // namespace kemb::app
