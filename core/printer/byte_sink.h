// SPDX-License-Identifier: Apache-2.0
// Where printer bytes go.
//   ByteSink    the interface the printer code writes through
//   FdSink      a buffered file descriptor (the printer, via standard output)
//   MemorySink  a growing byte vector (tests, fuzzers)
// A sink remembers its first failure; later writes are dropped, so a page cannot be half
// repaired after bytes were lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace kemb {

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Queue bytes for the printer; false once the sink has failed.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Push queued bytes out; false once the sink has failed.
  virtual bool Flush() = 0;
  // errno of the first failure, 0 while all is well.
  virtual int Error() const = 0;

  bool Write(std::span<const uint8_t> bytes) { return Write(bytes.data(), bytes.size()); }
  bool Write(std::initializer_list<uint8_t> bytes) { return Write(bytes.begin(), bytes.size()); }
  bool Put(uint8_t byte) { return Write(&byte, 1); }
};

class FdSink final : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  ~FdSink() override { Flush(); }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  bool Write(const uint8_t* data, size_t size) override;
  bool Flush() override;
  int Error() const override { return error_; }

 private:
  bool WriteAll(const uint8_t* data, size_t size);

  static constexpr size_t kCapacity = 64 * 1024;
  int fd_;
  int error_ = 0;
  size_t used_ = 0;
  uint8_t buffer_[kCapacity];
};

class MemorySink final : public ByteSink {
 public:
  bool Write(const uint8_t* data, size_t size) override;
  bool Flush() override { return error_ == 0; }
  int Error() const override { return error_; }

  // Make every write from byte `limit` on fail with `error` (a full disk, a closed pipe).
  void FailAfter(size_t limit, int error) { limit_ = limit, limit_error_ = error; }

  std::vector<uint8_t> bytes;

 private:
  size_t limit_ = SIZE_MAX;
  int limit_error_ = 0;
  int error_ = 0;
};

}  // namespace kemb
