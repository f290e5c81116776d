// SPDX-License-Identifier: Apache-2.0
// The web interface's Add Printer page when DNS-SD cannot be asked. PAPPL 1.3.1's own page lists
// every kind of device, DNS-SD included, and aborts the whole server (an avahi assertion) when
// its DNS-SD client could not be made; this page lists local devices only and takes a device
// URI by hand.
//   InstallAddPrinterPage   serves /addprinter when avahi-daemon is not running at start; PAPPL's
//                           page otherwise (its avahi client, once made, fails cleanly when the
//                           daemon stops)
#pragma once

#include <pappl/pappl.h>

namespace kemb::app {

// Call before the system runs: PAPPL keeps the first resource registered at a path and adds
// its own pages when it starts running.
void InstallAddPrinterPage(pappl_system_t* system);

}  // namespace kemb::app
