// Power events: the suspend/resume callback, its registration and the user's last logon time
// from the Application event log. Portable: registration, clock and event log are reached
// through PowerPlatform; the record walk is event_log_records.h.

#ifndef HALVORN_SERVICE_POWER_EVENTS_H_
#define HALVORN_SERVICE_POWER_EVENTS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "service/event_log_records.h"

namespace halvorn {

class CTaskManager;

namespace service {

// Power event types.
inline constexpr std::uint32_t kPowerSuspend = 4;           // PBT_APMSUSPEND
inline constexpr std::uint32_t kPowerResumeSuspend = 7;     // PBT_APMRESUMESUSPEND
inline constexpr std::uint32_t kPowerResumeAutomatic = 18;  // PBT_APMRESUMEAUTOMATIC

// Size of the texts of this part (19 characters used).
inline constexpr std::size_t kTimeTextSize = 56;

// One open event log.
class EventLogReader {
 public:
  virtual ~EventLogReader() = default;  // closes the log
  // Reads the next records, newest first (sequential, backwards), into `buffer`. True with
  // *read set; false at the end of the log or on any failure (also a record larger than the
  // buffer), with *needed set when the platform reports it.
  virtual bool ReadBackwards(std::span<std::uint8_t> buffer,
                             std::uint32_t* read,
                             std::uint32_t* needed) = 0;
};

class PowerPlatform {
 public:
  virtual ~PowerPlatform() = default;
  // Registers PowerChanged for suspend/resume events as a direct callback with no context.
  // The registration handle, or 0 when refused.
  virtual std::uintptr_t RegisterSuspendResume() = 0;
  // Seconds since 1970-01-01 UTC, and their local calendar time.
  virtual std::int64_t Now() = 0;
  virtual std::tm LocalTime(std::int64_t seconds) = 0;
  // The local Application log, or null when it cannot be opened.
  virtual std::unique_ptr<EventLogReader> OpenApplicationLog() = 0;
  // The source name of the logon records in that log: "Wlclntfy" on Windows; a port whose
  // log names the logon's writer otherwise says which.
  virtual std::u16string_view LogonSource() const { return kLogonSource; }
};

// The power-event state of the process and what the callback does with each event.
//
// Threads: PowerChanged runs on the system's power notification thread; RegisterAtStart on
// the service main thread, before any power event can arrive.
class PowerEvents {
 public:
  // How far before now the substitute logon time lies when the log holds no logon record.
  static constexpr std::int64_t kSubstituteLogonSpanSeconds = 7 * 24 * 60 * 60;
  static constexpr std::size_t kReadBufferSize = 32768;

  PowerEvents(PowerPlatform& platform, std::function<CTaskManager*()> task_manager);
  PowerEvents(const PowerEvents&) = delete;
  PowerEvents& operator=(const PowerEvents&) = delete;

  // The service main routine's registration at start. False, with its error line, when it
  // was refused.
  bool RegisterAtStart();

  // The callback: logs the event, notes a suspend, re-registers on a resume, and queues an
  // authorisation task on an automatic resume. Returns 1 for every event type.
  //
  // A suspend leaves the registration in place: an unregistered callback would never see
  // the resume that is meant to run the job again.
  std::uint32_t PowerChanged(std::uint32_t event_type);

  // Registers the callback unless it is registered.
  void regester_power();

  // The newest logon record's time written, as text (56 bytes) and seconds. False when the
  // log cannot be opened (text and time untouched) or holds no logon record (the substitute
  // time is reported).
  bool getLastLogTime(char* text, std::int64_t* logonTime);

  // For tests and diagnosis.
  const char* SuspendTimeText() const { return g_szSuspendTime; }
  std::int64_t SuspendTime() const { return g_suspendTime_t; }
  std::uintptr_t Registration() const { return g_hPowerNotify.load(); }

 private:
  void FormatLocalTime(std::int64_t seconds, char* text);

  PowerPlatform& platform_;
  const std::function<CTaskManager*()> task_manager_;
  char g_szSuspendTime[kTimeTextSize] = {};
  std::int64_t g_suspendTime_t = 0;
  std::atomic<std::uintptr_t> g_hPowerNotify{0};
};

}  // namespace service
}  // namespace halvorn

#endif  // HALVORN_SERVICE_POWER_EVENTS_H_
