// The mobile-broadband runtime of the Linux build: libmbim-glib on the modem's MBIM control
// port, every libmbim call made on one GLib thread.
//
// The runtime keeps the control port's libmbim device open from the first call on, as the
// operating system's runtime does on Windows, and numbers every command it sends itself from
// one count that never restarts while the process runs (libmbim would number each new device
// from 1 again). An answer is matched by its transaction id, so an answer that comes after its
// command was given up (also after the port was opened again) never completes another command:
// libmbim no longer waits for that id and drops it. Each call obtains and releases its own
// command objects; giving up a command cancels it in libmbim.
//
// The kept device is dropped, and the next call opens the port again, when the port goes away
// (libmbim reports it removed), when the default port is another path or another device node,
// when the device reports that it is not opened, when sending fails, and when a command went
// unanswered (a device whose byte stream is out of step starts afresh).
//
// Bound: a call waits at most kPortWaitMs for the port to be ready (opened when it is not open,
// and its device-services list read once per opening); a command is then waited for by the
// helper. Nothing waits for an MBIM close: the port is never closed per call, and a dropped
// device is closed without the close message.
//
// Operator settings (environment):
//   HALVORN_MBIM_PORT=<path>  the control port, when udev does not know it (mbim_ports.h)
//   HALVORN_MBIM_PROXY=0      open the port directly instead of through mbim-proxy

#ifndef HALVORN_MBN_LINUX_MBIM_RUNTIME_H_
#define HALVORN_MBN_LINUX_MBIM_RUNTIME_H_

#include <chrono>
#include <memory>

#include "mbn/linux/glib_thread.h"
#include "mbn/mbn_platform.h"

namespace halvorn::mbn_linux {

inline constexpr const char* kProxyVariable = "HALVORN_MBIM_PROXY";

class PortKeeper;

class MbimRuntime : public mbn_platform::Runtime {
 public:
  // libmbim's own timeout of one command, a little over the helper's 2-second wait, so that
  // libmbim never gives up before the helper does.
  static constexpr unsigned kCommandTimeoutS = 3;
  // The timeout handed to libmbim's open (libmbim 1.28 waits 5 s for an unanswered OPEN
  // whatever it is given; the runtime gives up after kPortWaitMs and cancels the open).
  static constexpr unsigned kOpenTimeoutS = 3;
  // How long a call waits for the port to be ready.
  static constexpr unsigned kPortWaitMs = 2000;
  static constexpr std::chrono::milliseconds kPortWait{kPortWaitMs};

  // `glib` runs every libmbim call; it must outlive the runtime and everything it hands out.
  // `port_wait` bounds each call's wait for the port; production keeps kPortWait.
  explicit MbimRuntime(GlibThread& glib, std::chrono::milliseconds port_wait = kPortWait);
  // Drops the kept device (on the GLib thread).
  ~MbimRuntime() override;
  MbimRuntime(const MbimRuntime&) = delete;
  MbimRuntime& operator=(const MbimRuntime&) = delete;

  mbn_platform::CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override;
  mbn_platform::CallResult MakeRequest(
      std::span<const std::uint8_t> bytes,
      std::unique_ptr<mbn_platform::RequestBuffer>* buffer) override;
  mbn_platform::CallResult CreateAccountWatcher(
      std::unique_ptr<mbn_platform::AccountWatcher>* watcher) override;

 private:
  GlibThread& glib_;
  std::shared_ptr<PortKeeper> keeper_;  // used and released on the GLib thread only
};

// The service id in its GUID memory layout (Data1 to Data3 little-endian) as MBIM carries it
// on the wire (all fields big-endian).
MbimUuid ToMbimUuid(const mbn_platform::ServiceId& id);

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_MBIM_RUNTIME_H_
