// The authorisation job end to end in the Windows build, under Wine (or on Windows): the real
// job over the real backends. The modem is the fake runtime provider, activated by the
// runtime under the real class names, keeping a radio function level as a modem does; the
// firmware table is Wine's, built from the files that with_fake_dmi.sh puts in place; the
// vendor device is a SetupAPI device with a driver key of the network class; IsDisableVerify
// is a value of the prefix's registry.
//
// One thing is replaced at the platform boundary: the adapter list. Wine has no
// mobile-broadband adapter and no way to make one, so this program links the stand-in list of
// tests/device/win/stand_in_adapters.h in place of the IP Helper one.
//
// Wine's SetupAPI keeps no power data for a device, so the platform check of a listed model
// cannot find the modem's hardware id there, and Wine's firmware table has no OEM structure,
// so the FCC-mode check cannot pass. The outcomes past those checks run with
// IsDisableVerify = 1, as do the runtime's faults (every call of it that can fail, a command
// that never completes or completes in error, answers too short or claiming more than they
// hold), each followed by a run on the same runtime with the modem healed.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "auth/auth_module_job.h"
#include "auth/firmware_platform.h"
#include "auth/successful_run_log.h"
#include "auth/systeminfo.h"
#include "ctl/fake_ctl_platform.h"
#include "ctl/halvornctl.h"
#include "device/device_platform.h"
#include "device/win/stand_in_adapters.h"
#include "device/win/win_devices.h"
#include "fake_provider_client.h"
#include "mbn/mbn_helper.h"
#include "mbn/win/runtime_win.h"
#include "mbn/win/winrt_abi.h"
#include "service/auth_module_wiring.h"
#include "support/log_capture.h"
#include "tasks/task_kinds.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"

