// The authorisation job over the real device helper, platform verification, firmware reader,
// registry reader and modem helper, each on a fake of its operating-system operations (the
// registry is the build's real one: the registry file on Linux, Wine's registry on Windows).

#include "auth/auth_module_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "auth/fake_firmware.h"
#include "auth/platform_verification.h"
#include "auth/smbios_builder.h"
#include "device/fake_device_platform.h"
#include "mbn/fake_runtime.h"
#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "support/log_capture.h"
#include "tasks/task_kinds.h"
#include "tasks/task_manager.h"
#include "util/registry_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::FakeDevicePlatform;
using testing::FakeFirmware;
using ::testing::IsEmpty;
using testing::LogCapture;

constexpr const char* kEnter = "T h : + CTaskAuthModule::doJob";
constexpr const char* kLeave = "T h : - CTaskAuthModule::doJob";
constexpr const char* kAdapterGuid = "{8B2C4F1E-7A3D-4E5F-9A1B-2C3D4E5F6A7B}";
constexpr const char* kUnlistedModel = "Halvorn Test Laptop";

// A product id that the vendor pattern accepts but no platform row lists, and one it lists.
constexpr const char* kListedProduct = "0B41";
constexpr const char* kUnlistedProduct = "0B47";

// A runtime whose first default-modem lookup (the presence test) raises a failure.
class PresenceFailsRuntime : public testing::FakeRuntime {
 public:
  mbn_platform::CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override {
    if (!failed_) {
      failed_ = true;
      ++record.modem_lookups;
      return mbn_platform::CallResult::Failure();
    }
    return FakeRuntime::GetDefaultModem(modem);
  }

 private:
  bool failed_ = false;
};

// Puts IsDisableVerify into the build's registry; nullopt removes it.
class DisableVerifySetting {
 public:
  DisableVerifySetting() {
#ifndef _WIN32
    file_ = dir_.path() / "registry.reg";
    testing::SetEnv("HALVORN_REGISTRY_FILE", file_.string());
#endif
  }
  ~DisableVerifySetting() {
#ifdef _WIN32
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAuthSettingsKey);
#else
    testing::UnsetEnv("HALVORN_REGISTRY_FILE");
#endif
  }
  DisableVerifySetting(const DisableVerifySetting&) = delete;
  DisableVerifySetting& operator=(const DisableVerifySetting&) = delete;

  // The Linux registry file is trusted only when owned by root.
  static bool Usable() {
#ifdef _WIN32
    return true;
#else
    return ::geteuid() == 0;
#endif
  }

  void Set(std::optional<std::uint32_t> value) {
#ifdef _WIN32
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAuthSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value) {
      const DWORD data = *value;
      EXPECT_EQ(::RegSetValueExW(key, kDisableVerifyValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&data), sizeof(data)),
                ERROR_SUCCESS);
    } else {
      ::RegDeleteValueW(key, kDisableVerifyValue);
    }
    ::RegCloseKey(key);
#else
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Wireless Inc\\Brevane]\r\n";
    if (value) {
      char line[64];
      std::snprintf(line, sizeof(line), "\"IsDisableVerify\"=dword:%08x\r\n", *value);
      out << line;
    }
    out.close();
    std::filesystem::permissions(
        file_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                   std::filesystem::perms::group_read | std::filesystem::perms::others_read);
#endif
  }

 private:
#ifndef _WIN32
  testing::TempDir dir_;
  std::filesystem::path file_;
#endif
};

// One machine as the job sees it.
struct Machine {
  bool modem_present = true;
  bool presence_raises = false;
  const char* vendor = "7A3F";
  const char* product = kListedProduct;
  const char* model = nullptr;  // null: the first model of the platform table
  bool fcc_mode = true;
  std::optional<std::uint32_t> disable_verify = std::nullopt;  // nullopt: no value
  std::uint32_t command_status = 0;                            // MBIM status of every command
  std::int32_t level = 0;                                      // what the query answers
  bool set_finds_no_modem = false;  // the modem is gone by the set command
};

class AuthModuleJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DisableVerifySetting::Usable()) {
      GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
    }
  }

  // Prepares every fake for `m` and returns the runtime the modem helper runs on.
  testing::FakeRuntime& Prepare(const Machine& m) {
    firmware_ = std::make_unique<FakeFirmware>();
    devices_ = std::make_unique<FakeDevicePlatform>();
    const std::string model = m.model != nullptr ? m.model : PlatformTable()[0].model;
    testing::Bytes table = testing::SystemInformation(27, model, "");
    if (m.fcc_mode) {
      table = testing::Concat({table, testing::Oem(1, "KHOIHGIUCCHHII")});
    }
    firmware_->raw = testing::Raw(table);

    const std::string ids = std::string("VID_") + m.vendor + "&PID_" + m.product;
    testing::FakeDevice device;
    device.hardware_ids = testing::MultiSz({"USB\\" + ids + "&REV_0318&MI_0C"});
    devices_->devices = {device};
    devices_->adapters = {{kAdapterGuid, L"Generic Mobile Broadband Adapter", L"Cellular", 243, 1}};
    testing::FakeDriverKey key;
    key.name = "0001";
    key.net_cfg_instance_id = testing::RegSz(kAdapterGuid);
    key.device_instance_id = testing::RegSz("USB\\" + ids + "&MI_0C\\6&1A2B3C4D&0&000C");
    devices_->driver_keys = {key};

    setting_.Set(m.disable_verify);

    runtime_ = m.presence_raises ? std::make_unique<PresenceFailsRuntime>()
                                 : std::make_unique<testing::FakeRuntime>();
    runtime_->script.modem_lookups_present = !m.modem_present ? 0 : m.set_finds_no_modem ? 3 : 1000;
    runtime_->script.status_code = m.command_status;
    const auto level = static_cast<std::uint32_t>(m.level);
    runtime_->script.response = {
        static_cast<std::uint8_t>(level), static_cast<std::uint8_t>(level >> 8),
        static_cast<std::uint8_t>(level >> 16), static_cast<std::uint8_t>(level >> 24)};
    helper_ = std::make_unique<CMbnWinRtHelper>(*runtime_, nullptr);
    // Made here, before a test captures the log: the manager's constructor writes a line.
    owner_ = std::make_unique<CTaskManager>(OwnerHooks(MakeAuthModuleJob(Collaborators())));
    return *runtime_;
  }

  // The production collaborators over the prepared fakes, with a recording sleeper.
  AuthModuleCollaborators Collaborators() {
    AuthModuleCollaborators with =
        AuthModuleCollaboratorsFor(*helper_, {*firmware_, *devices_, SystemRegistryPlatform()});
    with.sleepMs = [this](std::uint32_t ms) { sleeps_.push_back(ms); };
    return with;
  }

  // Runs the job once as CTaskAuthModule, through the job of the task's owner.
  bool RunTask(bool* retry) {
    CTaskAuthModule task;
    task.pOwner = owner_.get();
    const bool result = task.doJob(retry);
    EXPECT_FALSE(task.bRunning);
    return result;
  }

  // The hooks of an owner whose authorisation tasks run `job`; it never starts a worker.
  static TaskManagerHooks OwnerHooks(AuthModuleJob job) {
    TaskManagerHooks hooks;
    hooks.authModuleJob = std::move(job);
    return hooks;
  }

  DisableVerifySetting setting_;
  std::unique_ptr<FakeFirmware> firmware_;
  std::unique_ptr<FakeDevicePlatform> devices_;
  std::unique_ptr<testing::FakeRuntime> runtime_;
  std::unique_ptr<CMbnWinRtHelper> helper_;
  std::vector<std::uint32_t> sleeps_;
  std::unique_ptr<CTaskManager> owner_;  // runs the job over helper_ and sleeps_
};

// --- The outcomes ------------------------------------------------------------------------

struct OutcomeCase {
  const char* name;
  Machine machine;
  std::string last_line;
  bool result;
  bool retry;
  std::vector<std::string> sent;  // commands the modem received
  bool waited;                    // the 200 ms wait ran
};

