// SPDX-License-Identifier: Apache-2.0
// The socket: scheme (raw port 9100 printers) as the application's own, in place of PAPPL's:
// PAPPL's socket device connects when it is opened, and a printer that is down then pauses the
// whole printer; PAPPL's writes are not checked against what the printer's TCP took.
//   InstallSocketScheme  registers the scheme; before the system runs
//   IsSocketDevice       a device of this scheme
//   WaitForPrinter       a job's first step with the device: connects, retrying while the
//                        printer is down (the printer shows offline) until it answers or the
//                        job is cancelled. A connection broken in an earlier job is made anew
//                        here only: a job never carries on after its printer was lost.
//   WaitUntilTaken       the job's last step: every byte sent has reached the printer (TCP
//                        acknowledged), or the connection failed
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <pappl/pappl.h>

namespace kemb::app {

void InstallSocketScheme();
bool IsSocketDevice(pappl_device_t* device);

// `waiting` is told why, once per failed attempt. False: cancelled.
bool WaitForPrinter(pappl_device_t* device, const std::function<bool()>& canceled,
                    const std::function<void(const std::string& why)>& waiting);

// False when the connection failed; `unacknowledged` then says how many of the bytes the
// application sent the printer never acknowledged.
bool WaitUntilTaken(pappl_device_t* device, const std::function<bool()>& canceled,
                    size_t* unacknowledged);

}  // namespace kemb::app
