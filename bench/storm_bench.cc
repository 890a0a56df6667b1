// A storm of modem events, and the time from a modem's control port appearing to its radio
// level set, through the real task manager, modem helper and udev watcher, with logging on
// (the real facade writing to a temporary log folder, one flush per line, as in production).
//
// Storm: 10,000 events (added, removed, in turn) paced over one second. First straight into
// the handlers the watcher calls (the helper's added handler files an authorisation task; the
// removed handler only traces), then, under umockdev-wrapper, as uevents of a umockdev test
// bed through the real udev watcher. The authorisation job is a counting job. Printed: the
// events seen, the tasks filed and merged (counted from the manager's own log lines), the
// runs, whether any task ran twice or was left filed, and resident memory before and after
// (and after a second storm, to tell growth from a one-time cost).
//
// Radio on (under umockdev-wrapper): a umockdev "add" uevent of the control port; the watcher
// queues an authorisation task; its job asks the real helper for the modem, reads the level
// and sets it on a simulated modem. Printed per stage: event to the watcher's handler, handler
// to the job's start, job start to the first message the modem reads, and the commands, for
// the first run (port opened then) and for the runs after it (port kept open).
//
//   umockdev-wrapper bench_storm [radio-on runs, default 10]

#include <spdlog/async.h>
#include <spdlog/spdlog.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "mbn/mbn_platform.h"
#include "service/task_wiring.h"
#include "simulator.h"
#include "tasks/task_manager.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"

namespace {

using Clock = std::chrono::steady_clock;
using halvorn::CTaskManager;
using halvorn::TaskManagerHooks;

constexpr int kStormEvents = 10000;
constexpr auto kStormLength = std::chrono::seconds(1);

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::atol(line.c_str() + 6);
    }
  }
  return -1;
}

void WaitLogDrained() {
  auto pool = spdlog::thread_pool();
  while (pool && pool->queue_size() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The worker writes and flushes the last line it took.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Lines of the log folder that contain `text`.
long CountLogLines(const std::string& text) {
  long count = 0;
  const std::string folder = halvorn::LogHelper::BuildLogFolderPath();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      count += line.find(text) != std::string::npos ? 1 : 0;
    }
  }
  return count;
}

struct LogCounts {
  long filed = 0;
  long merged_dropped = 0;  // "retry times(%d) != 0": the new task is destroyed
  long merged_raised = 0;   // "retry times(%d) == 0": destroyed, the filed task gets one run
  long finished = 0;        // "Deal Task ... Cast Time"
  LogCounts operator-(const LogCounts& o) const {
    return {filed - o.filed, merged_dropped - o.merged_dropped, merged_raised - o.merged_raised,
            finished - o.finished};
  }
};

LogCounts ReadLogCounts() {
  WaitLogDrained();
  LogCounts c;
  c.filed = CountLogLines("push back new task :") + CountLogLines("add new TaskElement to set");
  c.merged_dropped = CountLogLines("find the same task ID, and the retry times(") -
                     CountLogLines(") == 0 ,so do not add the new task(");
  c.merged_raised = CountLogLines(") == 0 ,so do not add the new task(");
  c.finished = CountLogLines("Cast Time");
  return c;
}

// A task manager whose authorisation job counts its runs, with the production pauses and
// give-up policy (a restart is only counted).
struct CountingEngine {
  std::atomic<long> runs{0};
  std::atomic<long> restarts{0};
  std::atomic<long> running{0};
  std::atomic<long> overlapping{0};
  std::unique_ptr<CTaskManager> manager;

  CountingEngine() {
    TaskManagerHooks hooks;
    hooks.giveUpPolicy = &halvorn::GiveUpActionFor;
    hooks.restartService = [this] { ++restarts; };
    hooks.authModuleJob = [this](bool* retry) {
      if (running.fetch_add(1) != 0) {
        ++overlapping;
      }
      ++runs;
      *retry = false;
      running.fetch_sub(1);
      return true;
    };
    manager = std::make_unique<CTaskManager>(std::move(hooks));
    manager->init();
  }

