// SPDX-License-Identifier: Apache-2.0
// kemb-printer-app: the KEMB WMZ printers as IPP Everywhere printers, on PAPPL.
// Sub-commands are papplMainloop's: server, add, submit, jobs, status, drivers, devices,
// shutdown, and the rest; see `kemb-printer-app --help`. The application answers some itself:
// `devices` (PAPPL's aborts without avahi), `add` and `modify` of a dnssd:// device without
// avahi (refused: the server would abort when it opens it), `server` (so that it ends as soon
// as asked), `drivers`, `default -d`, part of `modify`, and `submit` (-n as copies, one PAPPL
// `submit` a file, sent again while the printer is busy; sub_commands.h). The other client
// sub-commands find the system service first.
#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "dnssd.h"
#include "driver.h"
#include "server_run.h"
#include "service_socket.h"
#include "sub_commands.h"
#include "system.h"

int main(int argc, char* argv[]) {
  using namespace kemb::app;
  const std::string sub_command = argc > 1 ? argv[1] : "";
  if (argc == 2 && sub_command == "devices") return ListDevices();
  if (argc == 2 && sub_command == "drivers") return ShowDrivers();
  if ((sub_command == "add" || sub_command == "modify") && RefusesDnsSdUri(argc, argv)) return 1;
  int status = 0;
  if (sub_command == "server" && RunServer(argc, argv, status)) return status;
  FindSystemService(sub_command.c_str());
  // Arguments rewritten for PAPPL, when a sub-command of ours changes them.
  std::vector<std::string> rest;
  std::vector<char*> rest_argv;
  auto use_rest = [&] {
    rest_argv.clear();
    for (std::string& arg : rest) rest_argv.push_back(arg.data());
    rest_argv.push_back(nullptr);
    argc = static_cast<int>(rest.size());
    argv = rest_argv.data();
  };
  if (sub_command == "submit") {
    if (!CopiesAsOption(argc, argv, rest)) return 1;
    use_rest();
    if (SubmitEach(argc, argv, status)) return status;
  }
  if (sub_command == "modify") {
    if (ModifyPrinter(argc, argv, status, rest)) return status;
    if (!rest.empty()) use_rest();
  }
  if (sub_command == "default" && SetDefaultPrinter(argc, argv, status)) return status;
  std::vector<pappl_pr_driver_t>& drivers = DriverList();
  return papplMainloop(argc, argv, "1.0.0", "KEMB WMZ dot-matrix printers",
                       static_cast<int>(drivers.size()), drivers.data(), AutoAdd, DriverCallback,
                       nullptr, nullptr, SystemCallback, nullptr, nullptr);
}
