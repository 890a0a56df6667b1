#include "command_line.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <system_error>

namespace halvorn::mbimsim {

namespace {

// Decimal, or hexadecimal with a "0x" prefix; a leading '-' only where `min` is negative.
template <typename T>
bool ParseNumber(std::string_view text, T min, T max, T* out) {
  int base = 10;
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0) {
    return false;
  }
  if (negative) {
    value = -value;
  }
  if (value < static_cast<std::int64_t>(min) || value > static_cast<std::int64_t>(max)) {
    return false;
  }
  *out = static_cast<T>(value);
  return true;
}

bool ParseFault(std::string_view text, ModemOptions* modem) {
  const std::size_t colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  const std::string_view arg =
      colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  const bool has_arg = colon != std::string_view::npos;
  struct Simple {
    std::string_view name;
    Fault fault;
  };
  for (const Simple& simple :
       {Simple{"none", Fault::kNone}, Simple{"no-answer", Fault::kNoAnswer},
        Simple{"wrong-tid", Fault::kWrongTransactionId}, Simple{"vanish", Fault::kVanish},
        Simple{"refuse-set", Fault::kRefuseSet}, Simple{"ignore-set", Fault::kIgnoreSet},
        Simple{"late", Fault::kLateAnswer}, Simple{"garble", Fault::kGarbled},
        Simple{"silent-open", Fault::kSilentOpen}, Simple{"silent-close", Fault::kSilentClose}}) {
    if (kind == simple.name) {
      modem->fault = simple.fault;
      return !has_arg;
    }
  }
  if (kind == "status") {
    modem->fault = Fault::kStatus;
    return has_arg && ParseNumber<std::uint32_t>(arg, 1, std::numeric_limits<std::uint32_t>::max(),
                                                 &modem->fault_status);
  }
  if (kind == "delay") {
    modem->fault = Fault::kDelay;
    int ms = 0;
    if (!has_arg || !ParseNumber<int>(arg, 1, 3600 * 1000, &ms)) {
      return false;
    }
    modem->delay = std::chrono::milliseconds(ms);
    return true;
  }
  if (kind == "short") {
    modem->fault = Fault::kShortResponse;
    return has_arg && ParseNumber<std::uint32_t>(arg, 0, 3, &modem->short_length);
  }
  return false;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_value = true;
    }
    auto flag = [&](bool* out) {
      if (has_value) {
        return false;
      }
      *out = true;
      return true;
    };
    auto take_value = [&]() {
      if (!has_value && i + 1 < args.size()) {
        value = args[++i];
        has_value = true;
      }
      return has_value;
    };

    bool ok = false;
    bool vendor_missing = false;
    if (name == "--help" || name == "-h") {
      ok = flag(&line.help);
    } else if (name == "--verbose" || name == "-v") {
      ok = flag(&line.verbose);
    } else if (name == "--no-vendor-service") {
      ok = flag(&vendor_missing);
      line.modem.vendor_service = !vendor_missing;
    } else if (name == "--level") {
      ok = take_value() && ParseNumber<std::int32_t>(
                               value, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max(), &line.modem.initial_level);
    } else if (name == "--fault") {
      ok = take_value() && ParseFault(value, &line.modem);
    } else if (name == "--fault-on") {
      ok = take_value();
      if (value == "query") {
        line.modem.fault_target = FaultTarget::kQuery;
      } else if (value == "set") {
        line.modem.fault_target = FaultTarget::kSet;
      } else if (value == "both") {
        line.modem.fault_target = FaultTarget::kBoth;
      } else {
        ok = false;
      }
    } else if (name == "--fault-count") {
      ok = take_value() &&
           ParseNumber<int>(value, 0, std::numeric_limits<int>::max(), &line.modem.fault_count);
    } else if (name == "--query-padding") {
      ok = take_value() &&
           ParseNumber<std::uint32_t>(value, 0, kMaxMessageLength, &line.modem.query_padding);
    } else if (name == "--path-file") {
      ok = take_value() && !value.empty();
      line.path_file = value;
    } else if (name == "--link") {
      ok = take_value() && !value.empty();
      line.link = value;
    } else {
      *error = "unknown option " + name;
      return std::nullopt;
    }
    if (!ok) {
      *error = has_value ? "bad value for " + name + ": " + value
                         : "missing or unexpected value for " + name;
      return std::nullopt;
    }
  }
  return line;
}

std::string Usage() {
  return R"(Usage: halvorn-mbim-sim [OPTION]...
Simulates an MBIM modem on a pseudo-terminal. Prints the control port's path (for example
/dev/pts/7) as the first line on stdout, then serves it until SIGINT or SIGTERM, or until the
device vanishes (fault "vanish"). libmbim opens the path like a cdc-wdm port:
  mbimcli -d /dev/pts/7 --query-device-caps

  --level=N            starting radio function level of the vendor service (default 0)
  --fault=KIND         misbehaviour of the vendor radio-level command:
                         none            (default)
                         status:CODE     answered with status CODE (1 to 0xffffffff)
                         no-answer       never answered
                         delay:MS        answered after MS milliseconds
                         short:N         query answered with status 0 and N (0 to 3) bytes
                         wrong-tid       answered with the transaction id plus one
                         vanish          the port closes instead of answering
                         refuse-set      set answered "operation not allowed" (28)
                         ignore-set      set answered with success, level kept
                         late            answered only with the next radio-level answer,
                                         also after the host closed and reopened the port
                         garble          answered with a length that announces 1024 bytes
                                         more than follow (the stream is out of step)
                         silent-open     OPEN never answered
                         silent-close    CLOSE never answered
  --fault-on=WHICH     query, set or both (default): the commands that status, no-answer,
                       delay, wrong-tid, vanish, late and garble hit
  --fault-count=N      the fault hits only the first N of those commands (or OPENs, CLOSEs)
  --no-vendor-service  the modem lacks the vendor service (not listed, not supported)
  --query-padding=N    N extra bytes after the level in query answers (answers longer than
                       the maximum control transfer go out in fragments)
  --path-file=FILE     also write the path to FILE once the port is ready
  --link=PATH          also make a symbolic link PATH to the port
  --verbose            trace every message on stderr
  --help               this text
)";
}

}  // namespace halvorn::mbimsim
