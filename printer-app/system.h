// SPDX-License-Identifier: Apache-2.0
// The printer application's system: folders, listeners, drivers, the PDF and image filters,
// state, and the limit of one job per printer inside PAPPL.
//   SystemCallback     papplMainloop's system callback: options to a configured system
#pragma once

#include <pappl/pappl.h>

namespace kemb::app {

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data);

}  // namespace kemb::app
