// What the service gives the task engine besides the modem: the give-up policy, and the
// queueing of an authorisation task when a modem account is added.

#ifndef HALVORN_SERVICE_TASK_WIRING_H_
#define HALVORN_SERVICE_TASK_WIRING_H_

#include <functional>

#include "tasks/task_manager.h"

namespace halvorn {

// The give-up policy, chosen by the task's name without regard to case: "CTaskAuthModule"
// restarts the service, "CTaskUnzipFirmware" clears its priority's runs, any other is given up.
GiveUpAction GiveUpActionFor(const char* name);

// The account-added callback of a modem helper: gets the manager from `manager`
// (CTaskManager::getInstance for the process's helper), asks CTaskFactory::createTask for an
// authorisation task owned by it and hands the task to its addTask. Adds nothing when there is
// no manager or no task. Usable from any thread.
std::function<void()> QueueAuthModuleTaskOn(std::function<CTaskManager*()> manager);

}  // namespace halvorn

#endif  // HALVORN_SERVICE_TASK_WIRING_H_
