// File operations of the log-folder cleanup, per build.

#ifndef HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_
#define HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "util/log_folder_guard.h"

namespace halvorn::log_folder_platform {

struct FileEntry {
  std::string name;             // without the folder
  std::uint64_t size = 0;       // bytes
  std::int64_t last_write = 0;  // 100-nanosecond units since 1601-01-01 UTC
};

// Regular files of `folder` whose names begin with `prefix` and end in `suffix`, in the
// order the system enumerates them. Folders and links are left out: a link is never
// followed or counted. Empty when the folder does not exist.
std::vector<FileEntry> FindFiles(const std::string& folder,
                                 const std::string& prefix,
                                 const std::string& suffix);

// Deletes one file; true when it is gone.
bool RemoveFile(const std::string& path);

// What the system tells of `path` itself (a link at its end is not followed): whether it
// exists, is a link or a folder, who owns it and whether other accounts may write it.
PathFacts GetPathFacts(const std::string& path);

// Creates one level of the log folder with its protection, given explicitly rather than
// inherited: on Windows an access control list that does not inherit (SYSTEM and
// Administrators full control, Users read, passed on to what is made inside); on Linux mode
// 0755 whatever the umask. False when it exists or cannot be made.
bool MakeLogFolderLevel(const std::string& path);

// Seconds since 1970-01-01 UTC.
std::int64_t NowUnixSeconds();

}  // namespace halvorn::log_folder_platform

#endif  // HALVORN_UTIL_LOG_FOLDER_PLATFORM_H_
