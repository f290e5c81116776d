// SPDX-License-Identifier: Apache-2.0
// A printer that does not answer when a job starts. PAPPL 1.3.1 then retries opening it every
// 5 seconds with the printer "stopped", which reads as paused by someone. The watch, once a
// second, finds such printers (stopped while one of their jobs is processing: a pause asked for
// during a job leaves the printer processing until the job ends), shows them offline with the
// waiting job's message saying why, and sets the printer going again; PAPPL's retries go on, and
// the job prints from its start once the printer answers.
//   WatchOfflinePrinters  starts the watch; before the system runs
//   IsWaiting    the job's message is the watch's (the driver replaces it once it prints)
#pragma once

#include <pappl/pappl.h>

namespace kemb::app {

void WatchOfflinePrinters(pappl_system_t* system);
bool IsWaiting(const char* job_message);

}  // namespace kemb::app
