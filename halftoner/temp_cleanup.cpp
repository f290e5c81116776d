// SPDX-License-Identifier: Apache-2.0
// Temp cleanup: one lock-free pointer read by the signal handler, which only calls
// unlink and raise (both async-signal-safe).
#include "temp_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>

namespace kemb::halftone {
namespace {

std::atomic<const char*> published{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void RemoveTempAndDie(int signal_number) {
  if (const char* path = published.load()) ::unlink(path);
  // SA_RESETHAND restored the default action, so this ends the process with the signal.
  ::raise(signal_number);
}

}  // namespace

void InstallTempCleanup() {
  struct sigaction action = {};
  action.sa_handler = RemoveTempAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

void PublishTemp(const char* path) {
  published.store(path);
}

}  // namespace kemb::halftone
