// SPDX-License-Identifier: Apache-2.0
// System set-up: option parsing, default folders, filters and document typing, state file (and recovery of jobs a
// stopped server left), printer limits, admission.
#include "system.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "add_printer_page.h"
#include "app_config.h"
#include "driver.h"
#include "image_filters.h"
#include "job_run.h"
#include "offline_watch.h"
#include "pdf_filter.h"
#include "raster_filter.h"
#include "recovery.h"
#include "sub_commands.h"

namespace kemb::app {
namespace {

constexpr const char* kName = "kemb-printer-app";

std::string Option(int n, cups_option_t* options, const char* name, const std::string& fallback) {
  const char* v = cupsGetOption(name, n, options);
  return v && *v ? v : fallback;
}

// Makes `path` and its parents; mode for the last one.
bool MakeFolder(const std::string& path, mode_t mode) {
  std::string partial;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      partial = path.substr(0, i);
      if (mkdir(partial.c_str(), i == path.size() ? mode : 0755) != 0 && errno != EEXIST)
        return false;
    }
  }
  return true;
}

pappl_soptions_t ServerOptions(const std::string& list) {
  pappl_soptions_t opts = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                          PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    std::string word =
        list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? list.size() : end + 1;
    if (word == "no-tls")
      opts |= PAPPL_SOPTIONS_NO_TLS;
    else if (word == "dnssd-host")
      opts |= PAPPL_SOPTIONS_DNSSD_HOST;
    else if (word == "web-remote")
      opts |= PAPPL_SOPTIONS_WEB_REMOTE;
    else if (word == "web-network")
      opts |= PAPPL_SOPTIONS_WEB_NETWORK;
    else if (word == "web-tls")
      opts |= PAPPL_SOPTIONS_WEB_TLS;
    // Raw socket printing would create jobs past the admission check: not offered.
  }
  return opts;
}

pappl_loglevel_t LogLevel(const std::string& s) {
  if (s == "debug") return PAPPL_LOGLEVEL_DEBUG;
  if (s == "warn") return PAPPL_LOGLEVEL_WARN;
  if (s == "error") return PAPPL_LOGLEVEL_ERROR;
  if (s == "fatal") return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_INFO;
}

// One job per printer inside PAPPL: a new job is refused as busy (clients retry) until the
// previous one has left the queue, which keeps PAPPL from starting the same job twice while
// jobs wait, and keeps a waiting job away from a device the previous one is about to close.
void LimitJobs(pappl_printer_t* printer, void*) {
  papplPrinterSetMaxActiveJobs(printer, 1);
}

std::string g_state_file;

bool SaveState(pappl_system_t* system, void*) {
  return SaveSystemState(system);
}

// PAPPL looks for a job to start only when one arrives or ends: once the system runs, the
// printers with jobs waiting after the load are told to look.
std::vector<int> g_printers_to_start;

bool StartRecoveredJobs(pappl_system_t* system, void*) {
  for (int id : g_printers_to_start)
    if (pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, id, nullptr))
      papplPrinterResume(printer);
  g_printers_to_start.clear();
  return false;  // once
}

void NoteWaitingJobs(pappl_printer_t* printer, void*) {
  if (papplPrinterGetNumberOfActiveJobs(printer) > 0)
    g_printers_to_start.push_back(papplPrinterGetID(printer));
}

// After the load: what happened to each job a stopped server left.
void ExplainRecovered(pappl_system_t* system, const std::vector<RecoveredJob>& jobs) {
  for (const RecoveredJob& r : jobs) {
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, r.printer_id, nullptr);
    pappl_job_t* job = printer ? papplPrinterFindJob(printer, r.job_id) : nullptr;
    if (!job) continue;
    switch (r.outcome) {
      case Recovered::kRequeued:
        papplJobSetMessage(job, "%s", kPrintsAgainMessage);
        papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                    "The server stopped during this job: it is back in the queue.");
        break;
      case Recovered::kAborted:
        papplJobSetMessage(job, "%s", kStoppedTwiceMessage);
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                    "The server stopped twice during this job: it is aborted.");
        break;
      case Recovered::kPrinted:
        papplJobSetMessage(job, "%s", kPrintedAfterRestartMessage);
        break;
      case Recovered::kNotKept:
        papplJobSetMessage(job, "The server stopped during this job, whose document was sent "
                                "as a stream and not kept; it is not printed again.");
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        break;
    }
  }
}

}  // namespace

