#include "auth/auth_module_job.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "auth/platform_verification.h"
#include "auth/systeminfo.h"
#include "device/device_helper.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry.h"

namespace halvorn {
namespace {

constexpr const char* kTag = "CTaskAuthModule::doJob";

// Writes the exit trace line on every way out of a run.
class TraceScope {
 public:
  TraceScope() { LogHelper::TraceEnter(kTag); }
  ~TraceScope() { LogHelper::TraceLeave(kTag); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
};

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

bool AuthModuleCollaborators::SysteminfoIsFccMode() {
  Systeminfo info;
  return info.isFccMode();
}

AuthModuleCollaborators::AuthModuleCollaborators()
    : isTessaryMBIMDevcieExist(&CDeviceHelper::IsTessaryMBIMDevcieExist),
      readDWORDRegValue(&ReadDWORDRegValue),
      verifyPlatform(&VerifyPlatform) {}

bool RunAuthModuleJob(const AuthModuleCollaborators& with, bool* retry) {
  TraceScope trace;
  bool ignored_retry = false;
  bool& retry_flag = retry != nullptr ? *retry : ignored_retry;
  std::int32_t level = -1;

  if (!Call(with.isMbimModemExist)) {
    retry_flag = true;
    LogHelper::Print(LogInfo, kTag, "MBIM Device is not exist.");
    return false;
  }

  std::uint8_t found = 0;
  if (with.isTessaryMBIMDevcieExist) {
    with.isTessaryMBIMDevcieExist(found);  // only the flag counts
  }
  if (found == 0) {
    retry_flag = true;
    LogHelper::Print(LogInfo, kTag, "MBIM Device is not tessary device.");
    return false;
  }

  const std::uint8_t disable_verify =
      with.readDWORDRegValue ? with.readDWORDRegValue(kAuthSettingsKey, kDisableVerifyValue) : 0;
  const bool skip_checks = disable_verify == 1;
  LogHelper::Print(LogInfo, kTag, "Read %s = %d(%s)", platform::WideToNarrow(kDisableVerifyValue),
                   static_cast<int>(disable_verify),
                   platform::WideToNarrow(skip_checks ? L"True" : L"False"));

  if (!skip_checks) {
    if (!Call(with.verifyPlatform)) {
      LogHelper::Print(LogError, kTag, "Invalid Modem in this platform.");
      return true;
    }
    LogHelper::Print(LogInfo, kTag, "Valid Modem in this platform.");
    LogHelper::Print(LogInfo, kTag, "VerifyPlatform pass");

    if (!Call(with.isFccMode)) {
      LogHelper::Print(LogError, kTag, "isFccMode = false  , exit");
      return true;
    }
    LogHelper::Print(LogInfo, kTag, "isFccMode pass");
  }

  if (!Call(with.getMbimCfun, &level)) {
    LogHelper::Print(LogError, kTag, "GetMbimCfun failed, ReInit Mbim. Wait for retry!!!");
    if (with.sleepMs) {
      with.sleepMs(AuthModuleCollaborators::kCfunReadRetryWaitMs);
    } else {
      AuthModuleCollaborators::SleepMonotonicMs(AuthModuleCollaborators::kCfunReadRetryWaitMs);
    }
    retry_flag = true;
    return true;
  }
  LogHelper::Print(LogInfo, kTag, "GetMbimCfun Mode : % d", level);
  if (level == 1) {
    LogHelper::Print(LogInfo, kTag, "MBIM FUN 1!");
    return true;
  }

  if (Call(with.setMbimCfun)) {
    LogHelper::Print(LogInfo, kTag, "SET MBIM FUN SUCCESS!");
    return true;
  }
  LogHelper::Print(LogError, kTag, "SetMbimCfun failed, Wait for retry!!!");
  retry_flag = true;
  return true;
}

}  // namespace halvorn
