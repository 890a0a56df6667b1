#include "auth/auth_module_job.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "auth/auth_outcome.h"
#include "auth/firmware_platform.h"
#include "auth/platform_verification.h"
#include "auth/systeminfo.h"
#include "device/device_helper.h"
#include "device/device_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry.h"
#include "util/registry_platform.h"

namespace halvorn {
namespace {

constexpr const char* kTag = "CTaskAuthModule::doJob";

template <class F, class... Args>
bool Call(const F& f, Args&&... args) {
  return f && f(std::forward<Args>(args)...);
}

}  // namespace

void AuthModuleCollaborators::SleepMonotonicMs(std::uint32_t ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_until(deadline);
  }
}

AuthModulePlatforms AuthModulePlatforms::System() {
  return {SystemFirmwarePlatform(), SystemDevicePlatform(), SystemRegistryPlatform()};
}

bool AuthModuleCollaborators::SysteminfoIsFccMode(FirmwarePlatform& firmware) {
  Systeminfo info(firmware);
  return info.isFccMode();
}

AuthModuleCollaborators::AuthModuleCollaborators(const AuthModulePlatforms& platforms)
    : isTessaryMBIMDevcieExist([&devices = platforms.devices](std::uint8_t& found) {
        return CDeviceHelper::IsTessaryMBIMDevcieExist(devices, found);
      }),
      readDWORDRegValue(
          [&registry = platforms.registry](const wchar_t* sub_key, const wchar_t* value_name) {
            return ReadDWORDRegValue(registry, sub_key, value_name);
          }),
      verifyPlatform([&firmware = platforms.firmware, &devices = platforms.devices] {
        return VerifyPlatform(firmware, devices);
      }),
      isFccMode([&firmware = platforms.firmware] { return SysteminfoIsFccMode(firmware); }) {}

bool RunAuthModuleJob(const AuthModuleCollaborators& with, bool* retry) {
  const TraceScope trace(kTag);
  bool ignored_retry = false;
  bool& retry_flag = retry != nullptr ? *retry : ignored_retry;
  std::int32_t level = -1;
  AuthFacts facts;
  bool result = false;
  // Once the facts so far settle the outcome, the run ends: the outcome's line, then (for an
  // unreadable level) the wait, the retry flag and the result.
  auto ended = [&] {
    const std::optional<AuthOutcome> outcome = DecideAuthOutcome(facts);
    if (!outcome) {
      return false;
    }
    const AuthOutcomeRow& row = AuthOutcomeInfo(*outcome);
    LogHelper::Print(row.log_code, kTag, "%s", row.message);
    if (row.outcome == AuthOutcome::kLevelUnreadable) {
      if (with.sleepMs) {
        with.sleepMs(AuthModuleCollaborators::kCfunReadRetryWaitMs);
      } else {
        AuthModuleCollaborators::SleepMonotonicMs(AuthModuleCollaborators::kCfunReadRetryWaitMs);
      }
    }
    if (row.retry) {
      retry_flag = true;
    }
    result = row.result;
    return true;
  };

  facts.modem_present = Call(with.isMbimModemExist);
  if (ended()) {
    return result;
  }

  std::uint8_t found = 0;
  if (with.isTessaryMBIMDevcieExist) {
    with.isTessaryMBIMDevcieExist(found);  // only the flag counts
  }
  facts.vendor_modem = found != 0;
  if (ended()) {
    return result;
  }

  const std::uint8_t disable_verify =
      with.readDWORDRegValue ? with.readDWORDRegValue(kAuthSettingsKey, kDisableVerifyValue) : 0;
  facts.disable_verify = disable_verify;
  LogHelper::Print(LogInfo, kTag, "Read %s = %d(%s)", platform::WideToNarrow(kDisableVerifyValue),
                   static_cast<int>(disable_verify),
                   platform::WideToNarrow(ChecksDisabled(disable_verify) ? L"True" : L"False"));

  if (!ChecksDisabled(disable_verify)) {
    facts.platform_allows = Call(with.verifyPlatform);
    if (ended()) {
      return result;
    }
    LogHelper::Print(LogInfo, kTag, "Valid Modem in this platform.");
    LogHelper::Print(LogInfo, kTag, "VerifyPlatform pass");

    facts.fcc_mode = Call(with.isFccMode);
    if (ended()) {
      return result;
    }
    LogHelper::Print(LogInfo, kTag, "isFccMode pass");
  }

  facts.level_read = Call(with.getMbimCfun, &level);
  if (*facts.level_read) {
    facts.level = level;
    LogHelper::Print(LogInfo, kTag, "GetMbimCfun Mode : % d", level);
  }
  if (ended()) {
    return result;
  }

  facts.level_set = Call(with.setMbimCfun);
  ended();
  return result;
}

}  // namespace halvorn
