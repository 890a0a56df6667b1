// Start-up trimming of the log folder: oldest first, while the matching files together take
// 100 MiB or more, or while the oldest remaining one is a day old or older.

#include "util/log_folder_cleanup.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>

#include "util/log_folder_guard.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"

namespace halvorn {

namespace {

constexpr const char* kTag = "LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Oldest first; then the larger file; then the name that is greater byte-wise.
bool TakenBefore(const LogFileAge& a, const LogFileAge& b) {
  return std::tie(b.age_seconds, b.size, b.name) < std::tie(a.age_seconds, a.size, a.name);
}

}  // namespace

LogFolderCleanupPlan PlanLogFolderCleanup(const std::vector<LogFileEntry>& files,
                                          std::int64_t now_unix_seconds,
                                          const std::string& current_file) {
  LogFolderCleanupPlan plan;
  for (const LogFileEntry& file : files) {
    const std::int64_t written = file.last_write / kFileTimeUnitsPerSecond - kSecondsFrom1601To1970;
    LogFileAge age;
    age.name = file.name;
    age.size = file.size;
    age.age_seconds = (now_unix_seconds < 0 || written < 0)
                          ? 0.0
                          : static_cast<double>(now_unix_seconds - written);
    plan.folder_size += file.size;
    plan.listed.push_back(std::move(age));
  }

  std::vector<LogFileAge> order = plan.listed;
  std::stable_sort(order.begin(), order.end(), TakenBefore);
  std::uint64_t size = plan.folder_size;
  for (const LogFileAge& file : order) {
    if (size < kLogFolderMaxSize && file.age_seconds < kLogFileMaxAgeSeconds) {
      plan.stopped = true;
      plan.size_at_stop = size;
      plan.age_at_stop = file.age_seconds;
      break;
    }
    LogFileDeletion deletion;
    deletion.file = file;
    deletion.folder_size_before = size;
    deletion.over_size = size > kLogFolderMaxSize;
    deletion.over_age = file.age_seconds > kLogFileMaxAgeSeconds;
    // The file the logger is writing is never deleted (Windows refuses that by itself; other
    // systems would unlink it and lose the rest of this run's log).
    deletion.remove = current_file.empty() || file.name != current_file;
    plan.deletions.push_back(std::move(deletion));
    size -= file.size;
  }
  return plan;
}

void LogHelper::DeleteFileWhileExceedMaxSizeAndTime(LogFolderPlatform& fs,
                                                    const std::string& folder) {
  TraceEnter(kTag);
  const std::string sep(1, platform::kPathSeparator);
  const std::string pattern = folder + sep + kFilePrefix + "*" + kFileExtension;
  Print(LogInfo, kTag, "check path : %s ", pattern);

  // A pattern that does not fit its buffer names no folder of ours: nothing is enumerated.
  const bool fits = !folder.empty() && pattern.size() < kPathBufferSize;
  // Nor is a folder that another account could have put in place (log_folder_guard.h).
  const std::string refused =
      fits ? RefusedLogFolderLevel(fs, folder, platform::ProgramDataFolder()) : std::string();
  if (!refused.empty()) {
    Print(LogInfo, kTag, "log folder %s: not cleaned", refused);
    TraceLeave(kTag);
    return;
  }
  const std::int64_t now = fs.NowUnixSeconds();
  const std::vector<LogFileEntry> files =
      fits ? fs.FindFiles(folder, kFilePrefix, kFileExtension) : std::vector<LogFileEntry>();

  // The logger's file by its name in this folder (the listed names hold no separator).
  const std::string current = CurrentLogFilePath();
  const std::string in_folder = folder + sep;
  const std::string current_name =
      current.size() > in_folder.size() && current.compare(0, in_folder.size(), in_folder) == 0
          ? current.substr(in_folder.size())
          : std::string();
  const LogFolderCleanupPlan plan = PlanLogFolderCleanup(files, now, current_name);

  int number = 1;
  for (const LogFileAge& file : plan.listed) {
    Print(LogInfo, kTag, "add log file[%d] :diff[%.02f s] ; filesize[%.02f kb] %s ", number,
          file.age_seconds, static_cast<double>(file.size) / 1024.0, file.name);
    ++number;
  }
  int reason = 1;
  for (const LogFileDeletion& deletion : plan.deletions) {
    const LogFileAge& file = deletion.file;
    if (deletion.over_size) {
      Print(LogInfo, kTag,
            "because dwLogFolderSize: %d > max_size  = %d ; delete log file[%d] (%s) "
            "filesize[%d] ,after delete dwLogFolderSize = %d",
            deletion.folder_size_before, kLogFolderMaxSize, reason, file.name,
            static_cast<std::int64_t>(file.size), deletion.folder_size_before - file.size);
      ++reason;
    }
    if (deletion.over_age) {
      Print(LogInfo, kTag,
            "because item.time_diff[%I64d] > max_second_diff[%I64d] ; delete log file[%d] (%s)",
            static_cast<std::int64_t>(file.age_seconds),
            static_cast<std::int64_t>(kLogFileMaxAgeSeconds), reason, file.name);
      ++reason;
    }
    const std::string path = folder + sep + file.name;
    if (deletion.remove && path.size() < kPathBufferSize) {
      // Looked at again right before: the search saw a regular file, this is what is deleted.
      const std::string refused_file = RefusedLogFile(fs, path);
      if (refused_file.empty()) {
        fs.RemoveFile(path);
      } else {
        Print(LogInfo, kTag, "log file %s: not deleted", refused_file);
      }
    }
  }
  if (plan.stopped) {
    Print(LogInfo, kTag,
          "dwLogFolderSize: %.02f kb ,max_size  = %.02f kb ;item.time_diff = %f "
          ",max_second_diff = %f  ,break",
          static_cast<double>(plan.size_at_stop) / 1024.0,
          static_cast<double>(kLogFolderMaxSize) / 1024.0, plan.age_at_stop, kLogFileMaxAgeSeconds);
  }
  TraceLeave(kTag);
}

}  // namespace halvorn
