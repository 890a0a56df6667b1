#include "service/process_wiring.h"

#include "mbn/mbn_helper.h"
#include "util/common_util.h"

namespace halvorn {

TaskManagerHooks ProductionTaskManagerHooks() {
  TaskManagerHooks hooks;
  // The process-wide modem helper prepares and starts its account watcher when the
  // process-wide manager is made; its added-account handler files tasks with that manager.
  hooks.initModemHelper = [] { ProcessModemHelper().Init(); };
  hooks.startAccountWatcher = [] { ProcessModemHelper().StartMobileBroadbandAccountWatcher(); };
  hooks.restartService = [] { CommonUtil::RestartService(); };
  return hooks;
}

}  // namespace halvorn
