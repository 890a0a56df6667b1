#include "service/process_wiring.h"

#include <utility>

#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "service/task_wiring.h"
#include "util/common_util.h"

namespace halvorn {

TaskManagerHooks ProcessTaskManagerHooks(const AuthModulePlatforms& platforms) {
  TaskManagerHooks hooks;
  // The process-wide modem helper prepares and starts its account watcher when the
  // process-wide manager is made; its added-account handler files tasks with that manager.
  hooks.initModemHelper = [] { ProcessModemHelper().Init(); };
  hooks.startAccountWatcher = [] { ProcessModemHelper().StartMobileBroadbandAccountWatcher(); };
  hooks.restartService = [] { CommonUtil::RestartService(); };
  hooks.giveUpPolicy = &GiveUpActionFor;
  hooks.authModuleJob =
      MakeAuthModuleJob(AuthModuleCollaboratorsFor(ProcessModemHelper(), platforms));
  return hooks;
}

bool InstallProcessWiring(const AuthModulePlatforms& platforms,
                          decltype(TaskManagerHooks::startThread) worker_starter) {
  TaskManagerHooks hooks = ProcessTaskManagerHooks(platforms);
  if (worker_starter) {
    hooks.startThread = std::move(worker_starter);
  }
  return CTaskManager::installProcessHooks(std::move(hooks));
}

}  // namespace halvorn
