// The log lines of one successful radio function command of the modem helper, as
// LogCapture::Lines shows them. The fake runtime, the Linux backend, the Windows backend and
// the authorisation job's end-to-end tests all expect these.

#ifndef HALVORN_TESTS_MBN_HELPER_LOG_H_
#define HALVORN_TESTS_MBN_HELPER_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace halvorn::testing {

// The query logs the low 32 bits of the session's address; tests that cannot know it mask it
// with MaskSessionAddress and expect this text in its place.
inline constexpr std::string_view kMaskedSession = "S";

// Replaces the address of each "device_service_session:0x<lower-case hex digits>" line with
// kMaskedSession. Anything else after "0x" is left, so that it does not match.
inline std::vector<std::string> MaskSessionAddress(std::vector<std::string> lines) {
  constexpr std::string_view kSession = "device_service_session:0x";
  for (std::string& line : lines) {
    const std::size_t at = line.find(kSession);
    if (at == std::string::npos) {
      continue;
    }
    const std::size_t digits = at + kSession.size();
    if (digits < line.size() &&
        line.find_first_not_of("0123456789abcdef", digits) == std::string::npos) {
      line.replace(digits, std::string::npos, kMaskedSession);
    }
  }
  return lines;
}

// GetMbimCfun reading `level`; `session` is the address as the line writes it (hex digits).
inline std::vector<std::string> SuccessfulQueryLines(std::int32_t level,
                                                     std::string_view session = kMaskedSession) {
  return {
      "T h : + CMbnWinRtHelper::GetMbimCfun",
      "T i :   +Get MobileBroadbandModem",
      "T i :   -Get MobileBroadbandModem",
      "T i :   +Get GetDeviceService",
      "T i :   -Get GetDeviceService",
      "T i :   +OpenCommandSession",
      "T i :   -OpenCommandSession",
      "T i :   device_service_session:0x" + std::string(session),
      "T i :   +SendQueryCommandAsync",
      "T i :   -SendQueryCommandAsync",
      "T i :   query command complete. cfun mode = " + std::to_string(level) + ".",
      "T h : - CMbnWinRtHelper::GetMbimCfun",
  };
}

// SetMbimCfun setting the level to 1.
inline std::vector<std::string> SuccessfulSetLines() {
  return {
      "T h : + CMbnWinRtHelper::SetMbimCfun", "T i :   +Get MobileBroadbandModem",
      "T i :   -Get MobileBroadbandModem",    "T i :   +Get GetDeviceService",
      "T i :   -Get GetDeviceService",        "T i :   +OpenCommandSession",
      "T i :   -OpenCommandSession",          "T i :   set cfun value: 1.",
      "T i :   +SendSetCommandAsync",         "T i :   -SendSetCommandAsync",
      "T i :   set cfun successful.",         "T h : - CMbnWinRtHelper::SetMbimCfun",
  };
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_MBN_HELPER_LOG_H_
