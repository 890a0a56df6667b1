// The process-wide mobile-broadband helper, over the runtime of this build. Built only where
// the build has a runtime backend.

#include "mbn/mbn_helper.h"
#include "mbn/mbn_platform.h"
#include "tasks/task_manager.h"

namespace halvorn {

namespace {

// Static storage, constructed before the entry point: its first watcher is the process's
// first use of the runtime (which, on Windows, raises the process's use of the multithreaded
// apartment for good). Destroyed at exit, which releases the account watcher.
CMbnWinRtHelper g_mbn_helper(mbn_platform::DefaultRuntime(), &CTaskManager::getInstance);

}  // namespace

CMbnWinRtHelper& CMbnWinRtHelper::Instance() {
  return g_mbn_helper;
}

}  // namespace halvorn
