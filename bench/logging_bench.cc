// Cost of the logging facade over a bare spdlog asynchronous logger with the same sink,
// settings and shared pool. Prints lines per second and the mean per-call latency of each,
// and their ratio. Time runs from the first call until the worker has written the last line.
//
//   bench_logging [lines per run, default 200000] [runs, default 3]

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "util/log_helper.h"
#include "util/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

void WaitDrained() {
  auto tp = spdlog::thread_pool();
  while (tp && tp->queue_size() > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

struct Figures {
  double lines_per_second;
  double call_ns;
};

template <class F>
Figures Measure(long lines, F&& log_one) {
  auto start = Clock::now();
  for (long i = 0; i < lines; ++i) {
    log_one(i);
  }
  auto calls_done = Clock::now();
  WaitDrained();
  auto end = Clock::now();
  double total_s = std::chrono::duration<double>(end - start).count();
  double calls_ns = std::chrono::duration<double, std::nano>(calls_done - start).count();
  return {static_cast<double>(lines) / total_s, calls_ns / static_cast<double>(lines)};
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const auto root = std::filesystem::temp_directory_path() /
                    ("halvorn-bench-" + std::to_string(halvorn::platform::CurrentThreadId()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  ::setenv("programdata", root.c_str(), 1);

  halvorn::LogHelper::InitLogger();
  auto bare = spdlog::create_async<spdlog::sinks::rotating_file_sink_mt>(
      "bare", (root / "bare.log").string(), 1048576, 100, false);
  bare->set_level(spdlog::level::trace);
  bare->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local, "\r\n"));
  bare->flush_on(spdlog::level::trace);

  Figures best_facade{0, 1e18};
  Figures best_bare{0, 1e18};
  for (int r = 0; r < runs; ++r) {
    Figures f = Measure(lines, [](long i) {
      halvorn::LogHelper::Print(halvorn::LogInfo, "Bench::run",
                                "retry deal task : %s ,retry times(%d) ", "CTaskAuthModule",
                                static_cast<int>(i));
    });
    Figures b = Measure(lines, [&](long i) {
      char tid[16];
      std::snprintf(tid, sizeof tid, "%08x", halvorn::platform::CurrentThreadId());
      char msg[1024];
      std::snprintf(msg, sizeof msg, "retry deal task : %s ,retry times(%d) ", "CTaskAuthModule",
                    static_cast<int>(i));
      bare->log(spdlog::level::info, "{0} i :   {1}", tid, msg);
    });
    best_facade.lines_per_second = std::max(best_facade.lines_per_second, f.lines_per_second);
    best_facade.call_ns = std::min(best_facade.call_ns, f.call_ns);
    best_bare.lines_per_second = std::max(best_bare.lines_per_second, b.lines_per_second);
    best_bare.call_ns = std::min(best_bare.call_ns, b.call_ns);
    std::printf("run %d: facade %.0f lines/s %.0f ns/call; bare spdlog %.0f lines/s %.0f ns/call\n",
                r + 1, f.lines_per_second, f.call_ns, b.lines_per_second, b.call_ns);
  }
  std::printf("best of %d runs of %ld lines (one flush per line, as in production):\n", runs,
              lines);
  std::printf("  facade      %10.0f lines/s  %8.0f ns/call\n", best_facade.lines_per_second,
              best_facade.call_ns);
  std::printf("  bare spdlog %10.0f lines/s  %8.0f ns/call\n", best_bare.lines_per_second,
              best_bare.call_ns);
  std::printf("  throughput cost of the facade: %+.1f%%\n",
              (best_bare.lines_per_second / best_facade.lines_per_second - 1.0) * 100.0);
  std::printf("  per-call cost of the facade:   %+.1f%%\n",
              (best_facade.call_ns / best_bare.call_ns - 1.0) * 100.0);
  halvorn::LogHelper::Shutdown();
  std::filesystem::remove_all(root);
  return 0;
}
