// SPDX-License-Identifier: Apache-2.0
// DNS-SD without avahi: PAPPL 1.3.1 aborts the whole process (an avahi assertion) when it
// lists devices and no avahi daemon answers, so the application looks first.
//   DnsSdAvailable   whether the avahi daemon and the system bus to it are there to ask
//   kLocalDevices    the device types PAPPL lists without asking avahi
//   IsDnsSdUri       a dnssd:// device, which PAPPL resolves through avahi when a job opens it
//   ListDevices      the `devices` sub-command: PAPPL's listing, less DNS-SD when avahi is absent
//   RefusesDnsSdUri  `add` and `modify` with a dnssd:// device while DNS-SD cannot be asked
#pragma once

#include <pappl/pappl.h>

#include <string_view>

namespace kemb::app {

bool DnsSdAvailable();

constexpr pappl_devtype_t kLocalDevices =
    static_cast<pappl_devtype_t>(PAPPL_DEVTYPE_ALL & ~PAPPL_DEVTYPE_DNS_SD);

inline bool IsDnsSdUri(std::string_view uri) {
  return uri.starts_with("dnssd://");
}

// Prints one device per line (URI, then its description and IEEE 1284 ID when known);
// returns the process's exit status.
int ListDevices();

// True (with a message) when the arguments give `-v dnssd://...` and DNS-SD is not available:
// PAPPL 1.3.1 resolves such a device through avahi when a job opens it, and aborts there.
bool RefusesDnsSdUri(int argc, char* argv[]);

}  // namespace kemb::app
