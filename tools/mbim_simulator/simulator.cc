#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace halvorn::mbimsim {

namespace {

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

Simulator::Simulator(ModemOptions options) : modem_(std::move(options)) {}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Start(std::string* error) {
  master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master_.is_valid()) {
    *error = Errno("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0 ||
      ptsname_r(master_.get(), name, sizeof(name)) != 0) {
    *error = Errno("preparing the pseudo-terminal");
    return false;
  }
  device_path_ = name;
  slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave_.is_valid()) {
    *error = Errno("opening the terminal's slave side");
    return false;
  }
  // Raw mode: every byte passes unchanged, nothing is echoed, no byte is a signal or flow
  // control character.
  termios mode{};
  if (tcgetattr(slave_.get(), &mode) != 0) {
    *error = Errno("tcgetattr");
    return false;
  }
  cfmakeraw(&mode);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (tcsetattr(slave_.get(), TCSANOW, &mode) != 0) {
    *error = Errno("tcsetattr");
    return false;
  }
  if (fcntl(master_.get(), F_SETFL, fcntl(master_.get(), F_GETFL) | O_NONBLOCK) != 0) {
    *error = Errno("fcntl");
    return false;
  }
  wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_.is_valid()) {
    *error = Errno("eventfd");
    return false;
  }
  thread_ = std::thread(&Simulator::Run, this);
  return true;
}

void Simulator::Vanish() {
  vanish_requested_ = true;
  if (wake_.is_valid()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof(one));
  }
}

void Simulator::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof(one));
    thread_.join();
  }
  master_.reset();
  slave_.reset();
}

void Simulator::SetLevel(std::int32_t level) {
  std::lock_guard<std::mutex> lock(mutex_);
  modem_.set_level(level);
}

std::optional<std::chrono::system_clock::time_point> Simulator::first_byte_at() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return first_byte_at_;
}

std::int32_t Simulator::level() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modem_.level();
}

bool Simulator::is_open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modem_.is_open();
}

std::vector<ReceivedCommand> Simulator::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modem_.received();
}

std::vector<std::string> Simulator::VendorCommands() const {
  std::vector<std::string> out;
  for (const ReceivedCommand& r : received()) {
    if (r.command.service != kVendorService) {
      continue;
    }
    std::string line = r.command.command_type == kCommandSet ? "set " : "query ";
    for (std::uint8_t b : r.command.data) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      line += kHex[b >> 4];
      line += kHex[b & 15];
    }
    out.push_back(std::move(line));
  }
  return out;
}

bool Simulator::WaitForVanish(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return vanished_cv_.wait_for(lock, timeout, [this] { return vanished_.load(); });
}

void Simulator::Run() {
  while (!stop_) {
    if (vanish_requested_) {
      CloseTerminal();
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    // Delayed answers that are due go out now, in the order they fell due.
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
    while (!pending_.empty() && pending_.front().due <= now) {
      for (Bytes& message : pending_.front().messages) {
        Trace("modem>", message);
        output_.insert(output_.end(), message.begin(), message.end());
      }
      pending_.erase(pending_.begin());
    }
    WriteToHost();
    if (!master_.is_valid()) {
      return;
    }

    int timeout_ms = -1;
    if (!pending_.empty()) {
      const auto wait =
          std::chrono::duration_cast<std::chrono::milliseconds>(pending_.front().due - now) +
          std::chrono::milliseconds(1);
      timeout_ms = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
    }
    pollfd fds[2] = {
        {wake_.get(), POLLIN, 0},
        {master_.get(), static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT)), 0},
    };
    if (poll(fds, 2, timeout_ms) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wake_.get(), &count, sizeof(count));
    }
    if (fds[1].revents & POLLIN) {
      ReadFromHost();
    }
  }
}

void Simulator::ReadFromHost() {
  std::uint8_t buffer[16 * 1024];
  while (master_.is_valid()) {
    const ssize_t n = ::read(master_.get(), buffer, sizeof(buffer));
    if (n <= 0) {
      return;  // EAGAIN: all read; EIO cannot happen while the slave side is held
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!first_byte_at_) {
        first_byte_at_ = std::chrono::system_clock::now();
      }
    }
    stream_.Append(ByteSpan(buffer, static_cast<std::size_t>(n)));
    const std::size_t skipped = stream_.discarded();
    while (std::optional<Bytes> message = stream_.Next(kModemMaxControlMessage)) {
      Trace("host> ", *message);
      Reaction reaction;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        reaction = modem_.Handle(*message);
        if (reaction.new_session) {
          // Done before anyone can see the modem open.
          tcflush(slave_.get(), TCIFLUSH);
          output_.clear();
          pending_.clear();
        }
      }
      if (reaction.vanish) {
        CloseTerminal();
        return;
      }
      if (reaction.delay.count() > 0) {
        pending_.push_back(
            {std::chrono::steady_clock::now() + reaction.delay, std::move(reaction.messages)});
        continue;
      }
      for (Bytes& out : reaction.messages) {
        Trace("modem>", out);
        output_.insert(output_.end(), out.begin(), out.end());
      }
    }
    if (trace_ && stream_.discarded() != skipped) {
      trace_("host>  " + std::to_string(stream_.discarded() - skipped) +
             " bytes skipped up to the next message header");
    }
  }
}

void Simulator::WriteToHost() {
  while (!output_.empty() && master_.is_valid()) {
    const ssize_t n = ::write(master_.get(), output_.data(), output_.size());
    if (n <= 0) {
      return;  // EAGAIN: the terminal is full; poll says when it drains
    }
    output_.erase(output_.begin(), output_.begin() + n);
  }
}

void Simulator::CloseTerminal() {
  // The host's side hangs up and its /dev/pts node goes. The slave side stays held until Stop:
  // while it is open the terminal's number is not given to the next terminal opened on this
  // machine, so a host that opens the vanished port's path again (a link to the node) finds
  // nothing, never another simulator's modem (tests run side by side).
  master_.reset();
  output_.clear();
  pending_.clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    vanished_ = true;
  }
  vanished_cv_.notify_all();
  if (trace_) {
    trace_("device vanished");
  }
}

void Simulator::Trace(std::string_view direction, ByteSpan message) const {
  if (!trace_) {
    return;
  }
  std::string line(direction);
  char hex[4];
  for (std::size_t i = 0; i < message.size() && i < 96; ++i) {
    std::snprintf(hex, sizeof(hex), " %02x", message[i]);
    line.append(hex);
  }
  if (message.size() > 96) {
    line.append(" ... (" + std::to_string(message.size()) + " bytes)");
  }
  trace_(line);
}

}  // namespace halvorn::mbimsim
