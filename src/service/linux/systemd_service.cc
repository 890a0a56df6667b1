#include "service/linux/systemd_service.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>

#include "service/linux/notify_message.h"
#include "util/log_helper.h"

namespace halvorn::service {

namespace {

constexpr const char* kTag = "ReportServiceStatus";
constexpr const char* kTagDispatcher = "Dispatcher";

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

class ManualResetEvent final : public StopEvent {
 public:
  explicit ManualResetEvent(SystemdServiceManager& manager) : manager_(manager) {}
  void Set() override {
    {
      std::lock_guard lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  void Wait() override {
    std::unique_lock lock(mutex_);
    if (!set_ && !waited_) {
      waited_ = true;
      manager_.NotifyReady();
    }
    cv_.wait(lock, [this] { return set_; });
  }

 private:
  SystemdServiceManager& manager_;
  bool waited_ = false;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SystemdServiceManager::SystemdServiceManager() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

bool SystemdServiceManager::RegisterControlHandler() {
  return signals_.is_valid() && wake_.is_valid();
}

void SystemdServiceManager::NotifyReady() {
  std::lock_guard lock(notify_lock_);
  if (!stop_told_) {
    SendLocked(kReadyMessage);
  }
}

void SystemdServiceManager::SendLocked(const std::string& message) {
  const int r = sd_notify(0, message.c_str());
  if (r == 0 && !told_no_manager_) {
    told_no_manager_ = true;
    LogHelper::Print(LogInfo, kTag,
                     "no service manager listens (NOTIFY_SOCKET not set); running in the "
                     "foreground");
  } else if (r < 0) {
    LogHelper::Print(LogError, kTag, "sd_notify failed : %d", -r);
  }
  std::string line = message;
  for (char& c : line) {
    c = c == '\n' ? ';' : c;
  }
  LogHelper::Print(LogInfo, kTag, "notify : %s", line.c_str());
}

void SystemdServiceManager::SetServiceStatus(const ServiceStatus& status) {
  {
    std::lock_guard lock(notify_lock_);
    SendLocked(NotifyMessage(status));
    stop_told_ = stop_told_ ||
                 status.dwCurrentState == static_cast<std::uint32_t>(ServiceState::kStopPending) ||
                 status.dwCurrentState == static_cast<std::uint32_t>(ServiceState::kStopped);
  }
  accepts_stop_.store((status.dwControlsAccepted & kAcceptStop) != 0 &&
                      status.dwCurrentState != static_cast<std::uint32_t>(ServiceState::kStopped));
  Wake();
}

std::unique_ptr<StopEvent> SystemdServiceManager::CreateStopEvent() {
  return std::make_unique<ManualResetEvent>(*this);
}

void SystemdServiceManager::Wake() {
  if (wake_.is_valid()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
  }
}

std::uint32_t SystemdServiceManager::RunDispatcher(ServiceHost& host) {
  if (!wake_.is_valid()) {
    return static_cast<std::uint32_t>(EMFILE);
  }
  const sigset_t set = StopSignals();
  signals_.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals_.is_valid()) {
    return static_cast<std::uint32_t>(errno);
  }
  std::thread service_main;
  try {
    service_main = std::thread([this, &host] {
      host.ServiceMain();
      main_returned_.store(true);
      Wake();
    });
  } catch (const std::system_error& e) {
    return static_cast<std::uint32_t>(e.code().value());
  }

  bool stop_requested = false;
  bool stop_delivered = false;
  while (!main_returned_.load()) {
    pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      break;
    }
    signalfd_siginfo info;
    while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (!stop_requested) {
        LogHelper::Print(LogInfo, kTagDispatcher, "signal %d : stop", info.ssi_signo);
      }
      stop_requested = true;
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.get(), &count, sizeof count);
    if (stop_requested && !stop_delivered && accepts_stop_.load()) {
      stop_delivered = true;
      host.ServiceCtrlHandler(kControlStop, 0);
    }
  }
  service_main.join();
  return 0;
}

}  // namespace halvorn::service
