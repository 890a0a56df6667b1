#include "support/linux/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace halvorn::testing {

bool PollUntil(const std::function<bool()>& reached, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!reached()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool Executable(const char* path) {
  return ::access(path, X_OK) == 0;
}

Child::~Child() {
  if (Running()) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

bool Child::Start(const std::vector<std::string>& args, const std::filesystem::path& output) {
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  // Tests empty a variable to unset it (support/log_capture.h): a child gets none of those.
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr && eq[1] != '\0') {
      envp.push_back(*e);
    }
  }
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int r = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) {
    pid_ = 0;
  }
  status_.reset();
  return r == 0;
}

bool Child::Running() {
  if (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      pid_ = 0;  // reaped: never signal a reused id
    }
  }
  return pid_ > 0;
}

void Child::Signal(int signo) {
  if (Running()) {
    ::kill(pid_, signo);
  }
}

std::optional<int> Child::WaitForExit(std::chrono::milliseconds bound) {
  PollUntil([this] { return !Running(); }, bound);
  return status_;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace halvorn::testing
