// The service restart behind CommonUtil::RestartService, over an explicit platform so that
// its steps and lines can be driven with canned results.

#ifndef HALVORN_UTIL_RESTART_H_
#define HALVORN_UTIL_RESTART_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/restart_platform.h"

namespace halvorn::restart {

// The installed service that the restart addresses.
inline constexpr wchar_t kServiceName[] = L"TessaryCorvexSVC";
// Capacity, terminator included, of the service-name and command-parameter buffers.
inline constexpr std::size_t kBufferChars = 256;

// The command interpreter's parameters: with a running process (id above 0) "end it by
// force, then start the service", otherwise "stop the service, then start it". The second
// command runs after the first, whatever the first one's outcome. Cut to 255 characters,
// the capacity of the buffer the command is built in.
std::wstring BuildRestartParameters(std::uint32_t process_id, std::wstring_view service_name);

// Opens the service manager and the service, reads the service's process id and launches
// the command interpreter with the parameters above. Every step, failures included, is an
// information line under the tag "CommonUtil::RestartService"; nothing is returned.
void RestartServiceWith(restart_platform::Platform& platform);

}  // namespace halvorn::restart

#endif  // HALVORN_UTIL_RESTART_H_
