// SPDX-License-Identifier: Apache-2.0
// The `server` sub-command: see server_run.h.
#include "server_run.h"

#include <pappl/pappl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "system.h"

namespace kemb::app {
namespace {

constexpr const char* kName = "kemb-printer-app";
constexpr int kWakeSignal = SIGUSR1;

volatile sig_atomic_t g_stop_asked = 0;

void Ignore(int) {}
void AskStop(int) { g_stop_asked = 1; }

void Catch(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;  // poll() returns EINTR all the same
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// PAPPL installs its SIGTERM and SIGINT handlers once the system runs; they end the main loop
// only after every job has finished. Ours take their place and ask for the shutdown that
// ends the jobs first.
bool TakeStopSignals() {
  struct sigaction current {};
  sigaction(SIGTERM, nullptr, &current);
  if (current.sa_handler == SIG_DFL) return false;
  Catch(SIGTERM, AskStop);
  Catch(SIGINT, AskStop);
  return true;
}

void NoteJob(pappl_job_t* job, void* ids) {
  static_cast<std::vector<int>*>(ids)->push_back(papplJobGetID(job));
}

// Outside the iteration, which holds the printer's lock that cancelling takes.
void CancelJobs(pappl_printer_t* printer, void*) {
  std::vector<int> ids;
  papplPrinterIterateActiveJobs(printer, NoteJob, &ids, 1, 0);
  for (int id : ids) {
    if (pappl_job_t* job = papplPrinterFindJob(printer, id)) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled: the server is shutting down.");
      papplJobCancel(job);
    }
  }
}

// Once a shutdown has been asked for (Shutdown-All-Printers, SIGTERM, SIGINT), cancels the jobs
// and interrupts the main loop's poll() until it returns. Looks every 100 ms: PAPPL offers no
// event for a Shutdown-All-Printers request.
class ShutdownWaker {
 public:
  explicit ShutdownWaker(pappl_system_t* system) : system_(system), loop_(pthread_self()) {
    Catch(kWakeSignal, Ignore);
    thread_ = std::thread([this] { Watch(); });
  }
  // After papplSystemRun has returned, before the system is deleted.
  ~ShutdownWaker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    woken_.notify_one();
    thread_.join();
  }
  ShutdownWaker(const ShutdownWaker&) = delete;
  ShutdownWaker& operator=(const ShutdownWaker&) = delete;

 private:
  void Watch() {
    bool running = false;
    bool signals = false;
    bool canceled = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!woken_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; })) {
      // papplSystemIsShutdown is true before the system starts, too.
      if (!running) {
        running = papplSystemIsRunning(system_);
        continue;
      }
      if (!signals) signals = TakeStopSignals();
      if (g_stop_asked && !papplSystemIsShutdown(system_)) papplSystemShutdown(system_);
      if (papplSystemIsShutdown(system_)) {
        // PAPPL waits up to 60 s for active jobs, pending ones included, and keeps no job over
        // a restart: they end now.
        if (!canceled) papplSystemIteratePrinters(system_, CancelJobs, nullptr);
        canceled = true;
        // Again at each look: a signal just before the loop enters poll() is lost.
        pthread_kill(loop_, kWakeSignal);
      }
    }
  }

  pappl_system_t* system_;
  pthread_t loop_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

std::string ServerSocketPath(const char* program) {
  const char* slash = std::strrchr(program, '/');
  const std::string base = slash ? slash + 1 : program;
  const char* snap = getenv("SNAP_COMMON");
  if (snap && *snap) return std::string(snap) + "/" + base + ".sock";
  if (getuid() == 0) return "/run/" + base + ".sock";
  return std::string(papplGetTempDir()) + "/" + base + std::to_string(getuid()) + ".sock";
}

bool RunServer(int argc, char* argv[], int& status) {
  int num_options = 0;
  cups_option_t* options = nullptr;
  for (int i = 2; i < argc; ++i) {
    const char* value = nullptr;
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
      value = argv[++i];
    else if (std::strncmp(argv[i], "-o", 2) == 0 && argv[i][2])
      value = argv[i] + 2;
    if (!value) {
      cupsFreeOptions(num_options, options);
      return false;
    }
    num_options = cupsParseOptions(value, num_options, &options);
  }

  pappl_system_t* system = SystemCallback(num_options, options, nullptr);
  cupsFreeOptions(num_options, options);
  if (!system) {
    std::fprintf(stderr, "%s: Failed to create a system.\n", kName);
    status = 1;
    return true;
  }
  papplSystemAddListeners(system, ServerSocketPath(argv[0]).c_str());
  {
    ShutdownWaker waker(system);
    papplSystemRun(system);
  }
  papplSystemDelete(system);
  status = 0;
  return true;
}

}  // namespace kemb::app
