#include <windows.h>

#include <ctime>

#include "util/log_folder_platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn::log_folder_platform {

namespace {}  // namespace

std::vector<FileEntry> FindFiles(const std::string& folder,
                                 const std::string& prefix,
                                 const std::string& suffix) {
  std::vector<FileEntry> files;
  const std::string pattern = folder + "\\" + prefix + "*" + suffix;
  WIN32_FIND_DATAA data{};
  win::ScopedFindHandle find(::FindFirstFileA(pattern.c_str(), &data));
  if (!find.is_valid()) {
    return files;
  }
  do {
    // Only regular files: folders and links (reparse points) are neither counted nor
    // deleted.
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    std::string name = data.cFileName;
    // The search also matches through 8.3 short names; keep the exact rule.
    if (name.size() < prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    FileEntry file;
    file.name = std::move(name);
    file.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
    file.last_write = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) +
        data.ftLastWriteTime.dwLowDateTime);
    files.push_back(std::move(file));
  } while (::FindNextFileA(find.get(), &data));
  return files;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != FALSE;
}

std::int64_t NowUnixSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace halvorn::log_folder_platform
