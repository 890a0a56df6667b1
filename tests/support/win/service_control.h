// Test support under Wine (or Windows): commands, the service manager's view of a service,
// controls, and polling with a generous bound. Wine's "net start" and "sc start" return
// before a service has settled, so tests poll.

#ifndef HALVORN_TESTS_SUPPORT_WIN_SERVICE_CONTROL_H_
#define HALVORN_TESTS_SUPPORT_WIN_SERVICE_CONTROL_H_

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace halvorn::testing {

inline constexpr auto kSettleBound = std::chrono::seconds(90);

// Runs a command line, waits for it and returns its exit code (-1 when it cannot start); its
// standard output and error go to *output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// What the service manager reports about a service; installed is false when it has none of
// that name.
struct ServiceView {
  bool installed = false;
  DWORD state = 0;
  DWORD check_point = 0;
  DWORD wait_hint = 0;
  DWORD controls_accepted = 0;
  DWORD win32_exit_code = 0;
  DWORD process_id = 0;
};
ServiceView QueryService(const wchar_t* name);

// Sends a control (ControlService); ERROR_SUCCESS or the error.
DWORD SendControl(const wchar_t* name, DWORD control);

// Polls `reached` every 100 ms until it holds or `bound` has passed.
bool PollUntil(const std::function<bool()>& reached,
               std::chrono::milliseconds bound = kSettleBound);

// Running copies of the service control manager. A prefix used right after
// "wineboot --init" can run two for good, both answering on the service-control pipe, so
// that one command creates a service in one and the next does not find it in the other. The
// harness lets the first boot end ("wineserver -w") before it keeps a server running.
int ServiceManagers();

// True once the prefix runs at most one service control manager (polled once per process);
// otherwise the reason.
std::string SettledPrefixProblem();

// The folder of this test program.
std::wstring ModuleFolder();

// Stops (polling until stopped) and deletes a service of that name, if there is one.
void RemoveService(const wchar_t* name);

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SUPPORT_WIN_SERVICE_CONTROL_H_
