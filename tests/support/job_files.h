// SPDX-License-Identifier: Apache-2.0
// Job IDs and temporary files of the filter as tests see them:
//   UniqueJobId     a job ID no other test process uses, so parallel tests never share spool names
//   SpoolFolders    where a job makes its private folder: /tmp, and $TMPDIR when it is set
//   SpoolFilesLeft  kemb<job>.XXXXXX folders and kemb<job>_* files still there after a job
//   JobFolderIn     the job's private folder as a log (or other text) names it; empty if none
//   FolderAsWord    a log with that folder written "<folder>", to compare two runs' logs
#pragma once

#include <string>
#include <vector>

namespace kemb::testing {

std::string UniqueJobId();
std::vector<std::string> SpoolFolders();
std::vector<std::string> SpoolFilesLeft(const std::string& job,
                                        const std::vector<std::string>& folders = SpoolFolders());
std::string JobFolderIn(const std::string& text, const std::string& job);
std::string FolderAsWord(std::string log, const std::string& job);

}  // namespace kemb::testing
