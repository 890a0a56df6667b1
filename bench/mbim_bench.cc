// One GetMbimCfun round trip through the helper and the Linux runtime against the simulated
// modem, beside bare libmbim calls on a second simulated modem, and one stock
// `mbimcli --noop` run for scale. Prints median wall times and their ratios.
//
// The runtime keeps the port open, so a GetMbimCfun after the first sends the query alone (the
// port was opened and its device services read once). The bare figures are one command on a
// port that is already open, and a whole open, device services, query and close from a plain
// libmbim client. Each modem has one opener: a second one would read the other's answers.
//
// Then, for each misbehaviour of the simulated modem that hits one call (an OPEN or CLOSE
// never answered, a garbled answer, no answer, a late answer), the wall time and result of
// the call it hits and of the call after it, on a fresh modem each. `bench_mbim faults` runs
// only these.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "client/libmbim_client.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using halvorn::mbimsim::LibmbimClient;

constexpr int kRounds = 200;
constexpr unsigned kTimeoutS = 10;

struct Spread {
  double median;
  double p99;
};

// The median and 99th percentile, in microseconds, of each of `rounds`, run in turn kRounds
// times (after a few unmeasured runs), so that a change of the machine's load hits all of them
// alike.
std::vector<Spread> MicrosOf(const std::vector<std::function<bool()>>& rounds) {
  std::vector<std::vector<double>> samples(rounds.size());
  for (int i = -5; i < kRounds; ++i) {
    for (std::size_t r = 0; r < rounds.size(); ++r) {
      const Clock::time_point start = Clock::now();
      if (!rounds[r]()) {
        std::fprintf(stderr, "a round failed\n");
        std::exit(1);
      }
      if (i >= 0) {
        samples[r].push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
    }
  }
  std::vector<Spread> spreads;
  for (std::vector<double>& s : samples) {
    std::sort(s.begin(), s.end());
    spreads.push_back({s[s.size() / 2], s[(s.size() * 99) / 100]});
  }
  return spreads;
}

// Wall time of one program run, in microseconds; negative when it could not run.
double RunMicros(const std::string& command) {
  const Clock::time_point start = Clock::now();
  const int rc = std::system(command.c_str());
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  return rc == 0 ? micros : -1;
}

// The ids of the running mbim-proxy processes.
std::set<long> ProxyPids() {
  std::set<long> pids;
  if (FILE* list = ::popen("pgrep -x mbim-proxy", "r")) {
    long pid = 0;
    while (std::fscanf(list, "%ld", &pid) == 1) {
      pids.insert(pid);
    }
    ::pclose(list);
  }
  return pids;
}

}  // namespace

// One call through the helper: its result and wall time.
struct Timed {
  bool ok;
  double seconds;
};

Timed TimeCall(const std::function<bool()>& call) {
  const Clock::time_point start = Clock::now();
  const bool ok = call();
  return {ok, std::chrono::duration<double>(Clock::now() - start).count()};
}

// Each fault hits the first OPEN, CLOSE or radio-level command; `then_set` makes the second
// call a SetMbimCfun (the call a late query answer could complete).
int RunFaults() {
  using halvorn::mbimsim::Fault;
  struct Case {
    const char* name;
    Fault fault;
    bool then_set;
  } cases[] = {
      {"OPEN never answered", Fault::kSilentOpen, false},
      {"CLOSE never answered", Fault::kSilentClose, false},
      {"garbled answer to the query", Fault::kGarbled, false},
      {"query never answered", Fault::kNoAnswer, false},
      {"query answered late, then a set", Fault::kLateAnswer, true},
  };
  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(), nullptr);
  std::printf("one call per modem fault (seconds, result):\n");
  for (const Case& c : cases) {
    halvorn::mbimsim::ModemOptions options;
    options.initial_level = 4;
    options.fault = c.fault;
    options.fault_count = c.fault == Fault::kLateAnswer ? 2 : 1;
    halvorn::mbimsim::Simulator simulator(options);
    std::string error;
    if (!simulator.Start(&error)) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      return 1;
    }
    setenv(halvorn::mbn_linux::kPortVariable, simulator.device_path().c_str(), 1);
    std::int32_t level = 0;
    const Timed hit = TimeCall([&] { return helper.GetMbimCfun(&level); });
    const Timed next =
        TimeCall([&] { return c.then_set ? helper.SetMbimCfun() : helper.GetMbimCfun(&level); });
    std::printf("  %-34s the call it hits %6.2f s %-5s  the next call %6.2f s %s\n", c.name,
                hit.seconds, hit.ok ? "true" : "false", next.seconds, next.ok ? "true" : "false");
  }
  return 0;
}

