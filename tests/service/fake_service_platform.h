// Test doubles of the service host's operating-system boundary: the service manager, the
// stop event, the apartment, power registration, the clock and the event log.

#ifndef HALVORN_TESTS_SERVICE_FAKE_SERVICE_PLATFORM_H_
#define HALVORN_TESTS_SERVICE_FAKE_SERVICE_PLATFORM_H_

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/power_events.h"
#include "service/service_host.h"

namespace halvorn::testing {

// Records every call in one journal and every status it is given.
class FakeServicePlatform final : public service::ServicePlatform {
 public:
  class Event final : public service::StopEvent {
   public:
    void Set() override {
      {
        std::lock_guard lock(mutex_);
        set_ = true;
      }
      cv_.notify_all();
    }
    void Wait() override {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return set_; });
    }

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
  };

  bool RegisterControlHandler() override {
    Note("register handler");
    return register_ok;
  }
  void SetServiceStatus(const service::ServiceStatus& status) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(status);
    cv_.notify_all();
  }
  std::unique_ptr<service::StopEvent> CreateStopEvent() override {
    Note("create event");
    if (!event_ok) {
      return nullptr;
    }
    return std::make_unique<Event>();
  }
  void JoinApartment() override { Note("join apartment"); }
  void LeaveApartment() override { Note("leave apartment"); }

  std::vector<service::ServiceStatus> Statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<std::string> Journal() {
    std::lock_guard lock(mutex_);
    return journal_;
  }
  // Waits (generously) until a status of `state` has been reported.
  bool WaitForState(service::ServiceState state) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(60), [&] {
      for (const auto& s : statuses_) {
        if (s.dwCurrentState == static_cast<std::uint32_t>(state)) {
          return true;
        }
      }
      return false;
    });
  }

  bool register_ok = true;
  bool event_ok = true;

 private:
  void Note(std::string entry) {
    std::lock_guard lock(mutex_);
    journal_.push_back(std::move(entry));
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<service::ServiceStatus> statuses_;
  std::vector<std::string> journal_;
};

// An event log whose reads hand out the buffers given to it, one per read, then fail.
class FakeEventLog final : public service::EventLogReader {
 public:
  explicit FakeEventLog(std::deque<std::vector<std::uint8_t>> reads, int* closes)
      : reads_(std::move(reads)), closes_(closes) {}
  ~FakeEventLog() override { ++*closes_; }
  bool ReadBackwards(std::span<std::uint8_t> buffer,
                     std::uint32_t* read,
                     std::uint32_t* needed) override {
    if (reads_.empty()) {
      return false;
    }
    std::vector<std::uint8_t> next = std::move(reads_.front());
    reads_.pop_front();
    if (next.size() > buffer.size()) {
      // As the system does with a record larger than the buffer.
      *needed = static_cast<std::uint32_t>(next.size());
      return false;
    }
    std::copy(next.begin(), next.end(), buffer.begin());
    *read = static_cast<std::uint32_t>(next.size());
    *needed = 0;
    return true;
  }

 private:
  std::deque<std::vector<std::uint8_t>> reads_;
  int* closes_;
};

// Local time is UTC here, so that a test can give seconds and expect the matching text.
class FakePowerPlatform final : public service::PowerPlatform {
 public:
  std::uintptr_t RegisterSuspendResume() override {
    ++registrations;
    return register_answers.empty() ? 0 : Pop(register_answers);
  }
  std::int64_t Now() override { return now; }
  std::tm LocalTime(std::int64_t seconds) override {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm out{};
#ifdef _WIN32
    gmtime_s(&out, &t);
#else
    gmtime_r(&t, &out);
#endif
    return out;
  }
  std::unique_ptr<service::EventLogReader> OpenApplicationLog() override {
    ++opens;
    if (!log_opens) {
      return nullptr;
    }
    return std::make_unique<FakeEventLog>(reads, &closes);
  }

  std::deque<std::uintptr_t> register_answers;  // one per registration; 0 when empty
  int registrations = 0;
  std::int64_t now = 0;
  bool log_opens = true;
  std::deque<std::vector<std::uint8_t>> reads;
  int opens = 0;
  int closes = 0;

 private:
  static std::uintptr_t Pop(std::deque<std::uintptr_t>& q) {
    const std::uintptr_t v = q.front();
    q.pop_front();
    return v;
  }
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_FAKE_SERVICE_PLATFORM_H_
