// The modem helper's production command bound, waited for in real time: a command that never
// answers is given up no earlier than kCommandWait after it was sent.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fake_runtime.h"
#include "mbn/mbn_helper.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using testing::Completion;
using ::testing::Contains;
using testing::FakeRuntime;
using testing::LogCapture;

TEST(CommandRealBoundTest, AnUnansweredCommandIsWaitedForTheWholeProductionBound) {
  FakeRuntime runtime;
  CMbnWinRtHelper helper(runtime, nullptr);
  runtime.script.completion = Completion::kNever;
  LogCapture capture;
  std::int32_t level = 5;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(helper.GetMbimCfun(&level));
  const auto waited = std::chrono::steady_clock::now() - start;
  // Only the lower limit is checked: a busy machine may wake the waiter late, never early.
  EXPECT_GE(waited, CMbnWinRtHelper::kCommandWait);
  EXPECT_EQ(level, 5);
  EXPECT_THAT(capture.Lines(), Contains("T e :   async_state = Started"));
}

}  // namespace
}  // namespace halvorn
