// The process entry of the service: crash filter, logging, the dispatcher, and the end of the
// process. Portable; the dispatcher and the crash filter are reached through EntryPlatform.

#ifndef HALVORN_SERVICE_SERVICE_ENTRY_H_
#define HALVORN_SERVICE_SERVICE_ENTRY_H_

#include <cstdint>

namespace halvorn::service {

class EntryPlatform {
 public:
  virtual ~EntryPlatform() = default;
  // Makes the crash dump handler the process's last-chance exception handler.
  virtual void InstallCrashFilter() = 0;
  // Makes the service's process-wide objects and binds the task engine to them, before the
  // dispatcher can start the service. Writes no line.
  virtual void PrepareService() = 0;
  // Connects to the service manager and runs the service until it has stopped: 0 then, or
  // at once the system error code when the process was not started as a service.
  virtual std::uint32_t RunDispatcher() = 0;
  // Waits until the service main routine, if it ran, has returned.
  virtual void AwaitServiceMain() = 0;
  // Ends the process with `code` at once: the other threads stop where they are and no
  // destructor of process-wide state runs. Does not return in production.
  virtual void EndProcessNow(std::uint32_t code) = 0;
};

// Installs the crash filter, starts logging, writes the entry banner with the build date and
// time ("Mmm dd yyyy", "hh:mm:ss"), prepares the service and runs the dispatcher. Returns the exit
// code of the process: 0, or the dispatcher's error code.
std::uint32_t RunServiceProcess(EntryPlatform& platform,
                                const char* build_date,
                                const char* build_time);

// The last step of the process: shuts logging down (every line written so far reaches the
// file) and ends the process with `code`. Process-wide objects (the task manager, the modem
// helper, the logging facade) are never destroyed, so a task worker still busy past the stop's
// bound cannot find them gone; once logging is down its later lines are dropped whole.
void EndServiceProcess(EntryPlatform& platform, std::uint32_t code);

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_SERVICE_ENTRY_H_
