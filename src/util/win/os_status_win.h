// The Windows system error numbers as the portable layer's neutral outcome (util/os_status.h),
// for every Windows backend.

#ifndef HALVORN_UTIL_WIN_OS_STATUS_WIN_H_
#define HALVORN_UTIL_WIN_OS_STATUS_WIN_H_

#include <windows.h>

#include <cstdint>

#include "util/os_status.h"

namespace halvorn {

// `error` (a GetLastError or LSTATUS value) as an outcome; a number with no outcome of its own
// is kept as kOther.
inline OsStatus StatusOfWindowsError(std::uint32_t error) {
  switch (error) {
    case ERROR_SUCCESS:
      return OsStatus::Ok();
    case ERROR_FILE_NOT_FOUND:
      return OsStatus::Of(OsOutcome::kNotFound);
    case ERROR_NO_MORE_ITEMS:
      return OsStatus::Of(OsOutcome::kNoMoreItems);
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INSUFFICIENT_BUFFER:
    case ERROR_MORE_DATA:
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    case ERROR_NOT_ENOUGH_MEMORY:
      return OsStatus::Of(OsOutcome::kOutOfMemory);
    case ERROR_ACCESS_DENIED:
      return OsStatus::Of(OsOutcome::kAccessDenied);
    case ERROR_BADDB:
      return OsStatus::Of(OsOutcome::kDamaged);
    default:
      return OsStatus::Other(error);
  }
}

}  // namespace halvorn

#endif  // HALVORN_UTIL_WIN_OS_STATUS_WIN_H_
