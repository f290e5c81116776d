// SPDX-License-Identifier: Apache-2.0
// Files of one page in the job's spool folder:
//   UniqueFd      a descriptor closed when it goes out of scope
//   TempFile      a path removed when it goes out of scope, unless removed explicitly first
//   CreateNew     creates a private file where nothing may stand (no stale file, no link)
//   OpenForRead   opens a regular file for reading, refusing links, FIFOs and devices
//   ReadFull, WriteFull  whole-buffer I/O over interrupted and partial transfers
#pragma once

#include <sys/types.h>
#include <unistd.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kemb {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Close(), fd_ = other.fd_, other.fd_ = -1;
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Hands the descriptor over to the caller.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (armed_) Remove();
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  bool armed() const { return armed_; }
  // Guard the path from now on: it is ours and goes when we do.
  void Arm() { armed_ = true; }
  // Remove now; returns unlink's result, errno set on failure. An empty folder at the name
  // (a halftoner's mistake) goes too.
  int Remove() {
    armed_ = false;
    const int result = ::unlink(path_.c_str());
    return result != 0 && errno == EISDIR ? ::rmdir(path_.c_str()) : result;
  }

 private:
  std::string path_;
  bool armed_ = false;
};

// Removes whatever of ours stands at `path`, then creates it new with mode 0600.
// Returns -1 with errno set when a file that is not ours (or a link) is in the way.
int CreateNew(const std::string& path);
int OpenForRead(const std::string& path);

// Reads one row of `size` bytes; a row cut short by the end of the file is completed with
// `fill`, so it prints as paper and never as what the previous row left. Returns the bytes
// actually read, 0 at the end of the file, or -1 on an error.
ssize_t ReadRow(int fd, uint8_t* row, size_t size, uint8_t fill);

// Reads until `size` bytes, end of file or an error. Returns the bytes read, or -1 when an
// error came before any byte.
ssize_t ReadFull(int fd, uint8_t* data, size_t size);
// False with errno set when not all bytes were written (ENOSPC for a short write).
bool WriteFull(int fd, const uint8_t* data, size_t size);

}  // namespace kemb
