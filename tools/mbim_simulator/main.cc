// halvorn-mbim-sim: an MBIM modem on a pseudo-terminal, for tests and demonstrations of the
// Linux build. See Usage() in command_line.cc.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "command_line.h"
#include "simulator.h"

namespace halvorn::mbimsim {
namespace {

// Writes `text` to `path` through a temporary file, so that a reader never sees half of it.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  FILE* file = std::fopen(temp.c_str(), "w");
  if (!file) {
    return false;
  }
  const bool written = std::fputs(text.c_str(), file) >= 0;
  if (std::fclose(file) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

// A symbolic link `link` to `target`; an old symbolic link of that name is replaced.
bool MakeLink(const std::string& target, const std::string& link) {
  if (symlink(target.c_str(), link.c_str()) == 0) {
    return true;
  }
  struct stat info;
  if (errno != EEXIST || lstat(link.c_str(), &info) != 0 || !S_ISLNK(info.st_mode) ||
      unlink(link.c_str()) != 0) {
    return false;
  }
  return symlink(target.c_str(), link.c_str()) == 0;
}

int Main(int argc, char** argv) {
  std::string error;
  std::optional<CommandLine> line =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!line) {
    std::fprintf(stderr, "halvorn-mbim-sim: %s\n%s", error.c_str(), Usage().c_str());
    return 2;
  }
  if (line->help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }

  // The signals that end the program are taken synchronously below; blocking them before the
  // simulator's thread starts keeps them away from that thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Simulator simulator(line->modem);
  if (line->verbose) {
    simulator.set_trace([](std::string_view text) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    });
  }
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "halvorn-mbim-sim: %s\n", error.c_str());
    return 1;
  }
  const std::string& path = simulator.device_path();
  int status = 0;
  if (!line->link.empty() && !MakeLink(path, line->link)) {
    std::fprintf(stderr, "halvorn-mbim-sim: cannot link %s: %s\n", line->link.c_str(),
                 std::strerror(errno));
    line->link.clear();
    status = 1;
  }
  if (status == 0 && !line->path_file.empty() &&
      !WriteFileAtomically(line->path_file, path + "\n")) {
    std::fprintf(stderr, "halvorn-mbim-sim: cannot write %s\n", line->path_file.c_str());
    line->path_file.clear();
    status = 1;
  }

  if (status == 0) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    const timespec tick = {0, 100 * 1000 * 1000};
    while (!simulator.vanished()) {
      const int signal = sigtimedwait(&stop_signals, nullptr, &tick);
      if (signal > 0) {
        break;
      }
    }
    if (simulator.vanished()) {
      std::fprintf(stderr, "halvorn-mbim-sim: the device vanished\n");
    }
  }

  simulator.Stop();
  if (!line->link.empty()) {
    unlink(line->link.c_str());
  }
  if (!line->path_file.empty()) {
    unlink(line->path_file.c_str());
  }
  return status;
}

}  // namespace
}  // namespace halvorn::mbimsim

int main(int argc, char** argv) {
  return halvorn::mbimsim::Main(argc, argv);
}
