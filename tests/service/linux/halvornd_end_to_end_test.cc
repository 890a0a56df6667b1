// The real halvornd on a simulated laptop (simulated_laptop.h), under a notify socket of the
// test's own: what it tells systemd and when, that it sets the modem's level, and that SIGTERM
// ends it with exit code 0 and every stop line in its log, whenever it comes. With
// python3-dbusmock's logind on a private system bus: suspend and resume, the sleep delay lock,
// a restarted logind. Runs under in_testbed.sh, as root (the registry file).

#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "service/linux/daemon_harness.h"
#include "support/linux/dbus_mock.h"

namespace halvorn::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsSupersetOf;
using ::testing::Not;

constexpr auto kBound = std::chrono::seconds(60);  // a hang guard, never a speed goal

constexpr const char* kStartPending = "EXTEND_TIMEOUT_USEC=1000000\nSTATUS=start pending";
constexpr const char* kRunning = "STATUS=running";
constexpr const char* kReady = "READY=1";
constexpr const char* kStopPending = "STOPPING=1\nSTATUS=stop pending";
constexpr const char* kStopped = "STATUS=stopped";

constexpr const char* kQueuedLine = "T i :   CTaskFactory createTask TASK_TYPE_AUTH_MODULE";
constexpr const char* kReadyLine = "T i :   notify : READY=1";
constexpr const char* kJobEndLine = "T h : - CTaskAuthModule::doJob";
constexpr const char* kRemovedLine = "T i :   after  delete task list size = 0";
constexpr const char* kSetLine = "T i :   SET MBIM FUN SUCCESS!";

// Every line the stop writes: the control handler's on the dispatcher thread, the service main
// routine's on its own (the two interleave), and the exit last, once both are done.
const std::vector<std::string> kHandlerStopLines = {
    "T i :   CtrlCode = 0x1 ; dwEventType = 0",
    "T i :   SERVICE_CONTROL_STOP",
    "T i :   SERVICE_CONTROL_STOP g_pKService->stop(); exit",
    "T h : - ServiceCtrlHandler",
    "T i :   Halvorn: Main: Exit",
};
const std::vector<std::string> kMainStopLines = {
    "T i :   \nKService::Run leave\n",
    "==================================   Halvorn stop "
    "==============================================",
    "T i :   notify : STATUS=stopped",
    "T h : - ServiceMain",
    "T i :   Halvorn: Main: Exit",
};

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

std::ptrdiff_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  const auto at = std::find(lines.begin(), lines.end(), line);
  return at == lines.end() ? -1 : at - lines.begin();
}

// No system bus unless a case starts one: the power events' registration fails.
class HalvorndTest : public NoBusLaptopTest {
 protected:
  // SIGTERM, then the exit: code 0, every stop line, the stop reports last. The time from the
  // signal to the exit goes to the test's properties.
  void StopAndCheck() { StopAndCheck(daemon_); }
  void StopAndCheck(Daemon& daemon) {
    const auto sent = std::chrono::steady_clock::now();
    daemon.process().Signal(SIGTERM);
    const std::optional<int> status = daemon.process().WaitForExit(kBound);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    RecordProperty("stop_ms", std::to_string(took.count()));
    std::printf("stop took %lld ms\n", static_cast<long long>(took.count()));
    ASSERT_TRUE(status.has_value()) << "still running " << kBound.count() << " s after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "wait status " << *status << "\n"
        << daemon.Output();
    const std::vector<std::string> log = daemon.Log();
    EXPECT_TRUE(LinesInOrder(log, kHandlerStopLines)) << Join(log);
    EXPECT_TRUE(LinesInOrder(log, kMainStopLines)) << Join(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "T i :   Halvorn: Main: Exit");
    const std::vector<std::string> messages = daemon.notify().Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(messages.end() - 2, messages.end()),
                ElementsAre(kStopPending, kStopped));
  }

  Daemon daemon_{HALVORND_PATH};
};

TEST_F(HalvorndTest, TellsSystemdSetsTheLevelAndStopsOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.notify().ok());
  ASSERT_TRUE(daemon_.Start());

  ASSERT_TRUE(daemon_.notify().WaitFor(kReady, kBound)) << daemon_.Output();
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine)) << Join(daemon_.Log());
  EXPECT_EQ(laptop_->modem().level(), 1);
  // READY=1 only once the authorisation task is queued.
  const std::vector<std::string> log = daemon_.Log();
  EXPECT_LT(IndexOf(log, kQueuedLine), IndexOf(log, kReadyLine));
  EXPECT_GE(IndexOf(log, kQueuedLine), 0);
  // Without a system bus the service runs without power events.
  EXPECT_THAT(log, Contains("T e :   RegisterSuspendResumeNotification returned error"));
  EXPECT_THAT(log, Not(Contains(::testing::HasSubstr("no service manager listens"))));

  ASSERT_NO_FATAL_FAILURE(StopAndCheck());
  EXPECT_THAT(daemon_.notify().Messages(),
              ElementsAre(kStartPending, kRunning, kReady, kStopPending, kStopped));
}

