#include "service/linux/daemon_harness.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace halvorn::testing {

NotifyListener::NotifyListener(const std::filesystem::path& path) : path_(path) {
  socket_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (!socket_.is_valid() || text.size() >= sizeof address.sun_path) {
    socket_.reset();
    return;
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    socket_.reset();
  }
}

std::vector<std::string> NotifyListener::Messages() {
  std::lock_guard lock(lock_);
  char buffer[4096];
  while (socket_.is_valid()) {
    const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
    if (n < 0) {
      break;
    }
    messages_.emplace_back(buffer, static_cast<std::size_t>(n));
  }
  return messages_;
}

bool NotifyListener::WaitFor(const std::string& message, std::chrono::milliseconds bound) {
  return PollUntil(
      [&] {
        const std::vector<std::string> all = Messages();
        return std::find(all.begin(), all.end(), message) != all.end();
      },
      bound);
}

Daemon::Daemon(std::filesystem::path program)
    : program_(std::move(program)), listener_(dir_.path() / "notify.sock") {}

bool Daemon::Start(bool notify) {
  SetEnv("programdata", dir_.path().string());
  if (notify) {
    SetEnv("NOTIFY_SOCKET", listener_.path().string());
  } else {
    UnsetEnv("NOTIFY_SOCKET");
  }
  const bool started = child_.Start({program_.string()}, dir_.path() / "output.txt");
  UnsetEnv("NOTIFY_SOCKET");
  UnsetEnv("programdata");
  return started;
}

std::vector<std::string> Daemon::Log() {
  return MaskLogLines(ReadLogFolder(LogFolderUnder(dir_.path())));
}

bool Daemon::LogHas(const std::string& line) {
  const std::vector<std::string> lines = Log();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Daemon::WaitForLog(const std::string& line, int times, std::chrono::milliseconds bound) {
  return PollUntil(
      [&] {
        const std::vector<std::string> lines = Log();
        return std::count(lines.begin(), lines.end(), line) >= times;
      },
      bound);
}

bool Daemon::StopSignalsBlocked() {
  std::ifstream in("/proc/" + std::to_string(child_.pid()) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("SigBlk:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask & (1ull << (15 - 1))) != 0;  // SIGTERM is 15
    }
  }
  return false;
}

std::string Daemon::Output() {
  return ReadFile(dir_.path() / "output.txt");
}

void NoBusLaptopTest::SetUp() {
  SimulatedLaptopTest::SetUp();
  if (IsSkipped()) {
    return;
  }
  SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (laptop_->folder() / "no-bus").string());
}

void NoBusLaptopTest::TearDown() {
  UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS");
}

void PrepareForSleep(DbusMock& logind, bool start) {
  sd_bus_error error = {nullptr, nullptr, 0};
  const int r = sd_bus_call_method(
      logind.bus(), "org.freedesktop.login1", "/org/freedesktop/login1",
      "org.freedesktop.DBus.Mock", "EmitSignal", &error, nullptr, "sssav",
      "org.freedesktop.login1.Manager", "PrepareForSleep", "b", 1, "b", start ? 1 : 0);
  EXPECT_GE(r, 0) << (error.message != nullptr ? error.message : "");
  sd_bus_error_free(&error);
}

}  // namespace halvorn::testing