  // Waits until nothing is filed: the last run's 500 ms pause has passed and it was removed.
  bool WaitIdle() {
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (manager->getTask() == nullptr) {
        return true;
      }
    }
    return false;
  }
};

// Calls `event(i)` for i in [0, kStormEvents), paced evenly over kStormLength. Returns the
// seconds the storm took.
double Storm(const std::function<void(int)>& event) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kStormEvents; ++i) {
    std::this_thread::sleep_until(start +
                                  std::chrono::microseconds(kStormLength) * i / kStormEvents);
    event(i);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void PrintStorm(const char* name,
                double seconds,
                long added_seen,
                long removed_seen,
                const LogCounts& counts,
                long runs,
                const CountingEngine& engine,
                bool idle,
                long rss_before,
                long rss_after,
                long rss_second) {
  std::printf("%s: %d events sent in %.3f s; the handlers saw %ld added, %ld removed\n", name,
              kStormEvents, seconds, added_seen, removed_seen);
  std::printf(
      "  tasks filed %ld, merged %ld (dropped %ld, raised 0->1 %ld), runs %ld (finished lines "
      "%ld), runs at once >1: %ld, restarts %ld, left filed: %s\n",
      counts.filed, counts.merged_dropped + counts.merged_raised, counts.merged_dropped,
      counts.merged_raised, runs, counts.finished, engine.overlapping.load(),
      engine.restarts.load(), idle ? "none" : "some");
  const bool accounted = counts.filed + counts.merged_dropped + counts.merged_raised == added_seen;
  std::printf("  every added event filed or merged: %s; every filed task run once: %s\n",
              accounted ? "yes" : "NO", counts.filed == runs ? "yes" : "NO");
  std::printf("  RSS before %ld KiB, after %ld KiB, after a second storm %ld KiB\n", rss_before,
              rss_after, rss_second);
  std::printf(
      "TABLE|storm %s: tasks run / merges / lost|%ld / %ld / %ld|%d events|-|"
      "merge rule, none lost\n",
      name, runs, counts.merged_dropped + counts.merged_raised,
      added_seen - (counts.filed + counts.merged_dropped + counts.merged_raised), kStormEvents);
  std::printf("TABLE|storm %s: RSS after 1st, 2nd storm|%ld, %ld KiB|%ld KiB|%.3f|flat\n", name,
              rss_after, rss_second, rss_before,
              static_cast<double>(rss_second) / static_cast<double>(rss_after));
}

// The storm straight into the handlers the watcher calls.
void DirectStorm() {
  CountingEngine engine;
  CTaskManager* manager = engine.manager.get();
  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(),
                                  halvorn::QueueAuthModuleTaskOn([manager] { return manager; }));
  long added = 0;
  long removed = 0;
  auto event = [&](int i) {
    if (i % 2 == 0) {
      ++added;
      helper.AccountAddedHandler();
    } else {
      ++removed;
      halvorn::CMbnWinRtHelper::AccountRemovedHandler();
    }
  };
  const LogCounts base = ReadLogCounts();
  const long rss_before = RssKiB();
  const double seconds = Storm(event);
  const bool idle = engine.WaitIdle();
  const long rss_after = RssKiB();
  const LogCounts first = ReadLogCounts() - base;
  const long added_first = added;
  const long removed_first = removed;
  const long runs_first = engine.runs;
  Storm(event);
  engine.WaitIdle();
  const long rss_second = RssKiB();
  PrintStorm("direct", seconds, added_first, removed_first, first, runs_first, engine, idle,
             rss_before, rss_after, rss_second);
}

// One MBIM control port of the cdc_mbim driver in umockdev's record format.
constexpr const char* kUsb = "/devices/pci0000:00/0000:00:14.0/usb1/1-2";
constexpr const char* kPortSyspath =
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/usbmisc/cdc-wdm0";