TEST_F(HalvorndTest, WithoutANotifySocketRunsAndSaysSoOnce) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.Start(/*notify=*/false));
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine)) << daemon_.Output();
  daemon_.process().Signal(SIGTERM);
  const std::optional<int> status = daemon_.process().WaitForExit(kBound);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  const std::vector<std::string> log = daemon_.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "T i :   no service manager listens (NOTIFY_SOCKET not set); running in the "
                       "foreground"),
            1);
  EXPECT_TRUE(LinesInOrder(log, kHandlerStopLines));
  EXPECT_TRUE(LinesInOrder(log, kMainStopLines));
  EXPECT_TRUE(daemon_.notify().Messages().empty());
}

// SIGTERM at each moment of the service's life.
struct StopCase {
  const char* name;
  Laptop laptop;
  // When the signal goes: the log line (or the sent query) the case waits for first.
  const char* after_line;  // null: once the stop signals are blocked, before any report
  bool after_query;
};

const StopCase kStopCases[] = {
    {"AtStart", kListedLaptopAtLevelZero, nullptr, false},
    // A modem that never answers: the helper's 2-second wait for the level.
    {"DuringTheCommandWait",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, mbimsim::Fault::kNoAnswer},
     nullptr,
     true},
    // No modem: the job asks for a retry, and the worker pauses 5 seconds.
    {"DuringTheRetryPause",
     {kListedModel, false, nullptr, nullptr, true, std::nullopt, 0, mbimsim::Fault::kNone},
     "T h : + CTaskManager::retry",
     false},
    {"WhileTheJobRuns", kListedLaptopAtLevelZero, "T h : + CTaskAuthModule::doJob", false},
};

TEST_F(HalvorndTest, SigtermAtAnyMomentEndsTheProcessWithEveryStopLine) {
  for (const StopCase& c : kStopCases) {
    SCOPED_TRACE(c.name);
    laptop_.reset();  // its environment goes before the next one's is set
    laptop_ = std::make_unique<SimulatedLaptop>();
    ASSERT_NO_FATAL_FAILURE(laptop_->Build(c.laptop));
    Daemon daemon(HALVORND_PATH);
    ASSERT_TRUE(daemon.Start());
    if (c.after_line != nullptr) {
      ASSERT_TRUE(daemon.WaitForLog(c.after_line)) << daemon.Output();
    } else if (c.after_query) {
      ASSERT_TRUE(PollUntil([&] { return !laptop_->modem().VendorCommands().empty(); }, kBound));
    } else {
      ASSERT_TRUE(PollUntil([&] { return daemon.StopSignalsBlocked(); }, kBound));
    }
    ASSERT_NO_FATAL_FAILURE(StopAndCheck(daemon));
  }
}

// logind as python3-dbusmock plays it, on a private system bus.
class HalvorndLogindTest : public HalvorndTest {
 protected:
  void SetUp() override {
    HalvorndTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    bool skip = false;
    const std::string error = logind_.Start("logind", "org.freedesktop.login1", &skip);
    if (skip) {
      GTEST_SKIP() << error;
    }
    ASSERT_EQ(error, "");
  }

  int Inhibitors() {
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(logind_.bus(), "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", nullptr, &reply,
                           "") < 0) {
      return -1;
    }
    int count = 0;
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    std::uint32_t uid = 0;
    std::uint32_t pid = 0;
    sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
      if (std::string(what) == "sleep" && std::string(mode) == "delay") {
        ++count;
      }
    }
    sd_bus_message_unref(reply);
    return count;
  }

  bool WaitForInhibitors(int count) {
    return PollUntil([&] { return Inhibitors() == count; }, kBound);
  }

  void PrepareForSleep(bool start) { halvorn::testing::PrepareForSleep(logind_, start); }

  DbusMock logind_;
};

