// SPDX-License-Identifier: Apache-2.0
// The `server` sub-command, run by the application rather than by papplMainloop, so that a
// shutdown (the `shutdown` sub-command, SIGTERM, SIGINT) takes effect at once: PAPPL 1.3.1's
// main loop sleeps up to 30 s in poll() between looks at its shutdown flag (only a new
// connection or a signal to its thread wakes it), then waits up to 60 s for every job, pending
// ones included.
//   ServerSocketPath   where the sub-commands look for the server, as PAPPL puts it
//   RunServer          system, listeners, run, delete; with a waker for the shutdown
#pragma once

#include <string>

namespace kemb::app {

// Named for the program (argv[0]'s last part): in SNAP_COMMON's folder whoever runs it, as the
// man page promises (PAPPL 1.3.1 honours it for root only), else in /run for root and in the
// temporary folder with the user ID for others, where PAPPL's sub-commands look.
std::string ServerSocketPath(const char* program);

// Runs `server` when every argument after it is an -o option; returns false without doing
// anything otherwise (papplMainloop then runs it). `status` is the exit status.
bool RunServer(int argc, char* argv[], int& status);

}  // namespace kemb::app