TEST_F(AuthModuleJobTest, Outcomes) {
  const std::string kNotExist = "T i :   MBIM Device is not exist.";
  const std::string kForeign = "T i :   MBIM Device is not tessary device.";
  const std::string kQuery = "query 1 00";
  const std::string kSet = "set 1 01000000";
  const OutcomeCase cases[] = {
      {"NoDefaultModem", {.modem_present = false}, kNotExist, false, true, {}, false},
      // The presence test answers false on a runtime failure: the modem counts as missing.
      {"PresenceTestRaises", {.presence_raises = true}, kNotExist, false, true, {}, false},
      {"ForeignModem", {.vendor = "2C7C", .product = "0125"}, kForeign, false, true, {}, false},
      {"VendorModemOfAnotherProduct", {.product = "0B40"}, kForeign, false, true, {}, false},
      {"PlatformCheckFails",
       {.product = kUnlistedProduct},
       "T e :   Invalid Modem in this platform.",
       true,
       false,
       {},
       false},
      {"FccModeOff",
       {.fcc_mode = false},
       "T e :   isFccMode = false  , exit",
       true,
       false,
       {},
       false},
      {"LevelCannotBeRead",
       {.command_status = 1},
       "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!",
       true,
       true,
       {kQuery},
       true},
      {"LevelAlreadyOne", {.level = 1}, "T i :   MBIM FUN 1!", true, false, {kQuery}, false},
      {"LevelSetToOne",
       {.level = 0},
       "T i :   SET MBIM FUN SUCCESS!",
       true,
       false,
       {kQuery, kSet},
       false},
      {"LevelFourIsSetToOne",
       {.level = 4},
       "T i :   SET MBIM FUN SUCCESS!",
       true,
       false,
       {kQuery, kSet},
       false},
      {"LevelCannotBeSet",
       {.level = 0, .set_finds_no_modem = true},
       "T e :   SetMbimCfun failed, Wait for retry!!!",
       true,
       true,
       {kQuery},
       false},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(c.machine);
    sleeps_.clear();
    LogCapture capture;
    bool retry = false;
    EXPECT_EQ(RunTask(&retry), c.result);
    EXPECT_EQ(retry, c.retry);
    EXPECT_EQ(runtime_->record.sent, c.sent);
    EXPECT_EQ(sleeps_, c.waited ? std::vector<std::uint32_t>{200} : std::vector<std::uint32_t>{});
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), kEnter);
    EXPECT_EQ(lines[lines.size() - 2], c.last_line);
    EXPECT_EQ(lines.back(), kLeave);
  }
}

TEST_F(AuthModuleJobTest, ForeignModemIsNeverTouched) {
  testing::FakeRuntime& runtime = Prepare({.vendor = "2C7C", .product = "0125"});
  bool retry = false;
  EXPECT_FALSE(RunTask(&retry));
  EXPECT_TRUE(retry);
  EXPECT_EQ(runtime.record.modem_lookups, 1);  // the presence test alone
  EXPECT_EQ(runtime.record.service_lookups, 0);
  EXPECT_THAT(runtime.record.sent, IsEmpty());
  EXPECT_EQ(firmware_->calls, 0);
}

TEST_F(AuthModuleJobTest, WaitComesBeforeTheRetryFlagIsSet) {
  Prepare({.command_status = 1});
  bool retry = false;
  std::vector<bool> retry_at_wait;
  AuthModuleCollaborators with = Collaborators();
  with.sleepMs = [&](std::uint32_t ms) {
    sleeps_.push_back(ms);
    retry_at_wait.push_back(retry);
  };
  EXPECT_TRUE(RunAuthModuleJob(with, &retry));
  EXPECT_TRUE(retry);
  EXPECT_EQ(sleeps_, std::vector<std::uint32_t>{AuthModuleCollaborators::kCfunReadRetryWaitMs});
  EXPECT_THAT(retry_at_wait, ElementsAre(false));
}

// --- The verification switch --------------------------------------------------------------

