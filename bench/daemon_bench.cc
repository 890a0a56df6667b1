// The real halvornd on the simulated laptop of the end-to-end tests (umockdev test bed, SMBIOS
// table, registry file, MBIM simulator), under a notify socket of this program's own. Prints,
// and asserts nothing about time:
//
// - start-up: from the fork of the daemon to READY=1 on the notify socket (several starts);
// - radio on at start: from the watcher's report of the port present at start to the set
//   answered, with the stages between, from the daemon's own log lines (to the millisecond);
// - radio on after a hot-plug: the modem unplugged and plugged back at level 0 while the
//   daemon runs, from the udev add event to the set answered, with the stages between (the
//   event and the modem's first byte from this program's clock, the rest from the daemon's
//   lines, all as wall-clock milliseconds of the day);
// - idle: after the first job, for IDLE_SECONDS (default 60), every thread's wake-ups
//   (voluntary context switches) and processor time (schedstat), and resident memory; each
//   thread named by its stack (gdb, after the window).
//
// Runs under tests/device/linux/in_testbed.sh (umockdev-wrapper), as root (the registry file).

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "service/linux/daemon_harness.h"
#include "support/linux/dbus_mock.h"

namespace halvorn::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBound = std::chrono::seconds(60);  // a hang guard, never a speed goal
constexpr const char* kReady = "READY=1";
constexpr const char* kRemovedLine = "T i :   after  delete task list size = 0";

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Polls the notify socket closely until `message` came; the time it was seen.
std::optional<Clock::time_point> WaitForMessage(Daemon& daemon, const std::string& message) {
  const Clock::time_point give_up = Clock::now() + kBound;
  while (Clock::now() < give_up) {
    const std::vector<std::string> all = daemon.notify().Messages();
    if (std::find(all.begin(), all.end(), message) != all.end()) {
      return Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return std::nullopt;
}

void Stop(Daemon& daemon) {
  daemon.process().Signal(SIGTERM);
  daemon.process().WaitForExit(kBound);
}

struct ThreadFigures {
  std::string comm;
  long long voluntary = 0;
  long long involuntary = 0;
  long long cpu_ns = 0;
};

std::map<long, ThreadFigures> ThreadsOf(pid_t pid) {
  std::map<long, ThreadFigures> threads;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(tasks, error)) {
    ThreadFigures f;
    std::ifstream comm(entry.path() / "comm");
    std::getline(comm, f.comm);
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        f.voluntary = std::atoll(line.c_str() + 24);
      } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        f.involuntary = std::atoll(line.c_str() + 27);
      }
    }
    std::ifstream schedstat(entry.path() / "schedstat");
    schedstat >> f.cpu_ns;
    threads[std::atol(entry.path().filename().c_str())] = f;
  }
  return threads;
}

// A "Name:   N kB" field of a /proc file; -1 when missing.
long FieldKiB(const std::string& path, const std::string& name) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      return std::atol(line.c_str() + name.size() + 1);
    }
  }
  return -1;
}

long StatusKiB(pid_t pid, const std::string& name) {
  return FieldKiB("/proc/" + std::to_string(pid) + "/status", name);
}

long RssKiB(pid_t pid) {
  return StatusKiB(pid, "VmRSS");
}

// The sums over every mapping (/proc/<pid>/smaps_rollup).
long RollupKiB(pid_t pid, const std::string& name) {
  return FieldKiB("/proc/" + std::to_string(pid) + "/smaps_rollup", name);
}

// Resident KiB per mapped file (anonymous mappings under "[anonymous]"), largest first.
std::vector<std::pair<long, std::string>> ResidentByFile(pid_t pid) {
  std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
  std::map<std::string, long> by_file;
  std::string line;
  std::string current;
  while (std::getline(smaps, line)) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first.find('-') != std::string::npos && first.back() != ':') {
      std::string perms, offset, dev, inode, name;
      fields >> perms >> offset >> dev >> inode;
      std::getline(fields >> std::ws, name);
      current = name.empty() ? "[anonymous]" : name;
    } else if (first == "Rss:") {
      long kib = 0;
      fields >> kib;
      by_file[current] += kib;
    }
  }
  std::vector<std::pair<long, std::string>> sorted;
  for (const auto& [name, kib] : by_file) {
    sorted.emplace_back(kib, name);
  }
  std::sort(sorted.rbegin(), sorted.rend());
  return sorted;
}

