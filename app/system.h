// The printer application's system: folders, listeners, drivers, the PDF filter, state, and
// the admission check that keeps PAPPL from starting a job while another is still ending.
//   SystemCallback     papplMainloop's system callback: options to a configured system
//   AdmitOperation     the IPP operation callback: job-creating requests wait their turn
#pragma once

#include <pappl/pappl.h>

namespace kemb::app {

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data);
bool AdmitOperation(pappl_client_t* client, void* data);

}  // namespace kemb::app
