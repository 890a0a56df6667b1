// The decisions of the authorisation job, apart from the calls that gather their facts: which
// outcome a run ends in, given what its steps found, and the line the job ends that outcome
// with. The job (auth_module_job.cc) and the diagnosis tool (src/ctl) decide through these,
// so the tool's answer is the job's own.

#ifndef HALVORN_AUTH_AUTH_OUTCOME_H_
#define HALVORN_AUTH_AUTH_OUTCOME_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace halvorn {

// How one run of the job ends, in the order of its steps.
enum class AuthOutcome {
  kNoModem,          // no default mobile-broadband modem
  kForeignModem,     // the modem is not the vendor's
  kPlatformRefused,  // the modem id is not allowed for this laptop model
  kFccModeOff,       // the firmware carries no FCC-mode flag
  kLevelUnreadable,  // the radio function level cannot be read
  kLevelIsOne,       // the level is already 1
  kLevelSet,         // the level was set to 1
  kLevelNotSet,      // the modem did not take level 1
};

// What the job writes and returns for an outcome.
struct AuthOutcomeRow {
  AuthOutcome outcome;
  const char* name;     // a stable identifier: "no-modem", "level-is-one", ...
  unsigned log_code;    // LogError or LogInfo
  const char* message;  // the run's last message
  bool result;          // what doJob returns
  bool retry;           // whether the run asks for a retry
};

// Every outcome, in enum order.
std::span<const AuthOutcomeRow> AuthOutcomeTable();
const AuthOutcomeRow& AuthOutcomeInfo(AuthOutcome outcome);
// The outcome whose last message is `message` exactly; none for any other text.
std::optional<AuthOutcome> AuthOutcomeByMessage(std::string_view message);
// The outcome whose name is `name`; none for any other text.
std::optional<AuthOutcome> AuthOutcomeByName(std::string_view name);

// What the steps of one run found, each empty until its step has run.
struct AuthFacts {
  std::optional<bool> modem_present;           // step 2, the presence test
  std::optional<bool> vendor_modem;            // step 3, the vendor-device test
  std::optional<std::uint8_t> disable_verify;  // step 4, IsDisableVerify as read
  std::optional<bool> platform_allows;         // step 6, VerifyPlatform
  std::optional<bool> fcc_mode;                // step 7, isFccMode
  std::optional<bool> level_read;              // step 8, GetMbimCfun succeeded
  std::optional<std::int32_t> level;           // step 8, the level read
  std::optional<bool> level_set;               // step 10, SetMbimCfun succeeded
};

// True when IsDisableVerify as read turns the platform and FCC-mode checks off: only 1 does.
bool ChecksDisabled(std::uint8_t disable_verify);

// The outcome the facts so far settle, or none while the next step still has to run. Facts of
// steps that the run does not reach are not looked at (with the checks off, the platform and
// FCC-mode facts).
std::optional<AuthOutcome> DecideAuthOutcome(const AuthFacts& facts);

}  // namespace halvorn

#endif  // HALVORN_AUTH_AUTH_OUTCOME_H_
