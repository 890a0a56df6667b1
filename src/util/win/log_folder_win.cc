#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <ctime>
#include <memory>
#include <vector>

#include "util/log_folder_platform.h"
#include "util/platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn {

namespace {
// The operations, each on its own; SystemLogFolderPlatform() below binds them.
namespace op {

namespace {

// The log folder's access: SYSTEM and Administrators full control, Users read, each passed on
// to the folders and files made inside (OICI); "P" protects the list from the entries of the
// folder above, so that nothing the program-data folder grants is inherited.
constexpr wchar_t kLogFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

struct LocalFreeDeleter {
  void operator()(void* p) const { ::LocalFree(p); }
};

// The user of this process's token.
std::vector<std::uint8_t> ProcessUser() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return {};
  }
  const win::ScopedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  return buffer;
}

PathOwner OwnerKind(PSID owner) {
  if (owner == nullptr || !::IsValidSid(owner)) {
    return PathOwner::kUnknown;
  }
  if (::IsWellKnownSid(owner, WinLocalSystemSid) ||
      ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    return PathOwner::kSystem;
  }
  const std::vector<std::uint8_t> user = ProcessUser();
  if (!user.empty() &&
      ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) {
    return PathOwner::kService;
  }
  return PathOwner::kOther;
}

}  // namespace

std::vector<LogFileEntry> FindFiles(const std::string& folder,
                                    const std::string& prefix,
                                    const std::string& suffix) {
  std::vector<LogFileEntry> files;
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
    LogFileEntry file;
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

PathFacts GetPathFacts(const std::string& path) {
  PathFacts facts;
  const std::wstring wide = platform::NarrowToWide(path);
  // GetFileAttributesW describes the entry itself, also when it is a reparse point.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    // Only a missing entry is missing; one that cannot be looked at is there, unknown.
    facts.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    return facts;
  }
  facts.exists = true;
  facts.is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The owner of the entry, not of a link's target: opened as a reparse point.
  const win::ScopedHandle entry(::CreateFileW(
      wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.is_valid()) {
    return facts;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(entry.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return facts;
  }
  const std::unique_ptr<void, LocalFreeDeleter> hold(descriptor);
  facts.owner = OwnerKind(owner);
  return facts;
}

bool MakeLogFolderLevel(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kLogFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return false;
  }
  const std::unique_ptr<void, LocalFreeDeleter> hold(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  return ::CreateDirectoryW(platform::NarrowToWide(path).c_str(), &attributes) != FALSE;
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
