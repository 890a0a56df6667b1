// What systemd is told for each status report.

#include <gtest/gtest.h>

#include "service/linux/notify_message.h"

namespace halvorn::service {
namespace {

struct NotifyCase {
  ServiceState state;
  std::uint32_t wait_hint;
  const char* message;
};

TEST(NotifyMessageTest, EachReport) {
  const NotifyCase cases[] = {
      {ServiceState::kStartPending, 1000, "EXTEND_TIMEOUT_USEC=1000000\nSTATUS=start pending"},
      // READY=1 is the stop event's, once the task is queued: not part of the running report.
      {ServiceState::kRunning, 0, "STATUS=running"},
      {ServiceState::kStopPending, 0, "STOPPING=1\nSTATUS=stop pending"},
      {ServiceState::kStopPending, 30000,
       "STOPPING=1\nEXTEND_TIMEOUT_USEC=30000000\nSTATUS=stop pending"},
      {ServiceState::kStopped, 0, "STATUS=stopped"},
      {ServiceState::kPausePending, 0, "STATUS=pause pending"},
      {ServiceState::kContinuePending, 0, "STATUS=continue pending"},
      // A hint is a pending state's only: others ignore it.
      {ServiceState::kRunning, 5000, "STATUS=running"},
      // The largest hint does not overflow.
      {ServiceState::kStartPending, 0xFFFFFFFF,
       "EXTEND_TIMEOUT_USEC=4294967295000\nSTATUS=start pending"},
  };
  for (const NotifyCase& c : cases) {
    ServiceStatus status;
    status.dwCurrentState = static_cast<std::uint32_t>(c.state);
    status.dwWaitHint = c.wait_hint;
    EXPECT_EQ(NotifyMessage(status), c.message);
  }
  ServiceStatus unknown;
  unknown.dwCurrentState = 9;
  EXPECT_EQ(NotifyMessage(unknown), "STATUS=state 9");
}

}  // namespace
}  // namespace halvorn::service
