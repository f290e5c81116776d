// JobGate: admission, entry and exit of jobs, and the per-thread marks that outlive a job
// until its thread has left PAPPL's job end.
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

JobGate::Entry JobGate::Enter(int job_id, const std::function<bool()>& canceled) {
  // Work this thread did for earlier jobs is over: it is here now.
  ThreadMovedOn();

  std::unique_lock lock(mutex_);
  bool waited = false;
  while (running_ != 0) {
    if (running_ == job_id) break;  // the same job, started again while it runs
    waited = true;
    if (canceled && canceled()) return Entry::kCanceled;
    changed_.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (waited) ++counts_.waits;

  // Mark the thread whether or not it prints: either way it goes on into PAPPL's job end.
  ++marked_threads_;
  t_marks.gates.push_back(shared_from_this());

  if (running_ == job_id || std::find(recent_.begin(), recent_.end(), job_id) != recent_.end()) {
    ++counts_.duplicates;
    return Entry::kDuplicate;
  }
  running_ = job_id;
  recent_.push_back(job_id);
  if (recent_.size() > kRecentJobs) recent_.pop_front();
  return Entry::kRun;
}

void JobGate::Leave(int job_id) {
  std::lock_guard lock(mutex_);
  if (running_ == job_id) running_ = 0;
  changed_.notify_all();
}

void JobGate::ThreadMovedOn() { t_marks.Release(); }

void JobGate::Unmark() {
  std::lock_guard lock(mutex_);
  if (marked_threads_ > 0) --marked_threads_;
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
