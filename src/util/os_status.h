// The outcome of an operating-system call as the portable code sees it: what happened, not
// the number one system gives it. The backends translate their own codes into it; where a log
// line prints a Windows error number, the portable layer maps the outcome back with
// WindowsErrorCode, so that the line reads the same on every build.

#ifndef HALVORN_UTIL_OS_STATUS_H_
#define HALVORN_UTIL_OS_STATUS_H_

#include <cstdint>

namespace halvorn {

enum class OsOutcome : std::uint8_t {
  kOk,
  kNotFound,     // no such file, key, value or device
  kNoMoreItems,  // an enumeration went past its last item
  kDoesNotFit,   // the caller's buffer is too small for the data
  kOutOfMemory,
  kAccessDenied,  // present, but refused (or not trusted)
  kDamaged,       // present, but unreadable as a whole
  kOther,         // anything else; `code` keeps the system's own number
};

struct OsStatus {
  OsOutcome outcome = OsOutcome::kOk;
  std::uint32_t code = 0;  // the system's number, for kOther only

  static constexpr OsStatus Ok() { return {}; }
  static constexpr OsStatus Of(OsOutcome outcome) { return {outcome, 0}; }
  static constexpr OsStatus Other(std::uint32_t code) { return {OsOutcome::kOther, code}; }

  constexpr bool ok() const { return outcome == OsOutcome::kOk; }
  friend constexpr bool operator==(const OsStatus&, const OsStatus&) = default;
};

// The Windows system error number of `status`. Windows has three numbers for data that does
// not fit (111 buffer overflow, 122 insufficient buffer, 234 more data); the call at hand
// names its own in `does_not_fit`.
constexpr std::uint32_t WindowsErrorCode(OsStatus status, std::uint32_t does_not_fit = 234) {
  switch (status.outcome) {
    case OsOutcome::kOk:
      return 0;
    case OsOutcome::kNotFound:
      return 2;  // ERROR_FILE_NOT_FOUND
    case OsOutcome::kNoMoreItems:
      return 259;  // ERROR_NO_MORE_ITEMS
    case OsOutcome::kDoesNotFit:
      return does_not_fit;
    case OsOutcome::kOutOfMemory:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case OsOutcome::kAccessDenied:
      return 5;  // ERROR_ACCESS_DENIED
    case OsOutcome::kDamaged:
      return 1009;  // ERROR_BADDB
    case OsOutcome::kOther:
      return status.code;
  }
  return status.code;
}

}  // namespace halvorn

#endif  // HALVORN_UTIL_OS_STATUS_H_
