// SPDX-License-Identifier: Apache-2.0
// kemb-printer-app: the KEMB WMZ printers as IPP Everywhere printers, on PAPPL.
// Sub-commands are papplMainloop's: server, add, submit, jobs, status, drivers, devices,
// shutdown, and the rest; see `kemb-printer-app --help`. `devices` is the application's own,
// as PAPPL's aborts without avahi, and so is `server`, so that it ends as soon as asked.
#include <pappl/pappl.h>

#include <cstring>

#include "dnssd.h"
#include "driver.h"
#include "server_run.h"
#include "system.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::strcmp(argv[1], "devices") == 0) return kemb::app::ListDevices();
  int status = 0;
  if (argc >= 2 && std::strcmp(argv[1], "server") == 0 && kemb::app::RunServer(argc, argv, status))
    return status;
  std::vector<pappl_pr_driver_t>& drivers = kemb::app::DriverList();
  return papplMainloop(argc, argv, "1.0.0", "KEMB WMZ dot-matrix printers",
                       static_cast<int>(drivers.size()), drivers.data(), kemb::app::AutoAdd,
                       kemb::app::DriverCallback, nullptr, nullptr, kemb::app::SystemCallback,
                       nullptr, nullptr);
}
