// The soak: the real halvornd on the simulated laptop (simulated_laptop.h) for a long time,
// through many sleep/resume rounds (logind as python3-dbusmock plays it, on a private bus) and
// modem unplug/plug cycles. Before every round the modem is at level 0 (the simulator drops it
// while the laptop sleeps; a plugged modem starts at 0), so every round runs the job to its set.
//
// At the start, every few minutes and at the end it prints the daemon's resident memory, open
// file descriptors, threads and log files (count and bytes), and how many rounds brought the
// level back to 1, seen both by the simulated modem (its level and the set it received) and in
// the daemon's log. The process figures are judged at the end: a descriptor or a thread more
// than after the first rounds, or resident memory growing through the second half of the run,
// fails it; so does any round that did not end at level 1.
//
//   halvornd_soak [--minutes N] [--sleeps N] [--plugs N] [--sample-minutes N] [--daemon PATH]
//
// --daemon: the halvornd to run (by default the build's).
//
// Rounds are paced evenly over the minutes (each one runs the job: a resume within 500 ms of
// the last job's end would be absorbed as its duplicate, so a round starts only once the
// previous job's task has left the list); when the counts are not reached in time, it goes on
// until they are. Runs under tests/device/linux/in_testbed.sh, as root; scripts/soak.sh runs it.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "service/linux/daemon_harness.h"
#include "support/linux/dbus_mock.h"

namespace halvorn::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBound = std::chrono::seconds(60);  // a hang guard, never a speed goal

// The lines the soak follows in the daemon's log, as they end (the time and thread id before
// them vary).
constexpr const char* kSetLine = " i :   SET MBIM FUN SUCCESS!";
constexpr const char* kRemovedLine = " i :   after  delete task list size = 0";
constexpr const char* kLockReleasedLine = " i :   sleep delay lock released";
constexpr const char* kResumeLine = " i :   PowerChanged: Event Type = 18 ";
constexpr const char* kMbimSetCommand = "set 01000000";

struct Settings {
  double minutes = 30;
  int sleeps = 1000;
  int plugs = 300;
  double sample_minutes = 5;
  std::string daemon = HALVORND_PATH;
};

Settings g_settings;

// Follows the daemon's log folder as it grows: the file being written, across the rotations
// (the rotated file is read to its end before the new one is opened), and counts the lines
// that end with each followed text. Reads only what is new.
class LogFollower {
 public:
  explicit LogFollower(std::vector<std::string> texts)
      : texts_(std::move(texts)), counts_(texts_.size(), 0) {}

  void set_folder(const std::filesystem::path& folder) { folder_ = folder; }

  // Reads what the log gained since the last call.
  void Poll() {
    if (!in_.is_open()) {
      const std::optional<std::filesystem::path> current = CurrentFile();
      if (!current || !Open(*current)) {
        return;
      }
    }
    ReadToEnd();
    // Rotated: the path now names another file (or none yet); the old one is finished.
    struct stat now {};
    if (::stat(path_.c_str(), &now) != 0 || now.st_ino != inode_) {
      ReadToEnd();
      in_.close();
      if (::stat(path_.c_str(), &now) == 0 && Open(path_)) {
        ReadToEnd();
      }
    }
  }

  int count(std::size_t i) const { return counts_[i]; }
  long long lines() const { return lines_; }

 private:
  // The file the logger writes: the one without a rotation number.
  std::optional<std::filesystem::path> CurrentFile() const {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0 &&
          std::count(name.begin(), name.end(), '.') == 3) {  // "..._hh.mm.ss.log"
        return entry.path();
      }
    }
    return std::nullopt;
  }

  bool Open(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      return false;
    }
    in_.clear();
    in_.open(path, std::ios::binary);
    if (!in_.is_open()) {
      return false;
    }
    path_ = path;
    inode_ = st.st_ino;
    return true;
  }

  void ReadToEnd() {
    char buffer[65536];
    while (true) {
      in_.read(buffer, sizeof buffer);
      const std::streamsize n = in_.gcount();
      if (n <= 0) {
        break;
      }
      partial_.append(buffer, static_cast<std::size_t>(n));
    }
    in_.clear();  // at the end for now; the file may grow
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos;
         start = end + 1) {
      std::string_view line(partial_.data() + start, end - start);
      ++lines_;
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      for (std::size_t i = 0; i < texts_.size(); ++i) {
        const std::string& t = texts_[i];
        if (line.size() >= t.size() &&
            (t.back() == ' ' ? line.find(t) != std::string_view::npos
                             : line.substr(line.size() - t.size()) == t)) {
          ++counts_[i];
        }
      }
    }
    partial_.erase(0, start);
  }

  std::vector<std::string> texts_;
  std::vector<int> counts_;
  std::filesystem::path folder_;
  std::filesystem::path path_;
  ino_t inode_ = 0;
  std::ifstream in_;
  std::string partial_;
  long long lines_ = 0;
};

