// The Linux registry: a file in the Windows ".reg" export format, for example
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tessary Wireless Inc\Brevane]
//   "IsDisableVerify"=dword:00000001
//
// read from /etc/halvorn/registry.reg, or from the file named by the environment variable
// HALVORN_REGISTRY_FILE. Since these settings can switch the authorisation checks off, the
// file is trusted only when it is a regular file owned by root and not writable by group or
// others; otherwise it is unreadable (access denied). A file that does not parse is a damaged
// registry (ERROR_BADDB) as a whole. The file reads as importing it into an empty registry
// would leave it, deletions ("[-key]", "Name"=-) included. Key and value names compare without
// regard to ASCII case.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "util/linux/scoped_fd.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"
#include "util/registry_text.h"

namespace halvorn {

namespace {

constexpr const char* kDefaultFile = "/etc/halvorn/registry.reg";
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string RegistryFilePath() {
  const char* env = std::getenv("HALVORN_REGISTRY_FILE");
  return env != nullptr && *env != '\0' ? env : kDefaultFile;
}

// Reads the file if it may be trusted.
//
// The checks are made on the open descriptor that is then read, so the file cannot be swapped
// between check and read. Nothing in the open may wait or follow: a link is refused
// (O_NOFOLLOW), and O_NONBLOCK keeps a named pipe or a device at the path from holding the
// open (start-up reads this file before anything else runs); O_NOCTTY keeps a terminal from
// becoming ours. The read itself is from a regular file only, where O_NONBLOCK changes nothing.
OsStatus ReadTrusted(const std::string& path, std::string* text) {
  const ScopedFd fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd.is_valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    if (errno == ELOOP) {
      LogHelper::Print(LogError, "ReadDWORDRegValue",
                       "registry file %s is a symbolic link, which is not followed: ignored", path);
    }
    return OsStatus::Of(OsOutcome::kAccessDenied);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
      static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
    LogHelper::Print(LogError, "ReadDWORDRegValue",
                     "registry file %s is not a regular file owned by root and writable only "
                     "by root (or is over 1 MiB): ignored",
                     path);
    return OsStatus::Of(OsOutcome::kAccessDenied);
  }
  text->resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < text->size()) {
    const ssize_t n = ::read(fd.get(), text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  text->resize(got);
  return OsStatus::Ok();
}

class FileKey final : public RegistryKey {
 public:
  explicit FileKey(registry_text::Values values) : values_(std::move(values)) {}

  OsStatus Query(const std::wstring& name,
                 std::uint32_t* type,
                 std::uint8_t* data,
                 std::uint32_t* size) override {
    const registry_text::Value* v = registry_text::FindValue(values_, platform::WideToNarrow(name));
    if (v == nullptr) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    const auto needed = static_cast<std::uint32_t>(v->data.size());
    *type = v->type;
    if (data != nullptr && *size < needed) {
      *size = needed;
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    if (data != nullptr && needed != 0) {
      std::memcpy(data, v->data.data(), needed);
    }
    *size = needed;
    return OsStatus::Ok();
  }

 private:
  registry_text::Values values_;
};

class FileRegistry final : public RegistryPlatform {
 public:
  OsStatus OpenLocalMachineKey(const std::wstring& sub_key,
                               std::unique_ptr<RegistryKey>* key) override {
    std::string raw;
    const OsStatus status = ReadTrusted(RegistryFilePath(), &raw);
    if (!status.ok()) {
      return status;
    }
    const auto keys = registry_text::ParseRegistryText(raw);
    if (!keys) {
      return OsStatus::Of(OsOutcome::kDamaged);
    }
    const registry_text::Values* values =
        registry_text::FindKey(*keys, platform::WideToNarrow(sub_key));
    if (values == nullptr) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    *key = std::make_unique<FileKey>(*values);
    return OsStatus::Ok();
  }
};

}  // namespace

RegistryPlatform& SystemRegistryPlatform() {
  static FileRegistry registry;
  return registry;
}

}  // namespace halvorn
