// SPDX-License-Identifier: Apache-2.0
// PpmReader: header parsing, buffered reading, padding of a short page.
//   Open / ParseHeader      P6 magic, width, height, maxval, one whitespace byte
//   SkipSeparators          whitespace and # comments between header fields
//   ReadNumber              one decimal field, saturating so huge values stay comparable
//   ReadRow                 copies a row out of the buffer, pads the rest with white
//   PeekByte / NextByte / Refill   the read buffer over the descriptor
#include "ppm_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kemb::halftone {
namespace {

constexpr size_t kBufferBytes = size_t{1} << 18;
// Any header number above this is absurd for a page; it stops growing here.
constexpr size_t kSaturated = 1'000'000'000;

bool IsWhitespace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string SizeText(size_t value) {
  return value >= kSaturated ? std::string("huge") : std::to_string(value);
}

}  // namespace

Status PpmReader::Open(const std::string& path) {
  path_ = path;
  fd_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd_.valid()) return Problem(std::string("cannot open: ") + std::strerror(errno));
  buffer_.assign(kBufferBytes, 0);
  pos_ = end_ = 0;
  at_end_ = false;
  return ParseHeader();
}

Status PpmReader::ParseHeader() {
  const int p = NextByte();
  const int six = p == 'P' ? NextByte() : p;
  if (p == kFailed || six == kFailed) return ReadFailure();
  if (p == kEnd) return Problem("empty file, no PPM header");
  if (p != 'P' || six != '6') return Problem("not a raw PPM (magic P6)");

  size_t maxval = 0;
  Status status = SkipSeparators("width");
  if (status.ok()) status = ReadNumber("width", &columns_);
  if (status.ok()) status = SkipSeparators("height");
  if (status.ok()) status = ReadNumber("height", &rows_);
  if (status.ok()) status = SkipSeparators("maxval");
  if (status.ok()) status = ReadNumber("maxval", &maxval);
  if (!status.ok()) return status;

  // Exactly one whitespace byte ends the header; the raster follows it.
  const int end = NextByte();
  if (end == kFailed) return ReadFailure();
  if (end == kEnd) return Problem("truncated header");
  if (!IsWhitespace(end)) return Problem("bad header: no whitespace after maxval");

  if (maxval != 255) return Problem("maxval " + SizeText(maxval) + ", only 255 is supported");
  if (columns_ == 0 || rows_ == 0 || columns_ > kMaxColumns || rows_ > kMaxRows) {
    return Problem("page size " + SizeText(columns_) + " x " + SizeText(rows_) +
                   " is outside 1 x 1 .. " + std::to_string(kMaxColumns) + " x " +
                   std::to_string(kMaxRows));
  }
  return Status::Ok();
}

Status PpmReader::SkipSeparators(const char* before_what) {
  bool separated = false;
  for (;;) {
    const int c = PeekByte();
    if (c == kFailed) return ReadFailure();
    if (c == kEnd) return Problem("truncated header");
    if (IsWhitespace(c)) {
      NextByte();
    } else if (c == '#') {
      int skipped;
      do {
        skipped = NextByte();
      } while (skipped >= 0 && skipped != '\n' && skipped != '\r');
      if (skipped == kFailed) return ReadFailure();
      if (skipped == kEnd) return Problem("truncated header");
    } else {
      break;
    }
    separated = true;
  }
  if (!separated) return Problem(std::string("bad header: no separator before ") + before_what);
  return Status::Ok();
}

Status PpmReader::ReadNumber(const char* what, size_t* value) {
  size_t result = 0;
  size_t digits = 0;
  for (int c = PeekByte(); c >= '0' && c <= '9'; c = PeekByte()) {
    NextByte();
    result = std::min(kSaturated, result * 10 + static_cast<size_t>(c - '0'));
    ++digits;
  }
  const int after = PeekByte();
  if (after == kFailed) return ReadFailure();
  if (after == kEnd) return Problem("truncated header");
  if (digits == 0) return Problem(std::string("bad header: ") + what + " is not a number");
  *value = result;
  return Status::Ok();
}

Status PpmReader::ReadRow(std::span<uint8_t> rgb) {
  size_t filled = 0;
  while (filled < rgb.size()) {
    if (pos_ == end_ && !Refill()) {
      if (!at_end_) return ReadFailure();
      std::fill(rgb.begin() + static_cast<std::ptrdiff_t>(filled), rgb.end(), uint8_t{255});
      return Status::Ok();
    }
    const size_t take = std::min(rgb.size() - filled, end_ - pos_);
    std::memcpy(rgb.data() + filled, buffer_.data() + pos_, take);
    pos_ += take;
    filled += take;
  }
  return Status::Ok();
}

int PpmReader::PeekByte() {
  if (pos_ == end_ && !Refill()) return at_end_ ? kEnd : kFailed;
  return buffer_[pos_];
}

int PpmReader::NextByte() {
  const int c = PeekByte();
  if (c >= 0) ++pos_;
  return c;
}

bool PpmReader::Refill() {
  if (at_end_ || read_errno_ != 0) return false;
  for (;;) {
    const ssize_t got = ::read(fd_.get(), buffer_.data(), buffer_.size());
    if (got > 0) {
      pos_ = 0;
      end_ = static_cast<size_t>(got);
      return true;
    }
    if (got == 0) {
      at_end_ = true;
      return false;
    }
    if (errno != EINTR) {
      read_errno_ = errno;
      return false;
    }
  }
}

Status PpmReader::ReadFailure() const {
  return Problem(std::string("read error: ") + std::strerror(read_errno_));
}

Status PpmReader::Problem(const std::string& what) const {
  return Status::Error(path_ + ": " + what);
}

}  // namespace kemb::halftone
