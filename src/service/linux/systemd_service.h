// The service manager of the Linux build: systemd's notify protocol for the status reports,
// SIGTERM and SIGINT as the stop control. Also runs without systemd, in the foreground.
//
// The dispatcher plays the Service Control Manager's part: it starts the service main routine
// on a thread of its own and runs the control handler on the calling thread. The stop signals
// are read from a signal file descriptor there, never acted on in a signal handler; they must
// be blocked in every thread of the process (BlockStopSignals, before the first thread starts).
// A stop that arrives before the service accepts it (during start-up) is held and delivered once
// a report announces the stop control, so that no SIGTERM is ever lost.
//
// Every report goes to systemd at once (notify_message.h). READY=1 waits for the first wait on
// the stop event: only then has the run step queued the authorisation task, and a start that
// systemd reports done means the job is on its way. A stop reported first sends no READY=1:
// the stop control runs on the dispatcher while the service main routine reaches its wait, and
// systemd must never read "ready" after "stopping".
// Each message sent is also written to the log ("notify : ...").

#ifndef HALVORN_SERVICE_LINUX_SYSTEMD_SERVICE_H_
#define HALVORN_SERVICE_LINUX_SYSTEMD_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "service/service_host.h"
#include "util/linux/scoped_fd.h"

namespace halvorn::service {

// Blocks SIGTERM and SIGINT in the calling thread, and so in every thread it starts later.
void BlockStopSignals();

class SystemdServiceManager final : public ServicePlatform {
 public:
  SystemdServiceManager();
  SystemdServiceManager(const SystemdServiceManager&) = delete;
  SystemdServiceManager& operator=(const SystemdServiceManager&) = delete;

  // ServicePlatform. The control handler is registered when the dispatcher has its signal
  // descriptor; each status goes to systemd as NotifyMessage says.
  bool RegisterControlHandler() override;
  void SetServiceStatus(const ServiceStatus& status) override;
  std::unique_ptr<StopEvent> CreateStopEvent() override;
  void JoinApartment() override {}
  void LeaveApartment() override {}

  // Runs `host`'s ServiceMain on a new thread and delivers the stop control on this one until
  // it has returned. 0 then; the errno value at once when no signal descriptor or thread can be
  // made.
  std::uint32_t RunDispatcher(ServiceHost& host);

  // Sends READY=1 unless a stop pending or stopped report has been sent.
  void NotifyReady();

 private:
  // Sends `message` (sd_notify) and logs it; the first message without a listener says so
  // once. Call with notify_lock_ held.
  void SendLocked(const std::string& message);
  void Wake();

  ScopedFd signals_;  // SIGTERM and SIGINT, from the dispatcher's start
  ScopedFd wake_;     // eventfd: a status report or the end of ServiceMain
  std::atomic<bool> accepts_stop_{false};
  std::atomic<bool> main_returned_{false};
  std::mutex notify_lock_;
  bool told_no_manager_ = false;  // guarded by notify_lock_
  bool stop_told_ = false;        // guarded by notify_lock_
};

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_SYSTEMD_SERVICE_H_
