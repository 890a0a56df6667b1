// The suspend/resume callback and the logon time from the event log, over fakes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "service/event_log_builder.h"
#include "service/fake_service_platform.h"
#include "service/power_events.h"
#include "support/log_capture.h"
#include "tasks/task_manager.h"
#include "tasks/task_test_support.h"

namespace halvorn::service {
namespace {

using testing::CannedRecord;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using testing::EventLogBuffer;
using testing::ExpectedLog;
using testing::FakePowerPlatform;
using testing::FakeSystem;
using ::testing::HasSubstr;
using ::testing::IsSubsetOf;
using testing::LogCapture;
using ::testing::Not;

constexpr std::int64_t kSuspendSeconds = 1704441789;  // 2024-01-05 08:03:09 (UTC in the fake)
constexpr std::uintptr_t kHandle = 0x1234;

const char kEventLine[] =
    "PowerChanged: Event Type = %d ( 4 PBT_APMSUSPEND; 7 PBT_APMRESUMESUSPEND ; 18 "
    "PBT_APMRESUMEAUTOMATIC)";

std::string EventLine(std::uint32_t type) {
  std::string line = kEventLine;
  line.replace(line.find("%d"), 2, std::to_string(type));
  return line;
}

// The words of the automatic-resume line in code page 936.
const std::string kResumeWords = "\xCF\xB5\xCD\xB3\xBF\xAA\xBB\xFA\xCA\xB1\xBC\xE4";

class PowerEventsTest : public ::testing::Test {
 protected:
  PowerEventsTest()
      : manager_(system_.Hooks(FakeSystem::Worker::kManual)),
        power_(platform_, [this] { return &manager_; }) {}

  // The tasks filed with the manager, by name.
  std::vector<std::string> FiledTasks() {
    std::vector<std::string> names;
    for (CTask* t = manager_.getTask(); t != nullptr; t = manager_.getTask()) {
      names.push_back(t->getName());
      manager_.popTask(t);
    }
    return names;
  }

