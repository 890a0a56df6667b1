// The process's bindings link on this build and leave no hook of the process-wide manager
// unbound (an unbound hook is skipped silently by the manager).

#include "service/process_wiring.h"

#include <gtest/gtest.h>

#include "tasks/task_manager.h"

namespace halvorn {
namespace {

TEST(ProcessWiringTest, EveryHookOfTheProcessManagerIsBound) {
  const TaskManagerHooks hooks = ProcessTaskManagerHooks(AuthModulePlatforms::System());
  EXPECT_TRUE(hooks.initModemHelper);
  EXPECT_TRUE(hooks.startAccountWatcher);
  EXPECT_TRUE(hooks.restartService);
  EXPECT_TRUE(hooks.tickCountMs);
  EXPECT_TRUE(hooks.sleepMs);
  EXPECT_TRUE(hooks.startThread);
  EXPECT_TRUE(hooks.authModuleJob);
  ASSERT_TRUE(hooks.giveUpPolicy);
  EXPECT_EQ(hooks.giveUpPolicy("CTaskAuthModule"), GiveUpAction::kRestartService);
}

}  // namespace
}  // namespace halvorn
