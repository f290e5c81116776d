// SPDX-License-Identifier: Apache-2.0
// A /tmp of the job's own, and another user's hands, for tests that run as root:
//   PrivateTmp       a small tmpfs on /tmp in a private mount namespace, files put there first
//                    and ballast taking part of it
//   PrivateTmpError  why this machine gives no private /tmp (empty when it does)
//   RunInPrivateTmp  the go-between in a forked child: mounts it, runs the program, then
//                    reports on `report` "pid N", "left PATH" lines and "status N" or
//                    "signal N" ("setup ..." for what went wrong); never returns
//   AsUser           runs a function in a child process under another user's IDs
//   RunAs, DropTo    the unprivileged user a filter runs as under CUPS; DropTo switches the
//                    calling process to it for good (all IDs, no supplementary groups)
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kemb::testing {

struct PrivateTmp {
  size_t size = 64 * 1024;
  size_t ballast = 0;  // bytes of a file filling part of it before the job
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;  // path in /tmp, bytes
};

struct RunAs {
  uid_t uid = 0;
  gid_t gid = 0;
};
bool DropTo(const RunAs& user);

std::string PrivateTmpError();

// `user`: run the program as that user once the tmpfs is mounted; nullptr: as we are.
[[noreturn]] void RunInPrivateTmp(const PrivateTmp& tmp, int report, const char* program,
                                  char** argv, char** envp, const RunAs* user = nullptr);

// True when `work` returned true in a child running as uid/gid.
bool AsUser(uid_t uid, gid_t gid, const std::function<bool()>& work);

}  // namespace kemb::testing
