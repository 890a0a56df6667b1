// Power events of the Linux build: logind on the system bus (sd-bus), and the journal as the
// event log.
//
//   PrepareForSleep(true)    the suspend event (4)
//   PrepareForSleep(false)   the automatic resume (18)
//
// The service holds a delay inhibitor lock for sleep (Manager.Inhibit("sleep", ..., "delay")),
// so that logind waits with the suspend until the suspend line is written. The lock is let go
// once the suspend event has been handled and taken anew on resume, before the resume is
// handled; a logind that (re)appears on the bus is given a new one.
//
// One thread of this object (the power notification thread) owns the bus connection and runs
// every event. The first registration connects to the bus and subscribes, and reports whether
// that worked; when the bus cannot be reached or is lost later, the thread logs it and connects
// again every few seconds, subscribing anew. None of this ever stops the service.

#ifndef HALVORN_SERVICE_LINUX_LOGIND_POWER_H_
#define HALVORN_SERVICE_LINUX_LOGIND_POWER_H_

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "service/power_events.h"
#include "util/linux/scoped_fd.h"

namespace halvorn::service {

class LogindPower final : public PowerPlatform {
 public:
  static constexpr int kReconnectPauseMs = 3000;

  // `journal_directory`: empty for the system journal, else a folder of journal files.
  explicit LogindPower(std::string journal_directory = {});
  LogindPower(const LogindPower&) = delete;
  LogindPower& operator=(const LogindPower&) = delete;
  // Ends the power notification thread.
  ~LogindPower() override;

  // Where the events go (PowerEvents::PowerChanged); set before the first registration.
  void SetReceiver(std::function<void(std::uint32_t event_type)> receiver);

  // PowerPlatform. RegisterSuspendResume starts the power notification thread on its first
  // call and waits for its first connection; 1 while subscribed to logind's signals, 0 when not.
  std::uintptr_t RegisterSuspendResume() override;
  std::int64_t Now() override;
  std::tm LocalTime(std::int64_t seconds) override;
  std::unique_ptr<EventLogReader> OpenApplicationLog() override;
  std::u16string_view LogonSource() const override;

 private:
  void Run();
  bool Connect(bool report);
  void Disconnect();
  void TakeLock();
  void ReleaseLock();
  void Deliver(std::uint32_t event_type);
  static int OnPrepareForSleep(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);

  const std::string journal_directory_;
  std::function<void(std::uint32_t)> receiver_;

  std::mutex lock_;
  std::condition_variable first_attempt_;
  bool started_ = false;
  bool attempted_ = false;
  bool subscribed_ = false;  // guarded by lock_
  bool stopping_ = false;    // guarded by lock_
  std::thread thread_;
  ScopedFd wake_;  // eventfd: ends the thread's wait

  // The power notification thread's own.
  sd_bus* bus_ = nullptr;
  ScopedFd inhibitor_;
};

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_LOGIND_POWER_H_
