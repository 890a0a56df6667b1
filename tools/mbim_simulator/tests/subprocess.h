// Child processes for tests: started from a full path, standard output and error captured,
// always ended and reaped.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_SUBPROCESS_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_SUBPROCESS_H_

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/linux/scoped_fd.h"

namespace halvorn::mbimsim {

class Subprocess {
 public:
  // Starts argv[0] (a full path) with the given arguments. Null, with the reason in `error`,
  // when it cannot be started.
  static std::unique_ptr<Subprocess> Start(const std::vector<std::string>& argv,
                                           std::string* error);

  // Ends the child if it still runs (SIGTERM, SIGKILL when that does not help) and reaps it.
  ~Subprocess();

  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // The first line of standard output not yet returned, without its newline. Nothing when
  // the output ends first or no line comes within `timeout_ms`.
  std::optional<std::string> ReadLine(int timeout_ms);

  // Waits for the child to end and collects the rest of its output. The exit code, or -1
  // when it did not end within `timeout_ms` (it is then killed) or ended by a signal.
  int Wait(int timeout_ms);

  void Signal(int signal_number);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  Subprocess() = default;
  // Reads what is available from both pipes, for at most `timeout_ms`. False once both
  // have ended.
  bool Pump(int timeout_ms);

  pid_t pid_ = -1;
  bool reaped_ = false;
  ScopedFd out_pipe_;
  ScopedFd err_pipe_;
  std::string out_;
  std::size_t out_consumed_ = 0;
  std::string err_;
};

// Runs a program to its end (bounded by `timeout_ms`).
struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};
RunResult RunProgram(const std::vector<std::string>& argv, int timeout_ms);

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_TESTS_SUBPROCESS_H_
