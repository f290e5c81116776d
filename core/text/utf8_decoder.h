// SPDX-License-Identifier: Apache-2.0
// Utf8Decoder: UTF-8 bytes to code points, fed in pieces of any size. A byte that does not
// belong to a well-formed sequence (a stray continuation, a cut or overlong sequence, a
// surrogate, beyond U+10FFFF) is read as the ISO-8859-1 character of its value, so no byte is
// ever lost.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kemb {

class Utf8Decoder {
 public:
  bool idle() const { return need_ == 0; }

  // One byte in; `emit(code_point)` for each character it completes or gives up on.
  template <class Emit>
  void Put(uint8_t b, Emit&& emit) {
    if (need_ != 0) {
      if ((b & 0xC0) == 0x80) {
        code_point_ = code_point_ << 6 | (b & 0x3F);
        pending_[have_++] = b;
        if (have_ <= need_) return;
        const bool valid = code_point_ >= minimum_ && code_point_ <= 0x10FFFF &&
                           (code_point_ < 0xD800 || code_point_ > 0xDFFF);
        if (valid) {
          need_ = have_ = 0;
          emit(code_point_);
        } else {
          GiveUp(emit);
        }
        return;
      }
      GiveUp(emit);
    }
    if (b < 0x80) {
      emit(b);
    } else if (b >= 0xC2 && b <= 0xDF) {
      Begin(b, 1, b & 0x1F, 0x80);
    } else if (b >= 0xE0 && b <= 0xEF) {
      Begin(b, 2, b & 0x0F, 0x800);
    } else if (b >= 0xF0 && b <= 0xF4) {
      Begin(b, 3, b & 0x07, 0x10000);
    } else {
      emit(b);
    }
  }

  // The end of the input: a sequence still open is read byte by byte.
  template <class Emit>
  void Finish(Emit&& emit) {
    if (need_ != 0) GiveUp(emit);
  }

 private:
  void Begin(uint8_t lead, unsigned need, uint32_t bits, uint32_t minimum) {
    pending_[0] = lead;
    have_ = 1, need_ = need, code_point_ = bits, minimum_ = minimum;
  }

  template <class Emit>
  void GiveUp(Emit&& emit) {
    const unsigned have = have_;
    need_ = have_ = 0;
    for (unsigned i = 0; i < have; ++i) emit(pending_[i]);
  }

  uint8_t pending_[4] = {};
  unsigned have_ = 0, need_ = 0;
  uint32_t code_point_ = 0, minimum_ = 0;
};

}  // namespace kemb
