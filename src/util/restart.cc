#include "util/restart.h"

#include <algorithm>
#include <array>
#include <memory>

#include "util/common_util.h"
#include "util/log_helper.h"
#include "util/os_status.h"
#include "util/platform.h"
#include "util/printf_format.h"

namespace halvorn {

namespace restart {

namespace {

constexpr const char* kTag = "CommonUtil::RestartService";

}  // namespace

std::wstring BuildRestartParameters(std::uint32_t process_id, std::wstring_view service_name) {
  // The formats are those of the command interpreter's wide printf, where "%s" is a wide
  // string; FormatPrintf renders a wide "%s" argument the same way.
  const std::string text =
      process_id > 0
          ? StrPrintf("/C taskkill /pid %d /f & net start \"%s\"", process_id, service_name)
          : StrPrintf("/C net stop \"%s\" & net start \"%s\"", service_name, service_name);
  std::wstring parameters = platform::NarrowToWide(text);
  if (parameters.size() > kBufferChars - 1) {
    parameters.resize(kBufferChars - 1);
  }
  return parameters;
}

void RestartServiceWith(restart_platform::Platform& platform) {
  namespace rp = restart_platform;
  LogHelper::Print(LogInfo, kTag, "RestartService Processing");

  std::unique_ptr<rp::ServiceManager> manager;
  if (const OsStatus opened = platform.OpenServiceManager(&manager); !opened.ok() || !manager) {
    LogHelper::Print(LogInfo, kTag, "OpenSCManager fail(%ld)", WindowsErrorCode(opened));
    return;
  }

  std::array<wchar_t, kBufferChars> name_buffer{};
  std::copy_n(kServiceName, std::min(std::size(kServiceName), kBufferChars - 1),
              name_buffer.begin());
  const std::wstring name(name_buffer.data());

  // Declared after the manager, so it is closed first on every return.
  std::unique_ptr<rp::Service> service;
  if (const OsStatus opened = manager->OpenService(name, &service); !opened.ok() || !service) {
    LogHelper::Print(LogInfo, kTag, "OpenService %s error:%d", platform::WideToNarrow(name),
                     WindowsErrorCode(opened));
    return;
  }

  std::uint32_t process_id = 0;
  if (!service->QueryProcessId(&process_id).ok()) {
    LogHelper::Print(LogInfo, kTag, " QueryServiceStatusEx failed.");
    return;
  }

  rp::RestartRequest request;
  request.end_process_id = process_id;
  request.service_name = name;
  request.command_line = BuildRestartParameters(process_id, name);
  if (const OsStatus launched = platform.Launch(request); !launched.ok()) {
    LogHelper::Print(LogInfo, kTag, " RestartService failed.Error = 0x%x",
                     WindowsErrorCode(launched));
  } else {
    LogHelper::Print(LogInfo, kTag, " RestartService success.");
  }
}

}  // namespace restart

namespace CommonUtil {

void RestartService() {
  restart::RestartServiceWith(restart_platform::SystemPlatform());
}

}  // namespace CommonUtil

}  // namespace halvorn
