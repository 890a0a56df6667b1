// A minimal own-process service for the restart tests under Wine. Each start appends the
// process id to the file named by the first command-line argument; a stop request ends it;
// the user control 128 makes it restart itself through CommonUtil::RestartService, as the
// service does when its authorisation task has used up its runs.

#include <windows.h>

#include <cstdio>
#include <string>

#include "util/common_util.h"

namespace {

constexpr DWORD kControlRestartYourself = 128;

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;
std::wstring g_marker_path;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD /*type*/, void* /*data*/, void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING);
      ::SetEvent(g_stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case kControlRestartYourself:
      halvorn::CommonUtil::RestartService();
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void AppendProcessId() {
  FILE* file = _wfopen(g_marker_path.c_str(), L"a");
  if (file != nullptr) {
    std::fprintf(file, "%lu\n", ::GetCurrentProcessId());
    std::fclose(file);
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/) {
  g_status_handle = ::RegisterServiceCtrlHandlerExW(L"TessaryCorvexSVC", Handler, nullptr);
  if (g_status_handle == nullptr) {
    return;
  }
  g_stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  AppendProcessId();
  ::WaitForSingleObject(g_stop_event, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return 2;
  }
  g_marker_path = argv[1];
  wchar_t name[] = L"TessaryCorvexSVC";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
