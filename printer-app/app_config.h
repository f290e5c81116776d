// SPDX-License-Identifier: Apache-2.0
// Where the application keeps its files, as the server was started with them.
#pragma once

#include <string>

namespace kemb::app {

class JobRecord;

struct AppConfig {
  std::string spool_dir;  // jobs' documents and each running job's private folder
  std::string state_dir;  // printers and settings; the test page
  std::string log_file;
  JobRecord* jobs = nullptr;  // the jobs in the driver, for recovery after a stop
};

AppConfig& Config();

}  // namespace kemb::app