// What the soak samples of the daemon.
struct Figures {
  double minutes = 0;
  int rounds = 0;
  long rss_kib = -1;
  int fds = -1;
  int threads = -1;
  int log_files = 0;
  long long log_bytes = 0;
};

long StatusField(pid_t pid, const char* name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const std::string prefix = std::string(name) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) {
      return std::atol(line.c_str() + prefix.size());
    }
  }
  return -1;
}

int CountEntries(const std::filesystem::path& folder) {
  std::error_code error;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(folder, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++n;
  }
  return error && n == 0 ? -1 : n;
}

Figures Sample(pid_t pid, const std::filesystem::path& log_folder) {
  Figures f;
  f.rss_kib = StatusField(pid, "VmRSS");
  f.threads = static_cast<int>(StatusField(pid, "Threads"));
  f.fds = CountEntries("/proc/" + std::to_string(pid) + "/fd");
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(log_folder, error)) {
    if (entry.is_regular_file()) {
      ++f.log_files;
      f.log_bytes += static_cast<long long>(entry.file_size());
    }
  }
  return f;
}

class HalvorndSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* reason = SimulatedLaptop::SkipReason()) {
      GTEST_SKIP() << reason;
    }
    laptop_ = std::make_unique<SimulatedLaptop>();
    bool skip = false;
    const std::string error = logind_.Start("logind", "org.freedesktop.login1", &skip);
    if (skip) {
      GTEST_SKIP() << error;
    }
    ASSERT_EQ(error, "");
  }

  void Print(const char* what, const Figures& f) {
    std::printf(
        "soak %-6s %6.1f min  rounds %5d (sleep %4d, plug %3d) at level 1: modem %5d, "
        "log %5d | rss %6ld KiB  fds %3d  threads %2d  log files %3d  %9lld bytes\n",
        what, f.minutes, f.rounds, sleeps_, plugs_, modem_ones_, log_ones_, f.rss_kib, f.fds,
        f.threads, f.log_files, f.log_bytes);
    std::fflush(stdout);
  }

  Figures Take() {
    Figures f = Sample(daemon_.process().pid(), LogFolderUnder(daemon_.folder()));
    f.minutes = std::chrono::duration<double>(Clock::now() - start_).count() / 60;
    f.rounds = sleeps_ + plugs_;
    samples_.push_back(f);
    return f;
  }

  // Polls the log until followed text `i` was seen `times` times.
  bool WaitForLog(std::size_t i, int times) {
    return PollUntil(
        [&] {
          log_.Poll();
          return log_.count(i) >= times;
        },
        kBound);
  }

  // The round's end: the modem at level 1 with a set received, the daemon's log saying so,
  // and the job's task gone from the list (so that the next event is not its duplicate).
  void FinishRound(std::size_t sets_before, int round) {
    const bool modem_one = PollUntil(
        [&] {
          const std::vector<std::string> commands = laptop_->modem().VendorCommands();
          return laptop_->modem().level() == 1 &&
                 std::count(commands.begin(), commands.end(), kMbimSetCommand) >
                     static_cast<std::ptrdiff_t>(sets_before);
        },
        kBound);
    const bool log_one = WaitForLog(kSet, round + 1);
    modem_ones_ += modem_one ? 1 : 0;
    log_ones_ += log_one ? 1 : 0;
    EXPECT_TRUE(modem_one) << "round " << round << ": the modem is at level "
                           << laptop_->modem().level();
    EXPECT_TRUE(log_one) << "round " << round << ": no set in the log";
    EXPECT_TRUE(WaitForLog(kRemoved, round + 1)) << "round " << round << ": the task stayed";
  }

  std::size_t SetsSoFar() {
    const std::vector<std::string> commands = laptop_->modem().VendorCommands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), kMbimSetCommand));
  }

  void SleepRound(int round) {
    const std::size_t sets = SetsSoFar();
    halvorn::testing::PrepareForSleep(logind_, true);
    ASSERT_TRUE(WaitForLog(kLockReleased, sleeps_ + 1)) << "round " << round;
    laptop_->modem().SetLevel(0);
    halvorn::testing::PrepareForSleep(logind_, false);
    ASSERT_TRUE(WaitForLog(kResume, sleeps_ + 1)) << "round " << round;
    ++sleeps_;
    FinishRound(sets, round);
  }

  void PlugRound(int round) {
    laptop_->Unplug();
    ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
    ++plugs_;
    FinishRound(0, round);
  }

  enum Followed : std::size_t { kSet, kRemoved, kLockReleased, kResume };
  LogFollower log_{{kSetLine, kRemovedLine, kLockReleasedLine, kResumeLine}};
  std::unique_ptr<SimulatedLaptop> laptop_;
  DbusMock logind_;
  Daemon daemon_{g_settings.daemon};
  Clock::time_point start_ = Clock::now();
  int sleeps_ = 0;
  int plugs_ = 0;
  int modem_ones_ = 0;
  int log_ones_ = 0;
  std::vector<Figures> samples_;
};

