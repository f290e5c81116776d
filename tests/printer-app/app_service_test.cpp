// SPDX-License-Identifier: Apache-2.0
// The application as a service an administrator runs:
//   Shutdown   the `shutdown` sub-command and SIGTERM, idle and during a job: the server ends
//              and frees its port promptly (PAPPL 1.3.1 alone took 30 to 60 s), a running job is
//              canceled, and the spool is left empty
//   SubCommands  `modify` of the printer's description and defaults, `default -d`, and
//                `drivers` without a server's folders, each read back over IPP
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "printer-app/app_server.h"
#include "scheduler/process.h"
#include "support/scratch_dir.h"

namespace kemb::app_test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

bool PortFree(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  if (fd >= 0) close(fd);
  return free;
}

struct ShutdownCase {
  const char* name;
  bool by_signal;    // SIGTERM, else the `shutdown` sub-command
  bool job_running;  // a long PDF job is processing when the shutdown comes
};

class Shutdown : public ::testing::TestWithParam<ShutdownCase> {};

// A safety net far below PAPPL's own 30 s poll and 60 s job wait, far above the fraction of a
// second it takes.
constexpr auto kPrompt = std::chrono::seconds(15);

TEST_P(Shutdown, EndsPromptlyCancelsTheJobAndLeavesTheSpoolEmpty) {
  const ShutdownCase& c = GetParam();
  AppServer server;
  server.AddPrinter("lq", "kemb_wmz24");
  int job_id = 0;
  if (c.job_running) {
    Ipp ipp(server.port());
    const Submitted job = ipp.Print("lq", RampPdf(server.dir(), 80), "application/pdf");
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    job_id = job.job_id;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    for (int i = 0; i < 600 && state == IPP_JSTATE_PENDING; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      state = ipp.JobState("lq", job_id);
    }
    ASSERT_EQ(state, IPP_JSTATE_PROCESSING) << server.Log();
  }

  const Clock::time_point asked = Clock::now();
  if (c.by_signal) {
    ASSERT_EQ(kill(server.pid(), SIGTERM), 0);
  } else {
    auto r = server.Run({"shutdown"});
    ASSERT_TRUE(r.Ok()) << r.output;
  }
  while (server.Running() && Clock::now() - asked < kPrompt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto took = std::chrono::duration<double>(Clock::now() - asked).count();
  ASSERT_FALSE(server.Running()) << "still running " << took << " s after the shutdown\n"
                                 << server.Log();
  EXPECT_TRUE(PortFree(server.port()));
  EXPECT_EQ(FolderEntries(server.dir() + "/spool"), std::vector<std::string>{});
  if (c.job_running) {
    EXPECT_NE(server.JobLog(job_id).find("Canceled: the server is shutting down."),
              std::string::npos)
        << server.Log();
  }
}

INSTANTIATE_TEST_SUITE_P(, Shutdown,
                         ::testing::Values(ShutdownCase{"SubCommandIdle", false, false},
                                         ShutdownCase{"SubCommandDuringAJob", false, true},
                                         ShutdownCase{"SigtermIdle", true, false},
                                         ShutdownCase{"SigtermDuringAJob", true, true}),
                         [](const ::testing::TestParamInfo<ShutdownCase>& info) {
                           return std::string(info.param.name);
                         });

class SubCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new AppServer();
    server_->AddPrinter("lq", "kemb_wmz24");
    server_->AddPrinter("alt", "kemb_wmz24a");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  // The printer's attribute as ippAttributeString writes it; empty when it has none.
  static std::string Attribute(const std::string& printer, const char* name) {
    Ipp ipp(server_->port());
    ipp_t* request = ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 name);
    ipp_t* response = ipp.Do(printer, request);
    char value[1024] = "";
    if (ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO))
      ippAttributeString(attr, value, sizeof(value));
    ippDelete(response);
    return value;
  }
  static AppServer* server_;
};
AppServer* SubCommands::server_ = nullptr;

// PAPPL 1.3.1's own `modify` changed none of the description (its server stored them all as
// printer-geo-location) and sent print-content-optimize-default under a name its server
// refused; the application's own parts and PAPPL's (print-quality) in one command.
TEST_F(SubCommands, ModifySetsTheDescriptionAndTheDefaults) {
  struct Setting {
    const char* option;
    const char* attribute;
    const char* value;  // as the printer reports it
  };
  const Setting settings[] = {
      {"printer-location=Room 2.14", "printer-location", "Room 2.14"},
      {"printer-organization='ACME Works'", "printer-organization", "ACME Works"},
      {"printer-organizational-unit=Shipping", "printer-organizational-unit", "Shipping"},
      {"print-content-optimize-default=photo", "print-content-optimize-default", "photo"},
      {"print-quality-default=draft", "print-quality-default", "draft"},
  };
  std::vector<std::string> args{"modify", "-d", "lq"};
  for (const Setting& s : settings) {
    args.push_back("-o");
    args.push_back(s.option);
  }
  auto r = server_->Run(args);
  ASSERT_TRUE(r.Ok()) << r.output;
  for (const Setting& s : settings) EXPECT_EQ(Attribute("lq", s.attribute), s.value) << s.option;
  // The other printer keeps its own.
  EXPECT_EQ(Attribute("alt", "printer-location"), "");
  EXPECT_EQ(Attribute("alt", "print-content-optimize-default"), "auto");
}

