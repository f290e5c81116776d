// SPDX-License-Identifier: Apache-2.0
// Recovery after the server stopped in the middle of a job (crash, SIGKILL, power loss).
// PAPPL reads such a job back from its state file as "processing" with nothing to run it: it
// would stay so for good. Before PAPPL loads the file, RecoverJobs puts each such job back in
// the queue to print again from its start, as CUPS does; a job the server stopped in once
// already is aborted instead, as it may be what stops the server. The printers' settings are
// left as they are.
//   RecoverJobs  rewrites the state file's job lines; the record file keeps the jobs put back,
//                to know a second time. The system set-up gives each such job its message.
//   RemoveJobFolders  the private folders those jobs left in the spool folder
#pragma once

#include <string>
#include <vector>

namespace kemb::app {

struct RecoveredJob {
  int printer_id = 0;
  int job_id = 0;
  bool requeued = false;  // else aborted
};

std::vector<RecoveredJob> RecoverJobs(const std::string& state_file,
                                      const std::string& record_file);
// The private folders of jobs that were running (before any job starts).
void RemoveJobFolders(const std::string& spool_dir);

}  // namespace kemb::app