bool SaveSystemState(pappl_system_t* system) {
  // PAPPL's main loop and a job's start may save at once.
  static std::mutex saving;
  std::lock_guard lock(saving);
  const std::string temporary = g_state_file + ".saving";
  if (!papplSystemSaveState(system, temporary.c_str())) return false;
  return std::rename(temporary.c_str(), g_state_file.c_str()) == 0;
}

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data) {
  const char* snap = getenv("SNAP_COMMON");
  const char* home = getenv("HOME");
  // SNAP_COMMON moves everything: state, spool, log and the local socket.
  const bool system_folders = getuid() == 0 && !(snap && *snap);
  const std::string base = snap && *snap ? std::string(snap)
                           : std::string(home && *home ? home : "/tmp") + "/.local/state/" + kName;

  AppConfig& config = Config();
  config.state_dir = Option(num_options, options, "state-directory",
                            system_folders ? std::string("/var/lib/") + kName : base);
  config.spool_dir = Option(num_options, options, "spool-directory",
                            system_folders ? std::string("/var/spool/") + kName : base + "/spool");
  config.log_file = Option(num_options, options, "log-file",
                           system_folders ? std::string("/var/log/") + kName + "/" + kName + ".log"
                                          : base + "/" + kName + ".log");
  for (const std::string& dir : {config.state_dir, config.spool_dir})
    if (!MakeFolder(dir, 0700)) {
      fprintf(stderr, "%s: Unable to create %s: %s\n", kName, dir.c_str(), strerror(errno));
      return nullptr;
    }
  if (config.log_file != "-" && config.log_file != "syslog") {
    const std::string dir = config.log_file.substr(0, config.log_file.rfind('/'));
    if (!dir.empty() && !MakeFolder(dir, 0755)) {
      fprintf(stderr, "%s: Unable to create %s: %s\n", kName, dir.c_str(), strerror(errno));
      return nullptr;
    }
  }

  const int port = std::atoi(Option(num_options, options, "server-port", "0").c_str());
  pappl_system_t* system = papplSystemCreate(
      ServerOptions(Option(num_options, options, "server-options", "")),
      Option(num_options, options, "server-name", "KEMB Printer Application").c_str(), port,
      "_print,_universal", config.spool_dir.c_str(), config.log_file.c_str(),
      LogLevel(Option(num_options, options, "log-level", "info")),
      cupsGetOption("auth-service", num_options, options), false);
  if (!system) return nullptr;

  const std::string hostname = Option(num_options, options, "server-hostname", "");
  if (!hostname.empty()) papplSystemSetHostName(system, hostname.c_str());
  const std::string listen = Option(num_options, options, "listen-hostname", "");
  papplSystemAddListeners(system, listen.empty() ? nullptr : listen.c_str());

  std::vector<pappl_pr_driver_t>& drivers = DriverList();
  papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(), AutoAdd,
                               LimitJobs, DriverCallback, data);
  // PAPPL types a document sent without a format by a few magic numbers of its own (a JPEG
  // only with a JFIF or Exif marker); ours are asked for what it does not know.
  papplSystemSetMIMECallback(
      system,
      [](const unsigned char* header, size_t size, void*) {
        return FormatOf(std::span<const uint8_t>(header, size));
      },
      nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", kDriverFormat, PdfFilter, nullptr);
  papplSystemAddMIMEFilter(system, kDriverFormat, kDriverFormat, RasterFilter, nullptr);
  InstallImageFilters(system);
  papplSystemSetFooterHTML(system, "KEMB WMZ dot-matrix printers");
  InstallVendorOperations(system);
  InstallAddPrinterPage(system);

  pappl_version_t version{};
  snprintf(version.name, sizeof(version.name), "%s", kName);
  snprintf(version.sversion, sizeof(version.sversion), "1.0.0");
  version.version[0] = 1;
  papplSystemSetVersions(system, 1, &version);

  g_state_file = config.state_dir + "/" + kName + ".state";
  const std::string record_file = config.state_dir + "/" + kName + ".jobs";
  const std::vector<RecoveredJob> recovered =
      RecoverJobs(g_state_file, record_file, config.spool_dir);
  static std::unique_ptr<JobRecord> record;
  record = std::make_unique<JobRecord>(record_file);
  config.jobs = record.get();
  RemoveJobFolders(config.spool_dir);
  papplSystemLoadState(system, g_state_file.c_str());
  ExplainRecovered(system, recovered);
  papplSystemIteratePrinters(system, NoteWaitingJobs, nullptr);
  if (!g_printers_to_start.empty())
    papplSystemAddTimerCallback(system, time(nullptr), 0, StartRecoveredJobs, nullptr);
  papplSystemIteratePrinters(system, LimitJobs, nullptr);
  papplSystemSetSaveCallback(system, SaveState, nullptr);
  WatchOfflinePrinters(system);
  return system;
}

}  // namespace kemb::app
