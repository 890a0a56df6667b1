// Every fault the simulated modem can show, each through the real job on the simulated laptop
// (the same Linux code as in production: libmbim-glib on the simulator's pseudo-terminal, the
// process's runtime, the 2-second command wait). The fault hits the first command it targets
// and no other, so each case runs the job twice: the run the fault hits, whose outcome must be
// the one the job's outcome table gives for what the modem answered, and the retry after it,
// which must find the modem as the fault left it. No run may hang: each must end within the
// bound of the commands it sends (the port's open and each command are bounded by 2 seconds).
// The job's own 200 ms wait is recorded instead of slept. Runs under in_testbed.sh, as root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "auth/auth_module_job.h"
#include "auth/linux/simulated_laptop.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using mbimsim::Fault;
using mbimsim::FaultTarget;
using ::testing::ElementsAreArray;
using testing::kListedLaptopAtLevelZero;
using testing::LogCapture;

constexpr const char* kQuery = "query 00";
constexpr const char* kSet = "set 01000000";
constexpr const char* kSetDone = "T i :   SET MBIM FUN SUCCESS!";
constexpr const char* kAtOne = "T i :   MBIM FUN 1!";
constexpr const char* kReadFailed = "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!";
constexpr const char* kNoModem = "T i :   MBIM Device is not exist.";
constexpr const char* kSetFailed = "T e :   SetMbimCfun failed, Wait for retry!!!";

// The longest a run of the job may take: the port's open (2 s, only when it is not open yet),
// the query (2 s) and the set (2 s), with room for a busy machine. A run past it hangs.
constexpr std::chrono::seconds kRunBound{12};

// What one run of the job does.
struct JobRun {
  bool retry;
  const char* decisive_line;  // the line just before the exit trace line
  std::vector<std::string> commands;
  std::int32_t level;  // the modem's level after the run
};

struct FaultCase {
  const char* name;
  Fault fault;
  FaultTarget target;
  std::uint32_t status = 0;            // for kStatus
  std::chrono::milliseconds delay{0};  // for kDelay
  std::uint32_t short_length = 0;      // for kShortResponse
  std::uint32_t query_padding = 0;     // bytes after the level: fragments past 4096
  JobRun hit;                          // the run the fault hits
  JobRun next;                         // the retry after it
  // Another line the retry may end with, where the order of two events is not the test's to
  // choose; null for none.
  const char* next_also = nullptr;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

const JobRun kSetsTheLevel = {false, kSetDone, {kQuery, kSet}, 1};

const FaultCase kCases[] = {
    {.name = "FailureStatusToTheQuery",
     .fault = Fault::kStatus,
     .target = FaultTarget::kQuery,
     .status = mbimsim::kStatusFailure,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "BusyStatusToTheQuery",
     .fault = Fault::kStatus,
     .target = FaultTarget::kQuery,
     .status = mbimsim::kStatusBusy,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "FailureStatusToTheSet",
     .fault = Fault::kStatus,
     .target = FaultTarget::kSet,
     .status = mbimsim::kStatusFailure,
     .hit = {true, kSetFailed, {kQuery, kSet}, 0},
     .next = kSetsTheLevel},
    {.name = "SetRefused",
     .fault = Fault::kRefuseSet,
     .target = FaultTarget::kSet,
     .hit = {true, kSetFailed, {kQuery, kSet}, 0},
     .next = kSetsTheLevel},
    // The modem answers success and keeps its level: the job trusts the answer, and the next
    // run (a resume, a replug, a restart) finds the level at 0 again and sets it.
    {.name = "SetAnsweredButIgnored",
     .fault = Fault::kIgnoreSet,
     .target = FaultTarget::kSet,
     .hit = {false, kSetDone, {kQuery, kSet}, 0},
     .next = kSetsTheLevel},
    {.name = "QueryNeverAnswered",
     .fault = Fault::kNoAnswer,
     .target = FaultTarget::kQuery,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "SetNeverAnswered",
     .fault = Fault::kNoAnswer,
     .target = FaultTarget::kSet,
     .hit = {true, kSetFailed, {kQuery, kSet}, 0},
     .next = kSetsTheLevel},
    {.name = "QueryAnsweredWithinTheWait",
     .fault = Fault::kDelay,
     .target = FaultTarget::kQuery,
     .delay = std::chrono::milliseconds(300),
     .hit = kSetsTheLevel,
     .next = {false, kAtOne, {kQuery}, 1}},
    // Answered after the wait: the late answer must not be taken for the next query's.
    {.name = "QueryAnsweredAfterTheWait",
     .fault = Fault::kDelay,
     .target = FaultTarget::kQuery,
     .delay = std::chrono::milliseconds(3000),
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    // The modem stored the level at once and answered too late: the retry finds it at 1.
    {.name = "SetAnsweredAfterTheWait",
     .fault = Fault::kDelay,
     .target = FaultTarget::kSet,
     .delay = std::chrono::milliseconds(3000),
     .hit = {true, kSetFailed, {kQuery, kSet}, 1},
     .next = {false, kAtOne, {kQuery}, 1}},
    // The answer held back goes out just before the retry's own answer.
    {.name = "QueryAnswerHeldBackToTheNextCommand",
     .fault = Fault::kLateAnswer,
     .target = FaultTarget::kQuery,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "ShortAnswerToTheQuery",
     .fault = Fault::kShortResponse,
     .target = FaultTarget::kQuery,
     .short_length = 2,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "EmptyAnswerToTheQuery",
     .fault = Fault::kShortResponse,
     .target = FaultTarget::kQuery,
     .short_length = 0,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "WrongTransactionIdToTheQuery",
     .fault = Fault::kWrongTransactionId,
     .target = FaultTarget::kQuery,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "WrongTransactionIdToTheSet",
     .fault = Fault::kWrongTransactionId,
     .target = FaultTarget::kSet,
     .hit = {true, kSetFailed, {kQuery, kSet}, 1},
     .next = {false, kAtOne, {kQuery}, 1}},
    {.name = "GarbledAnswerToTheQuery",
     .fault = Fault::kGarbled,
     .target = FaultTarget::kQuery,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = kSetsTheLevel},
    {.name = "AnswersInFragments",
     .fault = Fault::kNone,
     .target = FaultTarget::kBoth,
     .query_padding = 6000,
     .hit = kSetsTheLevel,
     .next = {false, kAtOne, {kQuery}, 1}},
    {.name = "OpenNeverAnswered",
     .fault = Fault::kSilentOpen,
     .target = FaultTarget::kBoth,
     .hit = {true, kReadFailed, {}, 0},
     .next = kSetsTheLevel},
    // No close is ever waited for.
    {.name = "CloseNeverAnswered",
     .fault = Fault::kSilentClose,
     .target = FaultTarget::kBoth,
     .hit = kSetsTheLevel,
     .next = {false, kAtOne, {kQuery}, 1}},
    // The modem is gone for good: the query waits out its bound, and the retry's presence
    // test finds no modem. Until the runtime has seen the port hang up (on its own thread) it
    // may still count the modem as there, and the retry's query fails within its bound.
    {.name = "ModemVanishesAtTheQuery",
     .fault = Fault::kVanish,
     .target = FaultTarget::kQuery,
     .hit = {true, kReadFailed, {kQuery}, 0},
     .next = {true, kNoModem, {}, 0},
     .next_also = kReadFailed},
};

class AuthFaultMatrixTest : public testing::SimulatedLaptopTest,
                            public ::testing::WithParamInterface<FaultCase> {};

TEST_P(AuthFaultMatrixTest, TheJobSurvivesTheFaultAndTheRetryFindsTheModem) {
  const FaultCase& c = GetParam();
  mbimsim::ModemOptions modem;
  modem.initial_level = 0;
  modem.fault = c.fault;
  modem.fault_target = c.target;
  modem.fault_count = 1;
  modem.fault_status = c.status;
  modem.delay = c.delay;
  modem.short_length = c.short_length;
  modem.query_padding = c.query_padding;
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero, modem));
  simulator_ = &laptop_->modem();

