// Start-up trimming of the log folder: oldest first, while the matching files together take
// 100 MiB or more, or while the oldest remaining one is a day old or older.

#include <cstdint>
#include <set>
#include <string>
#include <tuple>

#include "util/log_folder_guard.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"

namespace halvorn {

namespace {

constexpr const char* kTag = "LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
constexpr std::uint64_t kMaxSize = 104857600;  // 100 MiB
constexpr double kMaxSecondDiff = 86400.0;     // one day
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

struct LogFileItem {
  double time_diff = 0;
  std::int64_t file_size = 0;
  std::string file_name;

  // Oldest first; then the larger file; then the name that is greater byte-wise.
  bool operator<(const LogFileItem& other) const {
    return std::tie(other.time_diff, other.file_size, other.file_name) <
           std::tie(time_diff, file_size, file_name);
  }
};

}  // namespace

void LogHelper::DeleteFileWhileExceedMaxSizeAndTime(const std::string& folder) {
  namespace fs = log_folder_platform;
  TraceEnter(kTag);
  const std::string sep(1, platform::kPathSeparator);
  const std::string pattern = folder + sep + kFilePrefix + "*" + kFileExtension;
  Print(LogInfo, kTag, "check path : %s ", pattern);

  // A pattern that does not fit its buffer names no folder of ours: nothing is enumerated.
  const bool fits = !folder.empty() && pattern.size() < kPathBufferSize;
  // Nor is a folder that another account could have put in place (log_folder_guard.h).
  const std::string refused =
      fits ? RefusedLogFolderLevel(folder, platform::ProgramDataFolder()) : std::string();
  if (!refused.empty()) {
    Print(LogInfo, kTag, "log folder %s: not cleaned", refused);
    TraceLeave(kTag);
    return;
  }
  const std::int64_t now = fs::NowUnixSeconds();
  std::uint64_t dwLogFolderSize = 0;
  std::set<LogFileItem> items;
  if (fits) {
    int number = 1;
    for (const fs::FileEntry& file : fs::FindFiles(folder, kFilePrefix, kFileExtension)) {
      dwLogFolderSize += file.size;
      const std::int64_t written =
          file.last_write / kFileTimeUnitsPerSecond - kSecondsFrom1601To1970;
      LogFileItem item;
      item.time_diff = (now < 0 || written < 0) ? 0.0 : static_cast<double>(now - written);
      item.file_size = static_cast<std::int64_t>(file.size);
      item.file_name = file.name;
      Print(LogInfo, kTag, "add log file[%d] :diff[%.02f s] ; filesize[%.02f kb] %s ", number,
            item.time_diff, static_cast<double>(file.size) / 1024.0, item.file_name);
      items.insert(item);
      ++number;
    }
  }

  const std::string current = CurrentLogFilePath();
  int reason = 1;
  for (const LogFileItem& item : items) {
    if (dwLogFolderSize < kMaxSize && item.time_diff < kMaxSecondDiff) {
      Print(LogInfo, kTag,
            "dwLogFolderSize: %.02f kb ,max_size  = %.02f kb ;item.time_diff = %f "
            ",max_second_diff = %f  ,break",
            static_cast<double>(dwLogFolderSize) / 1024.0, static_cast<double>(kMaxSize) / 1024.0,
            item.time_diff, kMaxSecondDiff);
      break;
    }
    const auto size = static_cast<std::uint64_t>(item.file_size);
    if (dwLogFolderSize > kMaxSize) {
      Print(LogInfo, kTag,
            "because dwLogFolderSize: %d > max_size  = %d ; delete log file[%d] (%s) "
            "filesize[%d] ,after delete dwLogFolderSize = %d",
            dwLogFolderSize, kMaxSize, reason, item.file_name, item.file_size,
            dwLogFolderSize - size);
      ++reason;
    }
    if (item.time_diff > kMaxSecondDiff) {
      Print(LogInfo, kTag,
            "because item.time_diff[%I64d] > max_second_diff[%I64d] ; delete log file[%d] (%s)",
            static_cast<std::int64_t>(item.time_diff), static_cast<std::int64_t>(kMaxSecondDiff),
            reason, item.file_name);
      ++reason;
    }
    const std::string path = folder + sep + item.file_name;
    // The file the logger is writing is never deleted (Windows refuses that by itself; other
    // systems would unlink it and lose the rest of this run's log).
    if (path.size() < kPathBufferSize && path != current) {
      // Looked at again right before: the search saw a regular file, this is what is deleted.
      const std::string refused_file = RefusedLogFile(path);
      if (refused_file.empty()) {
        fs::RemoveFile(path);
      } else {
        Print(LogInfo, kTag, "log file %s: not deleted", refused_file);
      }
    }
    dwLogFolderSize -= size;
  }
  TraceLeave(kTag);
}

}  // namespace halvorn
