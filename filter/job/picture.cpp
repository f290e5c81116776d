// Counting ink, choosing the path, running the halftoner and checking what it wrote.
#include "job/picture.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "job/temp_file.h"

extern char** environ;

namespace kemb {

int ChooseHalftone(double ratio) {
  if (std::isnan(ratio) || ratio >= 0.3) return 0;
  return ratio < 0.1 ? 2 : 3;
}

std::string RatioText(double ratio) {
  if (std::isnan(ratio)) return "nan";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", ratio);
  return text;
}

Status RunHalftoner(const std::string& program, const std::string& base, unsigned xres, int mode,
                    int log_fd) {
  std::string xres_text = std::to_string(xres), mode_text = std::to_string(mode);
  std::string program_arg = program, base_arg = base;
  char* argv[] = {program_arg.data(), base_arg.data(), xres_text.data(), mode_text.data(),
                  nullptr};

  // Its standard output is the job log, never the printer; it has no business with our input.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, log_fd, 1);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    return Status::Fail("Unable to start " + program + ": " + std::strerror(error));
  }

  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) return Status::Fail("Unable to wait for " + program);
  }
  if (WIFSIGNALED(wait_status)) {
    return Status::Fail(program + " ended by signal " + std::to_string(WTERMSIG(wait_status)));
  }
  if (WEXITSTATUS(wait_status) != 0) {
    return Status::Fail(program + " failed with exit status " +
                        std::to_string(WEXITSTATUS(wait_status)));
  }
  return Status::Ok();
}

namespace {

// Parses decimal digits at *p; false when there are none or the value exceeds `limit`.
bool ParseCount(const char*& p, const char* end, unsigned long limit, unsigned* value) {
  unsigned long v = 0;
  const char* start = p;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<unsigned long>(*p - '0');
    if (v > limit) return false;
  }
  *value = static_cast<unsigned>(v);
  return p > start;
}

}  // namespace

Status ReadImageHeader(int fd, const std::string& path, unsigned max_width, unsigned max_height,
                       ImageHeader* image) {
  auto bad = [&](const std::string& why) {
    return Status::Fail("Bad halftoner image " + path + ": " + why);
  };
  char magic[3];
  if (ReadFull(fd, reinterpret_cast<uint8_t*>(magic), 3) != 3 || magic[0] != 'P' ||
      magic[1] != '4' || magic[2] != '\n') {
    return bad("not a raw PBM (P4)");
  }
  // The size line and its newline lie within the next 18 bytes; the rows start right after.
  char line[18];
  const ssize_t got = ReadFull(fd, reinterpret_cast<uint8_t*>(line), sizeof line);
  const char* end = got > 0 ? static_cast<const char*>(std::memchr(line, '\n', size_t(got))) : nullptr;
  if (end == nullptr) return bad("no size line within 18 bytes");
  image->head_len = 3 + static_cast<size_t>(end - line) + 1;

  const char* p = line;
  unsigned width = 0, height = 0;
  if (!ParseCount(p, end, 1u << 30, &width) || p == end || *p++ != ' ' ||
      !ParseCount(p, end, 1u << 30, &height) || p != end) {
    return bad("size line is not \"width height\"");
  }
  if (width < 1 || width > max_width) {
    return bad("width " + std::to_string(width) + " outside 1 to " + std::to_string(max_width));
  }
  if (height < 1 || height > max_height) {
    return bad("height " + std::to_string(height) + " outside 1 to " +
               std::to_string(max_height));
  }
  image->width = width;
  image->height = height;
  return Status::Ok();
}

}  // namespace kemb
