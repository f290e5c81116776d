// SPDX-License-Identifier: Apache-2.0
// JobRun: one job on one printer, from the driver's first step to its last, on one thread.
//   PrinterContext  what the application keeps per printer: its model and its job gate
//   PapplJobLog     the engine's events in PAPPL's log for the job, at their own levels
//   DeviceSink      printer bytes through PAPPL's device for the job
//   JobRun          gate entry, the record for recovery, the device, a private spool folder,
//                   the page engine with the in-process halftoner and PAPPL's cancel test;
//                   pages as whole sheets; the job's end and its message.
//                   The printer is woken only when the first page starts, so a job that
//                   fails before any page sends nothing.
//                   The device: PAPPL closes the printer's device at the very end of a job,
//                   after it has let the next job start, so the next job may be handed a
//                   device that is being closed, or none. Such a job opens a device of its own
//                   on the printer's URI and closes it at its end.
//   CurrentRun      a job PAPPL hands over whole, to a filter or as a file: the thread's run
//                   for the scope of one call, begun, and ended on every way out
// Current(): the run of the calling thread. PAPPL calls a job's raster callbacks on one
// thread, and a job started twice runs on two, so the run belongs to the thread, not the job.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <pappl/pappl.h>

#include "engine/page_engine.h"
#include "job_gate.h"
#include "models.h"
#include "printer/byte_sink.h"
#include "sheet_feed.h"

namespace kemb::app {

struct PrinterContext {
  const Model* model = nullptr;
  std::shared_ptr<JobGate> gate = JobGate::Create();
};

// The context of a printer, held in its driver data's extension from DriverCallback to the
// printer's deletion; null for a printer without one of our drivers.
PrinterContext* ContextOf(pappl_printer_t* printer);

// Engine events into PAPPL's log for the job, at the level the engine gives them.
class PapplJobLog final : public JobLog {
 public:
  explicit PapplJobLog(pappl_job_t* job) : job_(job) {}
  void Write(LogLevel level, LogEvent event, std::string_view text) override;

 private:
  pappl_job_t* job_;
};

// PAPPL's device buffers writes and drops a failed flush in silence; its write metrics count
// the bytes of the device writes that went through whole, so Flush compares them with what
// was handed over. Written is not printed: a network printer may lose what its connection
// accepted.
class DeviceSink final : public ByteSink {
 public:
  void SetDevice(pappl_device_t* device);
  bool Write(const uint8_t* data, size_t size) override;
  bool Flush() override;
  int Error() const override { return error_; }
  size_t handed() const { return handed_; }
  // Of those, the bytes the device's writes accepted, now.
  size_t sent() const;

 private:
  pappl_device_t* device_ = nullptr;
  int error_ = 0;
  size_t handed_ = 0;      // bytes given to device_
  size_t accepted_ = 0;       // of those, bytes the device's writes accepted, at the last Flush
  size_t metrics_base_ = 0;  // device_'s written bytes before this sink's first
};

class JobRun {
 public:
  JobRun(pappl_job_t* job, PrinterContext& printer);
  ~JobRun();
  JobRun(const JobRun&) = delete;
  JobRun& operator=(const JobRun&) = delete;

  // Waits for the printer. False: cancelled while waiting, or no spool folder. A second start
  // of a job that runs or ran does not return: it ends its thread.
  bool StartJob();

  Status StartPage(pappl_device_t* device, const SheetFormat& sheet, Content content);
  Status AddRow(unsigned y, std::span<const uint8_t> line);
  Status EndPage(pappl_device_t* device);
  // Resets the printer after the last page unless a page failed; flushes the device.
  Status EndJob(pappl_device_t* device);

  // The printer did not take every byte (connection reset, device gone).
  Status LostOutput();
  bool failed() const { return failed_; }
  bool canceled() const;
  int pages() const { return pages_; }
  // The job's private folder, once StartJob has made it.
  const std::string& folder() const { return folder_; }
  pappl_job_t* job() const { return job_; }
  const Model& model() const { return *model_; }
  // Records a failure: the job's message and one error line in its log.
  void Fail(const std::string& message);
  // The job opened a device of its own instead of the one PAPPL handed over.
  bool own_device() const { return own_device_ != nullptr; }

  static JobRun* Current();
  static JobRun* StartCurrent(pappl_job_t* job, PrinterContext& printer);
  static void EndCurrent();

 private:
  // StartJob's steps. EnterGate: false when cancelled while waiting; a second start of the job
  // never returns. NoteStart: the record for recovery, the waiting message replaced.
  // SettleDevice: which device the job writes to. MakeEngine: false without a folder.
  bool EnterGate(bool job_thread, JobGate::Predecessor* predecessor);
  void NoteStart();
  void SettleDevice(bool job_thread, const JobGate::Predecessor& predecessor);
  bool MakeEngine();
  Status Check(Status s);
  // A job PAPPL started again: logs it and never returns.
  [[noreturn]] void EndDuplicate(bool job_thread, bool after_end);
  bool PredecessorMayStillClose(const JobGate::Predecessor& predecessor) const;
  // The device to write to, given the one PAPPL hands this step; null after a failure.
  pappl_device_t* DeviceFor(pappl_device_t* handed);
  void CloseOwnDevice();

  pappl_job_t* job_;
  const Model* model_;
  std::shared_ptr<JobGate> gate_;  // shared: a thread's run may outlive a deleted printer
  int job_id_;
  int printer_id_;
  int stops_ = 0;           // times the server stopped during this job before
  bool recorded_ = false;   // in the record of jobs in the driver
  bool printed_ = false;    // ended complete
  bool entered_ = false, duplicate_ = false, failed_ = false, started_ = false;
  bool lost_output_ = false;
  bool page_open_ = false;
  bool file_device_ = false;  // a file: URI, which PAPPL closes after every job
  bool own_file_ = false;     // a file: URI naming a file, which the job opens itself
  bool unsettled_ = false;    // the previous job's end may still close the device
  pappl_device_t* own_device_ = nullptr;
  int pages_ = 0;
  std::string folder_;
  PapplJobLog log_{job_};
  DeviceSink sink_;
  std::unique_ptr<PageEngine> engine_;
  std::optional<SheetFeed> feed_;
};

class CurrentRun {
 public:
  explicit CurrentRun(pappl_job_t* job);
  ~CurrentRun();
  CurrentRun(const CurrentRun&) = delete;
  CurrentRun& operator=(const CurrentRun&) = delete;

  // The run, started, and its spooled document; null when the job ends before it starts: not
  // a KEMB printer, cancelled while waiting for the printer, no folder or no document (the
  // job's message says which). A second start of a job never returns from the constructor.
  JobRun* get() const { return document_ ? run_ : nullptr; }
  const char* document() const { return document_; }

 private:
  JobRun* run_ = nullptr;
  const char* document_ = nullptr;
};

}  // namespace kemb::app
