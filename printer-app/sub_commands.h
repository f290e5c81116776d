// SPDX-License-Identifier: Apache-2.0
// Sub-commands the application answers itself, where PAPPL 1.3.1's own do not do what they say:
//   ShowDrivers        `drivers`: the list, with no system made (PAPPL's makes one, with its
//                      folders, and listens on port 8000 while it lists)
//   ModifyPrinter      `modify`: print-content-optimize-default (PAPPL's sends it under a name
//                      PAPPL's server does not know) in a Set-Printer-Attributes of our own;
//                      printer-location, -organization and -organizational-unit (which PAPPL's
//                      server stores as printer-geo-location) in a vendor operation; PAPPL's
//                      `modify` gets the other options
//   InstallSetPrinterDescription   the server's half of that vendor operation
//   SetDefaultPrinter  `default -d NAME` (PAPPL's fails to read the printer's ID)
//   CopiesAsOption     `submit -n N`: PAPPL's `submit` reads -n into an option its request never
//                      sends, so the job printed one copy; -n becomes `-o copies=N`, the IPP
//                      `copies` every client sends
//   SubmitEach         `submit`: PAPPL's sends the files one after the other and gives up on
//                      the busy answer of a printer that takes one job at a time, so each file
//                      goes through PAPPL's `submit` on its own, sent again while the printer
//                      answers busy
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace kemb::app {

int ShowDrivers();
void InstallVendorOperations(pappl_system_t* system);

// Each returns true when it has answered (`status` is the exit status), false when papplMainloop
// is to run the sub-command: with `argv` as it is, or, for ModifyPrinter, with `rest` when it
// has sent its part and options remain for PAPPL.
bool ModifyPrinter(int argc, char* argv[], int& status, std::vector<std::string>& rest);
bool SetDefaultPrinter(int argc, char* argv[], int& status);
bool SubmitEach(int argc, char* argv[], int& status);
// The `submit` arguments with every -n N (or -nN) as -o copies=N; false, with a message on
// stderr, for a count that is not a whole number from 1 up.
bool CopiesAsOption(int argc, char* argv[], std::vector<std::string>& args);

}  // namespace kemb::app
