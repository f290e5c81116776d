// SPDX-License-Identifier: Apache-2.0
// Creating, reading and writing the page's temporary files safely.
#include "engine/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace kemb {

int CreateNew(const std::string& path) {
  // The job's folder is its own, so only a stale file of ours can stand here; should anything
  // else, the exclusive create below fails rather than write through it.
  ::unlink(path.c_str());
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int OpenForRead(const std::string& path) {
  // O_NONBLOCK: a FIFO at the name must not hold the job up until someone writes to it.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  if (fcntl(fd.get(), F_SETFL, 0) != 0) return -1;
  return fd.Release();
}

ssize_t ReadFull(int fd, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t ReadRow(int fd, uint8_t* row, size_t size, uint8_t fill) {
  const ssize_t n = ReadFull(fd, row, size);
  if (n > 0 && static_cast<size_t>(n) < size) {
    std::memset(row + n, fill, size - static_cast<size_t>(n));
  }
  return n;
}

bool WriteFull(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace kemb
