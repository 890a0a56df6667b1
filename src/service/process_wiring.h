// The task engine's hooks as the service binds them.

#ifndef HALVORN_SERVICE_PROCESS_WIRING_H_
#define HALVORN_SERVICE_PROCESS_WIRING_H_

#include "tasks/task_manager.h"

namespace halvorn {

class CMbnWinRtHelper;

// The process-wide modem helper. It has static storage and is constructed before the entry
// point: that is the process's first use of the runtime (on Windows it raises the process's use
// of the multithreaded apartment). Its account-added handler queues an authorisation task with
// CTaskManager::getInstance.
CMbnWinRtHelper& ProcessModemHelper();

// The production hooks of the process-wide manager: the system clock, sleeper and thread
// starter, the process-wide modem helper's Init and StartMobileBroadbandAccountWatcher, and
// CommonUtil::RestartService for the give-up of an authorisation task. The service passes them
// to CTaskManager::installProcessHooks before its first getInstance.
TaskManagerHooks ProductionTaskManagerHooks();

}  // namespace halvorn

#endif  // HALVORN_SERVICE_PROCESS_WIRING_H_