std::string PortRecords() {
  const std::string usb = kUsb;
  const std::string interface = usb + "/1-2:1.0";
  return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\nP: " + interface +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=cdc_mbim\n"
         "L: driver=../../../../../../bus/usb/drivers/cdc_mbim\n\nP: " +
         interface +
         "/usbmisc/cdc-wdm0\nN: cdc-wdm0\nE: SUBSYSTEM=usbmisc\nE: DEVNAME=/dev/cdc-wdm0\n";
}

// A started watcher whose handlers are `added` and `removed`; null when it cannot run.
std::unique_ptr<halvorn::mbn_platform::AccountWatcher> StartWatcher(std::function<void()> added,
                                                                    std::function<void()> removed,
                                                                    std::atomic<bool>* enumerated) {
  std::unique_ptr<halvorn::mbn_platform::AccountWatcher> watcher;
  std::int64_t token = 0;
  if (!halvorn::mbn_platform::DefaultRuntime().CreateAccountWatcher(&watcher).ok() ||
      !watcher->AddAccountAdded(std::move(added), &token).ok() ||
      !watcher->AddAccountRemoved(std::move(removed), &token).ok() ||
      !watcher->AddEnumerationCompleted([enumerated] { *enumerated = true; }, &token).ok() ||
      !watcher->Start().ok()) {
    return nullptr;
  }
  while (!*enumerated) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return watcher;
}

void UdevStorm(UMockdevTestbed* bed) {
  CountingEngine engine;
  CTaskManager* manager = engine.manager.get();
  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(),
                                  halvorn::QueueAuthModuleTaskOn([manager] { return manager; }));
  std::atomic<long> added{0};
  std::atomic<long> removed{0};
  std::atomic<bool> enumerated{false};
  auto watcher = StartWatcher(
      [&] {
        ++added;
        helper.AccountAddedHandler();
      },
      [&] {
        ++removed;
        halvorn::CMbnWinRtHelper::AccountRemovedHandler();
      },
      &enumerated);
  if (!watcher) {
    std::printf("storm udev: the watcher could not start\n");
    return;
  }
  // The port is present at start and was reported once by the enumeration. umockdev's
  // sender aborts the process when the watcher's socket is full, so the storm waits while the
  // watcher is more than kMaxLag events behind: the rate reached is printed.
  constexpr long kMaxLag = 8;  // below net.unix.max_dgram_qlen (10 here)
  long sent = 0;
  long max_lag = 0;
  long seen_before = 0;  // events the watcher had reported before this storm
  auto event = [&](int i) {
    for (;;) {
      const long lag = sent - (added + removed - seen_before);
      max_lag = std::max(max_lag, lag);
      if (lag < kMaxLag) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    ++sent;
    umockdev_testbed_uevent(bed, kPortSyspath, i % 2 == 0 ? "remove" : "add");
  };
  engine.WaitIdle();
  const long added_at_start = added;
  seen_before = added_at_start;
  const LogCounts base = ReadLogCounts();
  const long runs_at_start = engine.runs;
  const long rss_before = RssKiB();
  const double seconds = Storm(event);
  // Let the watcher take what is still in its socket.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const bool idle = engine.WaitIdle();
  const long rss_after = RssKiB();
  const LogCounts first = ReadLogCounts() - base;
  const long added_first = added - added_at_start;
  const long removed_first = removed;
  const long runs_first = engine.runs - runs_at_start;
  std::printf(
      "storm udev: the sender waited while the watcher was %ld events behind (most seen "
      "%ld)\n",
      kMaxLag, max_lag);
  sent = 0;
  seen_before = added + removed;
  Storm(event);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  engine.WaitIdle();
  const long rss_second = RssKiB();
  PrintStorm("udev", seconds, added_first, removed_first, first, runs_first, engine, idle,
             rss_before, rss_after, rss_second);
  watcher.reset();
}

