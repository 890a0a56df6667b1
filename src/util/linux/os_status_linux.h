// errno values as the portable layer's neutral outcome (util/os_status.h), for every Linux
// backend.

#ifndef HALVORN_UTIL_LINUX_OS_STATUS_LINUX_H_
#define HALVORN_UTIL_LINUX_OS_STATUS_LINUX_H_

#include <cerrno>
#include <cstdint>

#include "util/os_status.h"

namespace halvorn {

// `error` (an errno value, 0 for none) as an outcome; a value with no outcome of its own is
// kept as kOther.
inline OsStatus StatusOfErrno(int error) {
  switch (error) {
    case 0:
      return OsStatus::Ok();
    case ENOENT:
      return OsStatus::Of(OsOutcome::kNotFound);
    case EACCES:
    case EPERM:
      return OsStatus::Of(OsOutcome::kAccessDenied);
    case ENOMEM:
      return OsStatus::Of(OsOutcome::kOutOfMemory);
    default:
      return OsStatus::Other(static_cast<std::uint32_t>(error));
  }
}

}  // namespace halvorn

#endif  // HALVORN_UTIL_LINUX_OS_STATUS_LINUX_H_
