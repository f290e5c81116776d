// SPDX-License-Identifier: Apache-2.0
// The process-wide cancel flag and the signal set-up.
#include "job/cancel.h"

namespace kemb {

volatile sig_atomic_t Canceled = 0;

void CancelJob(int) { Canceled = 1; }

void InstallSignalHandlers() {
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = CancelJob;
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);

  struct sigaction ignore = {};
  sigemptyset(&ignore.sa_mask);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace kemb
