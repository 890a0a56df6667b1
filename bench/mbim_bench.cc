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

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// Median microseconds of each of `rounds`, run in turn kRounds times (after a few unmeasured
// runs), so that a change of the machine's load hits all of them alike.
std::vector<double> MedianMicros(const std::vector<std::function<bool()>>& rounds) {
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
  std::vector<double> medians;
  for (std::vector<double>& s : samples) {
    std::sort(s.begin(), s.end());
    medians.push_back(s[s.size() / 2]);
  }
  return medians;
}

// Wall time of one program run, in microseconds; negative when it could not run.
double RunMicros(const std::string& command) {
  const Clock::time_point start = Clock::now();
  const int rc = std::system(command.c_str());
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  return rc == 0 ? micros : -1;
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
  halvorn::mbimsim::ModemOptions options;
  options.initial_level = 4;
  halvorn::mbimsim::Simulator helper_modem(options);
  halvorn::mbimsim::Simulator bare_modem(options);
  std::string error;
  if (!helper_modem.Start(&error) || !bare_modem.Start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  setenv(halvorn::mbn_linux::kPortVariable, helper_modem.device_path().c_str(), 1);
  const std::string port = bare_modem.device_path();

  halvorn::CMbnWinRtHelper helper(halvorn::mbn_platform::DefaultRuntime(), nullptr);
  const std::vector<double> medians = MedianMicros({
      [&] {
        std::int32_t level = 0;
        return helper.GetMbimCfun(&level) && level == 4;
      },
      [&] {
        std::unique_ptr<LibmbimClient> client =
            LibmbimClient::Open(port, LibmbimClient::Route::kDirect, kTimeoutS, &error);
        if (!client || !client->QueryDeviceServices(kTimeoutS, &error)) {
          return false;
        }
        const bool answered = client->QueryRadioLevel(kTimeoutS).outcome ==
                              halvorn::mbimsim::CommandResult::Outcome::kAnswered;
        return client->Close(kTimeoutS, &error) && answered;
      },
  });
  const double helper_us = medians[0];
  const double bare_sequence_us = medians[1];

  // One command on a port that stays open.
  std::unique_ptr<LibmbimClient> open_client =
      LibmbimClient::Open(port, LibmbimClient::Route::kDirect, kTimeoutS, &error);
  if (!open_client) {
    std::fprintf(stderr, "libmbim: %s\n", error.c_str());
    return 1;
  }
  const double bare_command_us = MedianMicros({[&] {
    return open_client->QueryRadioLevel(kTimeoutS).outcome ==
           halvorn::mbimsim::CommandResult::Outcome::kAnswered;
  }})[0];
  open_client->Close(kTimeoutS, &error);
  open_client.reset();
  const double mbimcli_us = RunMicros("mbimcli -d " + port + " --noop >/dev/null 2>&1");

  std::printf("rounds per figure: %d, medians (simulated modems, opened directly)\n", kRounds);
  std::printf("GetMbimCfun through the helper (port kept open):  %9.1f us\n", helper_us);
  std::printf("bare libmbim, one query on an open port:          %9.1f us\n", bare_command_us);
  std::printf("bare libmbim, open, services, query, close:       %9.1f us\n", bare_sequence_us);
  std::printf("helper / bare one command:                        %9.3f\n",
              helper_us / bare_command_us);
  std::printf("helper / bare open to close:                      %9.3f\n",
              helper_us / bare_sequence_us);
  if (mbimcli_us >= 0) {
    std::printf("one `mbimcli --noop` run (wall):                  %9.1f us\n", mbimcli_us);
  } else {
    std::printf("one `mbimcli --noop` run: mbimcli did not run\n");
  }
  return RunFaults();
}
