// SPDX-License-Identifier: Apache-2.0
// The picture path's hand-off (the ink count itself is convert/ink_count):
//   ChooseHalftone, RatioText   the path and mode for a dark share, and the share as logged
//   WaitForHalftoner            waits, reading its output, stopping it on a cancel
//   ForwardOutput               its lines to the log; a failure's ERROR line to the cause
//   RunHalftoner                spawns it without a shell and waits
//   ProgramHalftoner            RunHalftoner as a job's halftoner
//   ReadImageHeader             its PBM header, checked against the page
#include "engine/picture.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>

#include "engine/temp_file.h"

extern char** environ;

namespace kemb {

HalftoneMode ChooseHalftone(double ratio) {
  if (std::isnan(ratio) || ratio >= 0.3) return HalftoneMode::kThreshold;
  return ratio < 0.1 ? HalftoneMode::kDiffuseAll : HalftoneMode::kSolidDark;
}

std::string RatioText(double ratio) {
  if (std::isnan(ratio)) return "nan";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", ratio);
  return text;
}

namespace {

constexpr int kPollMs = 20;                // how often a cancel is looked for while it runs
constexpr int64_t kStopGraceMs = 1000;     // from SIGTERM to SIGKILL for a halftoner that stays
constexpr size_t kMaxOutputBytes = 16384;  // of its chatter kept for the log; the rest is read

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void ReadOutput(pollfd& pipe, std::string* output) {
  char chunk[4096];
  const ssize_t n = ::read(pipe.fd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    pipe.fd = -1;  // at its end: poll only sleeps from now on
    return;
  }
  const size_t room = kMaxOutputBytes - std::min(output->size(), kMaxOutputBytes);
  output->append(chunk, std::min(static_cast<size_t>(n), room));
}

// Waits for the halftoner, reading what it writes. On a cancel its process group gets SIGTERM,
// then SIGKILL after the grace period. Returns the wait status, or -1 when it cannot be waited
// for.
int WaitForHalftoner(pid_t pid, int output_fd, std::string* output, bool* stopped,
                     const std::function<bool()>& canceled) {
  pollfd pipe = {output_fd, POLLIN, 0};
  int64_t stop_at = 0;
  bool killed = false;
  for (;;) {
    siginfo_t info = {};
    // WNOWAIT leaves it a zombie, so its process group ID cannot go to another process before
    // the group is signalled below.
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno != EINTR) return -1;
    } else if (info.si_pid == pid) {
      break;
    }
    if (!*stopped && canceled && canceled()) {
      ::kill(-pid, SIGTERM);
      *stopped = true;
      stop_at = NowMs();
    } else if (*stopped && !killed && NowMs() - stop_at >= kStopGraceMs) {
      ::kill(-pid, SIGKILL);
      killed = true;
    }
    if (::poll(&pipe, 1, kPollMs) > 0) ReadOutput(pipe, output);
  }
  // Nothing it started may outlive it.
  ::kill(-pid, SIGKILL);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  fcntl(output_fd, F_SETFL, O_NONBLOCK);
  while (pipe.fd >= 0) ReadOutput(pipe, output);
  return wait_status;
}

// The level a line of the program's own names, as CUPS would read it.
LogLevel LevelOf(const std::string& line) {
  if (line.starts_with("ERROR:")) return LogLevel::kError;
  if (line.starts_with("WARNING:")) return LogLevel::kWarning;
  if (line.starts_with("INFO:")) return LogLevel::kInfo;
  return LogLevel::kDebug;
}

// Its lines go to the log, except the ERROR lines of a halftoner that failed or was stopped:
// the last of those becomes part of the job's one error line.
std::string ForwardOutput(const std::string& output, bool failed, JobLog* log) {
  std::string cause;
  for (size_t at = 0; at < output.size();) {
    const size_t end = std::min(output.find('\n', at), output.size());
    const std::string line = output.substr(at, end - at);
    at = end + 1;
    if (failed && line.rfind("ERROR:", 0) == 0) {
      const size_t text = line.find_first_not_of(' ', 6);
      cause = text == std::string::npos ? std::string() : line.substr(text);
    } else {
      if (log) log->Write(LevelOf(line), LogEvent::kHalftoner, line);
    }
  }
  return cause.empty() ? std::string() : " (" + cause + ")";
}

}  // namespace

Status RunHalftoner(const std::string& program, const std::string& base, unsigned xres,
                    HalftoneMode mode, JobLog* log, const CancelTest& canceled) {
  std::string xres_text = std::to_string(xres), mode_text = std::to_string(static_cast<int>(mode));
  std::string program_arg = program, base_arg = base;
  char* argv[] = {program_arg.data(), base_arg.data(), xres_text.data(), mode_text.data(), nullptr};
  auto cannot_start = [&program](int error) {
    return Status::Fail("Unable to start " + program + ": " + std::strerror(error));
  };

  // Its output goes through us to the log, never to the printer; it has no business with our
  // input.
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return cannot_start(errno);
  UniqueFd output(pipe_fds[0]), output_end(pipe_fds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output_end.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, output_end.get(), 2);
  // Its own process group, so that a cancel stops whatever it started as well; signals as a
  // fresh program has them.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  output_end.Close();
  if (error != 0) return cannot_start(error);

  std::string text;
  bool stopped = false;
  const int wait_status = WaitForHalftoner(pid, output.get(), &text, &stopped, canceled);
  if (wait_status < 0) return Status::Fail("Unable to wait for " + program);
  const bool succeeded = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
  const std::string cause = ForwardOutput(text, stopped || !succeeded, log);
  // Stopped by the cancel: the page ends without its image, and that is no error.
  if (stopped || succeeded) return Status::Ok();
  if (WIFSIGNALED(wait_status)) {
    return Status::Fail(program + " ended by signal " + std::to_string(WTERMSIG(wait_status)) +
                        cause);
  }
  return Status::Fail(program + " failed with exit status " +
                      std::to_string(WEXITSTATUS(wait_status)) + cause);
}

HalftoneRunner ProgramHalftoner(std::string program, JobLog* log, CancelTest canceled) {
  return [program = std::move(program), log, canceled = std::move(canceled)](
             const std::string& base, unsigned xres, HalftoneMode mode) {
    return RunHalftoner(program, base, xres, mode, log, canceled);
  };
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
  const char* end =
      got > 0 ? static_cast<const char*>(std::memchr(line, '\n', size_t(got))) : nullptr;
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
    return bad("height " + std::to_string(height) + " outside 1 to " + std::to_string(max_height));
  }
  image->width = width;
  image->height = height;
  return Status::Ok();
}

}  // namespace kemb
