// SPDX-License-Identifier: Apache-2.0
// JobGate: one printer never runs two jobs at once, whatever PAPPL's job threads do.
//
// PAPPL 1.3.1 may start a job before it marks the printer busy, so a second look at the queue
// starts the same job again; and a finishing job closes the printer's device after releasing
// the printer, while the next job may already be using it. PAPPL's own limit of one active job
// per printer (set on every printer) keeps a new job out until the previous one has left the
// queue, which leaves only the few microseconds of the previous job's end. The gate covers them
// in the driver:
//   Enter      the driver's first step for a job: waits while another job is in the driver or
//              another job's thread is still inside PAPPL's end of that job, recognises a job
//              started a second time, which must not print again, and tells the job how its
//              predecessor ended: PAPPL closes the printer's device in that end, after the next
//              job may already hold it
//   Leave      the driver's last step. A job thread stays marked until it ends (PAPPL's job end
//              is then behind it) or runs another job.
//   MayAdmit   for jobs made inside the application (the test page) and device use outside a
//              job (identify): nothing is in the driver and no job thread is still ending.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kemb::app {

class JobGate : public std::enable_shared_from_this<JobGate> {
 public:
  // kDuplicate: a second start while the job runs; kDuplicateAfterEnd: after it has left.
  enum class Entry { kRun, kDuplicate, kDuplicateAfterEnd, kCanceled };

  // The job that ran before, as the entering job finds it.
  struct Predecessor {
    int job_id = 0;         // 0: none yet
    bool streamed = false;  // ran in a client thread, whose end of the job cannot be seen
    // Since its job thread left PAPPL's end of the job (job threads only).
    std::chrono::steady_clock::duration since_end{};
  };

  struct Counts {
    size_t duplicates = 0;  // jobs started a second time (either kind)
    size_t duplicates_after_end = 0;
    size_t waits = 0;       // jobs that reached the driver before the previous one had ended
  };

  static std::shared_ptr<JobGate> Create() { return std::shared_ptr<JobGate>(new JobGate); }

  bool MayAdmit();
  // Blocks while another job is in the driver, and up to `tail_limit` while another job thread
  // is still ending (PAPPL 1.3.1's finish_job, after releasing the printer, may take its time
  // to close the device; past the limit the job opens a device of its own); `canceled` is polled while waiting. `job_thread`: the caller is a job
  // thread of PAPPL's own, which ends right after the job (not a client thread streaming a
  // job), so it is marked until it ends.
  Entry Enter(int job_id, const std::function<bool()>& canceled, bool job_thread,
              Predecessor* predecessor = nullptr,
              std::chrono::milliseconds tail_limit = std::chrono::seconds(5));
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
  bool running_streamed_ = false;
  std::deque<int> recent_;  // job IDs that have run, newest last
  Predecessor last_;        // the job that left last; since_end unset
  std::chrono::steady_clock::time_point last_unmark_{};
  Counts counts_;
};

}  // namespace kemb::app
