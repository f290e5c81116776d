// SPDX-License-Identifier: Apache-2.0
// The socket: scheme: a link per device (host, port, connection), the scheme's callbacks, and
// the job's waits for the printer at its start and end.
#include "socket_device.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace kemb::app {
namespace {

enum class LinkState { kIdle, kConnected, kBroken };

struct Link {
  std::string host, port;
  int fd = -1;
  LinkState state = LinkState::kIdle;
};

// The links alive, so that a device of another scheme is never taken for one.
std::mutex g_links_mutex;
std::set<const void*> g_links;

Link* LinkOf(pappl_device_t* device) {
  void* data = papplDeviceGetData(device);
  std::lock_guard lock(g_links_mutex);
  return g_links.count(data) ? static_cast<Link*>(data) : nullptr;
}

void Drop(Link& link, LinkState state) {
  if (link.fd >= 0) close(link.fd);
  link.fd = -1;
  link.state = state;
}

// One attempt; empty on success, else why not.
std::string Connect(Link& link) {
  Drop(link, LinkState::kIdle);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int err = getaddrinfo(link.host.c_str(), link.port.c_str(), &hints, &found); err != 0)
    return std::string("unable to look up ") + link.host + ": " + gai_strerror(err);
  std::string why = "no address";
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    int err = 0;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        // A printer switched off does not answer at all: give up on this attempt after a while.
        pollfd p{fd, POLLOUT, 0};
        socklen_t len = sizeof(err);
        if (poll(&p, 1, 10000) <= 0)
          err = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
          err = errno;
      }
    }
    if (err != 0) {
      why = std::strerror(err);
      close(fd);
      continue;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    link.fd = fd;
    link.state = LinkState::kConnected;
    why.clear();
    break;
  }
  freeaddrinfo(found);
  return why;
}

// The printer closed or reset the connection (it may have been restarted since the last job).
bool PeerGone(const Link& link) {
  pollfd p{link.fd, POLLIN | POLLRDHUP, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLERR | POLLHUP | POLLRDHUP)) return true;
  char c;
  return recv(link.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool Open(pappl_device_t* device, const char* uri, const char*) {
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), userpass,
                      sizeof(userpass), host, sizeof(host), &port, resource,
                      sizeof(resource)) < HTTP_URI_STATUS_OK ||
      !host[0]) {
    papplDeviceError(device, "Bad printer address '%s'.", uri);
    return false;
  }
  // The connection is made when the first job needs it, so that a printer that is down makes
  // its jobs wait instead of pausing the printer.
  auto* link = new Link{host, std::to_string(port > 0 ? port : 9100)};
  {
    std::lock_guard lock(g_links_mutex);
    g_links.insert(link);
  }
  papplDeviceSetData(device, link);
  return true;
}

void Close(pappl_device_t* device) {
  Link* link = LinkOf(device);
  if (!link) return;
  {
    std::lock_guard lock(g_links_mutex);
    g_links.erase(link);
  }
  Drop(*link, LinkState::kIdle);
  delete link;
}

ssize_t Read(pappl_device_t* device, void* buffer, size_t size) {
  Link* link = LinkOf(device);
  if (!link || link->state != LinkState::kConnected) return -1;
  pollfd p{link->fd, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) return 0;
  return recv(link->fd, buffer, size, 0);
}

ssize_t Write(pappl_device_t* device, const void* buffer, size_t size) {
  Link* link = LinkOf(device);
  if (!link) return -1;
  // Outside a job (identify) the first write connects; a broken link stays broken until the
  // next job's start, so no job goes on printing without its beginning.
  if (link->state == LinkState::kIdle) {
    if (std::string why = Connect(*link); !why.empty()) {
      papplDeviceError(device, "Unable to connect to %s:%s: %s", link->host.c_str(),
                       link->port.c_str(), why.c_str());
      return -1;
    }
  }
  if (link->state != LinkState::kConnected) return -1;
  const auto* bytes = static_cast<const char*>(buffer);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = send(link->fd, bytes + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      papplDeviceError(device, "Lost the connection to %s:%s: %s", link->host.c_str(),
                       link->port.c_str(), n < 0 ? std::strerror(errno) : "closed");
      Drop(*link, LinkState::kBroken);
      return -1;
    }
    sent += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

// Waits up to `total`, in short steps so a cancel is seen; false when cancelled.
bool Pause(std::chrono::milliseconds total, const std::function<bool()>& canceled) {
  for (auto left = total; left.count() > 0; left -= std::chrono::milliseconds(100)) {
    if (canceled && canceled()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return !(canceled && canceled());
}

}  // namespace

void InstallSocketScheme() {
  papplDeviceAddScheme("socket", PAPPL_DEVTYPE_SOCKET, nullptr, Open, Close, Read, Write,
                       nullptr, nullptr);
}

bool IsSocketDevice(pappl_device_t* device) {
  return device && LinkOf(device) != nullptr;
}

bool WaitForPrinter(pappl_device_t* device, const std::function<bool()>& canceled,
                    const std::function<void(const std::string&)>& waiting) {
  Link* link = LinkOf(device);
  if (!link) return true;
  if (link->state == LinkState::kConnected && !PeerGone(*link)) return true;
  // Retrying is not what keeps jobs apart; it only sets how soon a printer that is back is seen.
  auto retry = std::chrono::milliseconds(500);
  for (;;) {
    if (canceled && canceled()) return false;
    const std::string why = Connect(*link);
    if (why.empty()) return true;
    if (waiting) waiting(link->host + ":" + link->port + ": " + why);
    if (!Pause(retry, canceled)) return false;
    retry = std::min(retry * 2, std::chrono::milliseconds(5000));
  }
}

bool WaitUntilTaken(pappl_device_t* device, const std::function<bool()>& canceled,
                    size_t* unacknowledged) {
  if (unacknowledged) *unacknowledged = 0;
  Link* link = LinkOf(device);
  if (!link) return true;
  if (link->state != LinkState::kConnected) return false;
  // The printer acknowledges as it reads; a busy printer may hold off for as long as it prints.
  for (;;) {
    int queued = 0;
    if (ioctl(link->fd, SIOCOUTQ, &queued) != 0) return true;  // cannot tell: trust the writes
    if (unacknowledged) *unacknowledged = static_cast<size_t>(queued);
    if (queued == 0) return true;
    int err = 0;
    socklen_t len = sizeof(err);
    pollfd p{link->fd, POLLRDHUP, 0};
    if ((getsockopt(link->fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) ||
        (poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP)))) {
      papplDeviceError(device, "Lost the connection to %s:%s: %s", link->host.c_str(),
                       link->port.c_str(), std::strerror(err ? err : ECONNRESET));
      Drop(*link, LinkState::kBroken);
      return false;
    }
    if (canceled && canceled()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace kemb::app
