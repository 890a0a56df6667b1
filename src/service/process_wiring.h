// The bindings of the process: what the service's entry point installs before the task engine
// is first used.

#ifndef HALVORN_SERVICE_PROCESS_WIRING_H_
#define HALVORN_SERVICE_PROCESS_WIRING_H_

#include "auth/auth_module_job.h"
#include "tasks/task_manager.h"

namespace halvorn {

class CMbnWinRtHelper;

// The process-wide modem helper. It has static storage and is constructed before the entry
// point: that is the process's first use of the runtime (on Windows it raises the process's use
// of the multithreaded apartment). Its account-added handler queues an authorisation task with
// CTaskManager::getInstance.
CMbnWinRtHelper& ProcessModemHelper();

// The hooks of the process-wide manager: the system clock, sleeper and thread starter; the
// process-wide modem helper's Init and StartMobileBroadbandAccountWatcher; the give-up policy
// by task name (GiveUpActionFor) with CommonUtil::RestartService for the authorisation task;
// and the authorisation job over the process-wide modem helper and `platforms` (the entry point
// passes AuthModulePlatforms::System(); they must outlive the process's manager).
TaskManagerHooks ProcessTaskManagerHooks(const AuthModulePlatforms& platforms);

// Installs ProcessTaskManagerHooks(platforms) as the hooks of the process-wide manager. The
// service's main routine calls it once, before its first CTaskManager::getInstance (that first call
// builds the manager, whose construction prepares and starts the account watcher, so the
// hooks must be in place by then). Returns false, changing nothing, when the manager already
// exists.
//
// `worker_starter`, when given, starts the manager's worker thread in place of the system's
// starter: the service's entry passes one that lets its stop tell when the worker has ended
// (service/worker_end.h).
bool InstallProcessWiring(const AuthModulePlatforms& platforms,
                          decltype(TaskManagerHooks::startThread) worker_starter = {});

}  // namespace halvorn

#endif  // HALVORN_SERVICE_PROCESS_WIRING_H_
