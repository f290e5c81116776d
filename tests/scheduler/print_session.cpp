// SPDX-License-Identifier: Apache-2.0
// Running the scheduler session and reading the paper geometry from the PPDs.
#include "scheduler/print_session.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <cups/ipp.h>

#include "ppd/ppd_file.h"
#include "scheduler/cups_sandbox.h"
#include "scheduler/process.h"

namespace kemb::scheduler_test {
namespace {

namespace fs = std::filesystem;

constexpr int kJobSeconds = 120;



// Ids ending in 5dd: every job's spool files share /tmp, and the filter tests running beside
// us use small fixed ids and ids ending in 1dd or 10dd.
int FirstJobId() {
  return (100 + getpid() % 900) * 1000 + 500;
}

void Check(const CommandResult& result, const Command& command, const Sandbox& sandbox) {
  if (!result.Ok()) throw std::runtime_error(result.Describe(command) + sandbox.Diagnostics());
}

int Submit(const Sandbox& sandbox, const QueueCase& c, const std::vector<std::string>& more = {}) {
  std::vector<std::string> args = {"lp", "-d", c.queue, "-t", "scheduler test"};
  for (const std::string& option :
       {std::string("Resolution=") + c.resolution, std::string("PageSize=") + c.page_size}) {
    args.insert(args.end(), {"-o", option});
  }
  args.insert(args.end(), more.begin(), more.end());
  args.push_back(sandbox.Path("document.pdf"));
  const Command lp = sandbox.Client(args);
  const CommandResult result = RunCommand(lp);
  Check(result, lp, sandbox);
  // "request id is kembtest-12 (1 file(s))"
  const std::string request = "request id is " + std::string(c.queue) + "-";
  const size_t at = result.output.find(request);
  const int id =
      at == std::string::npos ? 0 : std::atoi(result.output.c_str() + at + request.size());
  if (id <= 0) throw std::runtime_error("no request id in: " + result.output);
  return id;
}

// Until every job has ended: completed, or stopped, canceled or aborted (a filter that fails
// stops its job, whatever the queue's error policy).
std::map<int, int> AwaitJobs(const Sandbox& sandbox, const std::vector<int>& ids) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kJobSeconds);
  for (;;) {
    const std::map<int, int> states = sandbox.JobStates();
    const bool ended = std::all_of(ids.begin(), ids.end(), [&](int id) {
      return states.count(id) && states.at(id) >= IPP_JSTATE_STOPPED;
    });
    if (ended) return states;
    if (std::chrono::steady_clock::now() > deadline) {
      std::string text;
      for (int id : ids) {
        text += " job " + std::to_string(id) + " state " +
                (states.count(id) ? std::to_string(states.at(id)) : "unknown");
      }
      throw std::runtime_error("jobs not ended after " + std::to_string(kJobSeconds) +
                               " s:" + text + "\n" + sandbox.Diagnostics());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

// The last run's printer files and log stay in the build tree for a look after a failure.
void KeepArtifacts(const Sandbox& sandbox) {
  std::error_code ignored;
  const fs::path keep = KEMB_SCHEDULER_ARTIFACTS;
  fs::create_directories(keep, ignored);
  for (const char* name : {"log/error_log", "document.pdf"}) {
    fs::remove(keep / fs::path(name).filename(), ignored);
    fs::copy_file(sandbox.Path(name), keep / fs::path(name).filename(), ignored);
  }
  for (const QueueCase& c : kQueues) {
    const std::string prn = std::string(c.queue) + ".prn";
    fs::remove(keep / prn, ignored);
    fs::copy_file(sandbox.Path(prn), keep / prn, ignored);
  }
}

// The job's folder goes in the scheduler's TempDir; nothing of it belongs in /tmp either.
std::vector<std::string> Leftovers(const Sandbox& sandbox, int id) {
  const std::string name = "kemb" + std::to_string(id);
  std::vector<std::string> left = Glob("/tmp/" + name + "[._]*");
  for (const std::string& path : Glob(sandbox.Path("spool/tmp/" + name + "*"))) {
    left.push_back(path);
  }
  return left;
}

}  // namespace

void RunSession(Session& session) {
  const SandboxPrograms programs{
      KEMB_CUPSD,
      KEMB_CUPS_SERVERBIN,
      KEMB_CUPS_DATADIR,
      {std::string(KEMB_BIN_DIR) + "/rastertokemb", std::string(KEMB_BIN_DIR) + "/kemb_ID"}};
  Sandbox sandbox(programs);
  // Destroyed before the sandbox: the log is kept however the session ends.
  struct Keeper {
    const Sandbox& sandbox;
    ~Keeper() { KeepArtifacts(sandbox); }
  } keeper{sandbox};
  if (const std::string error = MakePdf(sandbox.Path("document.ps"), sandbox.Path("document.pdf"));
      !error.empty()) {
    throw std::runtime_error(error);
  }
  for (size_t i = 0; i < std::size(kQueues); ++i) {
    const QueueCase& c = kQueues[i];
    const std::string error = RenderPages(sandbox.Path("document.pdf"), c.xdpi, c.ydpi,
                                          sandbox.root(), &session.references[int(i)]);
    if (!error.empty()) throw std::runtime_error(error);
  }

  sandbox.Start(FirstJobId());
  for (const QueueCase& c : kQueues) {
    const Command lpadmin = sandbox.Client({"lpadmin", "-p", c.queue, "-E", "-v",
                                            "file://" + sandbox.Path(c.queue) + ".prn", "-P",
                                            std::string(KEMB_PPD_DIR) + "/" + c.ppd});
    Check(RunCommand(lpadmin), lpadmin, sandbox);
  }
  // Both jobs at once: separate queues, so the scheduler runs them side by side.
  std::vector<int> ids;
  for (const QueueCase& c : kQueues) ids.push_back(Submit(sandbox, c));
  const std::map<int, int> states = AwaitJobs(sandbox, ids);
  for (size_t i = 0; i < ids.size(); ++i) {
    JobResult job;
    job.id = ids[i];
    job.state = states.at(ids[i]);
    job.leftovers = Leftovers(sandbox, ids[i]);
    // Read before the next job on the queue writes its device file.
    job.stream = ReadBytes(sandbox.Path(std::string(kQueues[i].queue) + ".prn"));
    session.jobs.push_back(std::move(job));
  }

  // The text page once more, the user saying it is a photo, as `lp -o` sends it.
  std::vector<int> photo_ids;
  for (const QueueCase& c : kQueues) {
    photo_ids.push_back(Submit(sandbox, c, {"-P", "1", "-o", "print-content-optimize=photo"}));
  }
  const std::map<int, int> photo_states = AwaitJobs(sandbox, photo_ids);
  for (size_t i = 0; i < photo_ids.size(); ++i) {
    JobResult job;
    job.id = photo_ids[i];
    job.state = photo_states.at(photo_ids[i]);
    job.leftovers = Leftovers(sandbox, photo_ids[i]);
    job.stream = ReadBytes(sandbox.Path(std::string(kQueues[i].queue) + ".prn"));
    session.photo_jobs.push_back(std::move(job));
  }

  if (!sandbox.Stop()) session.stop_problem = "cupsd ignored SIGTERM and was killed";
  const std::string error_log = sandbox.ErrorLog();
  for (JobResult& job : session.jobs) job.log = JobLines(error_log, job.id);
  for (JobResult& job : session.photo_jobs) job.log = JobLines(error_log, job.id);
}

PaperGeometry PaperFromPpd(const QueueCase& c) {
  const std::string path = std::string(KEMB_PPD_DIR) + "/" + c.ppd;
  ppd_test::PpdHandle ppd = ppd_test::OpenPpd(path);
  if (!ppd) throw std::runtime_error(path + ": " + ppd_test::PpdOpenError());
  const ppd_size_t* size = ppd_test::FindPageSize(ppd.get(), c.page_size);
  if (size == nullptr) throw std::runtime_error(path + " has no page size " + c.page_size);
  return {size->length, size->left, size->length - size->top, size->right,
          size->length - size->bottom};
}

}  // namespace kemb::scheduler_test
