// SPDX-License-Identifier: Apache-2.0
// The offline watch: a timer over the printers and their processing jobs.
#include "offline_watch.h"

#include <cstring>
#include <ctime>

namespace kemb::app {
namespace {

constexpr const char kWaiting[] = "Waiting for the printer to answer";

void FindProcessing(pappl_job_t* job, void* found) {
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING) *static_cast<pappl_job_t**>(found) = job;
}

void CheckPrinter(pappl_printer_t* printer, void*) {
  if (papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) return;
  pappl_job_t* waiting = nullptr;
  papplPrinterIterateActiveJobs(printer, FindProcessing, &waiting, 1, 0);
  if (!waiting) return;
  papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  papplJobSetMessage(waiting, "%s (%s).", kWaiting, papplPrinterGetDeviceURI(printer));
  papplLogJob(waiting, PAPPL_LOGLEVEL_WARN,
              "The printer does not answer; the job waits for it, the printer shows offline.");
  papplPrinterResume(printer);
}

bool Watch(pappl_system_t* system, void*) {
  papplSystemIteratePrinters(system, CheckPrinter, nullptr);
  return true;
}

}  // namespace

bool IsWaiting(const char* job_message) {
  return job_message && std::strncmp(job_message, kWaiting, sizeof(kWaiting) - 1) == 0;
}

void WatchOfflinePrinters(pappl_system_t* system) {
  // PAPPL 1.3.1 stops a printer whose device does not open without an event for it: looked
  // at every second.
  papplSystemAddTimerCallback(system, time(nullptr), 1, Watch, nullptr);
}

}  // namespace kemb::app
