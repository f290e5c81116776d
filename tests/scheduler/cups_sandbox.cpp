// SPDX-License-Identifier: Apache-2.0
// The private scheduler's folder, configuration, start, stop and queries.
#include "scheduler/cups_sandbox.h"

#include <glob.h>
#include <sys/stat.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include <cups/cups.h>

namespace kemb::scheduler_test {
namespace fs = std::filesystem;

namespace {

constexpr int kStartSeconds = 30;

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using HttpHandle = std::unique_ptr<http_t, HttpCloser>;

HttpHandle Connect(const std::string& socket) {
  return HttpHandle(
      httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 2000, nullptr));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<std::string> Glob(const std::string& pattern) {
  std::vector<std::string> paths;
  glob_t found{};
  if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) paths.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  return paths;
}

Sandbox::Sandbox(const SandboxPrograms& programs) : programs_(programs) {
  std::string pattern = (fs::temp_directory_path() / "kembsched.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  // The scheduler's filters run as its unprivileged user and must reach the spool and PPDs.
  chmod(root_.c_str(), 0755);
  for (const char* dir : {"conf", "spool", "spool/tmp", "cache", "state", "log", "home"}) {
    fs::create_directories(Path(dir));
  }
  MirrorServerBin();
  WriteConfiguration();
}

Sandbox::~Sandbox() {
  Stop();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

// A server-bin of our own: the system's folders by symbolic link, and a filter folder holding
// links to the system's filters beside copies of ours. Copies, not links: a scheduler running
// as root refuses filters that are not root's or that others could rewrite, and the build tree
// may belong to anyone.
void Sandbox::MirrorServerBin() {
  const fs::path bin = Path("server-bin");
  fs::create_directories(bin / "filter");
  for (const fs::directory_entry& entry : fs::directory_iterator(programs_.system_server_bin)) {
    const fs::path name = entry.path().filename();
    if (name == "filter") continue;
    fs::create_symlink(entry.path(), bin / name);
  }
  const fs::path system_filters = fs::path(programs_.system_server_bin) / "filter";
  if (fs::is_directory(system_filters)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(system_filters)) {
      fs::create_symlink(entry.path(), bin / "filter" / entry.path().filename());
    }
  }
  for (const std::string& program : programs_.our_filters) {
    const fs::path target = bin / "filter" / fs::path(program).filename();
    fs::remove(target);
    fs::copy_file(program, target);
    chmod(target.c_str(), 0755);
  }
}

// The configuration text is one for every private scheduler (tests/scheduler/*.conf.in).
void Sandbox::WriteConfiguration() {
  const std::pair<const char*, std::string> values[] = {
      {"@SOCKET@", Socket()},
      {"@SERVERROOT@", Path("conf")},
      {"@FOLDER@", root_},
      {"@SERVERBIN@", Path("server-bin")},
      {"@DATADIR@", programs_.data_dir},
  };
  for (const char* name : {"cupsd.conf", "cups-files.conf"}) {
    const std::string source = std::string(KEMB_SOURCE_DIR "/tests/scheduler/") + name + ".in";
    std::string text = ReadText(source);
    if (text.empty()) throw std::runtime_error("cannot read " + source);
    for (const auto& [key, value] : values) {
      for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        text.replace(at, std::strlen(key), value);
        at += value.size();
      }
    }
    WriteText(Path(std::string("conf/") + name), text);
  }
}

// The scheduler's path, or that of a copy of it when an enforcing AppArmor profile is attached
// to that path: the profile lets it run filters only from the system's own folders, not from
// ours. A copy elsewhere runs unconfined, like any program of the test.
std::string Sandbox::UnconfinedScheduler() {
  const std::string profiles = ReadText("/sys/kernel/security/apparmor/profiles");
  if (profiles.find(programs_.cupsd + " (enforce)") == std::string::npos) return programs_.cupsd;
  const std::string copy = Path("cupsd");
  fs::copy_file(programs_.cupsd, copy, fs::copy_options::overwrite_existing);
  chmod(copy.c_str(), 0755);
  return copy;
}

void Sandbox::Start(int first_job_id) {
  WriteText(Path("cache/job.cache"), "NextJobId " + std::to_string(first_job_id) + "\n");
  const Command command{{UnconfinedScheduler(), "-f", "-c", Path("conf/cupsd.conf"), "-s",
                         Path("conf/cups-files.conf")}};
  cupsd_ = std::make_unique<Daemon>(command, Path("log/cupsd.out"));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!cupsd_->Running()) {
      throw std::runtime_error(CommandLine(command) + " ended at start\n" + Diagnostics());
    }
    if (fs::exists(Socket()) && Connect(Socket())) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("cupsd did not listen on " + Socket() + " within " +
                           std::to_string(kStartSeconds) + " s\n" + Diagnostics());
}

bool Sandbox::Stop() {
  return cupsd_ == nullptr || cupsd_->Stop();
}

Command Sandbox::Client(std::vector<std::string> argv, int timeout_seconds) const {
  argv.insert(argv.begin() + 1, {"-h", Socket()});
  // HOME: no personal lpoptions of whoever runs the test may change our jobs.
  return Command{argv, {"CUPS_SERVER=" + Socket(), "HOME=" + Path("home")}, timeout_seconds};
}

std::map<int, int> Sandbox::JobStates() const {
  std::map<int, int> states;
  HttpHandle http = Connect(Socket());
  if (!http) return states;
  cups_job_t* jobs = nullptr;
  const int count = cupsGetJobs2(http.get(), &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
  for (int i = 0; i < count; ++i) states[jobs[i].id] = jobs[i].state;
  cupsFreeJobs(count, jobs);
  return states;
}

std::string Sandbox::ErrorLog() const {
  return ReadText(Path("log/error_log"));
}

std::string Sandbox::Diagnostics(size_t lines) const {
  std::vector<std::string> wanted;
  // Requests of clients (our own polling among them) say nothing about the jobs.
  for (const std::string& line : Lines(ErrorLog())) {
    if (!line.empty() && line[0] != 'D' && line[0] != 'd' &&
        line.find("] [Client ") == std::string::npos) {
      wanted.push_back(line);
    }
  }
  std::string text =
      "error_log, lines above debug level but of clients (last " + std::to_string(lines) + "):\n";
  const size_t first = wanted.size() > lines ? wanted.size() - lines : 0;
  for (size_t i = first; i < wanted.size(); ++i) text += "  " + wanted[i] + "\n";
  const std::string out = ReadText(Path("log/cupsd.out"));
  if (!out.empty()) text += "cupsd's own output:\n" + out;
  return text;
}

}  // namespace kemb::scheduler_test