TEST_F(AuthModuleJobTest, OnlyALowByteOfOneSwitchesTheChecksOff) {
  struct Case {
    std::optional<std::uint32_t> stored;
    std::string read_line;
    bool checks_run;
  };
  const Case cases[] = {
      {std::nullopt, "T i :   Read IsDisableVerify = 0(False)", true},
      {0, "T i :   Read IsDisableVerify = 0(False)", true},
      {1, "T i :   Read IsDisableVerify = 1(True)", false},
      {2, "T i :   Read IsDisableVerify = 2(False)", true},
      {257, "T i :   Read IsDisableVerify = 1(True)", false},  // only the low byte counts
      {256, "T i :   Read IsDisableVerify = 0(False)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read_line + (c.stored ? " stored " + std::to_string(*c.stored) : " none"));
    // A laptop where both checks would refuse the modem, whose level is already 1.
    Prepare(
        {.product = kUnlistedProduct, .fcc_mode = false, .disable_verify = c.stored, .level = 1});
    LogCapture capture;
    bool retry = false;
    EXPECT_TRUE(RunTask(&retry));
    EXPECT_FALSE(retry);
    const std::vector<std::string> lines = capture.Lines();
    EXPECT_THAT(lines, ::testing::Contains(c.read_line));
    ASSERT_GE(lines.size(), 2u);
    if (c.checks_run) {
      EXPECT_EQ(lines[lines.size() - 2], "T e :   Invalid Modem in this platform.");
      EXPECT_THAT(runtime_->record.sent, IsEmpty());
    } else {
      // Neither check looked at the firmware; the level was read straight away.
      EXPECT_EQ(firmware_->calls, 0);
      EXPECT_EQ(lines[lines.size() - 2], "T i :   MBIM FUN 1!");
      EXPECT_THAT(runtime_->record.sent, ElementsAre("query 1 00"));
    }
  }
}

TEST_F(AuthModuleJobTest, UnlistedModelPassesAndTheFccModeCheckStillRuns) {
  for (bool fcc_mode : {false, true}) {
    SCOPED_TRACE(fcc_mode);
    Prepare({.product = kUnlistedProduct, .model = kUnlistedModel, .fcc_mode = fcc_mode});
    LogCapture capture;
    bool retry = false;
    EXPECT_TRUE(RunTask(&retry));
    EXPECT_FALSE(retry);
    const std::vector<std::string> lines = capture.Lines();
    EXPECT_THAT(lines, ::testing::Contains("T i :   VerifyPlatform pass"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              fcc_mode ? "T i :   SET MBIM FUN SUCCESS!" : "T e :   isFccMode = false  , exit");
  }
}

// --- Running flag -------------------------------------------------------------------------

TEST_F(AuthModuleJobTest, RunningOnlyWhileTheJobRunsAlsoWhenAnErrorUnwinds) {
  Prepare({});
  CTaskAuthModule task;
  std::vector<bool> running_seen;
  AuthModuleCollaborators with = Collaborators();
  with.isMbimModemExist = [&]() -> bool {
    running_seen.push_back(task.bRunning);
    throw std::runtime_error("runtime failure");
  };
  CTaskManager owner(OwnerHooks(MakeAuthModuleJob(with)));
  task.pOwner = &owner;
  LogCapture capture;
  bool retry = false;
  EXPECT_THROW(task.doJob(&retry), std::runtime_error);
  EXPECT_THAT(running_seen, ElementsAre(true));
  EXPECT_FALSE(task.bRunning);
  EXPECT_FALSE(retry);
  EXPECT_THAT(capture.Lines(), ElementsAre(kEnter, kLeave));
}

// --- One run, line by line ------------------------------------------------------------------

TEST_F(AuthModuleJobTest, EveryLineOfARunThatSetsTheLevel) {
  Prepare({.disable_verify = 0, .level = 0});
  LogCapture capture;
  bool retry = false;
  EXPECT_TRUE(RunTask(&retry));
  EXPECT_FALSE(retry);
  const std::string model = PlatformTable()[0].model;
  const std::string instance = "USB\\VID_7A3F&PID_0B41&MI_0C\\6&1A2B3C4D&0&000C";
  const std::string hwid = "USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C";
  const std::vector<std::string> command = {
      "T i :   +Get MobileBroadbandModem", "T i :   -Get MobileBroadbandModem",
      "T i :   +Get GetDeviceService",     "T i :   -Get GetDeviceService",
      "T i :   +OpenCommandSession",       "T i :   -OpenCommandSession"};
  std::vector<std::string> expected = {
      kEnter,
      // The vendor device.
      "T h : + CDeviceHelper::IsTessaryMBIMDevcieExist",
      "T i :   Adapters Info: adapter name = {8B2C4F1E-7A3D-4E5F-9A1B-2C3D4E5F6A7B}, adapter "
      "desc = Generic Mobile Broadband Adapter, friend name=Cellular",
      "T i :   mbim oper status = 1 (1 IfOperStatusUp ; 2 IfOperStatusDown ; 3 "
      "IfOperStatusTesting ; 4 IfOperStatusUnknown ; 5 IfOperStatusDormant ; 6 "
      "IfOperStatusNotPresent ;7 IfOperStatusLowerLayerDown)",
      "T i :   Get Instance Id " + instance, "T i :   find MBIM device : " + instance,
      "T i :   IsTessaryMBIMDevcieExist VID_7A3F 0B41;0B42;0B47;0B49;0B4A find ",
      "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist",
      // The verification switch.
      "T h : + ReadDWORDRegValue",
      "T i :   hKeyRoot = 0x80000002 ; subKey = SOFTWARE\\Tessary Wireless Inc\\Brevane ;key = "
      "IsDisableVerify ",
      "T e :   RegQueryValueEx success, ret = 0", "T h : - ReadDWORDRegValue",
      "T i :   Read IsDisableVerify = 0(False)",
      // The platform.
      "T h : + CTaskAuthModule::VerifyPlatform", "T i :   SMBIOS system version = " + model,
      "T h : + CDeviceHelper::GetTessaryHwid", "T i :   find device : " + hwid,
      "T h : - CDeviceHelper::GetTessaryHwid", "T i :   Tessary Device HardwareID = " + hwid,
      "T h : + CTaskAuthModule::parseDeviceHwid", "T h : - CTaskAuthModule::parseDeviceHwid",
      "T i :   SMBIOS system version = " + model + ", Device modem_id = 7A3F0B41",
      "T h : + CTaskAuthModule::IsSupportModem", "T h : - CTaskAuthModule::IsSupportModem",
      "T i :   VerifyPlatform return = true ", "T h : - CTaskAuthModule::VerifyPlatform",
      "T i :   Valid Modem in this platform.", "T i :   VerifyPlatform pass",
      // FCC mode.
      "T i :   smBiosDataSize:101, bytesWritten:101 smBiosData->Length:93 \n",
      "T i :   szoembuf string_buf:\x01KHOIHGIUCCHHII, length:15 \n", "T i :   Authentica  TRUE",
      "T i :   isFccMode pass",
      // The level: read 0, set to 1.
      "T h : + CMbnWinRtHelper::GetMbimCfun"};
  expected.insert(expected.end(), command.begin(), command.end());
  expected.insert(
      expected.end(),
      {"T i :   device_service_session:0x5678ef00", "T i :   +SendQueryCommandAsync",
       "T i :   -SendQueryCommandAsync", "T i :   query command complete. cfun mode = 0.",
       "T h : - CMbnWinRtHelper::GetMbimCfun",
       "T i :   GetMbimCfun Mode :  0",  // blank flag
       "T h : + CMbnWinRtHelper::SetMbimCfun"});
  expected.insert(expected.end(), command.begin(), command.end());
  expected.insert(expected.end(), {"T i :   set cfun value: 1.", "T i :   +SendSetCommandAsync",
                                   "T i :   -SendSetCommandAsync", "T i :   set cfun successful.",
                                   "T h : - CMbnWinRtHelper::SetMbimCfun",
                                   "T i :   SET MBIM FUN SUCCESS!", kLeave});
  EXPECT_THAT(capture.Lines(), ::testing::ElementsAreArray(expected));
}

}  // namespace
}  // namespace halvorn
