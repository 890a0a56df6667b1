#include "service/linux/logind_power.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

#include "service/linux/journal_log.h"
#include "util/linux/sd_bus_handles.h"
#include "util/log_helper.h"

namespace halvorn::service {

namespace {

constexpr const char* kTag = "LogindPower";
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

}  // namespace

LogindPower::LogindPower(std::string journal_directory)
    : journal_directory_(std::move(journal_directory)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

LogindPower::~LogindPower() {
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
    thread_.join();
  }
}

void LogindPower::SetReceiver(std::function<void(std::uint32_t)> receiver) {
  receiver_ = std::move(receiver);
}

std::uintptr_t LogindPower::RegisterSuspendResume() {
  std::unique_lock lock(lock_);
  if (!started_) {
    started_ = true;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      LogHelper::Print(LogError, kTag, "no power notification thread");
      return 0;
    }
  }
  // On the power notification thread itself (a resume re-registers) the answer is at hand.
  if (std::this_thread::get_id() != thread_.get_id()) {
    first_attempt_.wait(lock, [this] { return attempted_; });
  }
  return subscribed_ ? 1 : 0;
}

std::int64_t LogindPower::Now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::tm LogindPower::LocalTime(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

std::unique_ptr<EventLogReader> LogindPower::OpenApplicationLog() {
  return OpenJournalLog(journal_directory_);
}

std::u16string_view LogindPower::LogonSource() const {
  return kLogindSource;
}

void LogindPower::Deliver(std::uint32_t event_type) {
  if (receiver_) {
    receiver_(event_type);
  }
}

int LogindPower::OnPrepareForSleep(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* power = static_cast<LogindPower*>(self);
  int start = 0;
  if (sd_bus_message_read(m, "b", &start) < 0) {
    LogHelper::Print(LogError, kTag, "PrepareForSleep without its argument");
    return 0;
  }
  if (start != 0) {
    power->Deliver(kPowerSuspend);
    power->ReleaseLock();
  } else {
    power->TakeLock();
    power->Deliver(kPowerResumeAutomatic);
  }
  return 0;
}

int LogindPower::OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* power = static_cast<LogindPower*>(self);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0 ||
      std::strcmp(name, kLogind) != 0) {
    return 0;
  }
  if (new_owner[0] == '\0') {
    LogHelper::Print(LogInfo, kTag, "logind left the bus");
    power->ReleaseLock();
  } else {
    LogHelper::Print(LogInfo, kTag, "logind appeared on the bus");
    power->ReleaseLock();
    power->TakeLock();
  }
  return 0;
}

void LogindPower::TakeLock() {
  if (inhibitor_.is_valid() || bus_ == nullptr) {
    return;
  }
  ScopedBusError error;
  sd_bus_message* raw = nullptr;
  const int r = sd_bus_call_method(bus_, kLogind, kLogindPath, kLogindManager, "Inhibit",
                                   error.get(), &raw, "ssss", "sleep", "halvornd",
                                   "Log the suspend before the machine sleeps", "delay");
  ScopedMessage reply(raw);
  int fd = -1;
  if (r < 0 || sd_bus_message_read(reply.get(), "h", &fd) < 0) {
    LogHelper::Print(LogError, kTag, "no sleep delay lock : %d %s", r < 0 ? -r : 0, error.text());
    return;
  }
  inhibitor_.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 3));  // the reply owns `fd`
  LogHelper::Print(LogInfo, kTag, "sleep delay lock taken");
}

void LogindPower::ReleaseLock() {
  if (inhibitor_.is_valid()) {
    inhibitor_.reset();
    LogHelper::Print(LogInfo, kTag, "sleep delay lock released");
  }
}

bool LogindPower::Connect(bool report) {
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) {
    if (report) {
      LogHelper::Print(LogError, kTag, "system bus not reachable : %d; trying again every %d ms",
                       -r, kReconnectPauseMs);
    }
    return false;
  }
  ScopedBus bus(raw);
  r = sd_bus_match_signal(bus.get(), nullptr, kLogind, kLogindPath, kLogindManager,
                          "PrepareForSleep", &LogindPower::OnPrepareForSleep, this);
  if (r >= 0) {
    r = sd_bus_match_signal(bus.get(), nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged",
                            &LogindPower::OnOwnerChanged, this);
  }
  if (r < 0) {
    if (report) {
      LogHelper::Print(LogError, kTag, "no subscription to logind's signals : %d", -r);
    }
    return false;
  }
  bus_ = bus.release();
  LogHelper::Print(LogInfo, kTag, "subscribed to logind's PrepareForSleep");
  return true;
}

void LogindPower::Disconnect() {
  if (bus_ != nullptr) {
    sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
  }
}

void LogindPower::Run() {
  bool first = true;
  bool report = true;  // a failure to connect is logged once, until a connection is made
  while (true) {
    {
      std::lock_guard lock(lock_);
      if (stopping_) {
        break;
      }
    }
    int wait_ms = -1;
    if (bus_ == nullptr) {
      const bool connected = Connect(report);
      report = connected;
      {
        std::lock_guard lock(lock_);
        subscribed_ = connected;
        attempted_ = true;
      }
      if (first) {
        first = false;
        first_attempt_.notify_all();
      }
      if (connected) {
        // After the answer to the registration: a logind slow to answer holds up no start.
        TakeLock();
      } else {
        wait_ms = kReconnectPauseMs;
      }
    }
    if (bus_ != nullptr) {
      int r = sd_bus_process(bus_, nullptr);
      if (r > 0) {
        continue;
      }
      if (r < 0) {
        LogHelper::Print(LogError, kTag, "system bus lost : %d; connecting again", -r);
        Disconnect();
        {
          std::lock_guard lock(lock_);
          subscribed_ = false;
        }
        continue;
      }
    }
    pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {-1, 0, 0}};
    if (bus_ != nullptr) {
      fds[1].fd = sd_bus_get_fd(bus_);
      fds[1].events = static_cast<short>(sd_bus_get_events(bus_));
      std::uint64_t until = 0;
      if (sd_bus_get_timeout(bus_, &until) >= 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t now_us = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                                     static_cast<std::uint64_t>(now.tv_nsec) / 1000;
        wait_ms = until <= now_us ? 0 : static_cast<int>((until - now_us + 999) / 1000);
      }
    }
    ::poll(fds, 2, wait_ms);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.get(), &count, sizeof count);
  }
  ReleaseLock();
  Disconnect();
}

}  // namespace halvorn::service
