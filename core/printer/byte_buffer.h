// SPDX-License-Identifier: Apache-2.0
// ByteBuffer: a zero-filled heap block that reports allocation failure instead of throwing.
// Page buffers are sized from page headers, so running out of memory is an input condition the
// job reports, not a crash.
//   Allocator   where a buffer's blocks come from: the heap, or a test's that fails on demand
//   ByteBuffer  the block, released with std::free
//   CheckedMul  a size product that refuses to overflow
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace kemb {

// Tests hand one to the job to fail any chosen allocation of the page path.
class Allocator {
 public:
  virtual ~Allocator() = default;
  // `size` zero bytes that std::free releases, or nullptr.
  virtual void* Zeroed(size_t size) = 0;
};

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ~ByteBuffer() { std::free(data_); }
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(other.data_), size_(other.size_), source_(other.source_) {
    other.data_ = nullptr, other.size_ = 0;
  }
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = other.data_, size_ = other.size_, source_ = other.source_;
      other.data_ = nullptr, other.size_ = 0;
    }
    return *this;
  }

  // Later allocations come from `source`; nullptr: the heap.
  void SetAllocator(Allocator* source) { source_ = source; }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Replace the contents with `size` zero bytes; false (and empty) when memory is short.
  [[nodiscard]] bool Allocate(size_t size) {
    Release();
    if (size == 0) return true;
    data_ =
        static_cast<uint8_t*>(source_ != nullptr ? source_->Zeroed(size) : std::calloc(size, 1));
    if (data_ != nullptr) size_ = size;
    return data_ != nullptr;
  }
  void Release() {
    std::free(data_);
    data_ = nullptr, size_ = 0;
  }

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<uint8_t> span() { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  Allocator* source_ = nullptr;
};

// a * b, or false when the product does not fit in size_t.
[[nodiscard]] inline bool CheckedMul(size_t a, size_t b, size_t* product) {
  return !__builtin_mul_overflow(a, b, product);
}

}  // namespace kemb
