#include "support/win/service_control.h"

#include <tlhelp32.h>

#include <memory>
#include <string>
#include <thread>

#include "util/platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn::testing {

using ::halvorn::win::ScopedHandle;
using ::halvorn::win::ScopedServiceHandle;

int RunCommand(const std::string& command, std::string* output) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_raw = nullptr;
  HANDLE write_raw = nullptr;
  if (!::CreatePipe(&read_raw, &write_raw, &inherit, 0)) {
    return -1;
  }
  ScopedHandle read_end(read_raw);
  auto write_end = std::make_unique<ScopedHandle>(write_raw);
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end->get();
  startup.hStdError = write_end->get();
  PROCESS_INFORMATION info{};
  std::wstring line = platform::NarrowToWide(command);
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    return -1;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  write_end.reset();  // the child holds the only write end now
  std::string text;
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  if (output != nullptr) {
    *output = text;
  }
  return static_cast<int>(code);
}

ServiceView QueryService(const wchar_t* name) {
  ServiceView view;
  ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.is_valid()) {
    return view;
  }
  ScopedServiceHandle service(::OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  if (!service.is_valid()) {
    return view;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
    return view;
  }
  view.installed = true;
  view.state = status.dwCurrentState;
  view.check_point = status.dwCheckPoint;
  view.wait_hint = status.dwWaitHint;
  view.controls_accepted = status.dwControlsAccepted;
  view.win32_exit_code = status.dwWin32ExitCode;
  view.process_id = status.dwProcessId;
  return view;
}

DWORD SendControl(const wchar_t* name, DWORD control) {
  ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.is_valid()) {
    return ::GetLastError();
  }
  ScopedServiceHandle service(::OpenServiceW(
      manager.get(), name,
      SERVICE_USER_DEFINED_CONTROL | SERVICE_INTERROGATE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service.is_valid()) {
    return ::GetLastError();
  }
  SERVICE_STATUS status{};
  return ::ControlService(service.get(), control, &status) ? ERROR_SUCCESS : ::GetLastError();
}

bool PollUntil(const std::function<bool()>& reached, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!reached()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

int ServiceManagers() {
  ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, L"services.exe") == 0) {
      ++count;
    }
  }
  return count;
}

std::string SettledPrefixProblem() {
  static const bool settled = PollUntil([] { return ServiceManagers() <= 1; });
  if (settled) {
    return {};
  }
  return "this Wine prefix runs " + std::to_string(ServiceManagers()) +
         " service control managers; create it with \"wineboot --init; wineserver -w\" "
         "before keeping a server with \"wineserver -p\"";
}

std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

namespace {

// Whether the process of that id still runs. Wine's service manager goes on reporting a
// service as running after its process has ended (a crash, a kill).
bool ProcessRuns(DWORD id) {
  ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
  return process.is_valid() && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

void RemoveService(const wchar_t* name) {
  if (!QueryService(name).installed) {
    return;
  }
  const std::string narrow = platform::WideToNarrow(name);
  RunCommand("sc stop " + narrow);
  PollUntil([name] {
    const ServiceView view = QueryService(name);
    return view.state == SERVICE_STOPPED || view.process_id == 0 || !ProcessRuns(view.process_id);
  });
  RunCommand("sc delete " + narrow);
  PollUntil([name] { return !QueryService(name).installed; });
}

}  // namespace halvorn::testing
