// SPDX-License-Identifier: Apache-2.0
// DnsSdAvailable: connections to the avahi daemon's own socket and to the D-Bus system bus;
// ListDevices: papplDeviceList with the DNS-SD type left out when either is missing, and a
// note saying so.
#include "dnssd.h"

#include <pappl/pappl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service_socket.h"

namespace kemb::app {

bool DnsSdAvailable() {
  // PAPPL's avahi client talks to the daemon over the system bus; without the bus it gets no
  // client at all, which is what aborts. The daemon makes its own socket when it runs.
  std::string bus = "/run/dbus/system_bus_socket";
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  constexpr const char* kUnixPath = "unix:path=";
  if (address && std::strncmp(address, kUnixPath, std::strlen(kUnixPath)) == 0) {
    bus = address + std::strlen(kUnixPath);
    bus = bus.substr(0, bus.find(','));
  }
  return LocalSocketAnswers(bus.c_str()) && LocalSocketAnswers("/run/avahi-daemon/socket");
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
    types = kLocalDevices;
    std::fprintf(stderr,
                 "kemb-printer-app: avahi-daemon is not running: network printers are not "
                 "searched by DNS-SD; give a socket://HOST:9100 URI by hand\n");
  }
  papplDeviceList(types, PrintDevice, nullptr, PrintError, nullptr);
  return 0;
}

bool RefusesDnsSdUri(int argc, char* argv[]) {
  for (int i = 2; i < argc; ++i) {
    const char* uri = nullptr;
    if (std::strcmp(argv[i], "-v") == 0 && i + 1 < argc)
      uri = argv[i + 1];
    else if (std::strncmp(argv[i], "-v", 2) == 0)
      uri = argv[i] + 2;
    if (uri && IsDnsSdUri(uri) && !DnsSdAvailable()) {
      std::fprintf(stderr,
                   "kemb-printer-app: avahi-daemon is not running, so '%s' cannot be resolved: "
                   "give the printer as socket://HOST:9100\n",
                   uri);
      return true;
    }
  }
  return false;
}

}  // namespace kemb::app
