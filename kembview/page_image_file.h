// SPDX-License-Identifier: Apache-2.0
// Writing a page's dot image to a file: black where a dot is.
//
//   WritePng   1-bit grey PNG with the grid resolution in pHYs
//   WritePbm   binary PBM (P4), resolution as a header comment
//   WriteGreyPng  a paper view as 8-bit grey PNG with its resolution in pHYs
// Both return an empty string on success, else what went wrong.
#pragma once

#include <string>

#include "paper_view.h"
#include "stream_decoder.h"

namespace kembview {

std::string WritePng(const Page& page, const std::string& path);
std::string WritePbm(const Page& page, const std::string& path);
std::string WriteGreyPng(const PaperImage& image, const std::string& path);

}  // namespace kembview
