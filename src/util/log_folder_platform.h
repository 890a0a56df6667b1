// File operations of the log folder (its making, its protection checks, its cleanup), per
// build: facts and single operations only, the decisions live in log_folder_guard.cc and
// log_folder_cleanup.cc.

#ifndef HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_
#define HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "util/log_folder_guard.h"

namespace halvorn {

struct LogFileEntry {
  std::string name;             // without the folder
  std::uint64_t size = 0;       // bytes
  std::int64_t last_write = 0;  // 100-nanosecond units since 1601-01-01 UTC
};

class LogFolderPlatform {
 public:
  virtual ~LogFolderPlatform() = default;

  // Regular files of `folder` whose names begin with `prefix` and end in `suffix`, in the
  // order the system enumerates them. Folders and links are left out: a link is never
  // followed or counted. Empty when the folder does not exist.
  virtual std::vector<LogFileEntry> FindFiles(const std::string& folder,
                                              const std::string& prefix,
                                              const std::string& suffix) = 0;

  // Deletes one file; true when it is gone.
  virtual bool RemoveFile(const std::string& path) = 0;

  // What the system tells of `path` itself (a link at its end is not followed): whether it
  // exists, is a link or a folder, who owns it and whether other accounts may write it.
  virtual PathFacts GetPathFacts(const std::string& path) = 0;

  // Creates one level of the log folder with its protection, given explicitly rather than
  // inherited: on Windows an access control list that does not inherit (SYSTEM and
  // Administrators full control, Users read, passed on to what is made inside); on Linux mode
  // 0755 whatever the umask. False when it exists or cannot be made.
  virtual bool MakeLogFolderLevel(const std::string& path) = 0;

  // Seconds since 1970-01-01 UTC.
  virtual std::int64_t NowUnixSeconds() = 0;
};

// The file system of this process's system (win/log_folder_win.cc, linux/log_folder_linux.cc).
LogFolderPlatform& SystemLogFolderPlatform();

}  // namespace halvorn

#endif  // HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_
