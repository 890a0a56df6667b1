// The process-wide mobile-broadband helper, over the runtime of this build.

#include "mbn/mbn_helper.h"
#include "mbn/mbn_platform.h"
#include "service/process_wiring.h"
#include "service/task_wiring.h"
#include "tasks/task_manager.h"

namespace halvorn {

namespace {

// Static storage, constructed before the entry point: its first watcher is the process's
// first use of the runtime (which, on Windows, raises the process's use of the multithreaded
// apartment for good). Destroyed at exit, which releases the account watcher. Every added
// account queues an authorisation task with the process-wide manager.
CMbnWinRtHelper g_mbn_helper(mbn_platform::DefaultRuntime(),
                             QueueAuthModuleTaskOn(&CTaskManager::getInstance));

}  // namespace

CMbnWinRtHelper& ProcessModemHelper() {
  return g_mbn_helper;
}

}  // namespace halvorn
