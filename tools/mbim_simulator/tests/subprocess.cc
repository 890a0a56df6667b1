#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace halvorn::mbimsim {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// posix_spawn's file actions, released however Start() returns.
class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::unique_ptr<Subprocess> Subprocess::Start(const std::vector<std::string>& argv,
                                              std::string* error) {
  std::unique_ptr<Subprocess> child(new Subprocess());
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  ScopedFd out_write(out[1]);
  child->out_pipe_.reset(out[0]);
  if (pipe2(err, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  ScopedFd err_write(err[1]);
  child->err_pipe_.reset(err[0]);

  FileActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), out_write.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), err_write.get(), 2);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const int result =
      posix_spawn(&child->pid_, args[0], actions.get(), nullptr, args.data(), environ);
  if (result != 0) {
    *error = argv[0] + ": " + std::strerror(result);
    return nullptr;
  }
  return child;
}

Subprocess::~Subprocess() {
  if (pid_ <= 0 || reaped_) {
    return;
  }
  kill(pid_, SIGTERM);
  if (Wait(5000) < 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Subprocess::Pump(int timeout_ms) {
  pollfd fds[2];
  nfds_t count = 0;
  for (ScopedFd* pipe : {&out_pipe_, &err_pipe_}) {
    if (pipe->is_valid()) {
      fds[count++] = {pipe->get(), POLLIN, 0};
    }
  }
  if (count == 0) {
    return false;
  }
  if (poll(fds, count, timeout_ms) <= 0) {
    return true;
  }
  for (nfds_t i = 0; i < count; ++i) {
    if (!fds[i].revents) {
      continue;
    }
    const bool is_out = fds[i].fd == out_pipe_.get();
    char buffer[4096];
    const ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
    if (n <= 0) {
      (is_out ? out_pipe_ : err_pipe_).reset();
    } else {
      (is_out ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
    }
  }
  return out_pipe_.is_valid() || err_pipe_.is_valid();
}

std::optional<std::string> Subprocess::ReadLine(int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    const std::size_t newline = out_.find('\n', out_consumed_);
    if (newline != std::string::npos) {
      std::string line = out_.substr(out_consumed_, newline - out_consumed_);
      out_consumed_ = newline + 1;
      return line;
    }
    if (!out_pipe_.is_valid() || RemainingMs(deadline) == 0) {
      return std::nullopt;
    }
    Pump(RemainingMs(deadline));
  }
}

int Subprocess::Wait(int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Pump(RemainingMs(deadline)) && RemainingMs(deadline) > 0) {
  }
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      break;
    }
    if (done < 0 || RemainingMs(deadline) == 0) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Subprocess::Signal(int signal_number) {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, signal_number);
  }
}

RunResult RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  RunResult result;
  std::string error;
  std::unique_ptr<Subprocess> child = Subprocess::Start(argv, &error);
  if (!child) {
    result.err = error;
    return result;
  }
  result.exit_code = child->Wait(timeout_ms);
  result.out = child->out();
  result.err = child->err();
  return result;
}

}  // namespace halvorn::mbimsim
