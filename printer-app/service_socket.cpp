// SPDX-License-Identifier: Apache-2.0
// The system service's local socket: see service_socket.h.
#include "service_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kemb::app {

bool LocalSocketAnswers(const char* path) {
  sockaddr_un addr{};
  if (std::strlen(path) >= sizeof(addr.sun_path)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path, sizeof(addr.sun_path) - 1);
  // A stale socket file refuses the connection.
  const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return up;
}

void FindSystemService(const char* sub_command) {
  // The unit's RuntimeDirectory= and its SNAP_COMMON.
  constexpr const char* kFolder = "/run/kemb-printer-app";
  constexpr const char* kSocket = "/run/kemb-printer-app/kemb-printer-app.sock";
  if (!sub_command || std::strcmp(sub_command, "server") == 0) return;
  const char* snap = getenv("SNAP_COMMON");
  if (snap && *snap) return;
  if (LocalSocketAnswers(kSocket)) setenv("SNAP_COMMON", kFolder, 1);
}

}  // namespace kemb::app
