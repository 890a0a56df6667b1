#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>

#include "util/log_folder_platform.h"

namespace halvorn::log_folder_platform {

namespace {
struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
}  // namespace

std::vector<FileEntry> FindFiles(const std::string& folder,
                                 const std::string& prefix,
                                 const std::string& suffix) {
  std::vector<FileEntry> files;
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
    FileEntry file;
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

std::int64_t NowUnixSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace halvorn::log_folder_platform
