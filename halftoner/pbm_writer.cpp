// SPDX-License-Identifier: Apache-2.0
// PbmWriter: temporary file, buffered writes, the final rename, cleanup on every failure.
//   PbmHeader            header text
//   Create / Commit      the temporary file's life: mkostemp ... rename
//   WriteRow / Append / Flush   buffered output, every short write an error
//   Fail / Discard       remove the temporary file and report
#include "pbm_writer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "temp_cleanup.h"

namespace kemb::halftone {
namespace {

constexpr size_t kBufferBytes = size_t{1} << 18;

std::string ErrnoText() {
  return std::strerror(errno);
}

}  // namespace

std::string PbmHeader(size_t columns, size_t rows) {
  return "P4\n" + std::to_string(columns) + " " + std::to_string(rows) + "\n";
}

PbmWriter::~PbmWriter() {
  Discard();
}

Status PbmWriter::Create(const std::string& final_path, size_t columns, size_t rows) {
  Discard();
  final_path_ = final_path;
  std::string name = final_path + ".XXXXXX";
  // mkostemp creates the file with mode 0600: the page may be confidential and /tmp is shared.
  fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd_.valid()) return Status::Error(name + ": cannot create: " + ErrnoText());
  temp_path_ = std::move(name);
  PublishTemp(temp_path_.c_str());

  buffer_.assign(kBufferBytes, 0);
  buffered_ = 0;
  row_bytes_ = (columns + 7) / 8;
  rows_left_ = rows;
  const std::string header = PbmHeader(columns, rows);
  return Append(header.data(), header.size());
}

Status PbmWriter::WriteRow(std::span<const uint8_t> dots) {
  if (!fd_.valid()) return Status::Error(final_path_ + ": image not open");
  if (rows_left_ == 0) return Fail("more rows than the header states");
  if (dots.size() != row_bytes_) return Fail("row of " + std::to_string(dots.size()) + " bytes");
  --rows_left_;
  return Append(dots.data(), dots.size());
}

Status PbmWriter::Commit() {
  if (!fd_.valid()) return Status::Error(final_path_ + ": image not open");
  if (rows_left_ != 0) return Fail(std::to_string(rows_left_) + " rows missing");
  if (Status flushed = Flush(); !flushed.ok()) return flushed;
  // On some file systems a full disk is only reported when the file is closed.
  if (fd_.Close() != 0) return Fail("write failed: " + ErrnoText());
  if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    return Fail("cannot rename " + temp_path_ + " into place: " + ErrnoText());
  }
  PublishTemp(nullptr);
  temp_path_.clear();
  return Status::Ok();
}

Status PbmWriter::Append(const void* bytes, size_t count) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    if (buffered_ == buffer_.size()) {
      if (Status flushed = Flush(); !flushed.ok()) return flushed;
    }
    const size_t take = std::min(count, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, from, take);
    buffered_ += take;
    from += take;
    count -= take;
  }
  return Status::Ok();
}

Status PbmWriter::Flush() {
  size_t done = 0;
  while (done < buffered_) {
    const ssize_t wrote = ::write(fd_.get(), buffer_.data() + done, buffered_ - done);
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
    } else if (wrote == 0) {
      errno = ENOSPC;
      return Fail("write failed: " + ErrnoText());
    } else if (errno != EINTR) {
      return Fail("write failed: " + ErrnoText());
    }
  }
  buffered_ = 0;
  return Status::Ok();
}

Status PbmWriter::Fail(const std::string& what) {
  Discard();
  return Status::Error(final_path_ + ": " + what);
}

void PbmWriter::Discard() {
  fd_.Close();
  if (temp_path_.empty()) return;
  ::unlink(temp_path_.c_str());
  PublishTemp(nullptr);
  temp_path_.clear();
}

}  // namespace kemb::halftone
