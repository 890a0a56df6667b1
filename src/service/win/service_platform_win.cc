#include "service/win/service_platform_win.h"

#include <objbase.h>

#include <ctime>

#include "util/win/scoped_handle.h"

namespace halvorn::service::win {

namespace {

// RegisterSuspendResumeNotification with DEVICE_NOTIFY_CALLBACK takes this record in place of
// a window handle (the MinGW headers do not declare it).
struct DeviceNotifySubscribeParameters {
  PowerCallback Callback;
  PVOID Context;
};
constexpr DWORD kDeviceNotifyCallback = 2;

constexpr DWORD kReadSequentialBackwards = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;

class WinStopEvent final : public StopEvent {
 public:
  explicit WinStopEvent(HANDLE event) : event_(event) {}
  void Set() override { ::SetEvent(event_.get()); }
  void Wait() override { ::WaitForSingleObject(event_.get(), INFINITE); }

 private:
  ::halvorn::win::ScopedHandle event_;
};

class WinEventLogReader final : public EventLogReader {
 public:
  explicit WinEventLogReader(HANDLE log) : log_(log) {}
  bool ReadBackwards(std::span<std::uint8_t> buffer,
                     std::uint32_t* read,
                     std::uint32_t* needed) override {
    DWORD got = 0;
    DWORD more = 0;
    const BOOL ok = ::ReadEventLogW(log_.get(), kReadSequentialBackwards, 0, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &got, &more);
    *read = got;
    *needed = more;
    return ok != FALSE;
  }

 private:
  ::halvorn::win::ScopedEventLog log_;
};

}  // namespace

bool WinServicePlatform::RegisterControlHandler() {
  status_handle_ = ::RegisterServiceCtrlHandlerExW(kServiceName, handler_, nullptr);
  return status_handle_ != nullptr;
}

void WinServicePlatform::SetServiceStatus(const ServiceStatus& status) {
  SERVICE_STATUS record{};
  record.dwServiceType = status.dwServiceType;
  record.dwCurrentState = status.dwCurrentState;
  record.dwControlsAccepted = status.dwControlsAccepted;
  record.dwWin32ExitCode = status.dwWin32ExitCode;
  record.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  record.dwCheckPoint = status.dwCheckPoint;
  record.dwWaitHint = status.dwWaitHint;
  ::SetServiceStatus(status_handle_, &record);
}

std::unique_ptr<StopEvent> WinServicePlatform::CreateStopEvent() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    return nullptr;
  }
  return std::make_unique<WinStopEvent>(event);
}

void WinServicePlatform::JoinApartment() {
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY);
}

void WinServicePlatform::LeaveApartment() {
  ::CoUninitialize();
}

std::uintptr_t WinPowerPlatform::RegisterSuspendResume() {
  // The system keeps only the callback and context, not the record.
  DeviceNotifySubscribeParameters parameters{callback_, nullptr};
  HPOWERNOTIFY handle = ::RegisterSuspendResumeNotification(&parameters, kDeviceNotifyCallback);
  return reinterpret_cast<std::uintptr_t>(handle);
}

std::int64_t WinPowerPlatform::Now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::tm WinPowerPlatform::LocalTime(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

std::unique_ptr<EventLogReader> WinPowerPlatform::OpenApplicationLog() {
  HANDLE log = ::OpenEventLogW(nullptr, L"Application");
  if (log == nullptr) {
    return nullptr;
  }
  return std::make_unique<WinEventLogReader>(log);
}

}  // namespace halvorn::service::win
