// SPDX-License-Identifier: Apache-2.0
// JobRun: gate, folder, log, engine and sheet feed of one job.
//   DeviceSink, PapplJobLog  the job's two streams
//   JobRun               StartJob, pages, EndJob, failure reporting; the thread's current run
#include "job_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include <pthread.h>

#include "app_config.h"
#include "offline_watch.h"
#include "recovery.h"
#include "system.h"

namespace kemb::app {

AppConfig& Config() {
  static AppConfig config;
  return config;
}

PrinterContext* ContextOf(pappl_printer_t* printer) {
  if (!printer) return nullptr;
  pappl_pr_driver_data_t data;
  if (!papplPrinterGetDriverData(printer, &data)) return nullptr;
  return static_cast<PrinterContext*>(data.extension);
}

void PapplJobLog::Write(LogLevel level, LogEvent, std::string_view text) {
  pappl_loglevel_t pappl_level = PAPPL_LOGLEVEL_DEBUG;
  switch (level) {
    case LogLevel::kDebug:
      break;
    case LogLevel::kInfo:
      pappl_level = PAPPL_LOGLEVEL_INFO;
      break;
    case LogLevel::kWarning:
      pappl_level = PAPPL_LOGLEVEL_WARN;
      break;
    case LogLevel::kError:
      pappl_level = PAPPL_LOGLEVEL_ERROR;
      break;
  }
  papplLogJob(job_, pappl_level, "%.*s", static_cast<int>(text.size()), text.data());
}

namespace {
size_t WrittenBytes(pappl_device_t* device) {
  pappl_devmetrics_t metrics{};
  papplDeviceGetMetrics(device, &metrics);
  return metrics.write_bytes;
}
}  // namespace

void DeviceSink::SetDevice(pappl_device_t* device) {
  if (device == device_) return;
  device_ = device;
  handed_ = accepted_ = 0;
  metrics_base_ = device ? WrittenBytes(device) : 0;
}

bool DeviceSink::Write(const uint8_t* data, size_t size) {
  if (error_) return false;
  if (!device_) {
    error_ = ENODEV;
    return false;
  }
  if (size > 0 && papplDeviceWrite(device_, data, size) < 0) {
    error_ = EIO;
    return false;
  }
  handed_ += size;
  return true;
}

size_t DeviceSink::sent() const {
  return device_ ? WrittenBytes(device_) - metrics_base_ : accepted_;
}

bool DeviceSink::Flush() {
  if (error_) return false;
  if (!device_) return true;
  papplDeviceFlush(device_);
  accepted_ = WrittenBytes(device_) - metrics_base_;
  if (accepted_ < handed_) error_ = EIO;
  return error_ == 0;
}

namespace {

thread_local std::unique_ptr<JobRun> t_run;

}  // namespace

JobRun::JobRun(pappl_job_t* job, PrinterContext& printer)
    : job_(job),
      model_(printer.model),
      gate_(printer.gate),
      job_id_(papplJobGetID(job)),
      printer_id_(papplPrinterGetID(papplJobGetPrinter(job))) {}

JobRun::~JobRun() {
  engine_.reset();
  CloseOwnDevice();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  if (recorded_ && Config().jobs) Config().jobs->Ended(printer_id_, job_id_, printed_);
  if (entered_ && !duplicate_) gate_->Leave(job_id_);
}

bool JobRun::canceled() const {
  return papplJobIsCanceled(job_);
}

bool JobRun::StartJob() {
  // PAPPL's own job threads print jobs it has spooled; streamed raster runs in the client's
  // thread, which goes on serving the client afterwards.
  const bool job_thread = papplJobGetFilename(job_) != nullptr;
  JobGate::Predecessor predecessor;
  if (!EnterGate(job_thread, &predecessor)) return false;
  NoteStart();
  SettleDevice(job_thread, predecessor);
  return MakeEngine();
}

bool JobRun::EnterGate(bool job_thread, JobGate::Predecessor* predecessor) {
  const JobGate::Entry entry =
      gate_->Enter(job_id_, [this] { return canceled(); }, job_thread, predecessor);
  switch (entry) {
    case JobGate::Entry::kCanceled:
      return false;
    case JobGate::Entry::kDuplicate:
    case JobGate::Entry::kDuplicateAfterEnd:
      entered_ = duplicate_ = true;
      EndDuplicate(job_thread, entry == JobGate::Entry::kDuplicateAfterEnd);
    case JobGate::Entry::kRun:
      break;
  }
  entered_ = true;
  return true;
}

void JobRun::NoteStart() {
  // From here a stop of the server is a stop during this job, which the state file must list.
  if (JobRecord* record = Config().jobs) {
    SaveSystemState(papplPrinterGetSystem(papplJobGetPrinter(job_)));
    stops_ = record->Started(printer_id_, job_id_);
    recorded_ = true;
  }
  // The printer answered: a job that waited for it is printing now (in PAPPL's own words for
  // a job without a message of its own).
  if (IsWaiting(papplJobGetMessage(job_))) papplJobSetMessage(job_, "Job printing.");
}

void JobRun::SettleDevice(bool job_thread, const JobGate::Predecessor& predecessor) {
  const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job_));
  file_device_ = uri && std::strncmp(uri, "file:", 5) == 0;
  // A folder as the device gives one file per opening: there PAPPL's own stays the one used.
  if (file_device_) {
    std::string path = std::strncmp(uri, "file://", 7) == 0 ? uri + 7 : uri + 5;
    path = path.substr(0, path.find('?'));
    std::error_code ignored;
    own_file_ = !std::filesystem::is_directory(path, ignored);
  }
  unsettled_ = PredecessorMayStillClose(predecessor);
  if (unsettled_ && !file_device_ && !job_thread && predecessor.streamed) {
    // Two connections to a real printer could deadlock it, so a streamed job keeps PAPPL's
    // device, which it is handed afresh at every step: it gives the previous job's end time
    // to close that device first, and then finds none and opens its own.
    // PAPPL 1.3.1 closes the device after it has released the printer (finish_job), and a
    // client thread has no event for that: a quarter of a second stands for it.
    for (int i = 0; i < 25 && !canceled(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool JobRun::MakeEngine() {
  // A folder of the job's own for the page spool and the halftoner's image.
  std::string base = Config().spool_dir.empty() ? "/tmp" : Config().spool_dir;
  std::string templ = base + "/kemb-job" + std::to_string(job_id_) + "-XXXXXX";
  if (!mkdtemp(templ.data())) {
    Fail("Unable to create the job's folder in " + base + ": " + std::strerror(errno));
    return false;
  }
  folder_ = templ;

  JobSettings settings;
  settings.id = std::to_string(job_id_);
  settings.spool_dir = folder_;
  settings.out = &sink_;
  settings.log = &log_;
  pappl_job_t* job = job_;
  settings.canceled = [job] { return papplJobIsCanceled(job); };
  settings.halftone = InProcessHalftoner(settings.canceled);
  engine_ = std::make_unique<PageEngine>(settings);
  feed_.emplace(*engine_);
  return true;
}

void JobRun::EndDuplicate(bool job_thread, bool after_end) {
  if (after_end)
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR,
                "Job %d was started a second time after it had ended; this start prints "
                "nothing. PAPPL has marked the job processing again and holds it as the "
                "printer's current job, so no later job starts until the server restarts.",
                job_id_);
  else
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR,
                "Job %d was started a second time while it runs; this start prints nothing "
                "and its thread ends.",
                job_id_);
  // Returning would let PAPPL end the job a second time and list it twice among the completed
  // jobs, which later frees it twice. PAPPL's own job thread holds none of its locks while a
  // filter or the driver runs, and the frames above are unwound (destructors run) by the
  // thread's exit.
  if (job_thread) pthread_exit(nullptr);
  // A client's connection thread serves the client afterwards and may not end: it waits for
  // the process to end.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

bool JobRun::PredecessorMayStillClose(const JobGate::Predecessor& predecessor) const {
  if (predecessor.job_id == 0) return false;
  // A job thread has left PAPPL's end of its job; the margin covers this job's own start,
  // which may have taken the device a moment before that end closed it (PAPPL 1.3.1's
  // finish_job closes the device after the next job may have opened it).
  if (!predecessor.streamed) return predecessor.since_end < std::chrono::seconds(1);
  // A client thread lives on: PAPPL's end of the job is behind it some time after the job
  // was marked completed (PAPPL 1.3.1 marks it before it closes the device; two seconds of
  // the job's whole-second completion time stand for that).
  pappl_job_t* previous = papplPrinterFindJob(papplJobGetPrinter(job_), predecessor.job_id);
  if (!previous) return false;
  const time_t completed = papplJobGetTimeCompleted(previous);
  return completed == 0 || time(nullptr) - completed <= 2;
}

namespace {
void LogDeviceError(const char* message, void* job) {
  papplLogJob(static_cast<pappl_job_t*>(job), PAPPL_LOGLEVEL_ERROR, "%s", message);
}
}  // namespace

pappl_device_t* JobRun::DeviceFor(pappl_device_t* handed) {
  if (own_device_) return own_device_;
  // A file costs nothing to open twice, and a job's own copy is closed before the next job
  // may open one: PAPPL closes its copy after the next job may hold it, which then never
  // matters. PAPPL's copy stays unused.
  if (handed && !own_file_ && !(unsettled_ && file_device_)) return handed;
  if (failed_) return nullptr;
  const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job_));
  own_device_ = uri ? papplDeviceOpen(uri, papplJobGetName(job_), LogDeviceError, job_) : nullptr;
  if (!own_device_) {
    Fail(std::string("Unable to open the printer's device ") + (uri ? uri : "(none)"));
    return nullptr;
  }
  if (own_file_)
    papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "The job writes to its own copy of the file.");
  else
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                handed ? "The previous job's end may close the device PAPPL handed over; "
                         "the job opened its own."
                       : "PAPPL handed over no device; the job opened its own.");
  return own_device_;
}

