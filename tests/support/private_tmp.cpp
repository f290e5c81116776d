// SPDX-License-Identifier: Apache-2.0
// The private /tmp's mount and go-between, and the other user's child.
#include "support/private_tmp.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace kemb::testing {
namespace {

bool WriteAll(int fd, const std::string& text) {
  return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool PutFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  return ok;
}

int MountPrivateTmp(size_t size) {
  if (unshare(CLONE_NEWNS) != 0) return errno;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errno;
  // A build inside /tmp would vanish under the new tmpfs: keep its programs reachable there.
  const std::string bin_dir = KEMB_BIN_DIR;
  const int bin = bin_dir.rfind("/tmp/", 0) == 0
                      ? ::open(bin_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)
                      : -1;
  const std::string options = "size=" + std::to_string(size) + ",mode=1777";
  if (mount("tmpfs", "/tmp", "tmpfs", 0, options.c_str()) != 0) return errno;
  if (bin >= 0) {
    for (size_t slash = 5; slash != std::string::npos; slash = bin_dir.find('/', slash + 1)) {
      ::mkdir(bin_dir.substr(0, slash).c_str(), 0755);
    }
    ::mkdir(bin_dir.c_str(), 0755);
    const std::string source = "/proc/self/fd/" + std::to_string(bin);
    if (mount(source.c_str(), bin_dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return errno;
    ::close(bin);
  }
  return 0;
}

}  // namespace

// The go-between of a private /tmp; never returns.
[[noreturn]] void RunInPrivateTmp(const PrivateTmp& tmp, int report, const char* program,
                                  char** argv, char** envp, const RunAs* user) {
  signal(SIGTERM, SIG_IGN);  // the filter's, not ours
  if (int error = MountPrivateTmp(tmp.size); error != 0) {
    WriteAll(report, std::string("setup mount: ") + std::strerror(error) + "\n");
    _exit(111);
  }
  for (const auto& [path, bytes] : tmp.files) {
    if (!PutFile(path, bytes))
      WriteAll(report, "setup " + path + ": " + std::strerror(errno) + "\n");
  }
  if (tmp.ballast > 0 && !PutFile("/tmp/ballast", std::vector<uint8_t>(tmp.ballast, 0))) {
    WriteAll(report, std::string("setup ballast: ") + std::strerror(errno) + "\n");
  }
  const pid_t filter = fork();
  if (filter == 0) {
    signal(SIGTERM, SIG_DFL);
    if (user != nullptr && !DropTo(*user)) _exit(126);
    execve(program, argv, envp);
    _exit(127);
  }
  // Only the filter holds the pipes now, so they end with it.
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  WriteAll(report, "pid " + std::to_string(filter) + "\n");
  int wait_status = 0;
  while (waitpid(filter, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (DIR* dir = opendir("/tmp")) {
    while (dirent* entry = readdir(dir)) {
      const std::string path = std::string("/tmp/") + entry->d_name;
      const std::string bin_dir = KEMB_BIN_DIR;
      bool planted = path == "/tmp/ballast" || path == "/tmp/." || path == "/tmp/.." ||
                     bin_dir.rfind(path + "/", 0) == 0;  // the way to a build inside /tmp
      for (const auto& file : tmp.files) planted = planted || file.first == path;
      if (!planted) WriteAll(report, "left " + path + "\n");
    }
    closedir(dir);
  }
  WriteAll(report, WIFSIGNALED(wait_status)
                       ? "signal " + std::to_string(WTERMSIG(wait_status)) + "\n"
                       : "status " + std::to_string(WEXITSTATUS(wait_status)) + "\n");
  _exit(0);
}

std::string PrivateTmpError() {
  static const std::string error = [] {
    const pid_t child = fork();
    if (child == 0) _exit(MountPrivateTmp(4096));
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    const int code = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : EINVAL;
    return code == 0 ? std::string()
                     : "unshare -m and a tmpfs on /tmp: " + std::string(std::strerror(code));
  }();
  return error;
}

bool DropTo(const RunAs& user) {
  return setgroups(0, nullptr) == 0 && setresgid(user.gid, user.gid, user.gid) == 0 &&
         setresuid(user.uid, user.uid, user.uid) == 0;
}

bool AsUser(uid_t uid, gid_t gid, const std::function<bool()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(2);
    _exit(work() ? 0 : 1);
  }
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

}  // namespace kemb::testing
