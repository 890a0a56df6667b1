// `halvornctl status`: the facts the authorisation job decides on, the verdict they give, and
// their two renderings (aligned text for a person, a versioned JSON object for scripts). All
// portable; the facts are gathered by status_collect.h.

#ifndef HALVORN_CTL_STATUS_H_
#define HALVORN_CTL_STATUS_H_

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "auth/auth_outcome.h"
#include "ctl/ctl_platform.h"
#include "ctl/last_run.h"

namespace halvorn {

// Version of the JSON object; raised when a field changes meaning or goes away (adding a
// field does not raise it). docs/halvornctl-status.schema.json describes it.
inline constexpr int kStatusSchemaVersion = 1;

// Exit codes of the tool.
inline constexpr int kExitRadioOn = 0;
inline constexpr int kExitBlocked = 1;
inline constexpr int kExitCannotRun = 2;

struct StatusFacts {
  std::string service_name;  // kServiceName
  ctl_platform::ServiceFacts service;

  // The laptop, from SMBIOS System Information.
  bool firmware_read = false;  // a System Information structure was found
  std::string manufacturer;
  std::string product_name;
  std::string version;
  std::string family;
  std::string system_version;  // what platform verification compares
  bool listed_model = false;
  std::vector<std::string> allowed_modem_ids;  // of the listed model
  bool fcc_mode = false;

  // The modem.
  bool modem_present = false;              // the runtime's default modem
  bool vendor_modem = false;               // its adapter leads to the vendor's device
  std::optional<std::string> hardware_id;  // the vendor device's first hardware id
  std::optional<std::string> modem_id;     // taken from it

  std::uint8_t disable_verify = 0;  // IsDisableVerify as read (0 when missing)
  bool platform_allows = false;     // VerifyPlatform

  // The radio function level: read only from the vendor's modem, by a query.
  std::optional<bool> level_read;
  std::optional<std::int32_t> level;

  LastRun last_run;

  // The job's facts, as a run would find them now (the set step aside: the tool never sets).
  AuthFacts auth;
};

// What keeps the radio off, and what to do about it.
struct Verdict {
  bool radio_on = false;
  std::string blocked_by;  // a stable identifier; empty when the radio is on
  std::string message;     // one sentence: the radio is on, or what blocks it and what to do
  int exit_code = kExitBlocked;
};

Verdict DecideVerdict(const StatusFacts& facts);

// A few aligned lines, one per fact, ending with the verdict line.
std::string RenderStatusText(const StatusFacts& facts, const Verdict& verdict);

// The JSON object (schema version kStatusSchemaVersion).
nlohmann::ordered_json RenderStatusJson(const StatusFacts& facts, const Verdict& verdict);

// The object as the tool prints it: indented, text that is not UTF-8 replaced (firmware
// strings are whatever the firmware holds), never an exception.
std::string JsonText(const nlohmann::ordered_json& object);

// The answer when the tool cannot run: the text line and the JSON object, both carrying
// `error`.
std::string RenderErrorText(const std::string& error);
nlohmann::ordered_json RenderErrorJson(const std::string& error);

const char* ServiceStateName(ctl_platform::ServiceState state);

}  // namespace halvorn

#endif  // HALVORN_CTL_STATUS_H_