void JobRun::CloseOwnDevice() {
  if (!own_device_) return;
  sink_.SetDevice(nullptr);
  papplDeviceClose(own_device_);
  own_device_ = nullptr;
}

Status JobRun::Check(Status s) {
  if (!s.ok()) Fail(s.error);
  return s;
}

void JobRun::Fail(const std::string& message) {
  if (!failed_) papplJobSetMessage(job_, "%s", message.c_str());
  failed_ = true;
  papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
}

Status JobRun::StartPage(pappl_device_t* device, const SheetFormat& sheet, Content content) {
  if (failed_) return Status::Fail("The job has failed");
  sink_.SetDevice(DeviceFor(device));
  if (!started_) {
    // Wake the printer only for a job that has a page to print.
    if (Status s = Check(engine_->StartJob()); !s.ok()) return s;
    started_ = true;
  }
  ++pages_;
  page_open_ = true;
  Status s = feed_->StartPage(*model_, sheet, content);
  if (!s.ok()) page_open_ = false;
  return Check(std::move(s));
}

Status JobRun::AddRow(unsigned y, std::span<const uint8_t> line) {
  if (!page_open_) return Status::Ok();
  Status s = feed_->AddRow(y, line);
  if (!s.ok()) page_open_ = false;
  return Check(std::move(s));
}