namespace halvorn {

namespace {

using ::testing::Contains;
using testing::CreatedDevice;
using testing::DriverKey;
using ::testing::ElementsAreArray;
using testing::FakeProvider;
using testing::FileLogCapture;
using testing::LogCapture;
using ::testing::Not;
using namespace std::literals;
using winrt_abi::AsyncStatus;

constexpr const char* kListedModel = "ThinkPad X13 Gen 3";
constexpr const char* kUnlistedModel = "Halvorn Test Laptop";
constexpr std::uint32_t kStatusFailure = 2;  // MBIM_STATUS_FAILURE
constexpr std::uint32_t kStatusNotAllowed = 0x1D;

// The vendor's modem, or another maker's.
struct ModemDevice {
  const wchar_t* device_instance_id;  // the SetupAPI device's
  std::wstring_view hardware_ids;     // REG_MULTI_SZ without its final zero
  const char* instance_id;            // the driver key's DeviceInstanceID
};

const ModemDevice kVendorModem = {
    L"USB\\VID_7A3F&PID_0B41&MI_0C\\HALVORNE2E&0&000C",
    L"USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C\0USB\\VID_7A3F&PID_0B41&MI_0C\0"sv,
    testing::kModemInstanceId};
const ModemDevice kForeignModem = {
    L"USB\\VID_2C7C&PID_0125&MI_04\\HALVORNE2E&0&0004",
    L"USB\\VID_2C7C&PID_0125&REV_0318&MI_04\0USB\\VID_2C7C&PID_0125&MI_04\0"sv,
    "USB\\VID_2C7C&PID_0125&MI_04\\2-3:1.4"};

// One laptop and what the job does on it.
struct Case {
  const char* name;
  // The laptop. The model is the firmware's system version: checked, not chosen, as the
  // program runs once per firmware folder with the cases of that model
  // (tests/auth/CMakeLists.txt).
  const char* model = kListedModel;
  bool modem_present = true;
  FakeFailPoint fail_at = kFailNone;  // a runtime call that fails, with E_FAIL
  const ModemDevice* device = &kVendorModem;
  std::int64_t disable_verify = -1;  // -1: no value
  std::int32_t initial_level = 0;
  std::uint32_t query_status = 0;
  std::uint32_t set_status = 0;
  // The runtime beyond the one failing call: when and how a sent command completes (unset:
  // the provider's defaults), and, instead of a modem that keeps its level, a scripted answer
  // to every command (a zero level of `scripted_length` bytes, none at all, or a buffer that
  // claims more than it holds).
  std::optional<std::int32_t> completion = std::nullopt;
  std::optional<AsyncStatus> final_status = std::nullopt;
  bool scripted_answer = false;
  std::uint32_t scripted_length = 4;
  bool scripted_null = false;
  bool scripted_overlong = false;
  // The outcome.
  bool result = true;
  bool retry = false;
  const char* read_line = nullptr;  // the IsDisableVerify line, when the job gets that far
  const char* decisive_line = "";   // the line just before the exit trace line
  int queries = 0;
  int sets = 0;
  std::int32_t final_level = 0;
  std::vector<std::uint32_t> sleeps = {};
  // The run whose log both builds must write alike (successful_run_log.h).
  bool shared_log = false;
  // What halvornctl says after the run, with the service running: what blocks the radio
  // (empty: it is on).
  const char* blocked_by = "";
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param_info) {
  return param_info.param.name;
}

constexpr const char* kReadOff = "T i :   Read IsDisableVerify = 0(False)";
constexpr const char* kReadOn = "T i :   Read IsDisableVerify = 1(True)";

const Case kListedModelCases[] = {
    {.name = "NoModem",
     .modem_present = false,
     .result = false,
     .retry = true,
     .decisive_line = "T i :   MBIM Device is not exist.",
     .blocked_by = "no-modem"},
    // A runtime that fails while looking for the modem counts as no modem: retried later.
    {.name = "RuntimeFailsInThePresenceTest",
     .fail_at = kFailGetDefault,
     .result = false,
     .retry = true,
     .decisive_line = "T i :   MBIM Device is not exist.",
     .blocked_by = "no-modem"},
    {.name = "ForeignModemIsNeverTouched",
     .device = &kForeignModem,
     .disable_verify = 1,
     .result = false,
     .retry = true,
     .decisive_line = "T i :   MBIM Device is not tessary device.",
     .blocked_by = "foreign-modem"},
    {.name = "PlatformCheckFails",
     .read_line = kReadOff,
     .decisive_line = "T e :   Invalid Modem in this platform.",
     .blocked_by = "platform-refused"},
    {.name = "LevelZeroIsSetToOne",
     .disable_verify = 1,
     .read_line = kReadOn,
     .decisive_line = "T i :   SET MBIM FUN SUCCESS!",
     .queries = 1,
     .sets = 1,
     .final_level = 1,
     .shared_log = true},
    // Only the low byte of the value counts: 0x101 reads as 1.
    {.name = "LevelOneIsLeftAlone",
     .disable_verify = 0x101,
     .initial_level = 1,
     .read_line = kReadOn,
     .decisive_line = "T i :   MBIM FUN 1!",
     .queries = 1,
     .final_level = 1},
    {.name = "LevelCannotBeRead",
     .disable_verify = 1,
     .query_status = kStatusFailure,
     .retry = true,
     .read_line = kReadOn,
     .decisive_line = "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!",
     .queries = 1,
     .sleeps = {200},
     .blocked_by = "level-unreadable"},
    {.name = "RefusedSetAsksForARetry",
     .disable_verify = 1,
     .set_status = kStatusNotAllowed,
     .retry = true,
     .read_line = kReadOn,
     .decisive_line = "T e :   SetMbimCfun failed, Wait for retry!!!",
     .queries = 1,
     .sets = 1,
     .blocked_by = "level-not-set"},
};

const Case kUnlistedModelCases[] = {
    {.name = "FccModeOff",
     .model = kUnlistedModel,
     .read_line = kReadOff,
     .decisive_line = "T e :   isFccMode = false  , exit",
     .blocked_by = "fcc-mode-off"},
    {.name = "DisableVerifyTwoKeepsTheChecks",
     .model = kUnlistedModel,
     .disable_verify = 2,
     .read_line = "T i :   Read IsDisableVerify = 2(False)",
     .decisive_line = "T e :   isFccMode = false  , exit",
     .blocked_by = "fcc-mode-off"},
    {.name = "DisableVerifySkipsTheChecks",
     .model = kUnlistedModel,
     .disable_verify = 1,
     .read_line = kReadOn,
     .decisive_line = "T i :   SET MBIM FUN SUCCESS!",
     .queries = 1,
     .sets = 1,
     .final_level = 1},
};

constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Tessary Wireless Inc\\Brevane";

// IsDisableVerify in the prefix's registry for the life of the object.
class DisableVerifyValue {
 public:
  explicit DisableVerifyValue(std::int64_t value) {
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey);  // whatever an earlier run left
    if (value < 0) {
      ok_ = true;
      return;
    }
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
      return;
    }
    const auto data = static_cast<DWORD>(value);
    ok_ = ::RegSetValueExW(key, L"IsDisableVerify", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
    ::RegCloseKey(key);
  }
  ~DisableVerifyValue() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }
  DisableVerifyValue(const DisableVerifyValue&) = delete;
  DisableVerifyValue& operator=(const DisableVerifyValue&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

class AuthEndToEndWinTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    provider_ = FakeProvider::Get();
    ASSERT_NE(provider_, nullptr);
  }

