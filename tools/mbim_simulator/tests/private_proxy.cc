#include "private_proxy.h"

#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "util/linux/scoped_fd.h"

namespace halvorn::mbimsim {

namespace {

// True once something accepts connections on the proxy's abstract socket, within
// `patience_ms`.
bool WaitForProxy(int patience_ms) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const char name[] = "mbim-proxy";
  std::memcpy(address.sun_path + 1, name, sizeof(name) - 1);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof(name));
  for (int i = 0; i < patience_ms / 20; ++i) {
    ScopedFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

std::unique_ptr<PrivateMbimProxy> PrivateMbimProxy::Start(int patience_ms,
                                                          std::string* skip,
                                                          std::string* error) {
  if (geteuid() != 0) {
    *skip = "mbim-proxy serves root only: run as root to check the proxy route";
    return nullptr;
  }
  // The proxy's full path as the build found it; empty when it is not installed.
  const std::string program = HALVORN_MBIM_PROXY;
  if (program.empty()) {
    *skip = "mbim-proxy is not installed (package libmbim-proxy)";
    return nullptr;
  }
  if (unshare(CLONE_NEWNET) != 0) {
    *skip = std::string("cannot make a private network namespace for the proxy: ") +
            std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<Subprocess> process = Subprocess::Start({program, "--no-exit"}, error);
  if (!process) {
    return nullptr;
  }
  if (!WaitForProxy(patience_ms)) {
    process->Signal(SIGTERM);
    process->Wait(patience_ms);
    *error = "mbim-proxy did not come up: " + process->err();
    return nullptr;
  }
  return std::unique_ptr<PrivateMbimProxy>(new PrivateMbimProxy(std::move(process), patience_ms));
}

PrivateMbimProxy::~PrivateMbimProxy() {
  process_->Signal(SIGTERM);
  process_->Wait(patience_ms_);
}

}  // namespace halvorn::mbimsim
