// SPDX-License-Identifier: Apache-2.0
// Soak of the printer application: thousands of small jobs (PWG raster and PDF) from a few
// clients on one printer with a file device, with the server's thread count (/proc/PID/task)
// and resident memory (VmRSS) printed along the way, so their flatness can be read off.
// A benchmark, not a test: `cmake --build build --target bench-app-soak`; KEMB_SOAK_JOBS sets
// the number of jobs (2000 by default), KEMB_SOAK_CLIENTS the clients (4).
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app_server.h"

namespace kemb::app_test {
namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

size_t Threads(pid_t pid) {
  size_t n = 0;
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int Run() {
  const int total = EnvInt("KEMB_SOAK_JOBS", 2000);
  const int clients = EnvInt("KEMB_SOAK_CLIENTS", 4);
  AppServer server;
  server.AddPrinter("lq", "kemb_wmz24");
  const pid_t pid = server.pid();
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> docs = {
      {PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})}),
       "image/pwg-raster"},
      {ReadFile(std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf"), "application/pdf"},
  };

  std::atomic<int> next{0}, completed{0}, failed{0}, busy{0};
  std::mutex print_mutex;
  const auto start = std::chrono::steady_clock::now();
  auto sample = [&](int done) {
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::lock_guard lock(print_mutex);
    std::printf("%6d jobs  %7.1f s  threads %3zu  VmRSS %7ld kB\n", done, s, Threads(pid),
                RssKb(pid));
    std::fflush(stdout);
  };
  sample(0);
  const int every = std::max(1, total / 20);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      Ipp ipp(server.port());
      for (int i; (i = next++) < total;) {
        const auto& [bytes, format] = docs[static_cast<size_t>(i) % docs.size()];
        Submitted s = ipp.Print("lq", bytes, format, {}, 600);
        busy += s.busy_answers;
        if (s.status != IPP_STATUS_OK) {
          ++failed;
          continue;
        }
        if (ipp.Wait("lq", {s.job_id})[s.job_id] == IPP_JSTATE_COMPLETED)
          ++completed;
        else
          ++failed;
        if ((i + 1) % every == 0) sample(i + 1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  sample(total);
  std::printf("%d of %d jobs completed, %d failed, %d busy answers, %d clients\n",
              completed.load(), total, failed.load(), busy.load(), clients);
  const bool stopped = server.Stop();
  return completed == total && stopped ? 0 : 1;
}

}  // namespace
}  // namespace kemb::app_test

int main() {
  try {
    return kemb::app_test::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "app_soak_bench: %s\n", e.what());
    return 1;
  }
}