int main(int argc, char** argv) {
  setenv(halvorn::mbn_linux::kProxyVariable, "0", 1);
  if (argc > 1 && std::string(argv[1]) == "faults") {
    return RunFaults();
  }
  // Three simulated modems of one kind: the helper's, one that a bare libmbim client keeps
  // open, and one that a bare client opens and closes for each round.
  halvorn::mbimsim::ModemOptions options;
  options.initial_level = 4;
  halvorn::mbimsim::Simulator helper_modem(options);
  halvorn::mbimsim::Simulator open_modem(options);
  halvorn::mbimsim::Simulator sequence_modem(options);
  std::string error;
  if (!helper_modem.Start(&error) || !open_modem.Start(&error) || !sequence_modem.Start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  setenv(halvorn::mbn_linux::kPortVariable, helper_modem.device_path().c_str(), 1);
  const std::string sequence_port = sequence_modem.device_path();

  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(), nullptr);
  // The bare client's port is opened once, before any round, as the helper's is by its first
  // (unmeasured) call.
  std::unique_ptr<LibmbimClient> open_client = LibmbimClient::Open(
      open_modem.device_path(), LibmbimClient::Route::kDirect, kTimeoutS, &error);
  if (!open_client || !open_client->QueryDeviceServices(kTimeoutS, &error)) {
    std::fprintf(stderr, "libmbim: %s\n", error.c_str());
    return 1;
  }
  const std::vector<Spread> spreads = MicrosOf({
      [&] {
        std::int32_t level = 0;
        return helper.GetMbimCfun(&level) && level == 4;
      },
      [&] {
        return open_client->QueryRadioLevel(kTimeoutS).outcome ==
               halvorn::mbimsim::CommandResult::Outcome::kAnswered;
      },
      [&] {
        std::unique_ptr<LibmbimClient> client =
            LibmbimClient::Open(sequence_port, LibmbimClient::Route::kDirect, kTimeoutS, &error);
        if (!client || !client->QueryDeviceServices(kTimeoutS, &error)) {
          return false;
        }
        const bool answered = client->QueryRadioLevel(kTimeoutS).outcome ==
                              halvorn::mbimsim::CommandResult::Outcome::kAnswered;
        return client->Close(kTimeoutS, &error) && answered;
      },
  });
  open_client->Close(kTimeoutS, &error);
  open_client.reset();

  // Where the helper's time goes: its calls into the runtime one by one, as GetMbimCfun makes
  // them (the helper's own lines are not written: logging is not started here).
  halvorn::mbn_platform::Runtime& runtime = halvorn::mbn_platform::DefaultRuntime();
  enum Step { kModem, kService, kSend, kAnswer, kClose, kSteps };
  std::vector<std::vector<double>> steps(kSteps);
  for (int i = -5; i < kRounds; ++i) {
    Clock::time_point t[kSteps + 1];
    t[0] = Clock::now();
    std::unique_ptr<halvorn::mbn_platform::Modem> probe;
    std::unique_ptr<halvorn::mbn_platform::Modem> modem;
    runtime.GetDefaultModem(&probe);  // IsMbimModemExist
    runtime.GetDefaultModem(&modem);
    t[1] = Clock::now();
    std::unique_ptr<halvorn::mbn_platform::DeviceService> service;
    modem->GetDeviceService(halvorn::CMbnWinRtHelper::qbi_uuid, &service);
    t[2] = Clock::now();
    std::unique_ptr<halvorn::mbn_platform::CommandSession> session;
    service->OpenCommandSession(&session);
    static constexpr std::uint8_t kQuery[] = {0x00};
    std::unique_ptr<halvorn::mbn_platform::RequestBuffer> request;
    runtime.MakeRequest(kQuery, &request);
    std::unique_ptr<halvorn::mbn_platform::PendingCommand> pending;
    session->SendQuery(halvorn::CMbnWinRtHelper::CFUN_COMMAND_ID, *request, &pending);
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    pending->SetCompleted([&](halvorn::mbn_platform::AsyncStatus) {
      std::lock_guard<std::mutex> hold(lock);
      done = true;
      cv.notify_all();
    });
    t[3] = Clock::now();
    {
      std::unique_lock<std::mutex> hold(lock);
      cv.wait(hold, [&] { return done; });
    }
    t[4] = Clock::now();
    session->Close();
    session.reset();
    service.reset();
    modem.reset();
    probe.reset();
    t[5] = Clock::now();
    if (i >= 0) {
      for (int s = 0; s < kSteps; ++s) {
        steps[s].push_back(std::chrono::duration<double, std::micro>(t[s + 1] - t[s]).count());
      }
    }
  }
  const char* step_names[kSteps] = {
      "two default-modem lookups (getenv, stat)", "device service (a wait on the GLib thread)",
      "session, request, send, completion set", "until the completion is signalled",
      "session close, objects released"};
  std::printf("the helper's query step by step (medians of %d, us):\n", kRounds);
  for (int s = 0; s < kSteps; ++s) {
    std::sort(steps[s].begin(), steps[s].end());
    std::printf("  %-46s %8.1f\n", step_names[s], steps[s][steps[s].size() / 2]);
  }
  const Spread helper_us = spreads[0];
  const Spread bare_command_us = spreads[1];
  const Spread bare_sequence_us = spreads[2];
  const double mbimcli_us = RunMicros("mbimcli -d " + sequence_port + " --noop >/dev/null 2>&1");

  std::printf("rounds per figure: %d, interleaved (simulated modems, opened directly)\n", kRounds);
  std::printf("%-52s %9s %9s\n", "", "median us", "p99 us");
  std::printf("%-52s %9.1f %9.1f\n", "GetMbimCfun through the helper (port kept open)",
              helper_us.median, helper_us.p99);
  std::printf("%-52s %9.1f %9.1f\n", "bare libmbim, one query on an already-open port",
              bare_command_us.median, bare_command_us.p99);
  std::printf("%-52s %9.1f %9.1f\n", "bare libmbim, open, services, query, close",
              bare_sequence_us.median, bare_sequence_us.p99);
  std::printf("%-52s %9.3f %9.3f\n", "helper / bare query on an open port",
              helper_us.median / bare_command_us.median, helper_us.p99 / bare_command_us.p99);
  std::printf("%-52s %9.3f %9.3f\n", "helper / bare open to close",
              helper_us.median / bare_sequence_us.median, helper_us.p99 / bare_sequence_us.p99);
  if (mbimcli_us >= 0) {
    std::printf("one `mbimcli --noop` run (wall):                  %9.1f us\n", mbimcli_us);
  } else {
    std::printf("one `mbimcli --noop` run: mbimcli did not run\n");
  }
  // One line for scripts/bench.sh: figure, value, baseline, ratio, goal.
  std::printf(
      "TABLE|level query, helper vs bare on open port (median)|%.1f us|%.1f us|%.3f|<= 1.5\n",
      helper_us.median, bare_command_us.median, helper_us.median / bare_command_us.median);
  std::printf("TABLE|level query, helper vs bare on open port (p99)|%.1f us|%.1f us|%.3f|<= 1.5\n",
              helper_us.p99, bare_command_us.p99, helper_us.p99 / bare_command_us.p99);
  // A script's lower bound for radio on: two `mbimcli` spawns through the proxy (a query, then
  // the set), here two device-caps queries, on the same kind of simulated modem. The first
  // pair also starts mbim-proxy (it ends by itself once no client is left for a while).
  const std::set<long> proxies_before = ProxyPids();
  std::vector<double> pairs;
  for (int i = 0; i < 6; ++i) {
    const std::string query =
        "mbimcli -d " + sequence_port + " -p --query-device-caps >/dev/null 2>&1";
    const double first = RunMicros(query);
    const double second = RunMicros(query);
    if (first < 0 || second < 0) {
      break;
    }
    pairs.push_back(first + second);
  }
  // A proxy these runs started is ended again (by its id), as it would stay otherwise.
  for (long pid : ProxyPids()) {
    if (proxies_before.count(pid) == 0) {
      ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
  }
  if (pairs.size() >= 2) {
    const double cold = pairs.front();
    std::vector<double> warm(pairs.begin() + 1, pairs.end());
    std::sort(warm.begin(), warm.end());
    std::printf(
        "two `mbimcli -p --query-device-caps` runs: %.1f ms with the proxy started, "
        "%.1f ms median of %zu with it running\n",
        cold / 1000.0, warm[warm.size() / 2] / 1000.0, warm.size());
    std::printf(
        "TABLE|script lower bound: 2 x mbimcli -p (proxy running)|%.2f ms|10 ms|%.3f|"
        "report\n",
        warm[warm.size() / 2] / 1000.0, warm[warm.size() / 2] / 10000.0);
  } else {
    std::printf("two `mbimcli -p --query-device-caps` runs: mbimcli -p did not run\n");
  }
  if (argc > 1 && std::string(argv[1]) == "quick") {
    return 0;
  }
  return RunFaults();
}
