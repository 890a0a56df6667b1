// The production bindings link on this build and leave no hook of the process-wide manager
// unbound (an unbound hook is skipped silently by the manager).

#include <gtest/gtest.h>

#include "service/process_wiring.h"

namespace halvorn {
namespace {

TEST(ProductionWiringTest, EveryHookOfTheProcessManagerIsBound) {
  const TaskManagerHooks hooks = ProductionTaskManagerHooks();
  EXPECT_TRUE(hooks.initModemHelper);
  EXPECT_TRUE(hooks.startAccountWatcher);
  EXPECT_TRUE(hooks.restartService);
  EXPECT_TRUE(hooks.tickCountMs);
  EXPECT_TRUE(hooks.sleepMs);
  EXPECT_TRUE(hooks.startThread);
}

}  // namespace
}  // namespace halvorn
