// Program runs: pipes, fork, limit, exec; then poll both pipes to their end and waitpid.
#include "program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace kemb::halftone::test {

std::string ProgramPath() {
  return std::string(KEMB_BIN_DIR) + "/kemb_ID";
}

Launch StartProgram(const std::vector<std::string>& args, std::optional<long> file_size_limit) {
  Launch launch;
  const std::string program = ProgramPath();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return launch;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    ::close(out[0]);
    ::close(out[1]);
    return launch;
  }
  launch.pid = ::fork();
  if (launch.pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (::dup2(out[1], STDOUT_FILENO) < 0 || ::dup2(err[1], STDERR_FILENO) < 0) ::_exit(126);
    if (file_size_limit) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit = {static_cast<rlim_t>(*file_size_limit),
                            static_cast<rlim_t>(*file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  launch.out_fd = out[0];
  launch.err_fd = err[0];
  EXPECT_GT(launch.pid, 0) << "fork failed";
  return launch;
}

Outcome Finish(Launch launch) {
  Outcome outcome;
  pollfd streams[2] = {{launch.out_fd, POLLIN, 0}, {launch.err_fd, POLLIN, 0}};
  std::string* texts[2] = {&outcome.out, &outcome.err};
  int open_streams = 0;
  for (const pollfd& stream : streams) open_streams += stream.fd >= 0;
  while (open_streams > 0) {
    if (::poll(streams, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = ::read(streams[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        texts[i]->append(chunk, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(streams[i].fd);
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& stream : streams) {
    if (stream.fd >= 0) ::close(stream.fd);
  }
  if (launch.pid <= 0) return outcome;
  int status = 0;
  while (::waitpid(launch.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

Outcome RunProgram(const std::vector<std::string>& args, std::optional<long> file_size_limit) {
  return Finish(StartProgram(args, file_size_limit));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace kemb::halftone::test
