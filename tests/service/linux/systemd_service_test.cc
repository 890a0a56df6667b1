// The Linux dispatcher with the real service host: a stop that comes during start-up, before the
// service accepts it, is held and delivered once the running report announces it. And the
// stop event's READY=1, which must never follow a stop report.

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/linux/systemd_service.h"
#include "service/power_events.h"
#include "service/service_host.h"
#include "support/linux/child_process.h"
#include "support/log_capture.h"

namespace halvorn::service {
namespace {

// The power registration holds the service's start until the test lets it go.
class GatedPower final : public PowerPlatform {
 public:
  std::uintptr_t RegisterSuspendResume() override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return open_; });
    return 0;
  }
  std::int64_t Now() override { return 0; }
  std::tm LocalTime(std::int64_t) override { return {}; }
  std::unique_ptr<EventLogReader> OpenApplicationLog() override { return nullptr; }

  void WaitEntered() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return entered_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool open_ = false;
};

// Whether SIGTERM is pending for thread `tid` or the process.
bool StopPending(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  bool pending = false;
  while (std::getline(in, line)) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      pending = pending || (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1)));
    }
  }
  return pending;
}

// Whether thread `tid` of this process is asleep (state S in its stat line).
bool Asleep(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'S';
}

std::ptrdiff_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  const auto at = std::find(lines.begin(), lines.end(), line);
  return at == lines.end() ? -1 : at - lines.begin();
}

TEST(SystemdServiceManagerTest, AStopDuringStartIsHeldUntilTheServiceAcceptsIt) {
  BlockStopSignals();  // this thread is the dispatcher
  const pthread_t dispatcher = pthread_self();
  const auto dispatcher_tid = static_cast<pid_t>(::syscall(SYS_gettid));

  testing::LogCapture capture;
  SystemdServiceManager manager;
  GatedPower power;
  PowerEvents events(power, {});
  ServiceHost host(manager, events, TaskEngineAccess{});

  std::thread sender([&] {
    power.WaitEntered();  // ServiceMain runs, nothing reported yet
    pthread_kill(dispatcher, SIGTERM);
    // The dispatcher has read it (no longer pending) before the service goes on.
    EXPECT_TRUE(testing::PollUntil([&] { return !StopPending(dispatcher_tid); }));
    power.Open();
  });
  const std::uint32_t code = manager.RunDispatcher(host);
  sender.join();

  EXPECT_EQ(code, 0u);
  EXPECT_EQ(host.LastStatus().dwCurrentState, static_cast<std::uint32_t>(ServiceState::kStopped));
  const std::vector<std::string> lines = capture.Lines();
  const std::ptrdiff_t signal = IndexOf(lines, "T i :   signal 15 : stop");
  const std::ptrdiff_t running = IndexOf(lines, "T i :   notify : STATUS=running");
  const std::ptrdiff_t control = IndexOf(lines, "T i :   CtrlCode = 0x1 ; dwEventType = 0");
  ASSERT_GE(signal, 0);
  EXPECT_LT(signal, running);
  EXPECT_LT(running, control);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T i :   CtrlCode = 0x1 ; dwEventType = 0"), 1);
}

// Waits on `event` on a thread of its own; once that thread is asleep in the wait (past the
// point where READY=1 would go), sets the event and joins it.
void WaitOnAnotherThreadUntilSet(StopEvent& event) {
  std::atomic<pid_t> waiter_tid{0};
  std::thread waiter([&] {
    waiter_tid = static_cast<pid_t>(::syscall(SYS_gettid));
    event.Wait();
  });
  EXPECT_TRUE(testing::PollUntil([&] { return waiter_tid != 0 && Asleep(waiter_tid); }));
  event.Set();
  waiter.join();
}

// The stop control runs on the dispatcher while the service main routine is on its way to the
// stop event's first wait: the stop pending report can go out before that wait. systemd must
// not be told READY=1 after it.
TEST(SystemdServiceManagerTest, NoReadyAfterAStopReport) {
  testing::LogCapture capture;
  SystemdServiceManager manager;
  std::unique_ptr<StopEvent> event = manager.CreateStopEvent();
  ASSERT_NE(event, nullptr);
  ServiceStatus status;
  status.dwCurrentState = static_cast<std::uint32_t>(ServiceState::kRunning);
  manager.SetServiceStatus(status);
  status.dwCurrentState = static_cast<std::uint32_t>(ServiceState::kStopPending);
  manager.SetServiceStatus(status);

  WaitOnAnotherThreadUntilSet(*event);

  const std::vector<std::string> lines = capture.Lines();
  EXPECT_GE(IndexOf(lines, "T i :   notify : STOPPING=1;STATUS=stop pending"), 0);
  EXPECT_EQ(IndexOf(lines, "T i :   notify : READY=1"), -1);
}

// Without a stop, the first wait tells systemd READY=1, once.
TEST(SystemdServiceManagerTest, TheFirstWaitSendsReadyOnce) {
  testing::LogCapture capture;
  SystemdServiceManager manager;
  std::unique_ptr<StopEvent> event = manager.CreateStopEvent();
  ASSERT_NE(event, nullptr);
  WaitOnAnotherThreadUntilSet(*event);
  event->Wait();  // set: returns at once, and says nothing more
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T i :   notify : READY=1"), 1);
}

}  // namespace
}  // namespace halvorn::service
