#include "util/platform.h"
#include "util/utf16le.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace halvorn::platform {

const char kPathSeparator = '/';

std::uint32_t CurrentThreadId() {
  return static_cast<std::uint32_t>(::gettid());
}

std::uint32_t LastError() {
  return static_cast<std::uint32_t>(errno);
}

// wchar_t is UTF-32 here; the system code page is UTF-8.
// wchar_t holds code points here (32 bits).
std::string WideToNarrow(std::wstring_view text) {
  return Utf8FromCodePoints(std::u32string(text.begin(), text.end()));
}

std::wstring NarrowToWide(std::string_view text) {
  const std::u32string points = CodePointsFromUtf8(text);
  return std::wstring(points.begin(), points.end());
}

std::string ProgramDataFolder() {
  const char* env = std::getenv("programdata");
  if (env != nullptr && *env != '\0') {
    return env;
  }
  return "/var/log";
}

bool MakeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0;
}

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  return tm;
}

}  // namespace halvorn::platform
