// The authorisation job end to end on a simulated laptop: a umockdev test bed with the
// vendor's USB modem and the laptop's SMBIOS tables, the registry file, and the simulated
// modem on a pseudo-terminal behind the real libmbim-glib. Everything the job calls is the
// real Linux code; only its 200 ms wait is recorded instead of slept. Runs under
// in_testbed.sh; the registry file is trusted only when owned by root, so the cases need root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "auth/auth_module_job.h"
#include "auth/auth_module_wiring.h"
#include "auth/smbios_builder.h"
#include "device/linux/testbed.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "simulator.h"
#include "support/log_capture.h"
#include "tasks/task_kinds.h"

namespace halvorn {
namespace {

using mbimsim::Fault;
using mbimsim::ModemOptions;
using mbimsim::Simulator;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using testing::LogCapture;
using ::testing::Not;
using testing::SetEnv;
using testing::TempDir;
using testing::Testbed;
using testing::UnsetEnv;

constexpr const char* kListedModel = "ThinkPad X13 Gen 3";
constexpr const char* kUnlistedModel = "Halvorn Test Laptop";
constexpr const char* kFccText = "KHOIHGIUCCHHII";
constexpr const char* kQuery = "query 00";
constexpr const char* kSet = "set 01000000";

CTaskManager* NoManager() {
  return nullptr;
}

// One laptop and what the job does on it.
struct Case {
  const char* name;
  // The laptop.
  const char* model;
  const char* product;  // USB product id of the vendor's modem
  bool fcc_structure;
  std::optional<std::uint32_t> disable_verify;
  std::int32_t initial_level;
  Fault fault;
  // The outcome.
  bool result;
  bool retry;
  const char* read_line;      // the IsDisableVerify line
  int checks_passed;          // of the platform check and the FCC-mode check, in order
  const char* decisive_line;  // the line just before the exit trace line
  std::vector<std::string> commands;
  std::int32_t final_level;
  std::vector<std::uint32_t> sleeps;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case kCases[] = {
    {"LevelZeroIsSetToOne",
     kListedModel,
     "0b41",
     true,
     std::nullopt,
     0,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    {"LevelOneIsLeftAlone",
     kListedModel,
     "0b42",
     true,
     0u,
     1,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T i :   MBIM FUN 1!",
     {kQuery},
     1,
     {}},
    {"NoFccStructureLeavesTheModemAlone",
     kListedModel,
     "0b41",
     false,
     std::nullopt,
     0,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     1,
     "T e :   isFccMode = false  , exit",
     {},
     0,
     {}},
    {"UnlistedModelPassesThePlatformCheck",
     kUnlistedModel,
     "0b47",
     true,
     2u,
     0,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 2(False)",
     2,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    {"UnlistedModemOnAListedModelIsRefused",
     kListedModel,
     "0b47",
     true,
     std::nullopt,
     0,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 0(False)",
     0,
     "T e :   Invalid Modem in this platform.",
     {},
     0,
     {}},
    {"DisableVerifySkipsTheChecks",
     kListedModel,
     "0b47",
     false,
     0x101u,
     0,
     Fault::kNone,  //
     true,
     false,
     "T i :   Read IsDisableVerify = 1(True)",
     0,
     "T i :   SET MBIM FUN SUCCESS!",
     {kQuery, kSet},
     1,
     {}},
    {"RefusedSetAsksForARetry",
     kListedModel,
     "0b41",
     true,
     std::nullopt,
     0,
     Fault::kRefuseSet,  //
     true,
     true,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T e :   SetMbimCfun failed, Wait for retry!!!",
     {kQuery, kSet},
     0,
     {}},
    {"FailedQueryWaitsAndAsksForARetry",
     kListedModel,
     "0b41",
     true,
     std::nullopt,
     0,
     Fault::kStatus,  //
     true,
     true,
     "T i :   Read IsDisableVerify = 0(False)",
     2,
     "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!",
     {kQuery},
     0,
     {200}},
};

class AuthEndToEndTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Testbed::Preloaded())
        << "run this program through tests/device/linux/in_testbed.sh (umockdev-wrapper)";
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
    }
    SetEnv("HALVORN_REGISTRY_FILE", registry_.string());
    // The pseudo-terminal is opened directly: mbim-proxy serves root only.
    SetEnv(mbn_linux::kProxyVariable, "0");
    SetEnv(mbn_linux::kPortVariable, port_.string());
  }
  void TearDown() override {
    UnsetEnv(mbn_linux::kPortVariable);
    UnsetEnv(mbn_linux::kProxyVariable);
    UnsetEnv("HALVORN_REGISTRY_FILE");
  }

  void BuildLaptop(const Case& c) {
    bed_.AddOtherNetworking();
    bed_.AddUsbModem(bed_.AddUsbHost(), "2-3", "7a3f", c.product, "wwan0", 3);
    std::vector<testing::Bytes> table = {testing::SystemInformation(27, c.model)};
    if (c.fcc_structure) {
      table.push_back(testing::Oem(1, kFccText));
    }
    table.push_back(testing::EndOfTable());
    testing::Bytes bytes;
    for (const testing::Bytes& part : table) {
      bytes.insert(bytes.end(), part.begin(), part.end());
    }
    bed_.WriteSysFile("firmware/dmi/tables/DMI", bytes);

    std::ofstream out(registry_, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Wireless Inc\\Brevane]\r\n";
    if (c.disable_verify) {
      char line[64];
      std::snprintf(line, sizeof(line), "\"IsDisableVerify\"=dword:%08x\r\n", *c.disable_verify);
      out << line;
    }
    out.close();
    std::filesystem::permissions(
        registry_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                       std::filesystem::perms::group_read | std::filesystem::perms::others_read);

    ModemOptions options;
    options.initial_level = c.initial_level;
    options.fault = c.fault;
    simulator_ = std::make_unique<Simulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    std::filesystem::create_symlink(simulator_->device_path(), port_);
  }

  Testbed bed_;
  TempDir dir_;
  const std::filesystem::path registry_ = dir_.path() / "registry.reg";
  const std::filesystem::path port_ = dir_.path() / "cdc-wdm3";
  std::unique_ptr<Simulator> simulator_;
};

TEST_P(AuthEndToEndTest, OneRun) {
  const Case& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BuildLaptop(c));

  CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), &NoManager);
  AuthModuleCollaborators with = AuthModuleCollaboratorsFor(modem);
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
  EXPECT_EQ(simulator_->level(), c.final_level);
  EXPECT_FALSE(simulator_->is_open());
  EXPECT_EQ(sleeps, c.sleeps);

  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "T h : + CTaskAuthModule::doJob");
  EXPECT_EQ(lines.back(), "T h : - CTaskAuthModule::doJob");
  EXPECT_EQ(lines[lines.size() - 2], c.decisive_line);
  EXPECT_THAT(lines, Contains(c.read_line));
  EXPECT_THAT(lines, Not(Contains("T i :   MBIM Device is not exist.")));
  EXPECT_THAT(lines, Not(Contains("T i :   MBIM Device is not tessary device.")));
  const char* const checks[] = {"T i :   VerifyPlatform pass", "T i :   isFccMode pass"};
  for (int i = 0; i < 2; ++i) {
    const bool logged = std::find(lines.begin(), lines.end(), checks[i]) != lines.end();
    EXPECT_EQ(logged, i < c.checks_passed) << checks[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Laptop,
                         AuthEndToEndTest,
                         ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace halvorn
