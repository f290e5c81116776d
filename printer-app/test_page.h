// SPDX-License-Identifier: Apache-2.0
// The test page: a one-page PDF (A4) naming the printer and model, with a frame on the
// cut-sheet printable area, a grey ramp for the halftoner and lines of text for the text path.
#pragma once

#include <string>

#include "models.h"

namespace kemb::app {

// The PDF as text; WriteTestPage stores it at `path`. False when it cannot be written.
std::string TestPagePdf(const Model& model, const std::string& printer_name);
bool WriteTestPage(const std::string& path, const Model& model, const std::string& printer_name);

}  // namespace kemb::app
