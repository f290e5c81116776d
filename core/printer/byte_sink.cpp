// SPDX-License-Identifier: Apache-2.0
// Buffered descriptor and memory sinks for printer bytes.
#include "printer/byte_sink.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kemb {

bool FdSink::WriteAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool FdSink::Write(const uint8_t* data, size_t size) {
  if (error_) return false;
  if (size > kCapacity - used_) {
    if (!Flush()) return false;
    // Large blocks bypass the buffer rather than being copied through it.
    if (size >= kCapacity) return WriteAll(data, size);
  }
  std::memcpy(buffer_ + used_, data, size);
  used_ += size;
  return true;
}

bool FdSink::Flush() {
  if (error_) return false;
  size_t pending = used_;
  used_ = 0;
  return WriteAll(buffer_, pending);
}

bool MemorySink::Write(const uint8_t* data, size_t size) {
  if (error_) return false;
  size_t room = limit_ > bytes.size() ? limit_ - bytes.size() : 0;
  if (size > room) {
    bytes.insert(bytes.end(), data, data + room);
    error_ = limit_error_;
    return false;
  }
  bytes.insert(bytes.end(), data, data + size);
  return true;
}

}  // namespace kemb