Status JobRun::EndPage(pappl_device_t* device) {
  if (!page_open_) return failed_ ? Status::Fail("The job has failed") : Status::Ok();
  sink_.SetDevice(DeviceFor(device));
  page_open_ = false;
  Status s = Check(feed_->EndPage());
  if (!sink_.Flush()) return LostOutput();
  return s;
}

Status JobRun::EndJob(pappl_device_t* device) {
  // A job that never started a page sends nothing and needs no device.
  sink_.SetDevice(started_ ? DeviceFor(device) : nullptr);
  if (page_open_) {
    page_open_ = false;
    (void)Check(feed_->EndPage());
  }
  if (started_) {
    // The engine's rule, as the filter's: a job that failed, here or in a page, gets no reset.
    Status ended = engine_->EndJob(failed_ ? Status::Fail("The job has failed") : Status::Ok());
    if (!failed_) (void)Check(std::move(ended));
  }
  if (!sink_.Flush() || sink_.Error()) (void)LostOutput();
  CloseOwnDevice();
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  if (!failed_ && (papplPrinterGetReasons(printer) & PAPPL_PREASON_OFFLINE))
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  printed_ = !failed_ && !canceled();
  if (printed_) {
    // What the job said while it waited or after a restart is replaced by how it ended.
    const char* said = papplJobGetMessage(job_);
    if (stops_ > 0)
      papplJobSetMessage(job_, "%s", kPrintedAfterRestartMessage);
    else if (said && *said)
      papplJobSetMessage(job_, "Job completed.");
  }
  return failed_ ? Status::Fail("The job has failed") : Status::Ok();
}

Status JobRun::LostOutput() {
  // The rest of the job would print without its beginning: the job is aborted, never completed.
  if (lost_output_) return Status::Fail("The job has failed");
  lost_output_ = true;
  // What the device's writes accepted: the printer may have received less of it, never more.
  char message[160];
  std::snprintf(message, sizeof(message),
                "Lost the printer: sent %zu of %zu bytes before the connection failed; the job "
                "is aborted.",
                sink_.sent(), sink_.handed());
  failed_ = false;  // this message wins over whatever the failed write made of it
  Fail(message);
  papplJobSetReasons(job_, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
  papplPrinterSetReasons(papplJobGetPrinter(job_), PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  return Status::Fail(message);
}

JobRun* JobRun::Current() {
  return t_run.get();
}

JobRun* JobRun::StartCurrent(pappl_job_t* job, PrinterContext& printer) {
  t_run = std::make_unique<JobRun>(job, printer);
  return t_run.get();
}

void JobRun::EndCurrent() {
  t_run.reset();
}

CurrentRun::CurrentRun(pappl_job_t* job) {
  PrinterContext* context = ContextOf(papplJobGetPrinter(job));
  if (!context) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer has no KEMB driver.");
    return;
  }
  run_ = JobRun::StartCurrent(job, *context);
  if (!run_->StartJob()) return;
  document_ = papplJobGetFilename(job);
  // A job cancelled before it started has lost its document.
  if (!document_ && !run_->canceled()) run_->Fail("The job has no document");
}

CurrentRun::~CurrentRun() {
  if (run_) JobRun::EndCurrent();
}

}  // namespace kemb::app
