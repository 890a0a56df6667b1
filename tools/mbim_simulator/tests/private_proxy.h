// A private mbim-proxy for tests. Abstract Unix sockets belong to one network namespace, so the
// proxy runs in a namespace of the calling thread's own and never meets a proxy of the
// system; threads the caller starts afterwards (a GLib thread, for one) share it. The proxy
// serves root only, and the namespace needs root too.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_PRIVATE_PROXY_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_PRIVATE_PROXY_H_

#include <memory>
#include <string>

#include "subprocess.h"

namespace halvorn::mbimsim {

class PrivateMbimProxy {
 public:
  // Moves the calling thread into a new network namespace and starts the installed proxy
  // there, waiting up to `patience_ms` for it to accept connections. Null when there is none:
  // `skip` says why a test cannot have one here (not root, not installed, no namespace),
  // `error` why one did not come up.
  static std::unique_ptr<PrivateMbimProxy> Start(int patience_ms,
                                                 std::string* skip,
                                                 std::string* error);

  // Ends the proxy (SIGTERM) and reaps it.
  ~PrivateMbimProxy();

  PrivateMbimProxy(const PrivateMbimProxy&) = delete;
  PrivateMbimProxy& operator=(const PrivateMbimProxy&) = delete;

 private:
  PrivateMbimProxy(std::unique_ptr<Subprocess> process, int patience_ms)
      : process_(std::move(process)), patience_ms_(patience_ms) {}

  std::unique_ptr<Subprocess> process_;
  const int patience_ms_;
};

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_PRIVATE_PROXY_H_
