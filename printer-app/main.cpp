// SPDX-License-Identifier: Apache-2.0
// kemb-printer-app: the KEMB WMZ printers as IPP Everywhere printers, on PAPPL.
// Sub-commands are papplMainloop's: server, add, submit, jobs, status, drivers, devices,
// shutdown, and the rest; see `kemb-printer-app --help`. The application answers some itself:
// `devices` (PAPPL's aborts without avahi) and `server` (so that it ends as soon as asked).
// The other client sub-commands find the system service first.
#include <pappl/pappl.h>

#include <string>

#include "dnssd.h"
#include "driver.h"
#include "server_run.h"
#include "service_socket.h"
#include "system.h"

int main(int argc, char* argv[]) {
  using namespace kemb::app;
  const std::string sub_command = argc > 1 ? argv[1] : "";
  if (argc == 2 && sub_command == "devices") return ListDevices();
  int status = 0;
  if (sub_command == "server" && RunServer(argc, argv, status)) return status;
  FindSystemService(sub_command.c_str());
  std::vector<pappl_pr_driver_t>& drivers = DriverList();
  return papplMainloop(argc, argv, "1.0.0", "KEMB WMZ dot-matrix printers",
                       static_cast<int>(drivers.size()), drivers.data(), AutoAdd, DriverCallback,
                       nullptr, nullptr, SystemCallback, nullptr, nullptr);
}