  CMbnWinRtHelper helper(mbn_platform::DefaultRuntime(), nullptr);
  AuthModuleCollaborators with = AuthModuleCollaboratorsFor(helper, AuthModulePlatforms::System());
  std::vector<std::uint32_t> sleeps;
  with.sleepMs = [&sleeps](std::uint32_t ms) { sleeps.push_back(ms); };
  const AuthModuleJob job = MakeAuthModuleJob(std::move(with));

  std::size_t commands_before = 0;
  int round = 0;
  for (const JobRun& want : {c.hit, c.next}) {
    SCOPED_TRACE(round == 0 ? "the run the fault hits" : "the retry");
    sleeps.clear();
    LogCapture capture;
    bool retry = false;
    const auto start = std::chrono::steady_clock::now();
    job(&retry);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const std::vector<std::string> lines = capture.Lines();
    RecordProperty(round == 0 ? "hit_ms" : "next_ms", std::to_string(took.count()));
    std::printf("%s, %s: %lld ms\n", c.name, round == 0 ? "hit" : "retry",
                static_cast<long long>(took.count()));

    EXPECT_LT(took, kRunBound);
    EXPECT_EQ(retry, want.retry);
    ASSERT_GE(lines.size(), 2u);
    const std::string& decisive = lines[lines.size() - 2];
    const bool also = round == 1 && c.next_also != nullptr && decisive == c.next_also;
    EXPECT_TRUE(decisive == want.decisive_line || also) << decisive;
    // Only an unreadable level waits before the retry.
    EXPECT_EQ(sleeps, decisive == kReadFailed ? std::vector<std::uint32_t>{200}
                                              : std::vector<std::uint32_t>{});
    const std::vector<std::string> all = simulator_->VendorCommands();
    ASSERT_GE(all.size(), commands_before);
    EXPECT_THAT(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(commands_before),
                                         all.end()),
                ElementsAreArray(want.commands));
    commands_before = all.size();
    EXPECT_EQ(simulator_->level(), want.level);
    ++round;
  }
}

INSTANTIATE_TEST_SUITE_P(Modem,
                         AuthFaultMatrixTest,
                         ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace halvorn
