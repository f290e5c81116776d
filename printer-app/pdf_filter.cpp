// SPDX-License-Identifier: Apache-2.0
// PDF filter: Ghostscript's command line, the child process, the page loop, the verdict.
#include "pdf_filter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "driver.h"
#include "format_sniff.h"
#include "job_run.h"
#include "models.h"

extern char** environ;

namespace kemb::app {

std::vector<std::string> GhostscriptArgs(const std::string& pdf, Resolution res,
                                         unsigned width_points, unsigned length_points) {
  return {"gs",
          "-q",
          "-dSAFER",
          "-dBATCH",
          "-dNOPAUSE",
          "-dNOINTERPOLATE",
          "-sDEVICE=pwgraster",
          "-dcupsColorSpace=19",  // sRGB, 8 bits a colour: what the engine reads
          "-dcupsBitsPerColor=8",
          "-r" + std::to_string(res.x) + "x" + std::to_string(res.y),
          "-dDEVICEWIDTHPOINTS=" + std::to_string(width_points),
          "-dDEVICEHEIGHTPOINTS=" + std::to_string(length_points),
          "-dFIXEDMEDIA",
          "-dPDFFitPage",
          "-sstdout=%stderr",
          "-sOutputFile=%stdout",
          "-f",
          pdf};
}

namespace {

// The last non-empty line of a file, for the job's message.
std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

// Ghostscript's first complaint ("**** Error: ..."), when it ends well without a page.
std::string FirstError(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t at = line.find("Error:");
    if (at != std::string::npos) return line.substr(at);
  }
  return {};
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output
};

Child SpawnGhostscript(const std::vector<std::string>& args, const std::string& log_path,
                       std::string* error) {
  Child child;
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return child;
  }
  int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
  if (log_fd >= 0) posix_spawn_file_actions_adddup2(&actions, log_fd, STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(&child.pid, "gs", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipefd[1]);
  if (log_fd >= 0) close(log_fd);
  if (rc != 0) {
    close(pipefd[0]);
    child.pid = -1;
    *error = std::string("Unable to run Ghostscript (gs): ") + std::strerror(rc);
    return child;
  }
  child.out = pipefd[0];
  return child;
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// One rendering of the document through the job; false when the job failed.
bool PrintCopy(JobRun& run, const std::vector<std::string>& args, const std::string& gs_log,
               pappl_device_t* device, const pappl_pr_options_t* options) {
  std::string error;
  Child gs = SpawnGhostscript(args, gs_log, &error);
  if (gs.pid < 0) {
    run.Fail(error);
    return false;
  }
  const int pages_before = run.pages();
  cups_raster_t* raster = cupsRasterOpen(gs.out, CUPS_RASTER_READ);
  bool ok = raster && PrintRaster(run, raster, device, options);
  cupsRasterClose(raster);
  // Stop Ghostscript when the job stopped reading: cancelled or failed.
  if (!ok || run.canceled()) kill(gs.pid, SIGTERM);
  close(gs.out);
  const int status = Reap(gs.pid);
  if (run.canceled() || run.failed()) return false;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string why = LastLine(gs_log);
    run.Fail("Unable to render the PDF" + (why.empty() ? std::string() : ": " + why));
    return false;
  }
  if (run.pages() == pages_before) {
    std::string why = FirstError(gs_log);
    run.Fail("The PDF has no pages to print" + (why.empty() ? std::string() : ": " + why));
    return false;
  }
  return ok;
}

}  // namespace

bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  CurrentRun current(job);
  JobRun* run = current.get();
  if (!run) return false;
  const char* filename = current.document();

  // Ghostscript would read anything, or nothing, and say so in words of its own.
  if (const std::string wrong = FormatMismatch("application/pdf", ReadHead(filename));
      !wrong.empty()) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    run->Fail(wrong);
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true);
  if (!options) {
    run->Fail("Unable to read the job's options");
    return false;
  }
  const Resolution res = ResolutionFor(run->model(), job, options->print_quality);
  const std::vector<std::string> args = GhostscriptArgs(
      filename, res, PointsOf(options->media.size_width), PointsOf(options->media.size_length));
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Rendering the PDF at %ux%u dpi with Ghostscript.", res.x,
              res.y);

  const std::string gs_log = run->folder() + "/gs.log";
  const int copies = std::max(1, options->copies);
  bool ok = true;
  // Collated: Ghostscript renders the whole document once per copy.
  for (int copy = 0; ok && copy < copies && !run->canceled(); ++copy) {
    ok = PrintCopy(*run, args, gs_log, device, options);
    if (ok && copy == 0) papplJobSetImpressions(job, run->pages() * copies);
  }
  papplJobDeletePrintOptions(options);
  return run->EndJob(device).ok() && ok;
}

}  // namespace kemb::app
