// SPDX-License-Identifier: Apache-2.0
// spool-floor [raster-file]: decode-floor plus the page spool the filter cannot avoid: every
// row written to /tmp/kembfloor<pid>_<page>.ppm with one write, read back with one read per
// row, and the file removed. The filter's time is measured against this.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "floor_pages.h"
#include "engine/temp_file.h"

namespace {

ssize_t ReadAll(int fd, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

class Spool final : public kembbench::PageVisitor {
 public:
  ~Spool() override {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  bool StartPage(const cups_page_header2_t& header, unsigned page) override {
    path_ = "/tmp/kembfloor" + std::to_string(::getpid()) + "_" + std::to_string(page) + ".ppm";
    ::unlink(path_.c_str());
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return Fail("cannot create " + path_);
    head_ = "P6\n" + std::to_string(header.cupsBytesPerLine / 3) + " " +
            std::to_string(header.cupsHeight) + "\n255\n";
    rows_ = 0;
    row_.assign(header.cupsBytesPerLine, 0);
    return kemb::WriteFull(fd_, reinterpret_cast<const uint8_t*>(head_.data()), head_.size()) ||
           Fail("cannot write " + path_);
  }

  bool Row(const uint8_t* row, size_t size) override {
    ++rows_;
    return kemb::WriteFull(fd_, row, size) || Fail("cannot write " + path_);
  }

  bool EndPage() override {
    if (fd_ < 0) return false;
    ::close(fd_);
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) return Fail("cannot open " + path_);
    std::string head(head_.size(), '\0');
    bool ok = ReadAll(fd_, reinterpret_cast<uint8_t*>(head.data()), head.size()) ==
              static_cast<ssize_t>(head.size());
    for (size_t y = 0; ok && y < rows_; ++y) {
      ok = ReadAll(fd_, row_.data(), row_.size()) == static_cast<ssize_t>(row_.size());
    }
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
    path_.clear();
    return ok || Fail("short read from the spool file");
  }

 private:
  static bool Fail(const std::string& what) {
    std::fprintf(stderr, "ERROR: spool-floor: %s\n", what.c_str());
    return false;
  }

  std::string path_, head_;
  int fd_ = -1;
  size_t rows_ = 0;
  std::vector<uint8_t> row_;
};

}  // namespace

int main(int argc, char** argv) {
  Spool spool;
  return kembbench::DecodeJob(argc, argv, "spool-floor", spool);
}
