// Cost per call of the logging facade against a bare spdlog asynchronous logger with the same
// sink kind, settings and shared pool, doing the same formatting (the message printf-style
// into a 1024-byte buffer, the thread id with "%08x", the payload "{0} i :   {1}").
//
// Calls come in bursts that fit the facade's queue (LogHelper::kQueueSlots), and the next burst
// starts only once the writer has drained the queue, so no call waits for the writer's disk:
// each call is timed on its own and the figures are the caller's cost alone. Facade and bare bursts
// alternate, so a change of the machine's load hits both alike. Prints the median and 99th
// percentile of each and their ratios.
//
//   bench_logging [calls per burst, default 1000] [bursts per side, default 200]

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
#include <vector>

#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kQueueSize = static_cast<long>(halvorn::LogHelper::kQueueSlots);

void WaitDrained() {
  auto tp = spdlog::thread_pool();
  while (tp && tp->queue_size() > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// Appends the nanoseconds of each of `calls` calls of `log_one` to `samples`.
template <class F>
void Burst(long calls, long first, std::vector<double>* samples, F&& log_one) {
  for (long i = 0; i < calls; ++i) {
    const Clock::time_point start = Clock::now();
    log_one(first + i);
    const Clock::time_point end = Clock::now();
    samples->push_back(std::chrono::duration<double, std::nano>(end - start).count());
  }
}

struct Spread {
  double median;
  double p99;
};

Spread SpreadOf(std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[(samples.size() * 99) / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  const long burst = argc > 1 ? std::atol(argv[1]) : 1000;
  const int bursts = argc > 2 ? std::atoi(argv[2]) : 200;
  if (burst <= 0 || burst >= kQueueSize || bursts <= 0) {
    std::fprintf(stderr, "a burst must fit the queue (1 to %ld calls)\n", kQueueSize - 1);
    return 2;
  }
  const auto root = std::filesystem::temp_directory_path() /
                    ("halvorn-bench-" + std::to_string(halvorn::platform::CurrentThreadId()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  ::setenv("programdata", root.c_str(), 1);

  halvorn::LogHelper::InitLogger(halvorn::SystemRegistryPlatform(),
                                 halvorn::SystemLogFolderPlatform());
  auto bare = spdlog::create_async<spdlog::sinks::rotating_file_sink_mt>(
      "bare", (root / "bare.log").string(), 1048576, 100, false);
  bare->set_level(spdlog::level::trace);
  bare->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local, "\r\n"));
  bare->flush_on(spdlog::level::trace);

  auto facade_one = [](long i) {
    halvorn::LogHelper::Print(halvorn::LogInfo, "Bench::run",
                              "retry deal task : %s ,retry times(%d) ", "CTaskAuthModule",
                              static_cast<int>(i));
  };
  auto bare_one = [&](long i) {
    char tid[16];
    std::snprintf(tid, sizeof tid, "%08x", halvorn::platform::CurrentThreadId());
    char msg[1024];
    std::snprintf(msg, sizeof msg, "retry deal task : %s ,retry times(%d) ", "CTaskAuthModule",
                  static_cast<int>(i));
    bare->log(spdlog::level::info, "{0} i :   {1}", tid, msg);
  };
  auto trace_one = [](long) { halvorn::LogHelper::TraceEnter("CTaskManager::dealTaskThread"); };
  auto bare_trace_one = [&](long) {
    char tid[16];
    std::snprintf(tid, sizeof tid, "%08x", halvorn::platform::CurrentThreadId());
    bare->log(spdlog::level::info, "{0} h : + {1}", tid,
              std::string_view("CTaskManager::dealTaskThread"));
  };

  std::vector<double> facade;
  std::vector<double> plain;
  std::vector<double> trace;
  std::vector<double> bare_trace;
  // A few unmeasured bursts first.
  for (int b = -3; b < bursts; ++b) {
    std::vector<double> discard;
    const bool measured = b >= 0;
    WaitDrained();
    Burst(burst, b * burst, measured ? &facade : &discard, facade_one);
    WaitDrained();
    Burst(burst, b * burst, measured ? &plain : &discard, bare_one);
    WaitDrained();
    Burst(burst, b * burst, measured ? &trace : &discard, trace_one);
    WaitDrained();
    Burst(burst, b * burst, measured ? &bare_trace : &discard, bare_trace_one);
  }
  WaitDrained();
  const Spread f = SpreadOf(facade);
  const Spread p = SpreadOf(plain);
  const Spread t = SpreadOf(trace);
  const Spread bt = SpreadOf(bare_trace);

  std::printf(
      "%d bursts of %ld calls per side, each burst on a drained queue (one flush per\n"
      "line, as in production); nanoseconds per call\n",
      bursts, burst);
  std::printf("%-36s %10s %10s\n", "", "median ns", "p99 ns");
  std::printf("%-36s %10.0f %10.0f\n", "facade Print (code 2)", f.median, f.p99);
  std::printf("%-36s %10.0f %10.0f\n", "bare spdlog, same formatting", p.median, p.p99);
  std::printf("%-36s %10.3f %10.3f\n", "facade / bare", f.median / p.median, f.p99 / p.p99);
  std::printf("%-36s %10.0f %10.0f\n", "facade TraceEnter", t.median, t.p99);
  std::printf("%-36s %10.0f %10.0f\n", "bare spdlog, same trace line", bt.median, bt.p99);
  std::printf("%-36s %10.3f %10.3f\n", "facade / bare (trace)", t.median / bt.median,
              t.p99 / bt.p99);
  // Lines for scripts/bench.sh: figure, value, baseline, ratio, goal.
  std::printf(
      "TABLE|logging Print per call, facade vs bare spdlog (median)|%.0f ns|%.0f ns|%.3f|"
      "report\n",
      f.median, p.median, f.median / p.median);
  std::printf(
      "TABLE|logging Print per call, facade vs bare spdlog (p99)|%.0f ns|%.0f ns|%.3f|"
      "report\n",
      f.p99, p.p99, f.p99 / p.p99);
  std::printf(
      "TABLE|logging trace line per call, facade vs bare (median)|%.0f ns|%.0f ns|%.3f|"
      "report\n",
      t.median, bt.median, t.median / bt.median);
  halvorn::LogHelper::Shutdown();
  std::filesystem::remove_all(root);
  return 0;
}
