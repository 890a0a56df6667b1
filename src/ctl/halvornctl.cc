#include "ctl/halvornctl.h"

#include "auth/platform_verification.h"
#include "auth/systeminfo.h"
#include "device/device_helper.h"
#include "mbn/mbn_helper.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

constexpr const char* kUsage =
    "usage: halvornctl status [--json]\n"
    "\n"
    "Tells why the cellular radio is on or off: each fact the service's authorisation\n"
    "decides on, the outcome of its last run, and one verdict line.\n"
    "  --json   the same facts as one JSON object (schema_version 1)\n"
    "Exit codes: 0 the radio is on, 1 it is blocked (the reason is printed),\n"
    "            2 the tool could not run.\n";

template <class F, class... Args>
bool Call(const F& f, Args&&... args) {
  return f && f(std::forward<Args>(args)...);
}

}  // namespace

AuthModuleCollaborators StatusChecksFor(CMbnWinRtHelper& modem,
                                        const AuthModulePlatforms& checked) {
  AuthModuleCollaborators checks(checked);
  checks.isMbimModemExist = [&modem] { return modem.IsMbimModemExist(); };
  checks.getMbimCfun = [&modem](std::int32_t* level) { return modem.GetMbimCfun(level); };
  return checks;
}

StatusFacts CollectStatus(const AuthModuleCollaborators& checks, const CtlSystem& system) {
  StatusFacts f;
  f.service_name = ctl_platform::kServiceName;
  f.service = system.ctl.QueryService();

  {
    const Systeminfo info(system.checked.firmware);
    f.firmware_read = !info.version.empty() || !info.family.empty() || !info.manufacturer.empty() ||
                      !info.productName.empty() || !info.uuid.empty();
    f.manufacturer = info.manufacturer;
    f.product_name = info.productName;
    f.version = info.version;
    f.family = info.family;
  }
  f.system_version = SystemVersionOf(f.version, f.family);
  f.listed_model = IsListedModel(f.system_version);
  f.allowed_modem_ids = AllowedModemIds(f.system_version);

  // In the job's order: presence, vendor device, the switch, platform, FCC mode, level.
  f.modem_present = Call(checks.isMbimModemExist);
  f.auth.modem_present = f.modem_present;
  if (f.modem_present) {
    std::uint8_t found = 0;
    if (checks.isTessaryMBIMDevcieExist) {
      checks.isTessaryMBIMDevcieExist(found);
    }
    f.vendor_modem = found != 0;
    f.auth.vendor_modem = f.vendor_modem;
  }
  f.disable_verify = checks.readDWORDRegValue
                         ? checks.readDWORDRegValue(kAuthSettingsKey, kDisableVerifyValue)
                         : 0;
  f.auth.disable_verify = f.disable_verify;

  std::string hwid;
  if (CDeviceHelper::GetTessaryHwid(system.checked.devices, hwid) == 0) {
    f.hardware_id = hwid;
    std::string modem_id;
    if (parseDeviceHwid(hwid, modem_id)) {
      f.modem_id = modem_id;
    }
  }
  f.platform_allows = Call(checks.verifyPlatform);
  f.fcc_mode = Call(checks.isFccMode);
  f.auth.platform_allows = f.platform_allows;
  f.auth.fcc_mode = f.fcc_mode;

  // A query only, and only of the vendor's modem: another maker's is never sent the vendor
  // command.
  if (f.modem_present && f.vendor_modem) {
    std::int32_t level = -1;
    f.level_read = Call(checks.getMbimCfun, &level);
    if (*f.level_read) {
      f.level = level;
    }
    f.auth.level_read = f.level_read;
    f.auth.level = f.level;
  }

  f.last_run = FindLastRun(system.log_files, LogHelper::BuildLogFolderPath());
  return f;
}

int RunHalvornCtl(const std::vector<std::string>& args,
                  std::ostream& out,
                  std::ostream& err,
                  const AuthModuleCollaborators& checks,
                  const CtlSystem& system) {
  bool json = false;
  bool status = false;
  for (const std::string& arg : args) {
    if (arg == "status" && !status) {
      status = true;
    } else if (arg == "--json" && !json) {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return kExitRadioOn;
    } else {
      err << "halvornctl: unknown argument \"" << arg << "\"\n" << kUsage;
      return kExitCannotRun;
    }
  }
  if (!status) {
    err << kUsage;
    return kExitCannotRun;
  }

  const std::string problem = system.ctl.PrivilegeProblem();
  if (!problem.empty()) {
    if (json) {
      out << JsonText(RenderErrorJson(problem));
    } else {
      err << RenderErrorText(problem);
    }
    return kExitCannotRun;
  }

  const StatusFacts facts = CollectStatus(checks, system);
  const Verdict verdict = DecideVerdict(facts);
  if (json) {
    out << JsonText(RenderStatusJson(facts, verdict));
  } else {
    out << RenderStatusText(facts, verdict);
  }
  return verdict.exit_code;
}

}  // namespace halvorn
