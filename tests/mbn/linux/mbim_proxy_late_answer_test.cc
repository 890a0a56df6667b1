// Late answers through mbim-proxy, the route production takes. The helper waits out its
// production bound on the two commands that get no answer in time: a short bound would race
// the proxy, which forwards a command to the modem only while its client is still connected,
// against the helper dropping the port when it gives up.

#include <gtest/gtest.h>

#include "mbn/linux/mbim_end_to_end.h"

namespace halvorn {
namespace {

using testing::ExpectLateAnswersCompleteNothing;
using testing::LateAnswers;
using testing::MbimProxyEndToEndTest;

TEST_F(MbimProxyEndToEndTest, LateAnswersNeverCompleteLaterCommands) {
  StartModem(LateAnswers());
  ExpectLateAnswersCompleteNothing(*helper_, *helper_, *simulator_);
}

}  // namespace
}  // namespace halvorn
