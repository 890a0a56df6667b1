#include "service/power_events.h"

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/event_log_records.h"
#include "tasks/task_factory.h"
#include "tasks/task_manager.h"
#include "util/log_helper.h"
#include "util/printf_format.h"

namespace halvorn::service {

namespace {

constexpr const char* kTagPowerChanged = "PowerChanged";
constexpr const char* kTagRegister = "regester_power";
constexpr const char* kTagLastLogTime = "getLastLogTime";

constexpr const char* kTimeFormat = "%04d-%02d-%02d %02d:%02d:%02d";

// The automatic-resume line. The words after the event name ("system start time") are kept
// in the Chinese code page 936 and reach the log as these bytes.
constexpr const char* kResumeAutomaticLine =
    "PBT_APMRESUMEAUTOMATIC \xCF\xB5\xCD\xB3\xBF\xAA\xBB\xFA\xCA\xB1\xBC\xE4 = %s ; logonTime = "
    "%lld";

std::wstring Widen(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace

PowerEvents::PowerEvents(PowerPlatform& platform, std::function<CTaskManager*()> task_manager)
    : platform_(platform), task_manager_(std::move(task_manager)) {}

void PowerEvents::FormatLocalTime(std::int64_t seconds, char* text) {
  const std::tm t = platform_.LocalTime(seconds);
  const PrintfArg args[] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                            t.tm_hour,        t.tm_min,     t.tm_sec};
  FormatPrintf(text, kTimeTextSize, kTimeFormat, args);
}

bool PowerEvents::RegisterAtStart() {
  const std::uintptr_t handle = platform_.RegisterSuspendResume();
  g_hPowerNotify.store(handle);
  return handle != 0;
}

void PowerEvents::regester_power() {
  if (g_hPowerNotify.load() != 0) {
    return;
  }
  const std::uintptr_t handle = platform_.RegisterSuspendResume();
  g_hPowerNotify.store(handle);
  if (handle == 0) {
    LogHelper::Print(LogInfo, kTagRegister, "RegisterSuspendResumeNotification returned error");
  } else {
    LogHelper::Print(LogInfo, kTagRegister, "RegisterSuspendResumeNotification returned success");
  }
}

std::uint32_t PowerEvents::PowerChanged(std::uint32_t event_type) {
  LogHelper::Print(LogInfo, kTagPowerChanged,
                   "PowerChanged: Event Type = %d ( 4 PBT_APMSUSPEND; 7 PBT_APMRESUMESUSPEND ; 18 "
                   "PBT_APMRESUMEAUTOMATIC)",
                   event_type);
  switch (event_type) {
    case kPowerSuspend:
      std::memset(g_szSuspendTime, 0, sizeof g_szSuspendTime);
      g_suspendTime_t = platform_.Now();
      FormatLocalTime(g_suspendTime_t, g_szSuspendTime);
      LogHelper::Print(LogInfo, kTagPowerChanged,
                       "PBT_APMSUSPEND g_szSuspendTime = %s ; g_suspendTime_t = %lld",
                       g_szSuspendTime, g_suspendTime_t);
      // The registration stays: the resume events are what this callback is for.
      break;
    case kPowerResumeAutomatic: {
      char logon_text[kTimeTextSize] = {};
      std::int64_t logonTime = 0;
      getLastLogTime(logon_text, &logonTime);
      LogHelper::Print(LogInfo, kTagPowerChanged, kResumeAutomaticLine, logon_text, logonTime);
      LogHelper::Print(LogInfo, kTagPowerChanged,
                       "PBT_APMRESUMEAUTOMATIC g_szSuspendTime = %s ; g_suspendTime_t = %lld",
                       g_szSuspendTime, g_suspendTime_t);
      regester_power();
      if (CTaskManager* manager = task_manager_ ? task_manager_() : nullptr) {
        if (std::unique_ptr<CTask> task =
                CTaskFactory::createTask(manager, TASK_TYPE_AUTH_MODULE)) {
          manager->addTask(std::move(task));
        }
      }
      break;
    }
    case kPowerResumeSuspend:
      regester_power();
      break;
    default:
      break;
  }
  return 1;
}

bool PowerEvents::getLastLogTime(char* text, std::int64_t* logonTime) {
  LogHelper::Print(LogInfo, kTagLastLogTime, "+getLastLogTime");
  std::unique_ptr<EventLogReader> log = platform_.OpenApplicationLog();
  if (!log) {
    LogHelper::Print(LogError, kTagLastLogTime, "Could not open the Application event log.");
    return false;
  }
  std::vector<std::uint8_t> buffer(kReadBufferSize);
  std::uint32_t read = 0;
  std::uint32_t needed = 0;
  while (log->ReadBackwards(buffer, &read, &needed)) {
    LogHelper::Print(LogInfo, kTagLastLogTime, "dwRead = %d,dwNeeded = %d", read, needed);
    const std::size_t used = read < buffer.size() ? read : buffer.size();
    const std::optional<EventLogRecord> logon = FindLogonRecord(
        std::span<const std::uint8_t>(buffer.data(), used), platform_.LogonSource());
    if (!logon) {
      continue;
    }
    const std::tm t = platform_.LocalTime(logon->timeWritten);
    const std::wstring source = Widen(logon->sourceName);
    LogHelper::Print(LogInfo, kTagLastLogTime,
                     "find logon time !! %02d RecordNumber = %d ; Event ID: %08d EventType: %d ; "
                     "EventCategory = %d ; TimeGenerated = %d ;TimeWritten = "
                     "%d(%04d-%02d-%02d %02d:%02d:%02d ) Source: %ws",
                     0, logon->recordNumber, logon->eventId, logon->eventType, logon->eventCategory,
                     logon->timeGenerated, logon->timeWritten, t.tm_year + 1900, t.tm_mon + 1,
                     t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, source);
    FormatLocalTime(logon->timeWritten, text);
    *logonTime = logon->timeWritten;
    log.reset();
    LogHelper::Print(LogInfo, kTagLastLogTime, "-getLastLogTime");
    return true;
  }
  // No logon record: the user logged on before the oldest record the log still holds.
  *logonTime = platform_.Now() - kSubstituteLogonSpanSeconds;
  FormatLocalTime(*logonTime, text);
  LogHelper::Print(LogInfo, kTagLastLogTime,
                   "not find logon time,because start long long ago , so set a fake time = %s : "
                   "seven days ago",
                   text);
  log.reset();
  LogHelper::Print(LogInfo, kTagLastLogTime, "-getLastLogTime");
  return false;
}

}  // namespace halvorn::service
