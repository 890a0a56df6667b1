// Owner of a file descriptor.

#ifndef HALVORN_MBN_LINUX_SCOPED_FD_H_
#define HALVORN_MBN_LINUX_SCOPED_FD_H_

#include <unistd.h>

#include <utility>

namespace halvorn::mbn_linux {

class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~ScopedFd() { reset(); }

  int get() const { return fd_; }
  bool is_valid() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_SCOPED_FD_H_