// Each thread's innermost frames of our own code, from gdb.
std::string Stacks(pid_t pid) {
  const std::string command = "gdb -p " + std::to_string(pid) +
                              " -batch -ex 'thread apply all bt 12' 2>/dev/null | grep -E "
                              "'^Thread|^#' | grep -vE 'in (__|syscall|clock_nanosleep|poll|"
                              "pthread_cond|std::condition_variable::wait)'";
  std::string text;
  if (FILE* out = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
      text += buffer;
    }
    ::pclose(out);
  }
  return text;
}

// Milliseconds of the day of a raw log line ("YYYY-MM-DD HH:MM:SS.mmm ..."); -1 when none.
double LineMs(const std::string& line) {
  int h = 0;
  int m = 0;
  int sec = 0;
  int ms = 0;
  if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%d:%d:%d.%d", &h, &m, &sec, &ms) != 4) {
    return -1;
  }
  return ((h * 60.0 + m) * 60.0 + sec) * 1000.0 + ms;
}

// The time of the first raw line at or after `from` that contains `text`; -1 when none.
double FirstLineMs(const std::vector<std::string>& raw, const std::string& text, std::size_t* at) {
  for (std::size_t i = *at; i < raw.size(); ++i) {
    if (raw[i].find(text) != std::string::npos) {
      *at = i;
      return LineMs(raw[i]);
    }
  }
  return -1;
}

// Milliseconds of the local day of `at`, as the log lines give them (to the microsecond).
double DayMs(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          at - std::chrono::system_clock::from_time_t(seconds))
                          .count();
  return ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 +
         static_cast<double>(micros) / 1000.0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median of column `field` of `rows` (arrays of figures, one per run or round).
template <std::size_t N>
double ColumnMedian(const std::vector<std::array<double, N>>& rows, std::size_t field) {
  std::vector<double> column;
  for (const auto& row : rows) {
    column.push_back(row[field]);
  }
  return Median(std::move(column));
}

int IdleSeconds() {
  const char* value = std::getenv("IDLE_SECONDS");
  return value != nullptr ? std::max(1, std::atoi(value)) : 60;
}

class DaemonBench : public NoBusLaptopTest {};

TEST_F(DaemonBench, StartUpToReady) {
  std::vector<double> ready_ms;
  std::vector<std::array<double, 5>> radio;
  for (int run = 0; run < 7; ++run) {
    // A laptop of its own for each start: its modem at level 0, so that every job sets it.
    laptop_.reset();
    laptop_ = std::make_unique<SimulatedLaptop>();
    ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
    Daemon daemon(HALVORND_PATH);
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(daemon.Start());
    const std::optional<Clock::time_point> ready = WaitForMessage(daemon, kReady);
    ASSERT_TRUE(ready.has_value()) << daemon.Output();
    ready_ms.push_back(Ms(start, *ready));
    daemon.WaitForLog(kRemovedLine, 1, kBound);
    // The port present at start, from its report by the watcher to the set answered, from the
    // daemon's own lines (to the millisecond).
    const std::vector<std::string> raw = ReadLogFolder(LogFolderUnder(daemon.folder()));
    std::size_t at = 0;
    const double queued = FirstLineMs(raw, "CTaskFactory createTask TASK_TYPE_AUTH_MODULE", &at);
    const double job = FirstLineMs(raw, "+ CTaskAuthModule::doJob", &at);
    const double get = FirstLineMs(raw, "+ CMbnWinRtHelper::GetMbimCfun", &at);
    const double set = FirstLineMs(raw, "+ CMbnWinRtHelper::SetMbimCfun", &at);
    const double done = FirstLineMs(raw, "SET MBIM FUN SUCCESS!", &at);
    if (queued >= 0 && job >= 0 && get >= 0 && set >= 0 && done >= 0) {
      radio.push_back({job - queued, get - job, set - get, done - set, done - queued});
    }
    Stop(daemon);
  }
  if (!radio.empty()) {
    auto median = [&](std::size_t field) { return ColumnMedian(radio, field); };
    std::printf(
        "radio on at start through the daemon (its log, ms; median of %zu): queued to job "
        "%.0f, job to level query (platform checks) %.0f, query %.0f, set %.0f; queued "
        "to set answered %.0f\n",
        radio.size(), median(0), median(1), median(2), median(3), median(4));
    std::printf(
        "TABLE|daemon radio on at start, port reported to set answered (log ms)|%.0f ms|"
        "10 ms|%.3f|<= 1\n",
        median(4), median(4) / 10.0);
  }
  const double ready_median = Median(ready_ms);
  std::printf("start-up, fork to READY=1 (ms):");
  for (double ms : ready_ms) {
    std::printf(" %.1f", ms);
  }
  std::printf("; median %.1f\n", ready_median);
  std::printf("TABLE|daemon start-up, fork to READY=1 (median of %zu)|%.1f ms|50 ms|%.3f|<= 1\n",
              ready_ms.size(), ready_median, ready_median / 50.0);
}

