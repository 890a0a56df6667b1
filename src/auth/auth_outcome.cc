#include "auth/auth_outcome.h"

#include <array>

#include "util/log_helper.h"

namespace halvorn {
namespace {

constexpr std::array<AuthOutcomeRow, 8> kOutcomes = {{
    {AuthOutcome::kNoModem, "no-modem", LogInfo, "MBIM Device is not exist.", false, true},
    {AuthOutcome::kForeignModem, "foreign-modem", LogInfo, "MBIM Device is not tessary device.",
     false, true},
    {AuthOutcome::kPlatformRefused, "platform-refused", LogError, "Invalid Modem in this platform.",
     true, false},
    {AuthOutcome::kFccModeOff, "fcc-mode-off", LogError, "isFccMode = false  , exit", true, false},
    {AuthOutcome::kLevelUnreadable, "level-unreadable", LogError,
     "GetMbimCfun failed, ReInit Mbim. Wait for retry!!!", true, true},
    {AuthOutcome::kLevelIsOne, "level-is-one", LogInfo, "MBIM FUN 1!", true, false},
    {AuthOutcome::kLevelSet, "level-set", LogInfo, "SET MBIM FUN SUCCESS!", true, false},
    {AuthOutcome::kLevelNotSet, "level-not-set", LogError, "SetMbimCfun failed, Wait for retry!!!",
     true, true},
}};

}  // namespace

std::span<const AuthOutcomeRow> AuthOutcomeTable() {
  return kOutcomes;
}

const AuthOutcomeRow& AuthOutcomeInfo(AuthOutcome outcome) {
  return kOutcomes[static_cast<std::size_t>(outcome)];
}

std::optional<AuthOutcome> AuthOutcomeByMessage(std::string_view message) {
  for (const AuthOutcomeRow& row : kOutcomes) {
    if (message == row.message) {
      return row.outcome;
    }
  }
  return std::nullopt;
}

std::optional<AuthOutcome> AuthOutcomeByName(std::string_view name) {
  for (const AuthOutcomeRow& row : kOutcomes) {
    if (name == row.name) {
      return row.outcome;
    }
  }
  return std::nullopt;
}

bool ChecksDisabled(std::uint8_t disable_verify) {
  return disable_verify == 1;
}

std::optional<AuthOutcome> DecideAuthOutcome(const AuthFacts& f) {
  if (!f.modem_present) {
    return std::nullopt;
  }
  if (!*f.modem_present) {
    return AuthOutcome::kNoModem;
  }
  if (!f.vendor_modem) {
    return std::nullopt;
  }
  if (!*f.vendor_modem) {
    return AuthOutcome::kForeignModem;
  }
  if (!f.disable_verify) {
    return std::nullopt;
  }
  if (!ChecksDisabled(*f.disable_verify)) {
    if (!f.platform_allows) {
      return std::nullopt;
    }
    if (!*f.platform_allows) {
      return AuthOutcome::kPlatformRefused;
    }
    if (!f.fcc_mode) {
      return std::nullopt;
    }
    if (!*f.fcc_mode) {
      return AuthOutcome::kFccModeOff;
    }
  }
  if (!f.level_read) {
    return std::nullopt;
  }
  if (!*f.level_read) {
    return AuthOutcome::kLevelUnreadable;
  }
  if (!f.level) {
    return std::nullopt;
  }
  if (*f.level == 1) {
    return AuthOutcome::kLevelIsOne;
  }
  if (!f.level_set) {
    return std::nullopt;
  }
  return *f.level_set ? AuthOutcome::kLevelSet : AuthOutcome::kLevelNotSet;
}

}  // namespace halvorn