TEST_F(SubCommands, ModifyRefusesAnUnknownContentKeywordAndChangesNothing) {
  const std::string before = Attribute("alt", "print-content-optimize-default");
  auto r = server_->Run({"modify", "-d", "alt", "-o", "print-content-optimize-default=photos",
                         "-o", "printer-location=Hall"});
  EXPECT_FALSE(r.Ok());
  EXPECT_NE(r.output.find("photos"), std::string::npos) << r.output;
  EXPECT_EQ(Attribute("alt", "print-content-optimize-default"), before);
  EXPECT_EQ(Attribute("alt", "printer-location"), "");
}

TEST_F(SubCommands, DefaultChoosesThePrinterAndRefusesAnUnknownOne) {
  for (const char* printer : {"alt", "lq"}) {
    auto set = server_->Run({"default", "-d", printer});
    ASSERT_TRUE(set.Ok()) << set.output;
    auto shown = server_->Run({"default"});
    ASSERT_TRUE(shown.Ok()) << shown.output;
    EXPECT_EQ(shown.output, std::string(printer) + "\n");
  }
  auto unknown = server_->Run({"default", "-d", "nosuch"});
  EXPECT_FALSE(unknown.Ok());
  EXPECT_NE(unknown.output.find("nosuch"), std::string::npos) << unknown.output;
}

// The jobs a `submit` reported ("lq-12"), in its order.
std::vector<int> SubmittedJobs(const std::string& output, const std::string& printer) {
  std::vector<int> ids;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(printer + "-", 0) == 0) ids.push_back(std::atoi(line.c_str() + printer.size() + 1));
  return ids;
}

// PAPPL 1.3.1's `submit` printed only the first of several files, and a `submit` right after
// another printed nothing: the printer takes one job at a time, answers busy while it prints,
// and PAPPL's `submit` gave up on that answer.
TEST_F(SubCommands, SubmitPrintsEveryFileInOrderWhileThePrinterIsBusy) {
  const std::string pdf = std::string(KEMB_SOURCE_DIR) + "/samples/sample.pdf";
  const std::string pwg = server_->dir() + "/page.pwg";
  {
    const std::vector<uint8_t> bytes =
        PwgStream({RenderSheet({"iso_a4_210x297mm", 180, 180, Drawing::kText})});
    std::ofstream(pwg, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string device = server_->DevicePath("lq");
  Ipp ipp(server_->port());
  auto print = [&](const std::vector<std::string>& files, size_t jobs) {
    const size_t before = FileSize(device);
    std::vector<std::string> args{"submit", "-d", "lq"};
    args.insert(args.end(), files.begin(), files.end());
    auto r = server_->Run(args, 300);
    EXPECT_TRUE(r.Ok()) << r.output;
    const std::vector<int> ids = SubmittedJobs(r.output, "lq");
    EXPECT_EQ(ids.size(), jobs) << r.output;
    for (auto& [id, state] : ipp.Wait("lq", ids))
      EXPECT_EQ(state, IPP_JSTATE_COMPLETED) << "job " << id << "\n" << server_->JobLog(id);
    return Tail(device, before);
  };
  const std::vector<uint8_t> pdf_alone = print({pdf}, 1);
  const std::vector<uint8_t> pwg_alone = print({pwg}, 1);
  ASSERT_FALSE(pdf_alone.empty());
  ASSERT_FALSE(pwg_alone.empty());
  std::vector<uint8_t> want = pdf_alone;
  want.insert(want.end(), pwg_alone.begin(), pwg_alone.end());
  want.insert(want.end(), pdf_alone.begin(), pdf_alone.end());
  EXPECT_TRUE(print({pdf, pwg, pdf}, 3) == want) << "the three files, one after the other";

  // Two `submit`s in a row: the second is sent while the first prints.
  const size_t before = FileSize(device);
  std::vector<int> ids;
  for (const std::string& file : {pwg, pdf}) {
    auto r = server_->Run({"submit", "-d", "lq", file}, 300);
    EXPECT_TRUE(r.Ok()) << r.output;
    for (int id : SubmittedJobs(r.output, "lq")) ids.push_back(id);
  }
  ASSERT_EQ(ids.size(), 2u);
  for (auto& [id, state] : ipp.Wait("lq", ids))
    EXPECT_EQ(state, IPP_JSTATE_COMPLETED) << "job " << id << "\n" << server_->JobLog(id);
  want = pwg_alone;
  want.insert(want.end(), pdf_alone.begin(), pdf_alone.end());
  EXPECT_TRUE(Tail(device, before) == want);
}

// PAPPL's `drivers` made a whole system to list them: the state and log folders, and port 8000.
TEST(DriversSubCommand, ListsEveryModelAndMakesNoFolder) {
  testing::TempDir home;
  auto r = scheduler_test::RunCommand(scheduler_test::Command(
      {std::string(KEMB_BIN_DIR) + "/kemb-printer-app", "drivers"},
      {"HOME=" + home.path(), "SNAP_COMMON=" + home.path() + "/state", "TMPDIR=" + home.path()}));
  ASSERT_TRUE(r.Ok()) << r.output;
  for (const char* driver : {"kemb_wmz24 ", "kemb_wmz24w ", "kemb_wmz24o ", "kemb_wmz24a "})
    EXPECT_NE(r.output.find(driver), std::string::npos) << r.output;
  EXPECT_EQ(FolderEntries(home.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kemb::app_test
