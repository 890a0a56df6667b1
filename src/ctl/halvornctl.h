// The diagnosis tool's command line and the gathering of its facts, over the same checks the
// authorisation job makes. Read-only: it never sets the radio level, never writes a log file
// (the logging facade is never started, so the checks' log calls write nothing) and never
// writes the registry.

#ifndef HALVORN_CTL_HALVORNCTL_H_
#define HALVORN_CTL_HALVORNCTL_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "auth/auth_module_job.h"
#include "ctl/ctl_platform.h"
#include "ctl/status.h"

namespace halvorn {

class LogFolderPlatform;

// The operating-system facts of the tool itself: the service manager and the privileges
// (`ctl`), the file system the service's log folder (LogHelper::BuildLogFolderPath) is read
// from (`log_files`), and the laptop that the checks read (`checked`: its firmware tables,
// devices and registry; the tool reads the firmware and the devices also on its own, for the
// facts it shows besides the checks' answers). All must outlive every use; the program passes
// the system's.
struct CtlSystem {
  ctl_platform::CtlPlatform& ctl;
  LogFolderPlatform& log_files;
  AuthModulePlatforms checked;
};

class CMbnWinRtHelper;

// The job's production checks over `checked` with the presence test and the level query of
// `modem`; both must outlive them. The set operation stays unbound: the tool has no way to set
// the level.
AuthModuleCollaborators StatusChecksFor(CMbnWinRtHelper& modem, const AuthModulePlatforms& checked);

// Gathers the facts, in the job's order, through `checks` (the job's own collaborators, made
// over system.checked; the set operation is never called) and `system`. The radio level is read
// only from the vendor's modem.
StatusFacts CollectStatus(const AuthModuleCollaborators& checks, const CtlSystem& system);

// "halvornctl status [--json]" and "halvornctl --help". Writes the answer to `out` (errors of
// the command line to `err`) and returns the exit code: 0 the radio is on, 1 it is blocked,
// 2 the tool could not run.
int RunHalvornCtl(const std::vector<std::string>& args,
                  std::ostream& out,
                  std::ostream& err,
                  const AuthModuleCollaborators& checks,
                  const CtlSystem& system);

}  // namespace halvorn

#endif  // HALVORN_CTL_HALVORNCTL_H_