// The daemon's own lines of one hot-plug job, in the order they come.
constexpr const char* kPlugStages[] = {
    "CTaskFactory createTask TASK_TYPE_AUTH_MODULE",  // the add event made a task
    "+ CTaskAuthModule::doJob",                       // the worker took it
    "+ CMbnWinRtHelper::GetMbimCfun",                 // the platform checks passed
    "+ CMbnWinRtHelper::SetMbimCfun",                 // the level query answered (0)
    "SET MBIM FUN SUCCESS!",                          // the set answered
};

TEST_F(DaemonBench, HotPlugRadioOn) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  Daemon daemon(HALVORND_PATH);
  ASSERT_TRUE(daemon.Start());
  ASSERT_TRUE(WaitForMessage(daemon, kReady).has_value()) << daemon.Output();
  ASSERT_TRUE(daemon.WaitForLog(kRemovedLine, 1, kBound)) << daemon.Output();
  constexpr int kRounds = 15;
  // Per round: event to task, task to job, job to query (checks), the modem's first byte
  // after the event, query, set, and event to set answered.
  std::vector<std::array<double, 7>> rounds;
  std::size_t at = 0;
  {
    const std::vector<std::string> raw = ReadLogFolder(LogFolderUnder(daemon.folder()));
    at = raw.size();  // the start's job is not a plug
  }
  for (int round = 0; round < kRounds; ++round) {
    // Past the rule that absorbs a second event within 500 ms of a job.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    laptop_->Unplug();
    ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
    const double event = DayMs(laptop_->last_plug_uevent());
    ASSERT_TRUE(daemon.WaitForLog(kRemovedLine, round + 2, kBound)) << daemon.Output();
    const std::optional<std::chrono::system_clock::time_point> first_byte =
        laptop_->modem().first_byte_at();
    const std::vector<std::string> raw = ReadLogFolder(LogFolderUnder(daemon.folder()));
    std::array<double, std::size(kPlugStages)> stage{};
    bool whole = first_byte.has_value() && laptop_->modem().level() == 1;
    for (std::size_t i = 0; i < std::size(kPlugStages) && whole; ++i) {
      stage[i] = FirstLineMs(raw, kPlugStages[i], &at);
      whole = stage[i] >= 0;
    }
    if (!whole) {
      std::printf("hot-plug round %d: not every stage was seen (level %d)\n", round,
                  laptop_->modem().level());
      continue;
    }
    if (round == kRounds - 1) {
      // Where the checks' time goes: the lines of the last round's job up to the query.
      std::printf(
          "hot-plug, the last round's lines from the job to the query (ms after the "
          "event):\n");
      for (std::size_t i = 0; i < raw.size(); ++i) {
        const double ms = LineMs(raw[i]);
        if (ms >= stage[1] && ms <= stage[2] && raw[i].size() > 24) {
          std::printf("  %6.1f  %s\n", ms - event, raw[i].c_str() + 24);
        }
      }
    }
    const double byte = DayMs(*first_byte);
    rounds.push_back({stage[0] - event, stage[1] - stage[0], stage[2] - stage[1], byte - event,
                      stage[3] - stage[2], stage[4] - stage[3], stage[4] - event});
  }
  Stop(daemon);
  ASSERT_FALSE(rounds.empty());
  auto median = [&](std::size_t field) { return ColumnMedian(rounds, field); };
  std::printf(
      "radio on after a hot-plug through the daemon (ms; median of %zu rounds): event to task "
      "%.1f, task to job %.1f, job to level query (platform checks) %.1f, event to the "
      "modem's first byte %.1f, query %.1f, set %.1f; event to set answered %.1f\n",
      rounds.size(), median(0), median(1), median(2), median(3), median(4), median(5), median(6));
  std::printf("  per round, event to set answered (ms):");
  for (const auto& r : rounds) {
    std::printf(" %.1f", r[6]);
  }
  std::printf("\n");
  std::printf(
      "TABLE|daemon radio on after a hot-plug, udev add to set answered|%.1f ms|10 ms|%.3f|"
      "<= 1\n",
      median(6), median(6) / 10.0);
}

