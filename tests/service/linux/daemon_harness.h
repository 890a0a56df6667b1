// Test support: the real halvornd as a child of the test, under a notify socket of the test's
// own, with its program-data folder in a folder of the test.

#ifndef HALVORN_TESTS_SERVICE_LINUX_DAEMON_HARNESS_H_
#define HALVORN_TESTS_SERVICE_LINUX_DAEMON_HARNESS_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "support/linux/child_process.h"
#include "support/linux/dbus_mock.h"
#include "support/log_capture.h"
#include "util/linux/scoped_fd.h"

namespace halvorn::testing {

// A datagram socket that takes systemd's notify messages.
class NotifyListener {
 public:
  explicit NotifyListener(const std::filesystem::path& path);
  const std::filesystem::path& path() const { return path_; }
  bool ok() const { return socket_.is_valid(); }
  // Every message received so far, in order.
  std::vector<std::string> Messages();
  // Polls until `message` has been received.
  bool WaitFor(const std::string& message, std::chrono::milliseconds bound);

 private:
  std::filesystem::path path_;
  ScopedFd socket_;
  std::mutex lock_;
  std::vector<std::string> messages_;
};

class Daemon {
 public:
  // `program`: the halvornd to run (the build's, or a copy of it).
  explicit Daemon(std::filesystem::path program);

  // Starts it with NOTIFY_SOCKET set (unless `notify` is false) and programdata at folder().
  bool Start(bool notify = true);
  Child& process() { return child_; }
  NotifyListener& notify() { return listener_; }
  const std::filesystem::path& folder() const { return dir_.path(); }
  // Its log, masked (LogCapture::AllLines).
  std::vector<std::string> Log();
  bool LogHas(const std::string& line);
  // Polls until the log holds `line` at least `times` times.
  bool WaitForLog(const std::string& line,
                  int times = 1,
                  std::chrono::milliseconds bound = std::chrono::seconds(60));
  // Whether SIGTERM is blocked in it (so the dispatcher takes it) yet.
  bool StopSignalsBlocked();
  std::string Output();

 private:
  std::filesystem::path program_;
  TempDir dir_;
  NotifyListener listener_;
  Child child_;
};

// SimulatedLaptopTest with no system bus (DBUS_SYSTEM_BUS_ADDRESS names a socket that is not
// there), so the daemon's power events' registration fails unless a case starts a bus of its
// own.
class NoBusLaptopTest : public SimulatedLaptopTest {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Has logind, as python3-dbusmock plays it on `logind`'s bus, emit PrepareForSleep(start);
// the call is expected to succeed.
void PrepareForSleep(DbusMock& logind, bool start);

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_LINUX_DAEMON_HARNESS_H_
