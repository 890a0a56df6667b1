// The service's last authorisation run, as its newest log file tells it: the outcome line
// that stands just before a run's exit trace line, and its time.

#ifndef HALVORN_CTL_LAST_RUN_H_
#define HALVORN_CTL_LAST_RUN_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/auth_outcome.h"

namespace halvorn {

struct LastRun {
  enum class Status {
    kFound,       // a finished run was found
    kNoFolder,    // the log folder is missing or its path cannot be built
    kNoLogFile,   // the folder holds no log file of the service
    kNoRun,       // the newest log files hold no finished run
    kUnreadable,  // the newest log file cannot be read
  };
  Status status = Status::kNoFolder;
  std::string folder;
  std::string log_file;  // the file the run was found in (or the newest one), without folder
  std::string time;      // "YYYY-MM-DD HH:MM:SS.mmm" of the outcome line
  std::optional<AuthOutcome> outcome;
  // The newest file ends in a line cut short (the service was writing, or the disk was full);
  // that line is left out.
  bool cut_line = false;
};

// The run in `text`, the content of one log file: the last outcome line of the job that the
// job's exit trace line follows. A last line without its line end is left out.
LastRun FindLastRunInText(std::string_view text);

// The log files of one start, newest first: the file being written, then its rotated files
// by index. Picked from `names` (the folder's log files) as those of the newest start.
std::vector<std::string> NewestStartFiles(const std::vector<std::string>& names);

class LogFolderPlatform;

// Reads the log folder `folder` (empty: its path could not be built) of `fs`.
LastRun FindLastRun(LogFolderPlatform& fs, const std::string& folder);

}  // namespace halvorn

#endif  // HALVORN_CTL_LAST_RUN_H_