  FakeSystem system_;
  CTaskManager manager_;
  FakePowerPlatform platform_;
  PowerEvents power_;
};

struct EventCase {
  const char* name;
  std::uint32_t type;
  bool registered_before;
  int registrations;               // registrations the event makes
  bool registered_after;           // a registration handle is held afterwards
  int tasks;                       // authorisation tasks queued
  std::vector<std::string> lines;  // every line, when given
};

TEST_F(PowerEventsTest, EachEventType) {
  const std::vector<EventCase> cases = {
      // The registration stays through a suspend, so that its resume arrives.
      {"SuspendKeepsTheRegistration", 4, true, 0, true, 0,
       ExpectedLog()
           .Info(EventLine(4))
           .Info("PBT_APMSUSPEND g_szSuspendTime = 2024-01-05 08:03:09 ; g_suspendTime_t = "
                 "1704441789")
           .lines()},
      {"ResumeFromSuspendWhileRegistered", 7, true, 0, true, 0,
       ExpectedLog().Info(EventLine(7)).lines()},
      {"ResumeFromSuspendRegistersAgain", 7, false, 1, true, 0,
       ExpectedLog()
           .Info(EventLine(7))
           .Info("RegisterSuspendResumeNotification returned success")
           .lines()},
      {"AutomaticResumeQueuesTheJob", 18, true, 0, true, 1, {}},
      {"PowerSettingChange", 10, true, 0, true, 0, ExpectedLog().Info(EventLine(10)).lines()},
      {"OtherEventWhileUnregistered", 0xA, false, 0, false, 0,
       ExpectedLog().Info(EventLine(10)).lines()},
      {"ResumeCritical", 6, false, 0, false, 0, ExpectedLog().Info(EventLine(6)).lines()},
      {"Unknown", 0xFFFF, true, 0, true, 0, ExpectedLog().Info(EventLine(0xFFFF)).lines()},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakePowerPlatform platform;
    platform.now = kSuspendSeconds;
    platform.register_answers = {c.registered_before ? kHandle : 0, kHandle};
    FakeSystem system;
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
    PowerEvents power(platform, [&manager] { return &manager; });
    power.RegisterAtStart();
    std::vector<std::string> lines;
    {
      LogCapture capture;
      EXPECT_EQ(power.PowerChanged(c.type), 1u);
      lines = capture.Lines();
    }
    EXPECT_EQ(platform.registrations - 1, c.registrations);
    EXPECT_EQ(power.Registration() != 0, c.registered_after);
    int tasks = 0;
    for (CTask* t = manager.getTask(); t != nullptr; t = manager.getTask()) {
      EXPECT_STREQ(t->getName(), "CTaskAuthModule");
      ++tasks;
      manager.popTask(t);
    }
    EXPECT_EQ(tasks, c.tasks);
    if (!c.lines.empty()) {
      EXPECT_THAT(lines, ElementsAreArray(c.lines));
    }
    EXPECT_THAT(lines, Not(Contains(HasSubstr("UnregisterSuspendResumeNotification"))));
  }
}

TEST_F(PowerEventsTest, SuspendThenAutomaticResume) {
  platform_.now = kSuspendSeconds;
  platform_.register_answers = {kHandle};
  platform_.log_opens = false;
  ASSERT_TRUE(power_.RegisterAtStart());
  std::vector<std::string> lines;
  {
    LogCapture capture;
    power_.PowerChanged(kPowerSuspend);
    platform_.now += 3600;
    power_.PowerChanged(kPowerResumeAutomatic);
    lines = capture.Lines();
  }
  EXPECT_STREQ(power_.SuspendTimeText(), "2024-01-05 08:03:09");
  EXPECT_EQ(power_.SuspendTime(), kSuspendSeconds);
  // Still registered, so the resume reached the callback at all; no second registration.
  EXPECT_EQ(platform_.registrations, 1);
  EXPECT_EQ(power_.Registration(), kHandle);
  EXPECT_THAT(ExpectedLog()
                  .Info(EventLine(18))
                  .Info("+getLastLogTime")
                  .Error("Could not open the Application event log.")
                  // The log could not be read: an empty text and 0.
                  .Info("PBT_APMRESUMEAUTOMATIC " + kResumeWords + " =  ; logonTime = 0")
                  .Info("PBT_APMRESUMEAUTOMATIC g_szSuspendTime = 2024-01-05 08:03:09 ; "
                        "g_suspendTime_t = 1704441789")
                  .lines(),
              IsSubsetOf(lines));
  EXPECT_EQ(FiledTasks(), std::vector<std::string>{"CTaskAuthModule"});
}

TEST_F(PowerEventsTest, AutomaticResumeBeforeAnySuspendReportsNoSuspendTime) {
  platform_.log_opens = false;
  std::vector<std::string> lines;
  {
    LogCapture capture;
    power_.PowerChanged(kPowerResumeAutomatic);
    lines = capture.Lines();
  }
  EXPECT_THAT(lines, Contains("T i :   PBT_APMRESUMEAUTOMATIC g_szSuspendTime =  ; "
                              "g_suspendTime_t = 0"));
}

TEST_F(PowerEventsTest, AutomaticResumeWhileATaskIsFiledIsAbsorbed) {
  platform_.log_opens = false;
  power_.PowerChanged(kPowerResumeAutomatic);
  std::vector<std::string> lines;
  {
    LogCapture capture;
    power_.PowerChanged(kPowerResumeAutomatic);
    lines = capture.Lines();
  }
  EXPECT_THAT(lines, Contains("T i :   find the same task ID, and the retry times(10) != 0 ,so do "
                              "not add the new task(800)"));
  EXPECT_EQ(FiledTasks(), std::vector<std::string>{"CTaskAuthModule"});
}

TEST_F(PowerEventsTest, RefusedRegistrationIsTriedAgainAtTheNextResume) {
  platform_.register_answers = {0, 0, kHandle};
  EXPECT_FALSE(power_.RegisterAtStart());
  std::vector<std::string> lines;
  {
    LogCapture capture;
    power_.PowerChanged(kPowerResumeSuspend);
    power_.PowerChanged(kPowerResumeSuspend);
    power_.PowerChanged(kPowerResumeSuspend);
    lines = capture.Lines();
  }
  EXPECT_EQ(platform_.registrations, 3);
  EXPECT_EQ(power_.Registration(), kHandle);
  EXPECT_THAT(lines,
              ElementsAreArray(ExpectedLog()
                                   .Info(EventLine(7))
                                   .Info("RegisterSuspendResumeNotification returned error")
                                   .Info(EventLine(7))
                                   .Info("RegisterSuspendResumeNotification returned success")
                                   .Info(EventLine(7))
                                   .lines()));
}

// getLastLogTime over canned reads.
struct LogonCase {
  const char* name;
  std::deque<std::vector<std::uint8_t>> reads;
  bool result;
  std::string text;
  std::int64_t logon_time;
  std::vector<std::string> reads_logged;  // the "dwRead" lines
  std::string found_line;                 // the "find logon time" line, if any
};

CannedRecord Logon(std::uint32_t number, std::uint32_t written) {
  CannedRecord r;
  r.recordNumber = number;
  r.timeWritten = written;
  r.timeGenerated = written - 2;
  r.eventId = 1001;
  r.eventCategory = 0;
  return r;
}

CannedRecord NotLogon(std::uint32_t number, std::u16string source, std::uint16_t type = 4) {
  CannedRecord r = Logon(number, 1700000000);
  r.source = std::move(source);
  r.eventType = type;
  return r;
}

constexpr std::int64_t kNow = kSuspendSeconds;
const std::string kSubstituteText = "2023-12-29 08:03:09";  // now minus seven days

std::string ReadLine(std::size_t bytes) {
  return "dwRead = " + std::to_string(bytes) + ",dwNeeded = 0";
}

TEST_F(PowerEventsTest, LastLogonTime) {
  const std::vector<std::uint8_t> newest_first =
      EventLogBuffer().Add(Logon(30, 1704060900)).Add(Logon(29, 1703919600)).bytes();
  const std::vector<std::uint8_t> others =
      EventLogBuffer().Add(NotLogon(40, u"WLCLNTFY")).Add(NotLogon(39, u"Wlclntfy", 2)).bytes();
  const std::vector<std::uint8_t> cut =
      EventLogBuffer().Add(NotLogon(50, u"Other")).Add(Logon(49, 1704060900)).Cut(8).bytes();
  const std::vector<std::uint8_t> huge(PowerEvents::kReadBufferSize + 8, 0);
  const std::string found_30 =
      "find logon time !! 00 RecordNumber = 30 ; Event ID: 00001001 EventType: 4 ; "
      "EventCategory = 0 ; TimeGenerated = 1704060898 ;TimeWritten = 1704060900(2023-12-31 "
      "22:15:00 ) Source: Wlclntfy";
  const std::vector<LogonCase> cases = {
      {"NewestOfSeveral",
       {newest_first},
       true,
       "2023-12-31 22:15:00",
       1704060900,
       {ReadLine(newest_first.size())},
       found_30},
      {"FoundInALaterRead",
       {others, newest_first},
       true,
       "2023-12-31 22:15:00",
       1704060900,
       {ReadLine(others.size()), ReadLine(newest_first.size())},
       found_30},
      {"OnlyLookalikes",
       {others},
       false,
       kSubstituteText,
       kNow - 604800,
       {ReadLine(others.size())},
       ""},
      // The truncated record ends that buffer's walk; the next read goes on.
      {"TruncatedRecordThenNextRead",
       {cut, newest_first},
       true,
       "2023-12-31 22:15:00",
       1704060900,
       {ReadLine(cut.size()), ReadLine(newest_first.size())},
       found_30},
      // A record larger than the buffer fails the read, which ends the search.
      {"RecordLargerThanTheBuffer",
       {huge, newest_first},
       false,
       kSubstituteText,
       kNow - 604800,
       {},
       ""},
      {"EmptyLog", {}, false, kSubstituteText, kNow - 604800, {}, ""},
  };
  for (const LogonCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.now = kNow;
    platform_.reads = c.reads;
    platform_.closes = 0;
    char text[kTimeTextSize] = {};
    std::int64_t logon_time = 0;
    bool result = false;
    std::vector<std::string> lines;
    {
      LogCapture capture;
      result = power_.getLastLogTime(text, &logon_time);
      lines = capture.Lines();
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::string(text), c.text);
    EXPECT_EQ(logon_time, c.logon_time);
    EXPECT_EQ(platform_.closes, 1);
    ExpectedLog expected;
    expected.Info("+getLastLogTime");
    for (const std::string& read : c.reads_logged) {
      expected.Info(read);
    }
    if (c.result) {
      expected.Info(c.found_line);
    } else {
      expected.Info("not find logon time,because start long long ago , so set a fake time = " +
                    c.text + " : seven days ago");
    }
    expected.Info("-getLastLogTime");
    EXPECT_THAT(lines, ElementsAreArray(expected.lines()));
  }
}

TEST_F(PowerEventsTest, LogThatCannotBeOpenedLeavesTextAndTimeAlone) {
  platform_.log_opens = false;
  char text[kTimeTextSize] = "unchanged";
  std::int64_t logon_time = 42;
  std::vector<std::string> lines;
  {
    LogCapture capture;
    EXPECT_FALSE(power_.getLastLogTime(text, &logon_time));
    lines = capture.Lines();
  }
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(logon_time, 42);
  EXPECT_THAT(lines, ElementsAreArray(ExpectedLog()
                                          .Info("+getLastLogTime")
                                          .Error("Could not open the Application event log.")
                                          .lines()));
}

TEST_F(PowerEventsTest, AutomaticResumeReportsTheLogonTime) {
  platform_.now = kNow;
  platform_.reads = {EventLogBuffer().Add(Logon(30, 1704060900)).bytes()};
  std::vector<std::string> lines;
  {
    LogCapture capture;
    power_.PowerChanged(kPowerResumeAutomatic);
    lines = capture.Lines();
  }
  EXPECT_THAT(lines, Contains("T i :   PBT_APMRESUMEAUTOMATIC " + kResumeWords +
                              " = 2023-12-31 22:15:00 ; logonTime = 1704060900"));
}

}  // namespace
}  // namespace halvorn::service
