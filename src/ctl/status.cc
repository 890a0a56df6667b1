#include "ctl/status.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "auth/auth_outcome.h"

namespace halvorn {
namespace {

using ctl_platform::ServiceState;
using Json = nlohmann::ordered_json;

constexpr std::size_t kLabelWidth = 17;

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    text += (text.empty() ? "" : ", ") + item;
  }
  return text;
}

const char* LastRunStatusName(LastRun::Status status) {
  switch (status) {
    case LastRun::Status::kFound:
      return "found";
    case LastRun::Status::kNoFolder:
      return "no-log-folder";
    case LastRun::Status::kNoLogFile:
      return "no-log-file";
    case LastRun::Status::kNoRun:
      return "no-finished-run";
    case LastRun::Status::kUnreadable:
      return "unreadable";
  }
  return "unknown";
}

std::string ServiceText(const StatusFacts& f) {
  std::string text = f.service_name + ": " + ServiceStateName(f.service.state);
  std::string detail = f.service.detail;
  if (f.service.process_id != 0) {
    detail +=
        (detail.empty() ? "" : ", ") + std::string("pid ") + std::to_string(f.service.process_id);
  }
  return detail.empty() ? text : text + " (" + detail + ")";
}

std::string LaptopText(const StatusFacts& f) {
  if (!f.firmware_read) {
    return "unknown: the firmware tables hold no System Information";
  }
  std::string text = f.manufacturer;
  if (!f.product_name.empty()) {
    text += (text.empty() ? "" : " ") + f.product_name;
  }
  return text.empty() ? "(no manufacturer or product name)" : text;
}

std::string SystemVersionText(const StatusFacts& f) {
  return f.system_version.empty() ? "(empty)" : "\"" + f.system_version + "\"";
}

std::string PlatformText(const StatusFacts& f) {
  if (!f.listed_model) {
    return "model not listed: any of the vendor's modems is allowed";
  }
  return "model listed: allows modem ids " + Joined(f.allowed_modem_ids);
}

std::string FccText(const StatusFacts& f) {
  return f.fcc_mode ? "present: the firmware asks for the modem authorisation"
                    : "absent: the service leaves the radio alone";
}

std::string ModemText(const StatusFacts& f) {
  if (!f.modem_present) {
    return "none found";
  }
  if (!f.vendor_modem) {
    return "present, not the vendor's: the service does not touch it";
  }
  std::string text = f.hardware_id ? *f.hardware_id : "hardware id not found";
  if (f.modem_id) {
    text += " (modem id " + *f.modem_id + ")";
  }
  text += ": the vendor's, ";
  if (f.platform_allows) {
    text += f.listed_model ? "allowed here" : "allowed here (model not restricted)";
  } else {
    text += "not allowed for this model";
  }
  return text;
}

std::string DisableVerifyText(const StatusFacts& f) {
  return std::to_string(f.disable_verify) + (ChecksDisabled(f.disable_verify)
                                                 ? ": the platform and FCC-mode checks are off"
                                                 : ": the platform and FCC-mode checks run");
}

std::string LevelText(const StatusFacts& f) {
  if (!f.level_read) {
    return f.modem_present && !f.vendor_modem ? "not read: the modem is not the vendor's"
                                              : "not read: no modem";
  }
  if (!*f.level_read || !f.level) {
    return "cannot be read from the modem";
  }
  return std::to_string(*f.level) + (*f.level == 1 ? " (radio on)" : " (radio off)");
}

