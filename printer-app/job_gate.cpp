// SPDX-License-Identifier: Apache-2.0
// JobGate: entry and exit of jobs, and the per-thread marks that outlive a job until its
// thread has left PAPPL's job end.
#include "job_gate.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace kemb::app {

// The gates the calling thread has run a job for; released when the thread moves on or ends.
struct ThreadMarks {
  std::vector<std::shared_ptr<JobGate>> gates;
  ~ThreadMarks() { Release(); }
  void Release() {
    for (auto& gate : gates) gate->Unmark();
    gates.clear();
  }
};

namespace {
thread_local ThreadMarks t_marks;
constexpr size_t kRecentJobs = 64;
}  // namespace

bool JobGate::MayAdmit() {
  std::lock_guard lock(mutex_);
  return running_ == 0 && marked_threads_ == 0;
}

JobGate::Entry JobGate::Enter(int job_id, const std::function<bool()>& canceled, bool job_thread,
                              Predecessor* predecessor, std::chrono::milliseconds tail_limit) {
  // Work this thread did for earlier jobs is over: it is here now.
  ThreadMovedOn();

  std::unique_lock lock(mutex_);
  const auto tail_deadline = std::chrono::steady_clock::now() + tail_limit;
  bool waited = false;
  for (;;) {
    if (running_ == job_id) break;  // the same job, started again while it runs
    const bool other_running = running_ != 0;
    const bool other_ending =
        marked_threads_ > 0 && std::chrono::steady_clock::now() < tail_deadline;
    if (!other_running && !other_ending) break;
    waited = true;
    if (canceled && canceled()) return Entry::kCanceled;
    // PAPPL 1.3.1 gives a driver no event when a waiting job is cancelled: it is looked at.
    changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
  if (waited) ++counts_.waits;

  // A second start must print nothing and never reach PAPPL's end of a job.
  if (running_ == job_id) {
    ++counts_.duplicates;
    return Entry::kDuplicate;
  }
  if (std::find(recent_.begin(), recent_.end(), job_id) != recent_.end()) {
    ++counts_.duplicates;
    ++counts_.duplicates_after_end;
    return Entry::kDuplicateAfterEnd;
  }
  if (predecessor) {
    *predecessor = last_;
    if (!last_.streamed) predecessor->since_end = std::chrono::steady_clock::now() - last_unmark_;
  }
  if (job_thread) {
    ++marked_threads_;
    t_marks.gates.push_back(shared_from_this());
  }
  running_ = job_id;
  running_streamed_ = !job_thread;
  recent_.push_back(job_id);
  if (recent_.size() > kRecentJobs) recent_.pop_front();
  return Entry::kRun;
}

void JobGate::Leave(int job_id) {
  std::lock_guard lock(mutex_);
  if (running_ == job_id) {
    running_ = 0;
    last_ = {job_id, running_streamed_, {}};
  }
  changed_.notify_all();
}

void JobGate::ThreadMovedOn() {
  t_marks.Release();
}

void JobGate::Unmark() {
  std::lock_guard lock(mutex_);
  if (marked_threads_ > 0) --marked_threads_;
  last_unmark_ = std::chrono::steady_clock::now();
  changed_.notify_all();
}

JobGate::Counts JobGate::counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

int JobGate::running() {
  std::lock_guard lock(mutex_);
  return running_;
}

}  // namespace kemb::app
