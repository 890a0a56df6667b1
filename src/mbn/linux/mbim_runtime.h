// The mobile-broadband runtime of the Linux build: libmbim-glib on the modem's MBIM control
// port, every libmbim call made on one GLib thread.
//
// Operator settings (environment):
//   HALVORN_MBIM_PORT=<path>  the control port, when udev does not know it (mbim_ports.h)
//   HALVORN_MBIM_PROXY=0      open the port directly instead of through mbim-proxy

#ifndef HALVORN_MBN_LINUX_MBIM_RUNTIME_H_
#define HALVORN_MBN_LINUX_MBIM_RUNTIME_H_

#include <memory>

#include "mbn/linux/glib_thread.h"
#include "mbn/mbn_platform.h"

namespace halvorn::mbn_linux {

inline constexpr const char* kProxyVariable = "HALVORN_MBIM_PROXY";

class MbimRuntime : public mbn_platform::Runtime {
 public:
  // libmbim's own timeout of one command, a little over the helper's 2-second wait, so that
  // libmbim never gives up before the helper does.
  static constexpr unsigned kCommandTimeoutS = 3;
  // Opening the port and the MBIM close.
  static constexpr unsigned kOpenTimeoutS = 3;
  static constexpr unsigned kCloseTimeoutS = 2;

  // `glib` runs every libmbim call; it must outlive the runtime and everything it hands out.
  explicit MbimRuntime(GlibThread& glib);

  mbn_platform::CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override;
  mbn_platform::CallResult MakeRequest(
      std::span<const std::uint8_t> bytes,
      std::unique_ptr<mbn_platform::RequestBuffer>* buffer) override;
  mbn_platform::CallResult CreateAccountWatcher(
      std::unique_ptr<mbn_platform::AccountWatcher>* watcher) override;

 private:
  GlibThread& glib_;
};

// The service id in its GUID memory layout (Data1 to Data3 little-endian) as MBIM carries it
// on the wire (all fields big-endian).
MbimUuid ToMbimUuid(const mbn_platform::ServiceId& id);

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_MBIM_RUNTIME_H_
