// The authorisation job: one run of CTaskAuthModule::doJob. It decides whether the modem in
// this laptop may be switched on and, if so, makes sure its radio function level is 1.

#ifndef HALVORN_AUTH_AUTH_MODULE_JOB_H_
#define HALVORN_AUTH_AUTH_MODULE_JOB_H_

#include <cstdint>
#include <functional>

namespace halvorn {

class DevicePlatform;
class FirmwarePlatform;
class RegistryPlatform;

// The operating-system boundaries that the job's production checks read. Each must outlive
// every collaborator bound to it.
struct AuthModulePlatforms {
  FirmwarePlatform& firmware;  // the SMBIOS tables: VerifyPlatform, the FCC-mode check
  DevicePlatform& devices;     // devices, adapters, driver keys: CDeviceHelper
  RegistryPlatform& registry;  // the IsDisableVerify switch: ReadDWORDRegValue

  // This process's system: SystemFirmwarePlatform(), SystemDevicePlatform(),
  // SystemRegistryPlatform().
  static AuthModulePlatforms System();
};

// What the job asks of the rest of the system. The modem operations have no default: they
// belong to the process-wide mobile-broadband helper, which the service binds (see
// auth_module_wiring.h). The others default to the production operations over the platforms
// given to the constructor.
struct AuthModuleCollaborators {
  static constexpr std::uint32_t kCfunReadRetryWaitMs = 200;

  // Blocks the calling thread until at least `ms` milliseconds of a monotonic clock have
  // passed since the call.
  static void SleepMonotonicMs(std::uint32_t ms);
  // Constructs a Systeminfo over `firmware`, asks it isFccMode() and destroys it.
  static bool SysteminfoIsFccMode(FirmwarePlatform& firmware);

  // CMbnWinRtHelper::IsMbimModemExist, GetMbimCfun, SetMbimCfun.
  std::function<bool()> isMbimModemExist;
  std::function<bool(std::int32_t* level)> getMbimCfun;
  std::function<bool()> setMbimCfun;

  std::function<bool(std::uint8_t& found)> isTessaryMBIMDevcieExist;  // CDeviceHelper
  std::function<std::uint8_t(const wchar_t* sub_key, const wchar_t* value_name)>
      readDWORDRegValue;                 // ReadDWORDRegValue
  std::function<bool()> verifyPlatform;  // VerifyPlatform
  std::function<bool()> isFccMode;       // SysteminfoIsFccMode
  std::function<void(std::uint32_t ms)> sleepMs = &SleepMonotonicMs;

  // The production operations over `platforms` (AuthModulePlatforms::System() in the service
  // and the tool).
  explicit AuthModuleCollaborators(const AuthModulePlatforms& platforms);
};

inline constexpr const wchar_t* kAuthSettingsKey = L"SOFTWARE\\Tessary Wireless Inc\\Brevane";
inline constexpr const wchar_t* kDisableVerifyValue = L"IsDisableVerify";

// Runs the checks in order (modem presence, vendor device, the IsDisableVerify switch,
// platform verification, FCC mode), then reads the radio function level and sets it to 1 when
// it is not. Logs under "CTaskAuthModule::doJob". Sets *retry to true (never back to false)
// when the modem is missing or not the vendor's, or the level cannot be read (after a 200 ms
// wait) or set. Returns false when no vendor modem is there to work on, true otherwise. A
// collaborator that is not bound counts as a failure of its step. The caller keeps the task's
// running flag.
bool RunAuthModuleJob(const AuthModuleCollaborators& with, bool* retry);

}  // namespace halvorn

#endif  // HALVORN_AUTH_AUTH_MODULE_JOB_H_
