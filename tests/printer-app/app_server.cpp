// SPDX-License-Identifier: Apache-2.0
// AppServer, Ipp and the sheet renderer.
#include "printer-app/app_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kemb::app_test {
namespace {

std::string Bin(const std::string& name) {
  return std::string(KEMB_BIN_DIR) + "/" + name;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("no free port");
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace

size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<size_t>(in.tellg()) : 0;
}

std::vector<uint8_t> Tail(const std::string& path, size_t from) {
  std::vector<uint8_t> all = ReadFile(path);
  return from < all.size() ? std::vector<uint8_t>(all.begin() + static_cast<long>(from), all.end())
                           : std::vector<uint8_t>{};
}

AppServer::AppServer() {
  mkdir((dir_ + "/state").c_str(), 0700);
  port_ = FreePort();
  Start();
}

void AppServer::Start() {
  scheduler_test::Command command(
      {Bin("kemb-printer-app"), "server", "-o", "server-port=" + std::to_string(port_), "-o",
       "server-options=no-tls", "-o", "listen-hostname=localhost", "-o",
       "server-hostname=localhost", "-o", "spool-directory=" + dir_ + "/spool", "-o",
       "log-file=" + dir_ + "/app.log", "-o",
       std::string("log-level=") +
           (getenv("KEMB_APP_LOG_LEVEL") ? getenv("KEMB_APP_LOG_LEVEL") : "info")},
      {"SNAP_COMMON=" + dir_ + "/state"});
  daemon_ = std::make_unique<scheduler_test::Daemon>(command, dir_ + "/server.out");
  // Ready when it answers on its port.
  for (int i = 0; i < 200; ++i) {
    http_t* http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                                1000, nullptr);
    if (http) {
      httpClose(http);
      return;
    }
    if (!daemon_->Running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("kemb-printer-app did not start: " + Log());
}

AppServer::~AppServer() {
  Stop();
}

bool AppServer::Stop() {
  return daemon_ ? daemon_->Stop() : true;
}

void AppServer::Kill() {
  if (!daemon_ || !daemon_->Running()) return;
  kill(-daemon_->pid(), SIGKILL);  // the server and whatever it runs, as a power loss would
  daemon_->Stop(0);
  daemon_.reset();
}

void AppServer::Restart() {
  Stop();
  daemon_.reset();
  Start();
}

std::string AppServer::Uri(const std::string& printer) const {
  return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + printer;
}

std::string AppServer::Log() const {
  std::ifstream in(dir_ + "/app.log");
  std::string text{std::istreambuf_iterator<char>(in), {}};
  std::ifstream out(dir_ + "/server.out");
  return text + std::string{std::istreambuf_iterator<char>(out), {}};
}

std::string AppServer::JobLog(int job_id) const {
  // PAPPL tags a job's lines "[Job N]".
  const std::string tag = "[Job " + std::to_string(job_id) + "]";
  std::istringstream log(Log());
  std::string line, lines;
  while (std::getline(log, line))
    if (line.find(tag) != std::string::npos) lines += line + "\n";
  return lines;
}

scheduler_test::CommandResult AppServer::Run(std::vector<std::string> args, int timeout) const {
  args.insert(args.begin(), Bin("kemb-printer-app"));
  return scheduler_test::RunCommand(
      scheduler_test::Command(args, {"SNAP_COMMON=" + dir_ + "/state"}, timeout));
}

void AppServer::AddPrinter(const std::string& name, const std::string& driver,
                           const std::string& device_uri) {
  std::string uri = device_uri;
  if (uri.empty()) {
    std::ofstream(DevicePath(name)).flush();  // a file device must exist before it is added
    uri = "file://" + DevicePath(name);
  }
  auto result = Run({"add", "-d", name, "-m", driver, "-v", uri});
  if (!result.Ok()) throw std::runtime_error("add " + name + ": " + result.output);
}

std::vector<uint8_t> RampPdf(const std::string& dir, int pages) {
  const std::string path = dir + "/ramp.pdf";
  std::string ps =
      "/ramp { 0 1 99 { /i exch def i 100 div setgray 30 i 7.8 mul 30 add 535 7.8 "
      "rectfill } for showpage } def";
  for (int i = 0; i < pages; ++i) ps += " ramp";
  auto r = scheduler_test::RunCommand(
      scheduler_test::Command({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                               "-sPAPERSIZE=a4", "-o", path, "-c", ps}));
  if (!r.Ok()) throw std::runtime_error("gs: " + r.output);
  return ReadFile(path);
}

namespace {
// A loopback listener on `port` (0: any free one); -1 when it cannot.
int Listen(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(*port));
  socklen_t len = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}
}  // namespace

SocketPrinter::SocketPrinter(size_t reset_after, Cut cut, size_t pace)
    : reset_after_(reset_after), cut_(cut), pace_(pace) {
  listener_ = Listen(&port_);
  if (listener_ < 0) throw std::runtime_error(std::string("socket printer: ") + std::strerror(errno));
  thread_ = std::thread([this] { Serve(); });
}

SocketPrinter::~SocketPrinter() {
  stop_ = true;
  thread_.join();
  if (listener_ >= 0) close(listener_);
}

void SocketPrinter::SwitchOff() {
  std::lock_guard lock(mutex_);
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void SocketPrinter::SwitchOn() {
  std::lock_guard lock(mutex_);
  if (listener_ >= 0) return;
  int port = port_;
  listener_ = Listen(&port);
  if (listener_ < 0) throw std::runtime_error(std::string("socket printer: ") + std::strerror(errno));
}

bool SocketPrinter::down() {
  std::lock_guard lock(mutex_);
  return listener_ < 0;
}

// A raw-port printer serves one connection to its end before it takes the next; a second
// client waits in the backlog meanwhile.
void SocketPrinter::Serve() {
  std::vector<uint8_t> buffer(65536);
  while (!stop_) {
    int listener;
    {
      std::lock_guard lock(mutex_);
      listener = listener_;
    }
    if (listener < 0) {  // switched off: nothing answers on its port
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    pollfd listening{listener, POLLIN, 0};
    if (poll(&listening, 1, 50) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (pace_ > 0) {
      const int window = static_cast<int>(std::min<size_t>(pace_, 65536));
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof(window));
    }
    size_t left = 0;  // bytes until the reset, when this connection is to be reset
    {
      std::lock_guard lock(mutex_);
      ++connections_;
      connected_ = true;
      last_activity_ = std::chrono::steady_clock::now();
      if (connections_ == 1) left = reset_after_;
    }
    const bool resets = left > 0;
    while (!stop_ && !(resets && left == 0)) {
      pollfd reading{fd, POLLIN, 0};
      if (poll(&reading, 1, 50) <= 0) continue;
      size_t want = resets ? std::min(left, buffer.size()) : buffer.size();
      if (pace_ > 0) want = std::min(want, pace_);
      const ssize_t n = read(fd, buffer.data(), want);
      if (n <= 0) break;
      if (pace_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (resets) left -= static_cast<size_t>(n);
      std::lock_guard lock(mutex_);
      bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + n);
      last_activity_ = std::chrono::steady_clock::now();
    }
    if (resets) {
      linger abort{1, 0};  // close with a reset, not a polite end of stream
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    close(fd);
    std::lock_guard lock(mutex_);
    if (resets && cut_ == Cut::kDies) {
      close(listener_);
      listener_ = -1;
    }
    connected_ = false;
    last_activity_ = std::chrono::steady_clock::now();
  }
}

std::vector<uint8_t> SocketPrinter::Bytes(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      const auto now = std::chrono::steady_clock::now();
      if ((!connected_ && now - last_activity_ > std::chrono::milliseconds(300)) || now > deadline)
        return bytes_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

size_t SocketPrinter::connections() {
  std::lock_guard lock(mutex_);
  return connections_;
}

Ipp::Ipp(int port) : port_(port) {
  http_ = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                       nullptr);
  if (!http_) throw std::runtime_error("cannot connect to the printer application");
}

Ipp::~Ipp() {
  httpClose(http_);
}

std::string Ipp::Uri(const std::string& printer) const {
  return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + printer;
}

ipp_t* Ipp::NewRequest(ipp_op_t op, const std::string& printer) const {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               Uri(printer).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  return request;
}

ipp_t* Ipp::Do(const std::string& printer, ipp_t* request) {
  return cupsDoRequest(http_, request, ("/ipp/print/" + printer).c_str());
}

Submitted Ipp::Print(const std::string& printer, const std::vector<uint8_t>& document,
                     const std::string& format, const JobAttributes& attrs, int busy_seconds) {
  Submitted result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(busy_seconds);
  const std::string resource = "/ipp/print/" + printer;
  for (;;) {
    ipp_t* request = NewRequest(IPP_OP_PRINT_JOB, printer);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 format.c_str());
    if (!attrs.content.empty())
      ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-content-optimize", nullptr,
                   attrs.content.c_str());
    if (attrs.xdpi)
      ippAddResolution(request, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, attrs.xdpi,
                       attrs.ydpi);
    if (attrs.quality)
      ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, "print-quality", attrs.quality);
    if (attrs.copies) ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", attrs.copies);
    if (!attrs.media_type.empty()) {
      pwg_media_t* pwg = pwgMediaForPWG(attrs.media.c_str());
      ipp_t* col = ippNew();
      ipp_t* size = ippNew();
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", pwg ? pwg->width : 0);
      ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", pwg ? pwg->length : 0);
      ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
      ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", nullptr,
                   attrs.media_type.c_str());
      ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
      ippDelete(size);
      ippDelete(col);
    } else if (!attrs.media.empty()) {
      ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, attrs.media.c_str());
    }
    ipp_t* response = nullptr;
    // The HTTP length covers the IPP message as well as the document after it.
    if (cupsSendRequest(http_, request, resource.c_str(), ippLength(request) + document.size()) ==
        HTTP_STATUS_CONTINUE) {
      size_t off = 0;
      while (off < document.size()) {
        size_t n = std::min<size_t>(65536, document.size() - off);
        if (cupsWriteRequestData(http_, reinterpret_cast<const char*>(document.data() + off), n) !=
            HTTP_STATUS_CONTINUE)
          break;
        off += n;
      }
      httpFlushWrite(http_);
    }
    response = cupsGetResponse(http_, resource.c_str());
    ippDelete(request);
    result.status = cupsLastError();
    result.message = cupsLastErrorString();
    if (response) {
      result.status = ippGetStatusCode(response);
      result.job_id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
      ippDelete(response);
    }
    if (result.status != IPP_STATUS_ERROR_BUSY || std::chrono::steady_clock::now() > deadline)
      return result;
    ++result.busy_answers;
    httpFlush(http_);
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 25 * (result.busy_answers % 4)));
  }
}

