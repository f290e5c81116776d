// SPDX-License-Identifier: Apache-2.0
// The system service's local socket. The service runs as its own unprivileged user, and PAPPL
// puts a non-root server's socket among that user's temporary files, where no sub-command looks;
// the unit moves it into the service's runtime folder, and the sub-commands look there first.
//   LocalSocketAnswers   whether a process accepts connections on a local socket
//   FindSystemService    the sub-commands' way to the service, when it runs and nothing else
//                        (SNAP_COMMON) says where to look
#pragma once

namespace kemb::app {

bool LocalSocketAnswers(const char* path);

// Sets SNAP_COMMON to the service's runtime folder for a client sub-command when the service
// answers there and the caller may connect.
void FindSystemService(const char* sub_command);

}  // namespace kemb::app
