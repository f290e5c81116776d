// SPDX-License-Identifier: Apache-2.0
// kemb-printer-app: the KEMB WMZ printers as IPP Everywhere printers, on PAPPL.
// Sub-commands are papplMainloop's: server, add, submit, jobs, status, drivers, devices,
// shutdown, and the rest; see `kemb-printer-app --help`. `devices` is the application's own,
// as PAPPL's aborts without avahi.
#include <pappl/pappl.h>

#include <cstring>

#include "dnssd.h"
#include "driver.h"
#include "system.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "devices") == 0) return kemb::app::ListDevices();
  std::vector<pappl_pr_driver_t>& drivers = kemb::app::DriverList();
  return papplMainloop(argc, argv, "1.0.0", "KEMB WMZ dot-matrix printers",
                       static_cast<int>(drivers.size()), drivers.data(), kemb::app::AutoAdd,
                       kemb::app::DriverCallback, nullptr, nullptr, kemb::app::SystemCallback,
                       nullptr, nullptr);
}
