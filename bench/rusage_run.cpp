// SPDX-License-Identifier: Apache-2.0
// bench-rusage LOG PROGRAM [ARGS...]: runs PROGRAM and appends "user_s sys_s maxrss_kib status"
// to LOG. Put in front of the halftoner, it records each run's peak memory apart from the
// filter's.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: bench-rusage LOG PROGRAM [ARGS...]\n", stderr);
    return 2;
  }
  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ);
      error != 0) {
    std::fprintf(stderr, "ERROR: bench-rusage: cannot run %s: %s\n", argv[2], std::strerror(error));
    return 127;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 127;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (FILE* log = std::fopen(argv[1], "a")) {
    std::fprintf(log, "%ld.%06ld %ld.%06ld %ld %d\n", usage.ru_utime.tv_sec,
                 static_cast<long>(usage.ru_utime.tv_usec), usage.ru_stime.tv_sec,
                 static_cast<long>(usage.ru_stime.tv_usec), usage.ru_maxrss, code);
    std::fclose(log);
  }
  return code;
}
