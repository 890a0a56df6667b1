// halvornd: the service as a systemd daemon (Type=notify). The same service host as the Windows
// build's, over the Linux backends: systemd for the service manager, logind for the power
// events, the journal for the logon time, a signal handler for the crash dumps.
//
// Runs in the foreground, also without systemd. SIGTERM and SIGINT stop it.

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "service/linux/crash_handler.h"
#include "service/linux/logind_power.h"
#include "service/linux/systemd_service.h"
#include "service/power_events.h"
#include "service/process_wiring.h"
#include "service/service_entry.h"
#include "service/service_host.h"
#include "service/worker_end.h"
#include "tasks/task_manager.h"

namespace halvorn::service {
namespace {

// Before every static constructor of the program: the process-wide modem helper starts its
// GLib thread before main, and each thread must have the stop signals blocked for the dispatcher
// to be the only one that receives them.
__attribute__((constructor(101))) void BlockStopSignalsFirst() {
  BlockStopSignals();
}

class DaemonEntry final : public EntryPlatform {
 public:
  void InstallCrashFilter() override { InstallCrashHandler(); }

  void PrepareService() override {
    // The task engine's hooks, with the worker's end made visible to the stop.
    InstallProcessWiring(AuthModulePlatforms::System(), worker_end_.WrapStarter());
    power_events_ = std::make_unique<PowerEvents>(power_, &CTaskManager::getInstance);
    power_.SetReceiver(
        [events = power_events_.get()](std::uint32_t type) { events->PowerChanged(type); });
    host_ = std::make_unique<ServiceHost>(
        manager_, *power_events_,
        TaskEngineAccess{&CTaskManager::getInstance,
                         [this](std::uint32_t bound_ms) { return worker_end_.WaitFor(bound_ms); }});
  }

  std::uint32_t RunDispatcher() override { return manager_.RunDispatcher(*host_); }

  void AwaitServiceMain() override {
    if (host_) {
      host_->WaitForServiceMainReturn();
    }
  }

  [[noreturn]] void EndProcessNow(std::uint32_t code) override {
    ::_exit(static_cast<int>(code & 0xFF));
  }

 private:
  SystemdServiceManager manager_;
  LogindPower power_;
  WorkerEndWatch worker_end_;
  std::unique_ptr<PowerEvents> power_events_;
  std::unique_ptr<ServiceHost> host_;
};

}  // namespace
}  // namespace halvorn::service

int main() {
  // Never destroyed: the process ends in EndServiceProcess, with threads that may still use it.
  auto* entry = new halvorn::service::DaemonEntry();
  const std::uint32_t code = halvorn::service::RunServiceProcess(*entry, __DATE__, __TIME__);
  halvorn::service::EndServiceProcess(*entry, code);
  return static_cast<int>(code);
}
