// Test support (Linux): child processes that a test starts, and polling with a generous bound.

#ifndef HALVORN_TESTS_SUPPORT_LINUX_CHILD_PROCESS_H_
#define HALVORN_TESTS_SUPPORT_LINUX_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::testing {

// Polls `reached` every 50 ms until it holds (true) or `bound` has passed (false).
bool PollUntil(const std::function<bool()>& reached,
               std::chrono::milliseconds bound = std::chrono::seconds(30));

bool Executable(const char* path);

// A child process, ended (SIGTERM) and reaped when destroyed if it still runs.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv, with the environment of this process less its empty variables, standard
  // output and error going to `output`.
  bool Start(const std::vector<std::string>& args, const std::filesystem::path& output);

  // Whether it still runs (reaps it when it has ended).
  bool Running();
  pid_t pid() const { return pid_; }
  void Signal(int signo);
  // Waits up to `bound` for the end; the wait status, or nothing when it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds bound);

 private:
  pid_t pid_ = 0;
  std::optional<int> status_;
};

// The text of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SUPPORT_LINUX_CHILD_PROCESS_H_
