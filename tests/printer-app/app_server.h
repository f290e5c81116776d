// SPDX-License-Identifier: Apache-2.0
// The printer application as the tests run it: a private server on loopback, printers with
// file devices, and an IPP client that prints, watches and cancels jobs.
//   AppServer   kemb-printer-app server in a scratch folder (state, spool, log, devices) on a
//               free port, stopped by its PID; killed and started again on the same folder
//   SocketPrinter  a network printer on loopback: one connection at a time, bytes kept in order;
//                  may reset its first connection after N bytes, or die then and come back later;
//                  may take its bytes slowly, as a printer printing them
//   Ipp         Print-Job (busy answers retried), job state, Cancel-Job, waiting for jobs
//   Sheets      whole-sheet PWG raster pages as a client renders them
//   RampPdf     a PDF of picture pages, slow to print
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <cups/raster.h>

#include "scheduler/process.h"
#include "support/scratch_dir.h"

namespace kemb::app_test {

using testing::ReadFile;
size_t FileSize(const std::string& path);
// The file's bytes from offset `from` on (a device file's output since then).
std::vector<uint8_t> Tail(const std::string& path, size_t from);
// A PDF of `pages` grey-ramp pages made by Ghostscript in `dir`: picture pages that take a
// while to print; throws when Ghostscript fails.
std::vector<uint8_t> RampPdf(const std::string& dir, int pages);

class AppServer {
 public:
  AppServer();
  ~AppServer();
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;

  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  std::string Uri(const std::string& printer) const;
  std::string DevicePath(const std::string& printer) const { return dir_ + "/" + printer + ".prn"; }
  std::string Log() const;
  // The log lines of one job.
  std::string JobLog(int job_id) const;
  bool Running() { return daemon_ && daemon_->Running(); }
  pid_t pid() const { return daemon_ ? daemon_->pid() : -1; }

  // A printer on a file device of its own (DevicePath), or on `device_uri`; throws when `add`
  // fails.
  void AddPrinter(const std::string& name, const std::string& driver,
                  const std::string& device_uri = "");
  // The program with this server's state folder, for sub-commands.
  scheduler_test::CommandResult Run(std::vector<std::string> args, int timeout = 60) const;
  bool Stop();
  // SIGKILL of the server's process group, as a crash or power loss; then a start on the same
  // state, spool and port.
  void Kill();
  void Restart();

 private:
  testing::TempDir folder_;  // state, spool, log and devices; goes even when the start fails
  std::string dir_ = folder_.path();
  int port_ = 0;
  std::unique_ptr<scheduler_test::Daemon> daemon_;
  void Start();  // throws when it does not answer
};

class SocketPrinter {
 public:
  // How the first connection ends after `reset_after` bytes: reset while the printer stays on
  // (a network glitch), or reset and nothing listens any more until SwitchOn (the printer died).
  enum class Cut { kReset, kDies };
  // Listens on a free loopback port; throws when it cannot. `reset_after` > 0: the first
  // connection is cut once that many bytes have arrived. `pace` > 0: takes at most that many
  // bytes every 10 ms, with a small receive window.
  explicit SocketPrinter(size_t reset_after = 0, Cut cut = Cut::kReset, size_t pace = 0);
  ~SocketPrinter();
  SocketPrinter(const SocketPrinter&) = delete;
  SocketPrinter& operator=(const SocketPrinter&) = delete;

  std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  // Everything received, once no connection has been open for a moment (up to `timeout`).
  std::vector<uint8_t> Bytes(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  size_t connections();
  // Nothing answers on the port any more (a connection in progress goes on).
  void SwitchOff();
  // The printer is back on its port; throws when it cannot.
  void SwitchOn();
  bool down();

 private:
  void Serve();
  int listener_ = -1;
  int port_ = 0;
  size_t reset_after_ = 0;
  Cut cut_;
  size_t pace_ = 0;
  std::mutex mutex_;  // guards listener_ (switched off and on) and what follows
  std::vector<uint8_t> bytes_;
  size_t connections_ = 0;
  bool connected_ = false;
  std::chrono::steady_clock::time_point last_activity_ = std::chrono::steady_clock::now();
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct JobAttributes {
  std::string content;     // print-content-optimize
  int xdpi = 0, ydpi = 0;  // printer-resolution, when set
  int quality = 0;         // print-quality enum, when set
  int copies = 0;          // copies, when set
  std::string media;       // media keyword
  std::string media_type;  // sent as media-col with the size of `media`
};

struct Submitted {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  int job_id = 0;
  int busy_answers = 0;  // server-error-busy answers before this one
  std::string message;
};

class Ipp {
 public:
  explicit Ipp(int port);
  ~Ipp();
  Ipp(const Ipp&) = delete;
  Ipp& operator=(const Ipp&) = delete;

  // Retries server-error-busy for up to `busy_seconds`.
  Submitted Print(const std::string& printer, const std::vector<uint8_t>& document,
                  const std::string& format, const JobAttributes& attrs = {},
                  int busy_seconds = 120);
  ipp_jstate_t JobState(const std::string& printer, int job_id);
  bool Cancel(const std::string& printer, int job_id);
  // Waits until every job is completed, aborted or cancelled; returns their states.
  std::map<int, ipp_jstate_t> Wait(const std::string& printer, const std::vector<int>& ids,
                                   int timeout_seconds = 300);
  // A request of `op` for the printer, with the operation attributes every request carries.
  ipp_t* NewRequest(ipp_op_t op, const std::string& printer) const;
  // Sends a request from NewRequest on this client's connection (and frees it): the response,
  // or null.
  ipp_t* Do(const std::string& printer, ipp_t* request);

 private:
  std::string Uri(const std::string& printer) const;
  int port_;
  http_t* http_ = nullptr;
};

// A page as a client renders it for a sheet: whole-sheet sRGB, drawn in points so every
// resolution shows the same page.
enum class Drawing { kText, kPicture, kMixed };
struct Sheet {
  std::string media = "iso_a4_210x297mm";
  unsigned xdpi = 180, ydpi = 180;
  Drawing drawing = Drawing::kText;
};
// Header and rows of the sheet.
struct SheetPage {
  cups_page_header2_t header;
  std::vector<uint8_t> rgb;
};
SheetPage RenderSheet(const Sheet& sheet);
// PWG raster stream of the pages (Apple raster with CUPS_RASTER_WRITE_APPLE).
std::vector<uint8_t> PwgStream(const std::vector<SheetPage>& pages,
                               cups_mode_t mode = CUPS_RASTER_WRITE_PWG);

}  // namespace kemb::app_test