ipp_jstate_t Ipp::JobState(const std::string& printer, int job_id) {
  ipp_t* request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, printer);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ipp_t* response = Do(printer, request);
  ipp_jstate_t state = static_cast<ipp_jstate_t>(
      ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0));
  ippDelete(response);
  return state;
}

bool Ipp::Cancel(const std::string& printer, int job_id) {
  ipp_t* request = NewRequest(IPP_OP_CANCEL_JOB, printer);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ippDelete(Do(printer, request));
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

std::map<int, ipp_jstate_t> Ipp::Wait(const std::string& printer, const std::vector<int>& ids,
                                      int timeout_seconds) {
  std::map<int, ipp_jstate_t> states;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  for (int id : ids) {
    ipp_jstate_t state;
    while ((state = JobState(printer, id)) < IPP_JSTATE_CANCELED &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    states[id] = state;
  }
  return states;
}

SheetPage RenderSheet(const Sheet& sheet) {
  SheetPage page;
  if (!cupsRasterInitPWGHeader(&page.header, pwgMediaForPWG(sheet.media.c_str()), "srgb_8",
                               static_cast<int>(sheet.xdpi), static_cast<int>(sheet.ydpi),
                               "one-sided", nullptr))
    throw std::runtime_error("no PWG header for " + sheet.media);
  const cups_page_header2_t& h = page.header;
  page.rgb.assign(size_t{h.cupsBytesPerLine} * h.cupsHeight, 0xFF);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    const double py = y * 72.0 / sheet.ydpi;  // points from the top
    uint8_t* row = page.rgb.data() + size_t{y} * h.cupsBytesPerLine;
    const bool picture =
        sheet.drawing == Drawing::kPicture || (sheet.drawing == Drawing::kMixed && py > 400);
    for (unsigned x = 0; x < h.cupsWidth; ++x) {
      const double px = x * 72.0 / sheet.xdpi;
      uint8_t* p = row + 3 * size_t{x};
      if (px < 6 || py < 6) continue;  // the sheet's very edge: outside every printable area
      if (picture) {
        if (px < 40 || px > 560 || py > 800) continue;
        const double v = 150 + 90 * std::sin(px / 37.0) * std::cos(py / 53.0);
        p[0] = static_cast<uint8_t>(std::clamp(v + 30 * std::sin(py / 90.0), 0.0, 255.0));
        p[1] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
        p[2] = static_cast<uint8_t>(std::clamp(v - 30 * std::cos(px / 70.0), 0.0, 255.0));
      } else {
        // Lines of glyph-like strokes, 9 points high every 14 points.
        if (px < 30 || px > 580 || py < 30 || py > 780) continue;
        const int line = static_cast<int>((py - 30) / 14);
        const double in_line = std::fmod(py - 30, 14.0);
        const int cell = static_cast<int>((px - 30) / 7);
        const double in_cell = std::fmod(px - 30, 7.0);
        if (in_line > 9 || in_cell > 5 || (cell * 7 + line * 3) % 11 == 0) continue;
        const unsigned shape = static_cast<unsigned>(cell * 2654435761u + line * 40503u) >> 7;
        const bool stem = in_cell < 1.2 && (shape & 1);
        const bool bar = (in_line < 1.2 && (shape & 2)) || (in_line > 7.8 && (shape & 4)) ||
                         (std::fabs(in_line - 4.5) < 0.6 && (shape & 8));
        const bool right = in_cell > 3.8 && (shape & 16);
        if (stem || bar || right) p[0] = p[1] = p[2] = 0;
      }
    }
  }
  return page;
}

std::vector<uint8_t> PwgStream(const std::vector<SheetPage>& pages, cups_mode_t mode) {
  std::vector<uint8_t> bytes;
  cups_raster_t* raster = cupsRasterOpenIO(
      [](void* ctx, unsigned char* data, size_t len) -> ssize_t {
        auto* out = static_cast<std::vector<uint8_t>*>(ctx);
        out->insert(out->end(), data, data + len);
        return static_cast<ssize_t>(len);
      },
      &bytes, mode);
  for (const SheetPage& page : pages) {
    cups_page_header2_t header = page.header;
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages.size());
    cupsRasterWriteHeader2(raster, &header);
    cupsRasterWritePixels(raster, const_cast<uint8_t*>(page.rgb.data()),
                          static_cast<unsigned>(page.rgb.size()));
  }
  cupsRasterClose(raster);
  return bytes;
}

}  // namespace kemb::app_test
