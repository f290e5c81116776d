// SPDX-License-Identifier: Apache-2.0
// HalftoneMode: how a page's pixels become dots, one name for the engine and the halftoner.
// The numbers are kemb_ID's mode argument; kThreshold never reaches the halftoner.
#pragma once

namespace kemb {

enum class HalftoneMode {
  kThreshold = 0,   // no halftoner: each pixel a dot or none, the text path
  kDiffuseAll = 2,  // every pixel toned and diffused: photos
  kSolidDark = 3,   // dark text and rules solid, paper clean, the rest diffused: graphics
};

}  // namespace kemb
