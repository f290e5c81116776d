// SPDX-License-Identifier: Apache-2.0
// DnsSdAvailable: a connection to the avahi daemon's own socket; ListDevices: papplDeviceList
// with the DNS-SD type left out when the daemon is absent, and a note saying so.
#include "dnssd.h"

#include <pappl/pappl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace kemb::app {

bool DnsSdAvailable() {
  // The daemon makes this socket when it runs; a stale one refuses the connection.
  constexpr const char* kSocket = "/run/avahi-daemon/socket";
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, kSocket, sizeof(addr.sun_path) - 1);
  const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return up;
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
