#include "util/platform.h"

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
std::string WideToNarrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back('?');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring NarrowToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = b < 0x80           ? 1
                      : (b >> 5) == 0x6  ? 2
                      : (b >> 4) == 0xE  ? 3
                      : (b >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > text.size()) {
      out.push_back(L'?');
      ++i;
      continue;
    }
    std::uint32_t c = len == 1 ? b : b & (0xFFu >> (len + 1));
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cont & 0x3Fu);
    }
    static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(L'?');
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(c));
    i += len;
  }
  return out;
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