struct RadioOnRun {
  double to_handler_us;
  double to_job_us;
  double to_first_message_us;
  double query_us;
  double set_us;
  double total_us;
};

double Us(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

void RadioOn(UMockdevTestbed* bed, int runs) {
  halvorn::mbimsim::ModemOptions options;
  options.initial_level = 4;
  std::mutex lock;
  std::condition_variable changed;
  std::atomic<bool> armed{false};
  Clock::time_point first_message{};
  // A simulated modem whose first message read after `armed` is set is timed.
  auto make_modem = [&] {
    auto made = std::make_unique<halvorn::mbimsim::Simulator>(options);
    made->set_trace([&](std::string_view line) {
      if (armed && line.rfind("host>", 0) == 0) {
        armed = false;
        first_message = Clock::now();
      }
    });
    return made;
  };
  std::unique_ptr<halvorn::mbimsim::Simulator> modem = make_modem();
  std::string error;
  if (!modem->Start(&error)) {
    std::printf("radio on: simulator: %s\n", error.c_str());
    return;
  }
  // The port is named through a link outside /dev, as on the simulated laptop of the
  // end-to-end tests: umockdev redirects /dev.
  const std::filesystem::path link = std::filesystem::path(std::getenv("programdata")) / "port";
  auto point_at_modem = [&] {
    std::filesystem::remove(link);
    std::filesystem::create_symlink(modem->device_path(), link);
  };
  point_at_modem();
  setenv(halvorn::mbn_linux::kPortVariable, link.c_str(), 1);

  Clock::time_point handler_at{};
  Clock::time_point job_at{};
  Clock::time_point queried_at{};
  Clock::time_point set_at{};
  bool done = false;
  bool ok = true;

  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(), nullptr);
  TaskManagerHooks hooks;
  hooks.giveUpPolicy = &halvorn::GiveUpActionFor;
  hooks.authModuleJob = [&](bool* retry) {
    job_at = Clock::now();
    armed = true;
    std::int32_t level = 0;
    const bool got = helper.IsMbimModemExist() && helper.GetMbimCfun(&level);
    queried_at = Clock::now();
    const bool set = got && helper.SetMbimCfun();
    set_at = Clock::now();
    *retry = false;
    std::lock_guard<std::mutex> hold(lock);
    ok = ok && set;
    done = true;
    changed.notify_all();
    return true;
  };
  CTaskManager manager(std::move(hooks));
  manager.init();
  auto queue = halvorn::QueueAuthModuleTaskOn([&manager] { return &manager; });
  std::atomic<bool> enumerated{false};
  auto watcher = StartWatcher(
      [&] {
        handler_at = Clock::now();
        queue();
      },
      [] {}, &enumerated);
  if (!watcher) {
    std::printf("radio on: the watcher could not start\n");
    return;
  }
  // The enumeration reported the port present at start; its run is not measured.
  {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::seconds(10), [&] { return done; });
  }
  std::vector<RadioOnRun> measured;
  for (int r = 0; r <= runs; ++r) {
    // The task of the previous run is removed after its 500 ms pause.
    while (manager.getTask() != nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    umockdev_testbed_uevent(bed, kPortSyspath, "remove");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (r == 0) {
      // The first measured run opens the port afresh, as after a modem was plugged in.
      modem = make_modem();
      if (!modem->Start(&error)) {
        std::printf("radio on: simulator: %s\n", error.c_str());
        return;
      }
      point_at_modem();
    }
    {
      std::lock_guard<std::mutex> hold(lock);
      done = false;
    }
    const Clock::time_point event_at = Clock::now();
    umockdev_testbed_uevent(bed, kPortSyspath, "add");
    std::unique_lock<std::mutex> hold(lock);
    if (!changed.wait_for(hold, std::chrono::seconds(10), [&] { return done; })) {
      std::printf("radio on: run %d never finished\n", r);
      return;
    }
    measured.push_back({Us(event_at, handler_at), Us(handler_at, job_at), Us(job_at, first_message),
                        Us(job_at, queried_at), Us(queried_at, set_at), Us(event_at, set_at)});
  }
  watcher.reset();
  // Without HALVORN_MBIM_PORT (production), each default-modem lookup asks udev: the helper
  // makes two per command, four for a query and a set.
  unsetenv(halvorn::mbn_linux::kPortVariable);
  std::vector<double> lookups;
  for (int i = 0; i < 200; ++i) {
    const Clock::time_point start = Clock::now();
    const std::string found = halvorn::mbn_linux::FindDefaultMbimPort();
    lookups.push_back(Us(start, Clock::now()));
    if (found.empty()) {
      std::printf("radio on: udev knows no control port\n");
      break;
    }
  }
  std::sort(lookups.begin(), lookups.end());
  const double lookup_us = lookups[lookups.size() / 2];
  setenv(halvorn::mbn_linux::kPortVariable, link.c_str(), 1);
  std::printf("radio on through the udev watcher, task manager and helper (%s):\n",
              ok ? "every set answered" : "A SET FAILED");
  std::printf("  %-26s %10s %10s %10s %10s %10s %10s\n", "microseconds", "event>hdlr", "hdlr>job",
              "job>1st msg", "query", "set", "total");
  auto row = [](const char* name, const RadioOnRun& m) {
    std::printf("  %-26s %10.0f %10.0f %10.0f %10.0f %10.0f %10.0f\n", name, m.to_handler_us,
                m.to_job_us, m.to_first_message_us, m.query_us, m.set_us, m.total_us);
  };
  row("port opened (first run)", measured.front());
  std::vector<RadioOnRun> kept(measured.begin() + 1, measured.end());
  auto median = [&](double RadioOnRun::*field) {
    std::vector<double> v;
    for (const RadioOnRun& m : kept) {
      v.push_back(m.*field);
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const RadioOnRun med{median(&RadioOnRun::to_handler_us),
                       median(&RadioOnRun::to_job_us),
                       median(&RadioOnRun::to_first_message_us),
                       median(&RadioOnRun::query_us),
                       median(&RadioOnRun::set_us),
                       median(&RadioOnRun::total_us)};
  char name[64];
  std::snprintf(name, sizeof name, "port kept (median of %zu)", kept.size());
  row(name, med);
  std::printf(
      "  one default-modem lookup through udev (no HALVORN_MBIM_PORT; umockdev test bed, "
      "median of 200): %.0f us; a query and a set make four\n",
      lookup_us);
  std::printf(
      "TABLE|radio on in-process, udev add to set answered (port opened)|%.2f ms|10 ms|"
      "%.3f|<= 1\n",
      measured.front().total_us / 1000.0, measured.front().total_us / 10000.0);
  std::printf(
      "TABLE|radio on in-process, udev add to set answered (port kept)|%.2f ms|10 ms|"
      "%.3f|<= 1\n",
      med.total_us / 1000.0, med.total_us / 10000.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
  setenv(halvorn::mbn_linux::kProxyVariable, "0", 1);
  const auto root = std::filesystem::temp_directory_path() /
                    ("halvorn-storm-" + std::to_string(halvorn::platform::CurrentThreadId()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  setenv("programdata", root.c_str(), 1);
  halvorn::LogHelper::InitLogger(halvorn::SystemRegistryPlatform(),
                                 halvorn::SystemLogFolderPlatform());

  DirectStorm();

  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    std::printf("storm udev, radio on: not run (run under umockdev-wrapper)\n");
  } else {
    UMockdevTestbed* bed = umockdev_testbed_new();
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_string(bed, PortRecords().c_str(), &failure)) {
      std::printf("umockdev: %s\n", failure != nullptr ? failure->message : "?");
      return 1;
    }
    UdevStorm(bed);
    RadioOn(bed, runs);
    g_object_unref(bed);
  }
  halvorn::LogHelper::Shutdown();
  std::filesystem::remove_all(root);
  return 0;
}
