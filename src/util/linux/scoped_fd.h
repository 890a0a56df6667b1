// Ownership of a POSIX file descriptor.

#ifndef HALVORN_UTIL_LINUX_SCOPED_FD_H_
#define HALVORN_UTIL_LINUX_SCOPED_FD_H_

#include <unistd.h>

#include "util/scoped_generic.h"

namespace halvorn {

// A file descriptor (close); negative for none.
struct FdTraits {
  using Handle = int;
  static int InvalidValue() { return -1; }
  static bool IsValid(int fd) { return fd >= 0; }
  static void Close(int fd) { ::close(fd); }
};
using ScopedFd = ScopedGeneric<FdTraits>;

}  // namespace halvorn

#endif  // HALVORN_UTIL_LINUX_SCOPED_FD_H_
