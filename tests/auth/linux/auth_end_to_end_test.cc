// The authorisation job end to end on a simulated laptop: a umockdev test bed with the
// laptop's modem (or none) and its SMBIOS tables, the registry file, and the simulated modem on
// a pseudo-terminal behind the real libmbim-glib. Everything the job calls is the real Linux
// code; only its 200 ms wait is recorded instead of slept. One run of the job per laptop, and
// the whole retry sequence of a modem that never answers (on a short command bound) through the
// real task engine, whose clock, pauses and restart are recorded instead. Runs under
// in_testbed.sh; the registry file is trusted only when owned by root, so the cases need root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "auth/auth_module_job.h"
#include "auth/linux/simulated_laptop.h"
#include "auth/successful_run_log.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "service/process_wiring.h"
#include "service/task_wiring.h"
#include "support/log_capture.h"
#include "tasks/task_factory.h"
#include "tasks/task_kinds.h"
#include "tasks/task_manager.h"
#include "tasks/task_test_support.h"

namespace halvorn {
namespace {

using mbimsim::Fault;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeSystem;
using testing::kListedModel;
using testing::kOtherVendor;
using testing::kUnlistedModel;
using testing::kVendor;
using testing::Laptop;
using testing::LogCapture;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kQuery = "query 00";
constexpr const char* kSet = "set 01000000";

constexpr const char* kEnterLine = "T h : + CTaskAuthModule::doJob";
constexpr const char* kLeaveLine = "T h : - CTaskAuthModule::doJob";
constexpr const char* kNoModemLine = "T i :   MBIM Device is not exist.";
constexpr const char* kForeignModemLine = "T i :   MBIM Device is not tessary device.";
constexpr const char* kReadFailedLine =
    "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!";

// One laptop and what one run of the job does on it.
struct Case {
  const char* name;
  Laptop laptop;
  // The outcome.
  bool result;
  bool retry;
  const char* read_line;      // the IsDisableVerify line; null when the run ends before it
  int checks_passed;          // of the platform check and the FCC-mode check, in order
  const char* decisive_line;  // the line just before the exit trace line
  std::vector<std::string> commands;
  std::int32_t final_level;
  std::vector<std::uint32_t> sleeps;
  // The run whose log both builds must write alike (successful_run_log.h).
  bool shared_log = false;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case kCases[] = {
    {"LevelZeroIsSetToOne",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    {"LevelOneIsLeftAlone",
     {kListedModel, true, kVendor, "0b42", true, 0u, 1, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T i :   MBIM FUN 1!",
     {kQuery},
     1,
     {}},
    {"NoFccStructureLeavesTheModemAlone",
     {kListedModel, true, kVendor, "0b41", false, std::nullopt, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     1,
     "T e :   isFccMode = false  , exit",
     {},
     0,
     {}},
    {"UnlistedModelPassesThePlatformCheck",
     {kUnlistedModel, true, kVendor, "0b47", true, 2u, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 2(False)",
     2,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    {"UnlistedModemOnAListedModelIsRefused",
     {kListedModel, true, kVendor, "0b47", true, std::nullopt, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     0,
     "T e :   Invalid Modem in this platform.",
     {},
     0,
     {}},
    {"DisableVerifySkipsTheChecks",
     {kListedModel, true, kVendor, "0b47", false, 0x101u, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 1(True)",
     0,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    // The Windows build's end-to-end test runs the same laptop and expects the same log.
    {"ChecksOffLevelZeroIsSetToOne",
     {kListedModel, true, kVendor, "0b41", false, 1u, 0, Fault::kNone},
     true,
     false,
     "T i :   Read IsDisableVerify = 1(True)",
     0,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {},
     true},
    {"RefusedSetAsksForARetry",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kRefuseSet},
     true,
     true,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T e :   SetMbimCfun failed, Wait for retry!!!",
     {kQuery, kSet},
     0,
     {}},
    {"FailedQueryWaitsAndAsksForARetry",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kStatus},
     true,
     true,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     kReadFailedLine,
     {kQuery},
     0,
     {200}},
    // The simulated modem is up in both, but the job must not reach it: retried, never touched.
    {"NoModemAsksForARetry",
     {kListedModel, false, nullptr, nullptr, true, std::nullopt, 0, Fault::kNone},
     false,
     true,
     nullptr,
     0,
     kNoModemLine,
     {},
     0,
     {}},
    {"AnotherMakersModemAsksForARetry",
     {kListedModel, true, kOtherVendor, "0b41", true, std::nullopt, 0, Fault::kNone},
     false,
     true,
     nullptr,
     0,
     kForeignModemLine,
     {},
     0,
     {}},
};

using testing::SimulatedLaptopTest;

class AuthEndToEndTest : public SimulatedLaptopTest, public ::testing::WithParamInterface<Case> {};

TEST_P(AuthEndToEndTest, OneRun) {
  const Case& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BuildLaptop(c.laptop));

  CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), nullptr);
  AuthModuleCollaborators with = AuthModuleCollaboratorsFor(modem, AuthModulePlatforms::System());
  std::vector<std::uint32_t> sleeps;
  with.sleepMs = [&sleeps](std::uint32_t ms) { sleeps.push_back(ms); };
  const AuthModuleJob job = MakeAuthModuleJob(std::move(with));

  LogCapture capture;
  bool retry = false;
  const bool result = job(&retry);
  const std::vector<std::string> lines = capture.Lines();

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(retry, c.retry);
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAreArray(c.commands));
  // The control port is opened only for the level commands: a run that sends none leaves the
  // modem untouched.
  EXPECT_EQ(simulator_->received().empty(), c.commands.empty());
  EXPECT_EQ(simulator_->level(), c.final_level);
  // Once used, the port stays open for the next call.
  EXPECT_EQ(simulator_->is_open(), !c.commands.empty());
  EXPECT_EQ(sleeps, c.sleeps);

  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), kEnterLine);
  EXPECT_EQ(lines.back(), kLeaveLine);
  EXPECT_EQ(lines[lines.size() - 2], c.decisive_line);
  if (c.read_line != nullptr) {
    EXPECT_THAT(lines, Contains(c.read_line));
  } else {
    EXPECT_THAT(lines, Not(Contains(StartsWith("T i :   Read IsDisableVerify"))));
  }
  // A modem test's failure line is written only by the run it ends.
  for (const std::string line : {kNoModemLine, kForeignModemLine}) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), line == c.decisive_line ? 1 : 0)
        << line;
  }
  const char* const checks[] = {"T i :   VerifyPlatform pass", "T i :   isFccMode pass"};
  for (int i = 0; i < 2; ++i) {
    const bool logged = std::find(lines.begin(), lines.end(), checks[i]) != lines.end();
    EXPECT_EQ(logged, i < c.checks_passed) << checks[i];
  }
  if (c.shared_log) {
    EXPECT_THAT(testing::MaskSessionAddress(lines), ElementsAreArray(testing::SuccessfulRunLog()));
  }
}

