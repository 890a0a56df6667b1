// The process-wide mobile-broadband helper.

#include "mbn/mbn_helper.h"
#include "tasks/task_manager.h"

namespace halvorn {

namespace {

// Constructed before main: the process's first use of the runtime.
CMbnWinRtHelper g_mbn_helper(mbn_platform::DefaultRuntime(), &CTaskManager::getInstance);

}  // namespace

CMbnWinRtHelper& CMbnWinRtHelper::Instance() {
  return g_mbn_helper;
}

}  // namespace halvorn