  // Lays out the laptop of `c` and runs the job once on it; then calls `then` (if given) with
  // the runtime, the laptop still in place and the job's log still in its folder. The laptop is
  // taken down again before the function returns.
  void RunOn(const Case& c, const std::function<void(mbn_platform::Runtime&)>& then = nullptr) {
    const Systeminfo firmware(SystemFirmwarePlatform());
    ASSERT_EQ(firmware.version, c.model) << "the firmware files are those of another model";

    FakeScript script = provider_->DefaultScript();
    script.modem_lookups_present = c.modem_present ? -1 : 0;
    script.fail_at = c.fail_at;
    script.fail_hr = E_FAIL;
    script.keeps_level = c.scripted_answer ? 0 : 1;
    script.level = c.initial_level;
    script.status_code = c.query_status;
    script.set_status_code = c.set_status;
    if (c.completion) {
      script.completion = *c.completion;
    }
    if (c.final_status) {
      script.final_status = static_cast<std::int32_t>(*c.final_status);
    }
    script.response_length = c.scripted_length;
    script.response_null = c.scripted_null ? 1 : 0;
    script.response_overlong = c.scripted_overlong ? 1 : 0;
    provider_->Reset(script);

    CreatedDevice device(c.device->device_instance_id, L"LTE Module MBIM",
                         std::wstring(c.device->hardware_ids));
    ASSERT_TRUE(device.created()) << ::GetLastError();
    DriverKey driver_key("0917", testing::kModemAdapterName, c.device->instance_id);
    ASSERT_TRUE(driver_key.ok());
    DisableVerifyValue registry(c.disable_verify);
    ASSERT_TRUE(registry.ok());

    std::unique_ptr<mbn_platform::Runtime> runtime = mbn_win::CreateWinRuntime();
    {
      // A command that never completes is given up after a short bound (the production bound
      // is waited out once, by the helper's bound test); every other case keeps the production
      // bound, which a completion on a loaded machine stays well within.
      CMbnWinRtHelper modem(*runtime, nullptr,
                            c.completion == kCompleteNever ? std::chrono::milliseconds(100)
                                                           : CMbnWinRtHelper::kCommandWait);
      AuthModuleCollaborators with =
          AuthModuleCollaboratorsFor(modem, AuthModulePlatforms::System());
      with.sleepMs = [this](std::uint32_t ms) { sleeps_.push_back(ms); };
      const AuthModuleJob job = MakeAuthModuleJob(std::move(with));
      // In the log file: the status tool's cases read the run back from the log folder.
      FileLogCapture capture;
      const auto start = std::chrono::steady_clock::now();
      result_ = job(&retry_);
      took_ = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      lines_ = testing::MaskSessionAddress(capture.Lines());
      if (then) {
        then(*runtime);
      }
    }
    runtime.reset();
    provider_->WaitIdle();
    record_ = provider_->Record();
  }