INSTANTIATE_TEST_SUITE_P(Laptop,
                         AuthEndToEndTest,
                         ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

using AuthProductionEndToEndTest = SimulatedLaptopTest;

// The job as the service installs it at start-up: over the process-wide modem helper, with the
// production waits, run by an authorisation task from the factory for a manager with the
// process's hooks.
TEST_F(AuthProductionEndToEndTest, InstalledJobSetsTheLevelThroughTheProcessHelper) {
  ASSERT_NO_FATAL_FAILURE(
      BuildLaptop({kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kNone}));
  // A manager with the process's hooks, as the service installs them for the process-wide one;
  // it starts no worker and no watcher here.
  CTaskManager owner(ProcessTaskManagerHooks(AuthModulePlatforms::System()));

  std::unique_ptr<CTask> task = CTaskFactory::createTask(&owner, TASK_TYPE_AUTH_MODULE);
  ASSERT_NE(task, nullptr);
  LogCapture capture;
  bool retry = false;
  EXPECT_TRUE(task->doJob(&retry));
  const std::vector<std::string> lines = capture.Lines();

  EXPECT_FALSE(retry);
  EXPECT_FALSE(task->bRunning);
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAre(kQuery, kSet));
  EXPECT_EQ(simulator_->level(), 1);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "T i :   SET MBIM FUN SUCCESS!");
}

