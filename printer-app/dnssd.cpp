// SPDX-License-Identifier: Apache-2.0
// DnsSdAvailable: a connection to the avahi daemon's own socket; ListDevices: papplDeviceList
// with the DNS-SD type left out when the daemon is absent, and a note saying so.
#include "dnssd.h"

#include <pappl/pappl.h>

#include <cstdio>

#include "service_socket.h"

namespace kemb::app {

bool DnsSdAvailable() {
  // The daemon makes this socket when it runs.
  return LocalSocketAnswers("/run/avahi-daemon/socket");
}

namespace {

bool PrintDevice(const char* info, const char* uri, const char* id, void*) {
  std::printf("%s\n", uri);
  if (info && *info) std::printf("    %s\n", info);
  if (id && *id) std::printf("    %s\n", id);
  return false;  // keep listing
}

void PrintError(const char* message, void*) {
  std::fprintf(stderr, "kemb-printer-app: %s\n", message);
}

}  // namespace

int ListDevices() {
  pappl_devtype_t types = PAPPL_DEVTYPE_ALL;
  if (!DnsSdAvailable()) {
    types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
    std::fprintf(stderr,
                 "kemb-printer-app: avahi-daemon is not running: network printers are not "
                 "searched by DNS-SD; give a socket://HOST:9100 URI by hand\n");
  }
  papplDeviceList(types, PrintDevice, nullptr, PrintError, nullptr);
  return 0;
}

}  // namespace kemb::app
