#include "tasks/production_hooks.h"

#include "util/common_util.h"

namespace halvorn {

TaskManagerHooks ProductionTaskManagerHooks() {
  TaskManagerHooks hooks;
  hooks.restartService = [] { CommonUtil::RestartService(); };
  return hooks;
}

}  // namespace halvorn