TEST_F(HalvorndLogindTest, SuspendAndResumeTwiceRunTheJobAgainEachTime) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.Start());
  ASSERT_TRUE(daemon_.notify().WaitFor(kReady, kBound)) << daemon_.Output();
  ASSERT_TRUE(daemon_.WaitForLog(kJobEndLine, 1));
  EXPECT_TRUE(daemon_.LogHas("T i :   subscribed to logind's PrepareForSleep"));
  ASSERT_TRUE(WaitForInhibitors(1)) << "no sleep delay lock taken";

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // The finished task leaves the list 500 ms after its run; until then a new one is taken
    // for its duplicate and dropped (the task manager's duplicate rule).
    ASSERT_TRUE(daemon_.WaitForLog(kRemovedLine, round));
    PrepareForSleep(true);
    ASSERT_TRUE(daemon_.WaitForLog("T i :   sleep delay lock released", round));
    EXPECT_TRUE(WaitForInhibitors(0)) << "the lock is kept while the machine sleeps";
    PrepareForSleep(false);
    ASSERT_TRUE(daemon_.WaitForLog(kJobEndLine, round + 1)) << "the job did not run again\n"
                                                            << Join(daemon_.Log());
    EXPECT_TRUE(WaitForInhibitors(1)) << "no new lock after the resume";
  }
  const std::vector<std::string> log = daemon_.Log();
  const auto count = [&log](const std::string& prefix) {
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  };
  EXPECT_EQ(count("T i :   PowerChanged: Event Type = 4 "), 2);
  EXPECT_EQ(count("T i :   PowerChanged: Event Type = 18 "), 2);
  EXPECT_EQ(count("T i :   PBT_APMSUSPEND g_szSuspendTime = "), 2);
  EXPECT_EQ(count("T i :   PBT_APMRESUMEAUTOMATIC g_szSuspendTime = "), 2);
  EXPECT_EQ(count("T i :   PBT_APMRESUMEAUTOMATIC \xCF\xB5\xCD\xB3"), 2);
  // The suspend is written before the lock goes, the new lock is taken before the resume runs.
  EXPECT_TRUE(
      LinesInOrder(log, {"T i :   PowerChanged: Event Type = 4 ( 4 PBT_APMSUSPEND; 7 "
                         "PBT_APMRESUMESUSPEND ; 18 PBT_APMRESUMEAUTOMATIC)",
                         "T i :   sleep delay lock released", "T i :   sleep delay lock taken",
                         "T i :   PowerChanged: Event Type = 18 ( 4 PBT_APMSUSPEND; 7 "
                         "PBT_APMRESUMESUSPEND ; 18 PBT_APMRESUMEAUTOMATIC)"}));
  // Each resume asked the modem again (the level is 1 by then: queried, not set).
  EXPECT_EQ(laptop_->modem().VendorCommands().size(), 4u);
  ASSERT_NO_FATAL_FAILURE(StopAndCheck());
}

TEST_F(HalvorndLogindTest, ARestartedLogindGetsANewLock) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.Start());
  ASSERT_TRUE(daemon_.notify().WaitFor(kReady, kBound)) << daemon_.Output();
  ASSERT_TRUE(WaitForInhibitors(1));
  ASSERT_EQ(logind_.Restart(), "");
  ASSERT_TRUE(WaitForInhibitors(1)) << "no lock with the new logind";
  EXPECT_TRUE(daemon_.LogHas("T i :   logind appeared on the bus"));
  // And its signals still arrive.
  PrepareForSleep(true);
  EXPECT_TRUE(daemon_.WaitForLog("T i :   sleep delay lock released"));
  ASSERT_NO_FATAL_FAILURE(StopAndCheck());
}

// The system bus goes (its daemon restarted) and comes back with a new logind: the loss is
// logged once, the service goes on, connects again, takes a new lock, and a sleep and resume
// on the new bus run the job again.
TEST_F(HalvorndLogindTest, ALostBusIsLoggedAndTheServiceComesBackToIt) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.Start());
  ASSERT_TRUE(daemon_.notify().WaitFor(kReady, kBound)) << daemon_.Output();
  ASSERT_TRUE(daemon_.WaitForLog(kJobEndLine, 1));
  ASSERT_TRUE(WaitForInhibitors(1));
  logind_.EndBus();
  const auto lost = [](const std::string& l) {
    return l.rfind("T e :   system bus lost : ", 0) == 0;
  };
  EXPECT_TRUE(PollUntil(
      [&] {
        const std::vector<std::string> log = daemon_.Log();
        return std::any_of(log.begin(), log.end(), lost);
      },
      kBound))
      << Join(daemon_.Log());

  ASSERT_EQ(logind_.BringBusBack(), "");
  ASSERT_TRUE(daemon_.WaitForLog("T i :   subscribed to logind's PrepareForSleep", 2))
      << Join(daemon_.Log());
  ASSERT_TRUE(WaitForInhibitors(1)) << "no lock on the new bus";
  ASSERT_TRUE(daemon_.WaitForLog(kRemovedLine, 1));
  laptop_->modem().SetLevel(0);
  PrepareForSleep(true);
  ASSERT_TRUE(daemon_.WaitForLog("T i :   sleep delay lock released"));
  PrepareForSleep(false);
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine, 2)) << Join(daemon_.Log());
  EXPECT_EQ(laptop_->modem().level(), 1);
  const std::vector<std::string> log = daemon_.Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), lost), 1);
  ASSERT_NO_FATAL_FAILURE(StopAndCheck());
}

}  // namespace
}  // namespace halvorn::testing
