#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "util/linux/scoped_fd.h"
#include "util/log_folder_platform.h"

namespace halvorn {

namespace {
// The operations, each on its own; SystemLogFolderPlatform() below binds them.
namespace op {

namespace {
struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
}  // namespace

std::vector<LogFileEntry> FindFiles(const std::string& folder,
                                    const std::string& prefix,
                                    const std::string& suffix) {
  std::vector<LogFileEntry> files;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) {
    return files;
  }
  const int dir_fd = ::dirfd(dir.get());
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.size() < prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    struct stat st {};
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    LogFileEntry file;
    file.name = std::move(name);
    file.size = static_cast<std::uint64_t>(st.st_size);
    file.last_write =
        (static_cast<std::int64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
        st.st_mtim.tv_nsec / 100;
    files.push_back(std::move(file));
  }
  return files;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

PathFacts GetPathFacts(const std::string& path) {
  PathFacts facts;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    // Only a missing entry is missing; one that cannot be looked at is there, unknown.
    facts.exists = errno != ENOENT && errno != ENOTDIR;
    return facts;
  }
  facts.exists = true;
  facts.is_link = S_ISLNK(st.st_mode);
  facts.is_directory = S_ISDIR(st.st_mode);
  facts.owner = st.st_uid == 0             ? PathOwner::kSystem
                : st.st_uid == ::geteuid() ? PathOwner::kService
                                           : PathOwner::kOther;
  facts.others_may_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return facts;
}

bool MakeLogFolderLevel(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0) {
    return false;
  }
  // The mode on the folder just made, not on whatever the path names by now.
  const ScopedFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return fd.is_valid() && ::fchmod(fd.get(), 0755) == 0;
}

std::int64_t NowUnixSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace op

class SystemLogFolder final : public LogFolderPlatform {
 public:
  std::vector<LogFileEntry> FindFiles(const std::string& folder,
                                      const std::string& prefix,
                                      const std::string& suffix) override {
    return op::FindFiles(folder, prefix, suffix);
  }
  bool RemoveFile(const std::string& path) override { return op::RemoveFile(path); }
  PathFacts GetPathFacts(const std::string& path) override { return op::GetPathFacts(path); }
  bool MakeLogFolderLevel(const std::string& path) override { return op::MakeLogFolderLevel(path); }
  std::int64_t NowUnixSeconds() override { return op::NowUnixSeconds(); }
};

}  // namespace

LogFolderPlatform& SystemLogFolderPlatform() {
  static SystemLogFolder platform;
  return platform;
}

}  // namespace halvorn