TEST_F(DaemonBench, IdleAfterTheFirstJob) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  // A system bus with logind on it (python3-dbusmock), as on a laptop: without one the power
  // thread tries to connect again every few seconds.
  DbusMock logind;
  bool skip = false;
  const std::string error = logind.Start("logind", "org.freedesktop.login1", &skip);
  if (!error.empty()) {
    std::printf("idle: no logind mock (%s); the power thread's reconnects are counted too\n",
                error.c_str());
  }
  Daemon daemon(HALVORND_PATH);
  ASSERT_TRUE(daemon.Start());
  ASSERT_TRUE(WaitForMessage(daemon, kReady).has_value()) << daemon.Output();
  ASSERT_TRUE(daemon.WaitForLog(kRemovedLine, 1, kBound)) << daemon.Output();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const pid_t pid = daemon.process().pid();
  const int seconds = IdleSeconds();
  const std::map<long, ThreadFigures> before = ThreadsOf(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const std::map<long, ThreadFigures> after = ThreadsOf(pid);
  const long rss = RssKiB(pid);
  const double per_minute = 60.0 / seconds;
  long long wakeups = 0;
  long long cpu_ns = 0;
  std::printf("idle for %d s after the first job, per thread (per minute):\n", seconds);
  std::printf("  %-8s %-16s %10s %12s %10s\n", "tid", "comm", "wake-ups", "preempted", "cpu us");
  for (const auto& [tid, a] : after) {
    const auto b = before.find(tid);
    const ThreadFigures zero;
    const ThreadFigures& from = b != before.end() ? b->second : zero;
    const long long w = a.voluntary - from.voluntary;
    const long long n = a.involuntary - from.involuntary;
    const long long c = a.cpu_ns - from.cpu_ns;
    wakeups += w;
    cpu_ns += c;
    std::printf("  %-8ld %-16s %10.1f %12.1f %10.1f\n", tid, a.comm.c_str(),
                static_cast<double>(w) * per_minute, static_cast<double>(n) * per_minute,
                static_cast<double>(c) / 1000.0 * per_minute);
  }
  std::printf("  all threads: %.1f wake-ups, %.2f ms of processor time per minute; RSS %ld KiB\n",
              static_cast<double>(wakeups) * per_minute,
              static_cast<double>(cpu_ns) / 1e6 * per_minute, rss);
  std::printf(
      "  resident: %ld KiB anonymous, %ld KiB mapped files (libraries), %ld KiB shared "
      "memory\n",
      StatusKiB(pid, "RssAnon"), StatusKiB(pid, "RssFile"), StatusKiB(pid, "RssShmem"));
  // Library pages are shared with every other process that maps the same file; the
  // proportional and private sums say what the daemon itself costs.
  const long pss = RollupKiB(pid, "Pss");
  const long private_kib = RollupKiB(pid, "Private_Clean") + RollupKiB(pid, "Private_Dirty");
  std::printf("  proportional (Pss) %ld KiB, private %ld KiB; resident by mapping:\n", pss,
              private_kib);
  const auto by_file = ResidentByFile(pid);
  for (std::size_t i = 0; i < by_file.size() && i < 12; ++i) {
    std::printf("    %6ld KiB  %s\n", by_file[i].first, by_file[i].second.c_str());
  }
  std::printf("stacks of the threads (after the window):\n%s", Stacks(pid).c_str());
  std::printf("TABLE|daemon idle: wake-ups per minute, all threads|%.1f|25|%.3f|<= 1\n",
              static_cast<double>(wakeups) * per_minute,
              static_cast<double>(wakeups) * per_minute / 25.0);
  std::printf("TABLE|daemon idle: processor time per minute|%.2f ms|10 ms|%.3f|<= 1\n",
              static_cast<double>(cpu_ns) / 1e6 * per_minute,
              static_cast<double>(cpu_ns) / 1e6 * per_minute / 10.0);
  std::printf("TABLE|daemon idle: resident memory|%.2f MB|6 MB|%.3f|<= 1\n",
              static_cast<double>(rss) / 1024.0, static_cast<double>(rss) / 1024.0 / 6.0);
  std::printf("TABLE|daemon idle: proportional set size (Pss)|%.2f MB|6 MB|%.3f|report\n",
              static_cast<double>(pss) / 1024.0, static_cast<double>(pss) / 1024.0 / 6.0);
  std::printf("TABLE|daemon idle: private memory (its own pages)|%.2f MB|6 MB|%.3f|report\n",
              static_cast<double>(private_kib) / 1024.0,
              static_cast<double>(private_kib) / 1024.0 / 6.0);
  Stop(daemon);
}

}  // namespace
}  // namespace halvorn::testing
