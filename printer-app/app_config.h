// SPDX-License-Identifier: Apache-2.0
// Where the application keeps its files, as the server was started with them.
#pragma once

#include <string>

namespace kemb::app {

struct AppConfig {
  std::string spool_dir;  // jobs' documents and each running job's private folder
  std::string state_dir;  // printers and settings; the test page
  std::string log_file;
};

AppConfig& Config();

}  // namespace kemb::app
