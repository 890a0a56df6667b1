#include "util/platform.h"

// <windows.h> first: knownfolders.h relies on its macros.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>

namespace halvorn::platform {

const char kPathSeparator = '\\';

std::uint32_t CurrentThreadId() {
  return ::GetCurrentThreadId();
}

std::uint32_t LastError() {
  return ::GetLastError();
}

std::string WideToNarrow(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int in_len = static_cast<int>(text.size());
  int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), in_len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    return std::string(text.size(), '?');
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), in_len, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring NarrowToWide(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int in_len = static_cast<int>(text.size());
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), in_len, nullptr, 0);
  if (n <= 0) {
    return std::wstring(text.size(), L'?');
  }
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), in_len, out.data(), n);
  return out;
}

namespace {
struct CoTaskMemDeleter {
  void operator()(wchar_t* p) const { ::CoTaskMemFree(p); }
};
}  // namespace

std::string ProgramDataFolder() {
  // A set variable wins whatever its length: the caller refuses a path that does not fit
  // rather than having the logs silently go elsewhere.
  DWORD needed = ::GetEnvironmentVariableW(L"programdata", nullptr, 0);
  if (needed > 1) {
    std::wstring value(needed, L'\0');
    DWORD n = ::GetEnvironmentVariableW(L"programdata", value.data(), needed);
    if (n > 0 && n < needed) {
      value.resize(n);
      return WideToNarrow(value);
    }
  }
  wchar_t* raw = nullptr;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &raw))) {
    ::CoTaskMemFree(raw);
    return {};
  }
  std::unique_ptr<wchar_t, CoTaskMemDeleter> path(raw);
  return WideToNarrow(path.get());
}

bool MakeDirectory(const std::string& path) {
  return ::CreateDirectoryW(NarrowToWide(path).c_str(), nullptr) != FALSE;
}

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_s(&tm, &now);
  return tm;
}

}  // namespace halvorn::platform