  FakeProvider* provider_ = nullptr;
  bool result_ = false;
  bool retry_ = false;
  std::vector<std::uint32_t> sleeps_;
  std::vector<std::string> lines_;
  std::chrono::milliseconds took_{0};
  FakeRecord record_{};
};

TEST_P(AuthEndToEndWinTest, OneRun) {
  const Case& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(RunOn(c));

  EXPECT_EQ(result_, c.result);
  EXPECT_EQ(retry_, c.retry);
  EXPECT_EQ(sleeps_, c.sleeps);
  int queries = 0;
  int sets = 0;
  for (int i = 0; i < record_.command_count && i < 8; ++i) {
    ++(record_.commands[i].set != 0 ? sets : queries);
  }
  EXPECT_EQ(queries, c.queries);
  EXPECT_EQ(sets, c.sets);
  EXPECT_EQ(record_.level, c.final_level);
  // Every command session that was opened was closed again, and nothing is left alive.
  EXPECT_EQ(record_.sessions_closed, c.queries + c.sets);
  EXPECT_EQ(record_.objects_alive, 0);

  ASSERT_GE(lines_.size(), 2u);
  EXPECT_EQ(lines_.front(), "T h : + CTaskAuthModule::doJob");
  EXPECT_EQ(lines_.back(), "T h : - CTaskAuthModule::doJob");
  EXPECT_EQ(lines_[lines_.size() - 2], c.decisive_line);
  if (c.read_line != nullptr) {
    EXPECT_THAT(lines_, Contains(c.read_line));
  } else {
    EXPECT_THAT(lines_, Not(Contains(::testing::HasSubstr("Read IsDisableVerify"))));
  }
  if (c.shared_log) {
    EXPECT_THAT(lines_, ElementsAreArray(testing::SuccessfulRunLog()));
  }
}

