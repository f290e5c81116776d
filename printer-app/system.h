// SPDX-License-Identifier: Apache-2.0
// The printer application's system: folders, listeners, drivers, the PDF and image filters,
// state, and the limit of one job per printer inside PAPPL.
//   SystemCallback     papplMainloop's system callback: options to a configured system
//   SaveSystemState    the state file, now: PAPPL saves it only some time after a change, and a
//                      job accepted but not yet saved would be lost in a crash; written beside
//                      and renamed over, as PAPPL writes it in place
#pragma once

#include <pappl/pappl.h>

namespace kemb::app {

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data);
bool SaveSystemState(pappl_system_t* system);

}  // namespace kemb::app
