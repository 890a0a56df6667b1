// The Windows backend of the service host: the Service Control Manager, the stop event, the
// apartment, power registration and the Application event log. Thin: each call fetches or
// hands over raw facts; the portable host decides.

#ifndef HALVORN_SERVICE_WIN_SERVICE_PLATFORM_WIN_H_
#define HALVORN_SERVICE_WIN_SERVICE_PLATFORM_WIN_H_

#include <windows.h>

#include <cstdint>
#include <memory>

#include "service/power_events.h"
#include "service/service_host.h"

namespace halvorn::service::win {

// The service name, for the dispatcher table and the handler registration.
inline constexpr const wchar_t* kServiceName = L"Halvorn";

// The Windows power callback (PowerChanged's signature).
using PowerCallback = ULONG(CALLBACK*)(PVOID context, ULONG type, PVOID setting);

class WinServicePlatform final : public ServicePlatform {
 public:
  explicit WinServicePlatform(LPHANDLER_FUNCTION_EX handler) : handler_(handler) {}

  bool RegisterControlHandler() override;
  void SetServiceStatus(const ServiceStatus& status) override;
  std::unique_ptr<StopEvent> CreateStopEvent() override;
  void JoinApartment() override;
  void LeaveApartment() override;

 private:
  LPHANDLER_FUNCTION_EX handler_;
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
};

class WinPowerPlatform final : public PowerPlatform {
 public:
  explicit WinPowerPlatform(PowerCallback callback) : callback_(callback) {}

  std::uintptr_t RegisterSuspendResume() override;
  std::int64_t Now() override;
  std::tm LocalTime(std::int64_t seconds) override;
  std::unique_ptr<EventLogReader> OpenApplicationLog() override;

 private:
  PowerCallback callback_;
};

}  // namespace halvorn::service::win

#endif  // HALVORN_SERVICE_WIN_SERVICE_PLATFORM_WIN_H_