// halvornctl on the same laptop after the job's run, as an administrator would run it next:
// the verdict and exit code that match the job's outcome, in text and in JSON, with the
// service reported running. Read-only: the tool adds queries only, and the log folder stays
// as the job left it. Each JSON answer is also written to $HALVORN_CTL_JSON_OUT (when set),
// where a test of its own checks it against the schema.
TEST_P(AuthEndToEndWinTest, StatusToolAfterTheRun) {
  const Case& c = GetParam();
  int tool_text_code = -1;
  int tool_json_code = -1;
  std::string text;
  std::string json;
  std::string folder_before;
  std::string folder_after;
  auto folder_content = [] {
    std::string all;
    const std::string folder = LogHelper::BuildLogFolderPath();
    WIN32_FIND_DATAA found{};
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
      return all;
    }
    do {
      std::ifstream in(folder + "\\" + found.cFileName, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      all += std::string(found.cFileName) + "\n" + ss.str();
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    return all;
  };
  ASSERT_NO_FATAL_FAILURE(RunOn(c, [&](mbn_platform::Runtime& runtime) {
    folder_before = folder_content();
    CMbnWinRtHelper modem(runtime, nullptr);
    testing::FakeCtlPlatform ctl;
    ctl.service = {ctl_platform::ServiceState::kRunning, "SERVICE_RUNNING", 4242};
    const CtlSystem system{ctl, SystemLogFolderPlatform(), AuthModulePlatforms::System()};
    std::ostringstream out;
    std::ostringstream err;
    tool_text_code =
        RunHalvornCtl({"status"}, out, err, StatusChecksFor(modem, system.checked), system);
    text = out.str() + err.str();
    out.str("");
    tool_json_code = RunHalvornCtl({"status", "--json"}, out, err,
                                   StatusChecksFor(modem, system.checked), system);
    json = out.str();
    folder_after = folder_content();
  }));

  const bool on = std::string(c.blocked_by).empty();
  const int code = on ? 0 : 1;
  EXPECT_EQ(tool_text_code, code) << text;
  EXPECT_EQ(tool_json_code, code) << json;
  EXPECT_THAT(text, ::testing::HasSubstr(on ? "\nVerdict          the radio is on"
                                            : "\nVerdict          blocked: "));
  EXPECT_THAT(
      text, ::testing::HasSubstr("Service          Halvorn: running (SERVICE_RUNNING, pid 4242)"));
  const std::string outcome_line = lines_[lines_.size() - 2].substr(std::string("T i :   ").size());
  EXPECT_THAT(text, ::testing::HasSubstr("(\"" + outcome_line + "\") in tessary_brevane_monitor_"));

  const nlohmann::json j = nlohmann::json::parse(json, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << json;
  EXPECT_EQ(j["exit_code"], code);
  EXPECT_EQ(j["verdict"]["radio_on"], on);
  if (!on) {
    EXPECT_EQ(j["verdict"]["blocked_by"], c.blocked_by);
  }
  EXPECT_EQ(j["last_run"]["message"], outcome_line);
  EXPECT_EQ(j["laptop"]["system_version"], c.model);
  EXPECT_EQ(record_.level, c.final_level);
  int sets = 0;
  for (int i = 0; i < record_.command_count && i < 8; ++i) {
    sets += record_.commands[i].set != 0 ? 1 : 0;
  }
  EXPECT_EQ(sets, c.sets) << "the tool must never set";
  EXPECT_FALSE(folder_before.empty());
  EXPECT_EQ(folder_after, folder_before);

  if (const char* out_folder = std::getenv("HALVORN_CTL_JSON_OUT");
      out_folder != nullptr && *out_folder != '\0') {
    ::CreateDirectoryA(out_folder, nullptr);
    std::ofstream(std::string(out_folder) + "\\" + c.name + ".json", std::ios::binary) << json;
  }
}

// Every way the runtime can fail a command, each through the real job: the outcome the job's
// table gives for it, within the bound of the command's wait (a run past kRunBound hangs), nothing
// of the runtime left alive; then, on the same runtime with the modem healed, a second run that
// finds the modem and sets the level.
constexpr std::chrono::seconds kRunBound{12};
constexpr const char* kReadFailed = "T e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!";

Case UnreadableBy(const char* name) {
  return {.name = name,
          .disable_verify = 1,
          .retry = true,
          .read_line = kReadOn,
          .decisive_line = kReadFailed,
          .sleeps = {200}};
}

Case UnreadableAt(const char* name, FakeFailPoint point) {
  Case c = UnreadableBy(name);
  c.fail_at = point;
  return c;
}

const Case kFaultCases[] = {
    UnreadableAt("ServiceLookupFails", kFailGetDeviceService),
    UnreadableAt("SessionOpenFails", kFailOpenCommandSession),
    UnreadableAt("DataWriterFails", kFailActivateDataWriter),
    UnreadableAt("WritingTheRequestFails", kFailWriteBytes),
    UnreadableAt("DetachingTheRequestFails", kFailDetachBuffer),
    UnreadableAt("SendFails", kFailSend),
    UnreadableAt("CompletionHandlerRefused", kFailPutCompleted),
    UnreadableAt("ResultsFail", kFailGetResults),
    UnreadableAt("StatusCodeFails", kFailStatusCode),
    UnreadableAt("ResponseDataFails", kFailResponseData),
    [] {
      Case c = UnreadableBy("NeverCompletes");
      c.completion = kCompleteNever;
      return c;
    }(),
    [] {
      Case c = UnreadableBy("CompletesWithAnError");
      c.final_status = AsyncStatus::kError;
      return c;
    }(),
    [] {
      Case c = UnreadableBy("CompletesCanceled");
      c.final_status = AsyncStatus::kCanceled;
      return c;
    }(),
    [] {
      Case c = UnreadableBy("AnswersNoBuffer");
      c.scripted_answer = true;
      c.scripted_null = true;
      return c;
    }(),
    [] {
      Case c = UnreadableBy("AnswersTwoBytes");
      c.scripted_answer = true;
      c.scripted_length = 2;
      return c;
    }(),
    [] {
      Case c = UnreadableBy("AnswersABufferLongerThanItHolds");
      c.scripted_answer = true;
      c.scripted_overlong = true;
      return c;
    }(),
    // Answered from another thread after the handler is attached, as the system does.
    {.name = "CompletesOnAnotherThread",
     .disable_verify = 1,
     .completion = kCompleteFromOtherThread,
     .read_line = kReadOn,
     .decisive_line = "T i :   SET MBIM FUN SUCCESS!",
     .final_level = 1},
    // A session that cannot be closed does not undo the command it carried.
    {.name = "ClosingTheSessionFails",
     .fail_at = kFailCloseSession,
     .disable_verify = 1,
     .read_line = kReadOn,
     .decisive_line = "T i :   SET MBIM FUN SUCCESS!",
     .final_level = 1},
};

using AuthFaultWinTest = AuthEndToEndWinTest;

TEST_P(AuthFaultWinTest, TheJobSurvivesTheFaultAndTheNextRunFindsTheModem) {
  const Case& c = GetParam();
  bool healed_retry = false;
  std::vector<std::string> healed_lines;
  FakeRecord healed{};
  ASSERT_NO_FATAL_FAILURE(RunOn(c, [&](mbn_platform::Runtime& runtime) {
    RecordProperty("hit_ms", std::to_string(took_.count()));
    std::printf("%s: %lld ms\n", c.name, static_cast<long long>(took_.count()));
    // An answer held back arrives now, and reaches only the wait given up.
    if (c.completion == kCompleteNever) {
      EXPECT_TRUE(provider_->CompleteHeld(static_cast<std::int32_t>(AsyncStatus::kCompleted)));
    }
    provider_->WaitIdle();
    const FakeRecord hit = provider_->Record();
    FakeScript script = provider_->DefaultScript();
    script.keeps_level = 1;
    script.level = hit.level;
    provider_->Reset(script);
    CMbnWinRtHelper modem(runtime, nullptr);
    AuthModuleCollaborators with = AuthModuleCollaboratorsFor(modem, AuthModulePlatforms::System());
    with.sleepMs = [](std::uint32_t) {};
    const AuthModuleJob job = MakeAuthModuleJob(std::move(with));
    LogCapture capture;
    job(&healed_retry);
    healed_lines = capture.Lines();
    provider_->WaitIdle();
    healed = provider_->Record();
  }));

  EXPECT_LT(took_, kRunBound);
  EXPECT_EQ(result_, c.result);
  EXPECT_EQ(retry_, c.retry);
  EXPECT_EQ(sleeps_, c.sleeps);
  ASSERT_GE(lines_.size(), 2u);
  EXPECT_EQ(lines_[lines_.size() - 2], c.decisive_line);
  EXPECT_EQ(healed.level, 1);
  EXPECT_FALSE(healed_retry);
  ASSERT_GE(healed_lines.size(), 2u);
  EXPECT_EQ(healed_lines[healed_lines.size() - 2],
            c.final_level == 1 ? "T i :   MBIM FUN 1!" : "T i :   SET MBIM FUN SUCCESS!");
  // Nothing of either run is left alive once the runtime has gone.
  EXPECT_EQ(record_.objects_alive, 0);
}

INSTANTIATE_TEST_SUITE_P(ListedModel,
                         AuthEndToEndWinTest,
                         ::testing::ValuesIn(kListedModelCases),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(ListedModel, AuthFaultWinTest, ::testing::ValuesIn(kFaultCases), CaseName);
INSTANTIATE_TEST_SUITE_P(UnlistedModel,
                         AuthEndToEndWinTest,
                         ::testing::ValuesIn(kUnlistedModelCases),
                         CaseName);

}  // namespace
}  // namespace halvorn
