// JobGate: one printer never runs two jobs at once, whatever PAPPL's job threads do.
//
// PAPPL 1.3.1 may start a job before it marks the printer busy (so a second check starts the
// same job again) and closes a printer's device after releasing the printer, while the next
// job may already be using it. The application defends in two places:
//   MayAdmit   asked before PAPPL creates a job (the IPP operation callback, the test page):
//              no job is in the driver and every thread that ran a job is past PAPPL's end of
//              that job, so no late check can start a job twice and no late close can hit the
//              next job's device. PAPPL's own limit of one active job makes creation atomic.
//   Enter      the driver's first step for a job: waits while another job is in the driver,
//              and recognises a job started a second time, which must not print again.
//   Leave      the driver's last step. The thread stays marked until it is seen doing
//              something else (ThreadMovedOn: the next IPP request on a client thread, the next
//              job on it) or ends, which is when PAPPL's job end is behind it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kemb::app {

class JobGate : public std::enable_shared_from_this<JobGate> {
 public:
  enum class Entry { kRun, kDuplicate, kCanceled };

  struct Counts {
    size_t duplicates = 0;  // jobs started a second time
    size_t waits = 0;       // jobs that reached the driver while another was in it
  };

  static std::shared_ptr<JobGate> Create() { return std::shared_ptr<JobGate>(new JobGate); }

  bool MayAdmit();
  // Blocks while another job is in the driver; `canceled` is polled while waiting.
  Entry Enter(int job_id, const std::function<bool()>& canceled);
  void Leave(int job_id);
  // The calling thread has finished whatever jobs it ran before.
  static void ThreadMovedOn();

  Counts counts();
  int running();  // job in the driver, 0 when none

 private:
  JobGate() = default;
  friend struct ThreadMarks;
  void Unmark();

  std::mutex mutex_;
  std::condition_variable changed_;
  int running_ = 0;
  size_t marked_threads_ = 0;
  std::deque<int> recent_;  // job IDs that have run, newest last
  Counts counts_;
};

}  // namespace kemb::app
