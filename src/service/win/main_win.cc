// halvorn.exe: the entry point of the Windows service and the callbacks the system calls,
// bound to the process-wide service host.

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <utility>

#include "service/power_events.h"
#include "service/process_wiring.h"
#include "service/service_entry.h"
#include "service/service_host.h"
#include "service/win/crash_dump_win.h"
#include "service/win/service_platform_win.h"
#include "service/worker_end.h"
#include "tasks/task_manager.h"

namespace halvorn::service::win {

namespace {

constexpr std::size_t kServiceNameBufferSize = 256;

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD event_type, LPVOID data, LPVOID context);
ULONG CALLBACK PowerChanged(PVOID context, ULONG type, PVOID setting);

// The service's process-wide state: made once in wmain and never destroyed (the system's
// callbacks and the task worker may use it until the process ends).
struct ServiceProcess {
  WinServicePlatform platform{&ServiceCtrlHandler};
  WinPowerPlatform power_platform{&PowerChanged};
  PowerEvents power{power_platform, &CTaskManager::getInstance};
  WorkerEndWatch worker_end;
  ServiceHost host{platform, power,
                   TaskEngineAccess{&CTaskManager::getInstance, [this](std::uint32_t bound_ms) {
                                      return worker_end.WaitFor(bound_ms);
                                    }}};
};

ServiceProcess* g_process = nullptr;

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  g_process->host.ServiceMain();
}

DWORD WINAPI ServiceCtrlHandler(DWORD control,
                                DWORD event_type,
                                LPVOID /*data*/,
                                LPVOID /*context*/) {
  return g_process->host.ServiceCtrlHandler(control, event_type);
}

ULONG CALLBACK PowerChanged(PVOID /*context*/, ULONG type, PVOID /*setting*/) {
  return g_process->power.PowerChanged(type);
}

// Binds the task engine to the service (InstallProcessWiring), with the worker's end made
// visible to the stop. Before the first CTaskManager::getInstance.
void BindTaskEngine(WorkerEndWatch& worker_end) {
  InstallProcessWiring(AuthModulePlatforms::System(), worker_end.WrapStarter());
}

class WinEntryPlatform final : public EntryPlatform {
 public:
  void InstallCrashFilter() override { InstallCrashDumpFilter(); }

  void PrepareService() override {
    g_process = new ServiceProcess;  // never destroyed
    BindTaskEngine(g_process->worker_end);
  }

  std::uint32_t RunDispatcher() override {
    wchar_t name[kServiceNameBufferSize] = {};
    std::wcsncpy(name, kServiceName, kServiceNameBufferSize - 1);
    const SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table)) {
      return 0;
    }
    return ::GetLastError();
  }

  void AwaitServiceMain() override {
    if (g_process != nullptr) {
      g_process->host.WaitForServiceMainReturn();
    }
  }

  void EndProcessNow(std::uint32_t code) override { ::ExitProcess(code); }
};

}  // namespace

}  // namespace halvorn::service::win

int wmain(int /*argc*/, wchar_t** /*argv*/) {
  using namespace halvorn::service;
  win::WinEntryPlatform entry;
  const std::uint32_t code = RunServiceProcess(entry, __DATE__, __TIME__);
  EndServiceProcess(entry, code);
  return static_cast<int>(code);  // not reached
}
