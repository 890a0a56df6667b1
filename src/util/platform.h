// Operating-system facts that the logging facade and the text helpers need. Each build
// provides these in win/ or linux/; they return raw data and make no decisions.

#ifndef HALVORN_UTIL_PLATFORM_H_
#define HALVORN_UTIL_PLATFORM_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace halvorn::platform {

// Separator of the path components that this system builds ('\\' on Windows, '/' on Linux).
extern const char kPathSeparator;

// The calling thread's operating-system id (GetCurrentThreadId, gettid).
std::uint32_t CurrentThreadId();

// The calling thread's last system error (GetLastError, errno).
std::uint32_t LastError();

// Text conversion with the system code page (CP_ACP on Windows, UTF-8 on Linux). Characters
// that the code page cannot represent become '?'; malformed input never fails.
std::string WideToNarrow(std::wstring_view text);
std::wstring NarrowToWide(std::string_view text);

// The machine-wide program-data folder: the "programdata" environment variable when set,
// otherwise the system's default (the known ProgramData folder on Windows, /var/log on
// Linux). Empty when neither is available.
std::string ProgramDataFolder();

// Creates one directory level. Fails (false) when it exists or cannot be made.
bool MakeDirectory(const std::string& path);

// Broken-down local time of now.
std::tm LocalTimeNow();

}  // namespace halvorn::platform

#endif  // HALVORN_UTIL_PLATFORM_H_
