// Ownership of a POSIX file descriptor.

#ifndef HALVORN_UTIL_LINUX_SCOPED_FD_H_
#define HALVORN_UTIL_LINUX_SCOPED_FD_H_

#include <unistd.h>

#include <utility>

namespace halvorn {

// Owns one file descriptor and closes it when destroyed or reset. Movable, not copyable.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { reset(); }

  int get() const { return fd_; }
  bool is_valid() const { return fd_ >= 0; }

  // Closes the owned descriptor (if any) and takes `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

  // Gives up ownership without closing.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

}  // namespace halvorn

#endif  // HALVORN_UTIL_LINUX_SCOPED_FD_H_
