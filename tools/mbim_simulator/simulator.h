// The simulated modem on a pseudo-terminal. The terminal's slave side, in raw mode, is the
// modem's MBIM control port: libmbim opens its path (for example /dev/pts/7) like a cdc-wdm
// device, directly or through mbim-proxy, with no root and no kernel module. The simulator
// serves the master side on a thread of its own.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_SIMULATOR_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_SIMULATOR_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "modem.h"
#include "util/linux/scoped_fd.h"

namespace halvorn::mbimsim {

class Simulator {
 public:
  // Receives one line per message in and out, on the simulator's thread.
  using TraceCallback = std::function<void(std::string_view line)>;

  explicit Simulator(ModemOptions options);
  ~Simulator();  // Stop()

  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Set before Start().
  void set_trace(TraceCallback trace) { trace_ = std::move(trace); }

  // Creates the pseudo-terminal and starts serving it. False, with the reason in `error`,
  // when the terminal cannot be made.
  bool Start(std::string* error);

  // The control port's path, known after Start().
  const std::string& device_path() const { return device_path_; }

  // The device disappears now, as if unplugged: the terminal is closed, clients see a
  // hang-up and its path goes away (the kernel may soon give its number to a new terminal).
  // Stays so until the simulator is destroyed.
  void Vanish();

  // Stops serving and closes the terminal. Called by the destructor.
  void Stop();

  // The modem drops to `level` on its own, as after a suspend; the next query answers it.
  // Thread-safe.
  void SetLevel(std::int32_t level);

  // Thread-safe views of the modem.
  std::int32_t level() const;
  bool is_open() const;
  std::vector<ReceivedCommand> received() const;
  // The vendor-service commands received so far, in order, as "query 00" / "set 01000000"
  // (the kind, then the request bytes in upper-case hex).
  std::vector<std::string> VendorCommands() const;
  bool vanished() const { return vanished_.load(); }
  // When the first byte from the host arrived (wall clock, so that it compares with the
  // host's log lines); empty while none has.
  std::optional<std::chrono::system_clock::time_point> first_byte_at() const;

  // Waits until the device has vanished (by a fault or Vanish()), at most `timeout`.
  bool WaitForVanish(std::chrono::milliseconds timeout) const;

 private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    std::vector<Bytes> messages;
  };

  void Run();
  void ReadFromHost();
  void WriteToHost();
  void CloseTerminal();
  void Trace(std::string_view direction, ByteSpan message) const;

  TraceCallback trace_;
  std::string device_path_;
  ScopedFd master_;
  // Held so that the master never sees a hang-up between clients, and after a vanish so that
  // the terminal's number is not reused while this simulator lives.
  ScopedFd slave_;
  ScopedFd wake_;  // eventfd: Stop() and Vanish() wake the thread through it
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> vanish_requested_{false};
  std::atomic<bool> vanished_{false};

  mutable std::mutex mutex_;  // guards modem_; vanished_ changes under it too
  mutable std::condition_variable vanished_cv_;
  Modem modem_;
  std::optional<std::chrono::system_clock::time_point> first_byte_at_;  // guarded by mutex_

  // Owned by the thread.
  MessageStream stream_;
  Bytes output_;
  std::vector<Pending> pending_;
};

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_SIMULATOR_H_