std::string LastRunText(const LastRun& run) {
  std::string text;
  switch (run.status) {
    case LastRun::Status::kFound: {
      const AuthOutcomeRow& row = AuthOutcomeInfo(*run.outcome);
      text = run.time + ": " + row.name + " (\"" + row.message + "\") in " + run.log_file;
      break;
    }
    case LastRun::Status::kNoFolder:
      text = run.folder.empty() ? "unknown: the log folder path cannot be built"
                                : "no log folder " + run.folder;
      break;
    case LastRun::Status::kNoLogFile:
      text = "no log file in " + run.folder;
      break;
    case LastRun::Status::kNoRun:
      text = "no finished run in " + run.log_file;
      break;
    case LastRun::Status::kUnreadable:
      text = "cannot read " + run.log_file;
      break;
  }
  if (run.cut_line) {
    text += " (its last line is cut short)";
  }
  return text;
}

void AddLine(std::string* out, const char* label, const std::string& value) {
  std::string line = label;
  line.resize(kLabelWidth, ' ');
  *out += line + value + "\n";
}

Json OrNull(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

}  // namespace

const char* ServiceStateName(ServiceState state) {
  switch (state) {
    case ServiceState::kRunning:
      return "running";
    case ServiceState::kStarting:
      return "starting";
    case ServiceState::kStopping:
      return "stopping";
    case ServiceState::kStopped:
      return "stopped";
    case ServiceState::kNotInstalled:
      return "not-installed";
    case ServiceState::kUnknown:
      return "unknown";
  }
  return "unknown";
}

Verdict DecideVerdict(const StatusFacts& f) {
  Verdict v;
  auto blocked = [&v](const char* by, std::string message) {
    v.radio_on = false;
    v.blocked_by = by;
    v.message = std::move(message);
    v.exit_code = kExitBlocked;
    return v;
  };
  if (f.level_read.value_or(false) && f.level == 1) {
    v.radio_on = true;
    v.message = "the radio is on (function level 1)";
    v.exit_code = kExitRadioOn;
    return v;
  }
  const std::optional<AuthOutcome> outcome = DecideAuthOutcome(f.auth);
  if (outcome) {
    switch (*outcome) {
      case AuthOutcome::kNoModem:
        return blocked("no-modem",
                       "no MBIM modem is present: check that the modem is enabled in the firmware "
                       "setup and that its driver is loaded");
      case AuthOutcome::kForeignModem:
        return blocked("foreign-modem",
                       "the modem is not the vendor's: the service does not handle it");
      case AuthOutcome::kPlatformRefused:
        return blocked("platform-refused",
                       "this modem id is not allowed for this model: the service leaves the radio "
                       "off; fit a modem the model lists (" +
                           Joined(f.allowed_modem_ids) + ")");
      case AuthOutcome::kFccModeOff:
        return blocked("fcc-mode-off",
                       "the firmware carries no FCC-mode flag: nothing to do, the service leaves "
                       "the radio to the operating system");
      case AuthOutcome::kLevelUnreadable:
        return blocked("level-unreadable",
                       "the radio function level cannot be read from the modem: check its MBIM "
                       "control port; the service retries");
      case AuthOutcome::kLevelIsOne:
      case AuthOutcome::kLevelSet:
      case AuthOutcome::kLevelNotSet:
        break;  // the tool never sets; a level of 1 is handled above
    }
  }
  // The checks pass and the level is not 1: the service's next run sets it.
  if (f.service.state == ServiceState::kUnknown) {
    return blocked("service-state-unknown",
                   "the radio is off and the service's state cannot be read (" + f.service.detail +
                       "): make sure the service runs (\"" +
                       std::string(ctl_platform::kStartCommand) + "\")");
  }
  if (f.service.state != ServiceState::kRunning) {
    return blocked("service-not-running",
                   "the service is not running (" + std::string(ServiceStateName(f.service.state)) +
                       "): start it with \"" + std::string(ctl_platform::kStartCommand) + "\"");
  }
  if (f.last_run.status == LastRun::Status::kFound &&
      f.last_run.outcome == AuthOutcome::kLevelNotSet) {
    return blocked("level-not-set",
                   "the modem refused level 1 at the service's last run: the service retries, "
                   "then restarts itself; check the modem's firmware");
  }
  return blocked("level-pending",
                 "the radio is off: the service sets it to 1 at its next run (restart the "
                 "service to run it now)");
}

