#include "util/log_folder_guard.h"

#include "util/log_folder_platform.h"
#include "util/platform.h"

namespace halvorn {

PathVerdict JudgeLogPath(const PathFacts& facts, bool folder) {
  if (!facts.exists) {
    return PathVerdict::kAccept;
  }
  // A link is refused whatever it points to: its target can change after any check.
  if (facts.is_link) {
    return PathVerdict::kLink;
  }
  if (facts.is_directory != folder) {
    return folder ? PathVerdict::kNotAFolder : PathVerdict::kNotAFile;
  }
  switch (facts.owner) {
    case PathOwner::kSystem:
    case PathOwner::kService:
      break;
    case PathOwner::kOther:
      return PathVerdict::kOtherOwner;
    case PathOwner::kUnknown:
      return PathVerdict::kUnknownOwner;
  }
  // Only a folder's write permission lets another account put entries in place.
  if (folder && facts.others_may_write) {
    return PathVerdict::kOthersMayWrite;
  }
  return PathVerdict::kAccept;
}

const char* RefusalReason(PathVerdict verdict) {
  switch (verdict) {
    case PathVerdict::kAccept:
      return "is accepted";
    case PathVerdict::kLink:
      return "is a junction or symbolic link";
    case PathVerdict::kOtherOwner:
      return "is owned by another account than the system, the administrators or the service";
    case PathVerdict::kUnknownOwner:
      return "has an owner that cannot be read";
    case PathVerdict::kOthersMayWrite:
      return "can be written by other accounts";
    case PathVerdict::kNotAFolder:
      return "is not a folder";
    case PathVerdict::kNotAFile:
      return "is not a regular file";
  }
  return "is refused";
}

namespace {

// Calls visit(level, guarded) for every level of `folder` from the top: each prefix up to
// and including a separator, then the whole path; `guarded` for the levels below `root` (or
// for the folder alone when it does not lie below `root`). Stops at the first visit that
// gives a non-empty answer and returns it.
template <class Visit>
std::string ForEachLevel(const std::string& folder, const std::string& root, Visit visit) {
  const char sep = platform::kPathSeparator;
  std::size_t guarded_from = folder.size();  // the folder alone
  if (!root.empty() && folder.size() > root.size() + 1 &&
      folder.compare(0, root.size(), root) == 0) {
    if (root.back() == sep) {
      guarded_from = root.size();
    } else if (folder[root.size()] == sep) {
      guarded_from = root.size() + 1;
    }
  }
  for (std::size_t i = 1; i < folder.size(); ++i) {
    if (folder[i] != sep) {
      continue;
    }
    // A level below the root is named without its trailing separator.
    std::string answer = i >= guarded_from ? visit(folder.substr(0, i), true)
                                           : visit(folder.substr(0, i + 1), false);
    if (!answer.empty()) {
      return answer;
    }
  }
  if (folder.empty() || folder.back() == sep) {
    return {};
  }
  return visit(folder, true);
}

std::string Refusal(LogFolderPlatform& fs, const std::string& level) {
  const PathVerdict verdict = JudgeLogPath(fs.GetPathFacts(level), true);
  return verdict == PathVerdict::kAccept ? std::string() : level + " " + RefusalReason(verdict);
}

}  // namespace

std::string MakeLogFolder(LogFolderPlatform& fs,
                          const std::string& folder,
                          const std::string& root) {
  return ForEachLevel(folder, root, [&fs](const std::string& level, bool guarded) {
    // Failures are ignored: the root's levels and levels that exist fail.
    fs.MakeLogFolderLevel(level);
    return guarded ? Refusal(fs, level) : std::string();
  });
}

std::string RefusedLogFolderLevel(LogFolderPlatform& fs,
                                  const std::string& folder,
                                  const std::string& root) {
  return ForEachLevel(folder, root, [&fs](const std::string& level, bool guarded) {
    return guarded ? Refusal(fs, level) : std::string();
  });
}

std::string RefusedLogFile(LogFolderPlatform& fs, const std::string& path) {
  const PathVerdict verdict = JudgeLogPath(fs.GetPathFacts(path), false);
  return verdict == PathVerdict::kAccept ? std::string() : path + " " + RefusalReason(verdict);
}

}  // namespace halvorn
