// SPDX-License-Identifier: Apache-2.0
// The compiled PPDs read through libcups, as the filter and the scheduler read them:
//   OpenPpd        parse a PPD (null on failure); closed when the handle goes
//   PpdOpenError   the parser's complaint about the last failed open
//   FindOption     a UI option by keyword
//   FindPageSize   a page size's dimensions and imageable area by keyword
//   AttributeValues  the values of every main keyword of that name, in file order
// libcups marks its PPD API deprecated; the warnings are silenced here and nowhere else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#pragma GCC diagnostic pop

namespace kemb::ppd_test {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ppdClose(ppd);
#pragma GCC diagnostic pop
  }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

inline PpdHandle OpenPpd(const std::string& path) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return PpdHandle(ppdOpenFile(path.c_str()));
#pragma GCC diagnostic pop
}

inline std::string PpdOpenError() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  int line = 0;
  const ppd_status_t status = ppdLastError(&line);
  return std::string(ppdErrorString(status)) + " on line " + std::to_string(line);
#pragma GCC diagnostic pop
}

inline ppd_option_t* FindOption(ppd_file_t* ppd, const char* keyword) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ppdFindOption(ppd, keyword);
#pragma GCC diagnostic pop
}

inline ppd_size_t* FindPageSize(ppd_file_t* ppd, const std::string& keyword) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ppdPageSize(ppd, keyword.c_str());
#pragma GCC diagnostic pop
}

inline std::vector<std::string> AttributeValues(ppd_file_t* ppd, const char* name) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  std::vector<std::string> values;
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    values.emplace_back(attr->value != nullptr ? attr->value : "");
  }
  return values;
#pragma GCC diagnostic pop
}

}  // namespace kemb::ppd_test
