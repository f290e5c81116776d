// SPDX-License-Identifier: Apache-2.0
// Plain-text jobs: the document in the printer's own characters through the text engine,
// straight to the device, as texttokemb prints it from CUPS.
//   AddTextDefaults  cpi and lpi, which IPP lacks, as the printer's vendor defaults (the LQ
//                    models; the alternate model prints text at its own settings)
//   TextPaperFor     the paper and command set the engine lays the text out on
//   TextFilter       the MIME filter PAPPL calls for text/plain
#pragma once

#include <pappl/pappl.h>

#include "models.h"
#include "text/text_layout.h"

namespace kemb::app {

void AddTextDefaults(const Model& model, pappl_pr_driver_data_t* data, ipp_t* attrs);

TextPaper TextPaperFor(const Model& model, const Paper& paper);

bool TextFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace kemb::app
