// SPDX-License-Identifier: Apache-2.0
// Recovery after the server stopped in the middle of a job (crash, SIGKILL, power loss).
// PAPPL reads such a job back from its state file as "processing" with nothing to run it, and
// only when its state file was saved at the right moment: it cannot tell which job was on the
// printer. The application keeps its own record of that, and before PAPPL loads the state
// file RecoverJobs applies the rule: a job the server stopped in once goes back in the queue
// and prints again from its start, as CUPS does; a job it stopped in twice is aborted, as it
// may be what stops the server. The printers' settings are left as they are.
//   JobRecord    the record file: the jobs in the driver now, and the jobs the server stopped
//                in, with what became of them; rewritten whole (temporary file, then rename)
//                at each change, so a stop at any moment leaves the old record or the new
//   RecoverJobs  the rule, applied to the state file's job lines and to the record; the
//                system set-up gives each job it names its message
//   CleanJobAttributes  a job PAPPL reads back gets its ID, URIs, name and owner from the
//                state file and again from its attribute file: the second set goes
//   WriteAtomically  a file replaced whole or not at all
//   RemoveJobFolders  the private folders the stopped jobs left in the spool folder
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kemb::app {

// The jobs' messages for each outcome.
inline constexpr const char* kPrintsAgainMessage =
    "The server stopped during this job; it prints again from its start.";
inline constexpr const char* kStoppedTwiceMessage =
    "The server stopped twice during this job; it is not printed again.";
inline constexpr const char* kPrintedAfterRestartMessage =
    "Printed after the server restarted; the first attempt's pages may have printed too.";

enum class Recovered {
  kRequeued,  // back in the queue, to print again from its start
  kAborted,   // the server stopped twice during it
  kPrinted,   // printed after a restart (said again at every start while the job is listed)
  kNotKept,   // its document was streamed, not spooled: nothing to print again
};

struct RecoveredJob {
  int printer_id = 0;
  int job_id = 0;
  Recovered outcome = Recovered::kRequeued;
};

class JobRecord {
 public:
  struct Entry {
    int stops = 0;         // times the server stopped while the job was in the driver
    bool running = false;  // in the driver now
    bool printed = false;  // completed after a restart
  };
  using Key = std::pair<int, int>;  // printer ID, job ID

  explicit JobRecord(std::string path);
  // The driver takes the job: the times the server stopped in it before.
  int Started(int printer_id, int job_id);
  // The driver is done with the job; `printed`: it completed.
  void Ended(int printer_id, int job_id, bool printed);

  static std::map<Key, Entry> Read(const std::string& path);
  static bool Write(const std::string& path, const std::map<Key, Entry>& entries);

 private:
  std::mutex mutex_;
  std::string path_;
  std::map<Key, Entry> entries_;
};

// Applies the rule to the state file and the record file (both rewritten only when something
// changed); `spool_dir` holds the jobs' documents and attribute files.
std::vector<RecoveredJob> RecoverJobs(const std::string& state_file,
                                      const std::string& record_file,
                                      const std::string& spool_dir);
void CleanJobAttributes(const std::string& spool_dir, int printer_id, int job_id);
bool WriteAtomically(const std::string& path, const std::string& text);
// The private folders of jobs that were running (before any job starts).
void RemoveJobFolders(const std::string& spool_dir);

}  // namespace kemb::app
