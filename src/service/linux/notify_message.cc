#include "service/linux/notify_message.h"

namespace halvorn::service {

std::string StateText(std::uint32_t state) {
  switch (static_cast<ServiceState>(state)) {
    case ServiceState::kStopped:
      return "stopped";
    case ServiceState::kStartPending:
      return "start pending";
    case ServiceState::kStopPending:
      return "stop pending";
    case ServiceState::kRunning:
      return "running";
    case ServiceState::kContinuePending:
      return "continue pending";
    case ServiceState::kPausePending:
      return "pause pending";
  }
  return "state " + std::to_string(state);
}

std::string NotifyMessage(const ServiceStatus& status) {
  std::string message;
  const auto state = static_cast<ServiceState>(status.dwCurrentState);
  if (state == ServiceState::kStopPending) {
    message += "STOPPING=1\n";
  }
  const bool pending =
      state == ServiceState::kStartPending || state == ServiceState::kStopPending ||
      state == ServiceState::kPausePending || state == ServiceState::kContinuePending;
  if (pending && status.dwWaitHint != 0) {
    message += "EXTEND_TIMEOUT_USEC=" +
               std::to_string(static_cast<std::uint64_t>(status.dwWaitHint) * 1000) + "\n";
  }
  message += "STATUS=" + StateText(status.dwCurrentState);
  return message;
}

}  // namespace halvorn::service