using AuthRetryEndToEndTest = SimulatedLaptopTest;

// A vendor modem on a listed laptop that takes the level query and never answers it. Every run
// waits out the helper's bound on the query, then the job's 200 ms wait, and asks for a retry;
// the engine pauses 5 s after each run, and once the task's ten runs are used up it restarts the
// service and its worker ends. The clock, the pauses and the restart are the engine's hooks,
// recorded in one journal in order. The helper gives up after a short bound: no answer ever
// comes, so the bound decides only how long each run waits (the production bound is waited
// out by the fault matrix).
TEST_F(AuthRetryEndToEndTest, SilentModemIsAskedTenTimesThenTheServiceRestarts) {
  constexpr int kRuns = 10;  // a filed task's runs
  ASSERT_NO_FATAL_FAILURE(
      BuildLaptop({kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kNoAnswer}));

  FakeSystem system;
  CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), nullptr, std::chrono::milliseconds(100));
  AuthModuleCollaborators with = AuthModuleCollaboratorsFor(modem, AuthModulePlatforms::System());
  with.sleepMs = [&system](std::uint32_t ms) { system.Note("job sleep " + std::to_string(ms)); };
  system.auth_job = MakeAuthModuleJob(std::move(with));
  // The service's give-up policy.
  system.give_up = &GiveUpActionFor;

  // The worker runs on this thread: init starts none, dealTaskThread is the worker's body.
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  ASSERT_TRUE(manager.addTask(CTaskFactory::createTask(&manager, TASK_TYPE_AUTH_MODULE)));
  // Filed after everything else: a worker that went on after the give-up would run it and end
  // with 0 instead of waiting for tasks for ever.
  std::unique_ptr<CTask> stop = CTaskFactory::createTask(&manager, TASK_TYPE_STOP_WORK);
  stop->iPriority = TASK_PRIORITY_LOW + 1;
  ASSERT_TRUE(manager.addTask(std::move(stop)));

  LogCapture capture;
  manager.init();
  const unsigned worker_result = CTaskManager::dealTaskThread(&manager);
  const std::vector<std::string> lines = capture.Lines();

  EXPECT_EQ(worker_result, 1u);  // ended after restarting the service
  std::vector<std::string> journal;
  for (int run = 0; run < kRuns; ++run) {
    journal.insert(journal.end(), {"job sleep 200", "sleep 5000"});
  }
  journal.push_back("restart");
  EXPECT_THAT(system.Journal(), ElementsAreArray(journal));

  // A run gives up without waiting for the modem to read its query; the modem reads each one
  // (the next run's opening comes after it on the port), the last one soon after the worker.
  const auto read_all = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (simulator_->VendorCommands().size() < static_cast<std::size_t>(kRuns) &&
         std::chrono::steady_clock::now() < read_all) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(simulator_->VendorCommands(),
              ElementsAreArray(std::vector<std::string>(kRuns, kQuery)));
  EXPECT_EQ(simulator_->level(), 0);
  EXPECT_TRUE(simulator_->is_open());

  const auto count = [&lines](const char* line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(count(kEnterLine), kRuns);
  EXPECT_EQ(count(kLeaveLine), kRuns);
  EXPECT_EQ(count(kReadFailedLine), kRuns);
  EXPECT_EQ(count("T i :   CommonUtil::RestartService();"), 1);
  EXPECT_THAT(lines, Not(Contains(StartsWith("T h : + CTaskStopWork::doJob"))));
}

}  // namespace
}  // namespace halvorn
