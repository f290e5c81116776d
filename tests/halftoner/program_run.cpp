// SPDX-License-Identifier: Apache-2.0
// kemb_ID through the shared program runner.
#include "program_run.h"

namespace kemb::halftone::test {

std::string ProgramPath() {
  return kemb::testing::BinPath("kemb_ID");
}

Launch StartProgram(const std::vector<std::string>& args, std::optional<long> file_size_limit) {
  kemb::testing::ProgramCall call;
  call.program = ProgramPath();
  call.args = args;
  call.file_size_limit = file_size_limit;
  Launch launch;
  launch.running = kemb::testing::StartProgram(call);
  launch.pid = launch.running.pid;
  return launch;
}

Outcome Finish(Launch launch) {
  const kemb::testing::ProgramRun run = kemb::testing::Finish(launch.running);
  return {run.status, run.signal, run.OutText(), run.log};
}

Outcome RunProgram(const std::vector<std::string>& args, std::optional<long> file_size_limit) {
  return Finish(StartProgram(args, file_size_limit));
}

std::vector<std::string> Lines(const std::string& text) {
  return kemb::testing::SplitLines(text);
}

}  // namespace kemb::halftone::test
