// Whether a level of the log folder, or a file in it, may be written to or cleaned, from
// what the system tells of it.
//
// The service writes and deletes there with the rights of the system account. A level or a
// file that another account could have put in place would let that account steer those writes
// and deletions anywhere: a junction or symbolic link (on Windows any reparse point), an entry
// the account owns, or a folder it may write into. Such an entry is refused; a missing one is
// accepted (start-up makes it, with the log folder's own protection).

#ifndef HALVORN_UTIL_LOG_FOLDER_GUARD_H_
#define HALVORN_UTIL_LOG_FOLDER_GUARD_H_

#include <string>

namespace halvorn {

class LogFolderPlatform;

// Who owns an entry.
enum class PathOwner {
  kUnknown,  // the owner could not be read
  kSystem,   // Windows: SYSTEM or Administrators; Linux: root
  kService,  // the account this process runs as
  kOther,    // any other account
};

// What the system tells of one entry itself; a link at its end is not followed.
struct PathFacts {
  bool exists = false;
  bool is_link = false;  // junction, symbolic link or other reparse point
  bool is_directory = false;
  PathOwner owner = PathOwner::kUnknown;
  bool others_may_write = false;  // Linux: write permission for group or others
};

enum class PathVerdict {
  kAccept,
  kLink,
  kOtherOwner,
  kUnknownOwner,
  kOthersMayWrite,
  kNotAFolder,
  kNotAFile,
};

// The verdict on a level of the log folder (`folder` true) or on a log file.
PathVerdict JudgeLogPath(const PathFacts& facts, bool folder);

// Why an entry is refused, to follow its path in a line: "is a junction or symbolic link".
const char* RefusalReason(PathVerdict verdict);

// Makes every missing level of `folder` on `fs`, each with the log folder's protection
// (log_folder_platform.h), and checks each level below `root` (made or found) before it makes
// the next one in it: nothing is made inside a refused level. Returns "<level> <reason>" for
// the refused level, or empty when the folder is accepted.
std::string MakeLogFolder(LogFolderPlatform& fs,
                          const std::string& folder,
                          const std::string& root);

// "<level> <reason>" for the first level of `folder` that is refused, checked from the top:
// every level below `root` when the folder lies below it, else the folder alone. Empty when
// every level is accepted.
std::string RefusedLogFolderLevel(LogFolderPlatform& fs,
                                  const std::string& folder,
                                  const std::string& root);

// "<path> <reason>" when the log file `path` is refused, else empty.
std::string RefusedLogFile(LogFolderPlatform& fs, const std::string& path);

}  // namespace halvorn

#endif  // HALVORN_UTIL_LOG_FOLDER_GUARD_H_
