// SPDX-License-Identifier: Apache-2.0
// UniqueFd: owns one POSIX file descriptor and closes it when dropped.
//   get / valid   the descriptor, and whether there is one
//   Close         closes now and reports the result (a late write error shows up here)
//   Release       gives the descriptor up without closing it
#pragma once

#include <unistd.h>

#include <utility>

namespace kemb::halftone {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.Release();
    }
    return *this;
  }
  ~UniqueFd() { Close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Returns 0, or -1 with errno set; the descriptor is gone either way.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

}  // namespace kemb::halftone