TEST_F(HalvorndSoak, SleepsAndPlugsLeaveNothingGrowing) {
  const Settings& s = g_settings;
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_TRUE(daemon_.Start());
  ASSERT_TRUE(daemon_.notify().WaitFor("READY=1", kBound)) << daemon_.Output();
  log_.set_folder(LogFolderUnder(daemon_.folder()));
  // The job at start is round 0.
  FinishRound(0, 0);
  start_ = Clock::now();
  Print("start", Take());

  const int total = s.sleeps + s.plugs;
  const auto duration = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::ratio<60>>(s.minutes));
  const auto period = duration / std::max(total, 1);
  const auto sample_every = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::ratio<60>>(s.sample_minutes));
  Clock::time_point next_sample = start_ + sample_every;
  int round = 1;
  while (Clock::now() - start_ < duration || sleeps_ < s.sleeps || plugs_ < s.plugs) {
    std::this_thread::sleep_until(start_ + period * (round - 1));
    // Plug rounds spread among the sleep rounds in their proportion.
    const bool plug = plugs_ < s.plugs && (static_cast<long long>(plugs_) * s.sleeps <=
                                               static_cast<long long>(sleeps_) * s.plugs ||
                                           sleeps_ >= s.sleeps);
    if (plug) {
      ASSERT_NO_FATAL_FAILURE(PlugRound(round));
    } else {
      ASSERT_NO_FATAL_FAILURE(SleepRound(round));
    }
    ASSERT_TRUE(daemon_.process().Running()) << "halvornd ended\n" << daemon_.Output();
    if (HasFailure()) {
      break;
    }
    if (Clock::now() >= next_sample) {
      Print("", Take());
      next_sample += sample_every;
    }
    ++round;
  }
  const Figures end = Take();
  Print("end", end);
  log_.Poll();
  std::printf("soak log: %lld lines read\n", log_.lines());

  EXPECT_EQ(modem_ones_, sleeps_ + plugs_ + 1) << "rounds that did not end at level 1";
  EXPECT_EQ(log_ones_, sleeps_ + plugs_ + 1);
  // Nothing grows without bound: descriptors and threads as after the first rounds, memory
  // flat through the second half of the run (a leak of even 100 bytes a round shows there:
  // 650 rounds), the log within its rotation's bound.
  ASSERT_GE(samples_.size(), 2u);
  const Figures& first = samples_.size() > 2 ? samples_[1] : samples_.front();
  EXPECT_LE(end.fds, first.fds) << "open descriptors grew";
  EXPECT_LE(end.threads, first.threads) << "threads grew";
  const Figures& middle = samples_[samples_.size() / 2];
  EXPECT_LE(end.rss_kib, middle.rss_kib + 512) << "resident memory grew in the second half";
  EXPECT_LE(end.log_files, 101);
  EXPECT_LE(end.log_bytes, 101ll * 1048576);

  daemon_.process().Signal(SIGTERM);
  const std::optional<int> status = daemon_.process().WaitForExit(kBound);
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
}

}  // namespace
}  // namespace halvorn::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  halvorn::testing::Settings& s = halvorn::testing::g_settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (value == nullptr) {
      std::fprintf(stderr, "halvornd_soak: %s wants a value\n", arg.c_str());
      return 2;
    }
    if (arg == "--minutes") {
      s.minutes = std::atof(value);
    } else if (arg == "--sleeps") {
      s.sleeps = std::atoi(value);
    } else if (arg == "--plugs") {
      s.plugs = std::atoi(value);
    } else if (arg == "--sample-minutes") {
      s.sample_minutes = std::atof(value);
    } else if (arg == "--daemon") {
      s.daemon = value;
    } else {
      std::fprintf(stderr, "halvornd_soak: unknown option %s\n", arg.c_str());
      return 2;
    }
    ++i;
  }
  return RUN_ALL_TESTS();
}
