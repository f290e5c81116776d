// SPDX-License-Identifier: Apache-2.0
// cupstestppd on the compiled PPDs:
//   PpdFolder.HoldsExactlyTheModels      the build made one PPD per model and nothing else
//   Conformance/PassesCupstestppd        every PPD passes, warnings listed in the test output
//   FilterCheck.FailsWithoutTheFilter    the filter check is live: no rastertokemb, no pass
//
// cupstestppd looks for the PPD's filter below CUPS_SERVERBIN. The tests point it at a private
// server folder holding executable stand-ins named rastertokemb and texttokemb, so the check
// proves the PPD routes raster and text to those programs whether or not the real filters are
// installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "ppd_models.h"
#include "support/run_filter.h"
#include "support/scratch_dir.h"

namespace kemb::ppd_test {
namespace {

using kemb::testing::TempDir;

struct CupstestppdRun {
  int status;
  std::string report;
};

CupstestppdRun RunCupstestppd(const std::string& serverbin, const std::string& ppd) {
  kemb::testing::ProgramCall call;
  call.program = KEMB_CUPSTESTPPD;
  call.args = {"-v", ppd};
  call.env = {"CUPS_SERVERBIN=" + serverbin};
  const kemb::testing::ProgramRun run = kemb::testing::RunProgram(call);
  return {run.status, run.OutText() + run.log};
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& word) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(word) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// A server folder with stand-ins for the PPD's filters, safe by cupstestppd's ownership rules.
std::string MakeServerBin(const TempDir& dir) {
  namespace fs = std::filesystem;
  const fs::path filter_dir = fs::path(dir.path()) / "serverbin" / "filter";
  fs::create_directories(filter_dir);
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  for (const char* filter : {"rastertokemb", "texttokemb"}) {
    const fs::path stand_in = filter_dir / filter;
    std::ofstream(stand_in) << "#!/bin/sh\nexit 0\n";
    fs::permissions(stand_in, fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec);
  }
  return (fs::path(dir.path()) / "serverbin").string();
}

TEST(PpdFolder, HoldsExactlyTheModels) {
  std::set<std::string> expected;
  for (const PpdModel& model : Models()) expected.insert(model.file);
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(KEMB_PPD_DIR)) {
    if (entry.path().extension() == ".ppd") found.insert(entry.path().filename().string());
  }
  EXPECT_EQ(found, expected) << "PPDs in " << KEMB_PPD_DIR;
}

class Conformance : public ::testing::TestWithParam<PpdModel> {};

TEST_P(Conformance, PassesCupstestppd) {
  const PpdModel& model = GetParam();
  TempDir dir;
  const CupstestppdRun run = RunCupstestppd(MakeServerBin(dir), PpdPath(model));

  EXPECT_EQ(run.status, 0) << model.file << ":\n" << run.report;
  EXPECT_TRUE(LinesWith(run.report, "FAIL").empty()) << model.file << ":\n" << run.report;
  EXPECT_FALSE(LinesWith(run.report, "NO ERRORS FOUND").empty()) << model.file << ":\n"
                                                                 << run.report;
  for (const std::string& warning : LinesWith(run.report, "WARN")) {
    std::cout << model.file << ": " << warning << "\n";
  }
}

INSTANTIATE_TEST_SUITE_P(Models, Conformance, ::testing::ValuesIn(Models()),
                         [](const auto& info) { return ModelTestName(info.param); });

TEST(FilterCheck, FailsWithoutTheFilter) {
  TempDir dir;
  const std::string empty_serverbin = dir.File("empty");
  std::filesystem::create_directories(empty_serverbin + "/filter");
  const PpdModel& model = Models().front();
  const CupstestppdRun run = RunCupstestppd(empty_serverbin, PpdPath(model));

  EXPECT_NE(run.status, 0) << model.file << ":\n" << run.report;
  const std::vector<std::string> fails = LinesWith(run.report, "FAIL");
  EXPECT_TRUE(std::any_of(
      fails.begin(), fails.end(),
      [](const std::string& line) { return line.find("rastertokemb") != std::string::npos; }))
      << model.file << ":\n"
      << run.report;
}

}  // namespace
}  // namespace kemb::ppd_test