std::string RenderStatusText(const StatusFacts& f, const Verdict& v) {
  std::string out;
  AddLine(&out, "Service", ServiceText(f));
  AddLine(&out, "Laptop", LaptopText(f));
  AddLine(&out, "System version", SystemVersionText(f));
  AddLine(&out, "Platform table", PlatformText(f));
  AddLine(&out, "FCC-mode flag", FccText(f));
  AddLine(&out, "Modem", ModemText(f));
  AddLine(&out, "IsDisableVerify", DisableVerifyText(f));
  AddLine(&out, "Radio level", LevelText(f));
  AddLine(&out, "Last run", LastRunText(f.last_run));
  AddLine(&out, "Verdict", v.radio_on ? v.message : "blocked: " + v.message);
  return out;
}

Json RenderStatusJson(const StatusFacts& f, const Verdict& v) {
  Json j;
  j["schema_version"] = kStatusSchemaVersion;
  j["service"] = {{"name", f.service_name},
                  {"state", ServiceStateName(f.service.state)},
                  {"detail", f.service.detail},
                  {"pid", f.service.process_id != 0 ? Json(f.service.process_id) : Json(nullptr)}};
  j["laptop"] = {{"firmware_read", f.firmware_read},
                 {"manufacturer", f.manufacturer},
                 {"product_name", f.product_name},
                 {"version", f.version},
                 {"family", f.family},
                 {"system_version", f.system_version}};
  j["platform_table"] = {{"listed", f.listed_model}, {"allowed_modem_ids", f.allowed_modem_ids}};
  j["fcc_mode"] = f.fcc_mode;
  j["modem"] = {{"present", f.modem_present},
                {"vendor", f.vendor_modem},
                {"hardware_id", OrNull(f.hardware_id)},
                {"modem_id", OrNull(f.modem_id)},
                {"allowed_here", f.vendor_modem ? Json(f.platform_allows) : Json(nullptr)}};
  j["disable_verify"] = {{"value", f.disable_verify},
                         {"checks_off", ChecksDisabled(f.disable_verify)}};
  j["radio"] = {{"level_read", f.level_read ? Json(*f.level_read) : Json(nullptr)},
                {"level", f.level ? Json(*f.level) : Json(nullptr)}};
  const LastRun& run = f.last_run;
  const bool found = run.status == LastRun::Status::kFound;
  j["last_run"] = {{"status", LastRunStatusName(run.status)},
                   {"folder", run.folder},
                   {"log_file", run.log_file.empty() ? Json(nullptr) : Json(run.log_file)},
                   {"time", found ? Json(run.time) : Json(nullptr)},
                   {"outcome", found ? Json(AuthOutcomeInfo(*run.outcome).name) : Json(nullptr)},
                   {"message", found ? Json(AuthOutcomeInfo(*run.outcome).message) : Json(nullptr)},
                   {"cut_line", run.cut_line}};
  const std::optional<AuthOutcome> next = DecideAuthOutcome(f.auth);
  j["next_run"] = {{"outcome", next ? Json(AuthOutcomeInfo(*next).name) : Json(nullptr)},
                   {"sets_level", !next && f.level.has_value()}};
  j["verdict"] = {{"radio_on", v.radio_on},
                  {"blocked_by", v.radio_on ? Json(nullptr) : Json(v.blocked_by)},
                  {"message", v.message}};
  j["exit_code"] = v.exit_code;
  return j;
}

std::string JsonText(const Json& object) {
  return object.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string RenderErrorText(const std::string& error) {
  return "halvornctl: " + error + "\n";
}

Json RenderErrorJson(const std::string& error) {
  Json j;
  j["schema_version"] = kStatusSchemaVersion;
  j["error"] = error;
  j["exit_code"] = kExitCannotRun;
  return j;
}

}  // namespace halvorn
