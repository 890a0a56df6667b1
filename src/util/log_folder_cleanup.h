// The start-up trim of the log folder as a decision over plain facts: which log files go,
// oldest first, while the matching files together take 100 MiB or more, or while the oldest
// remaining one is a day old or older. LogHelper::DeleteFileWhileExceedMaxSizeAndTime lists
// the folder, logs this plan and deletes what it names.

#ifndef HALVORN_UTIL_LOG_FOLDER_CLEANUP_H_
#define HALVORN_UTIL_LOG_FOLDER_CLEANUP_H_

#include <cstdint>
#include <string>
#include <vector>

#include "util/log_folder_platform.h"

namespace halvorn {

inline constexpr std::uint64_t kLogFolderMaxSize = 104857600;  // 100 MiB
inline constexpr double kLogFileMaxAgeSeconds = 86400.0;       // one day

// One listed file as the trim weighs it.
struct LogFileAge {
  std::string name;
  std::uint64_t size = 0;
  double age_seconds = 0;  // now minus its last write; 0 when either is before 1970
};

// One file the trim takes, in the order taken.
struct LogFileDeletion {
  LogFileAge file;
  std::uint64_t folder_size_before = 0;  // the folder's total before this file counts off
  bool over_size = false;                // the total is above 100 MiB
  bool over_age = false;                 // the file is older than a day
  // False for the file the logger is writing, which is kept (and still counted off).
  bool remove = true;
};

struct LogFolderCleanupPlan {
  std::vector<LogFileAge> listed;  // every file, in the order listed
  std::uint64_t folder_size = 0;   // their total
  std::vector<LogFileDeletion> deletions;
  // Where the trim stopped (it stops at the first file it keeps): the total left and that
  // file's age. Unset when no file was kept.
  bool stopped = false;
  std::uint64_t size_at_stop = 0;
  double age_at_stop = 0;
};

// The trim of `files` (as LogFolderPlatform::FindFiles lists them) at `now_unix_seconds`.
// Files go oldest first, then the larger, then the name greater byte-wise; `current_file`
// (a name in the folder, empty for none) is never removed.
LogFolderCleanupPlan PlanLogFolderCleanup(const std::vector<LogFileEntry>& files,
                                          std::int64_t now_unix_seconds,
                                          const std::string& current_file);

}  // namespace halvorn

#endif  // HALVORN_UTIL_LOG_FOLDER_CLEANUP_H_
