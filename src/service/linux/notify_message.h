// What systemd is told of one status report, in its notify protocol (sd_notify).

#ifndef HALVORN_SERVICE_LINUX_NOTIFY_MESSAGE_H_
#define HALVORN_SERVICE_LINUX_NOTIFY_MESSAGE_H_

#include <string>

#include "service/service_host.h"

namespace halvorn::service {

// The state as the STATUS= text names it: "start pending", "running", "stop pending",
// "stopped", "pause pending", "continue pending"; "state <n>" for any other value.
std::string StateText(std::uint32_t state);

// The newline-separated assignments for `status`:
//   stop pending   STOPPING=1, then STATUS=stop pending
//   every pending  EXTEND_TIMEOUT_USEC=<wait hint in microseconds> when the hint is not 0
//                  (a hint of 0 asks for no time beyond the unit's own timeout)
//   always         STATUS=<StateText>
// READY=1 is not among them: the service is ready once its run step has queued the
// authorisation task and waits for the stop (kReadyMessage, sent by the stop event's first wait).
std::string NotifyMessage(const ServiceStatus& status);

inline constexpr const char* kReadyMessage = "READY=1";

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_NOTIFY_MESSAGE_H_
