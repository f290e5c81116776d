// SPDX-License-Identifier: Apache-2.0
// Job cancellation: CUPS sends SIGTERM; the handler only raises Canceled, which the page loop
// and the row loops poll.
#pragma once

#include <csignal>

namespace kemb {

extern volatile sig_atomic_t Canceled;

void CancelJob(int signal_number);
// SIGTERM to CancelJob (restarting interrupted writes, so no printer byte is lost), SIGPIPE
// ignored so a closed printer connection is a write error the job reports.
void InstallSignalHandlers();

}  // namespace kemb
