// What the Linux runtime's end-to-end tests share: the late-answer check, which runs on the
// direct route and through mbim-proxy, and the fixture of the mbim-proxy route.

#ifndef HALVORN_TESTS_MBN_LINUX_MBIM_END_TO_END_H_
#define HALVORN_TESTS_MBN_LINUX_MBIM_END_TO_END_H_

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mbn/linux/glib_thread.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "private_proxy.h"
#include "simulator.h"
#include "support/log_capture.h"

namespace halvorn::testing {

// A device may send an answer after the helper has given up on it, also after the port was
// closed and opened again. Such an answer is never taken for a later command's: the query's
// late answer does not complete the set (the set was carried out, but not answered in
// time), and the set's late answer does not complete the next query.
// `unanswered` makes the two calls that get no answer in time, `helper` the answered one.
inline void ExpectLateAnswersCompleteNothing(CMbnWinRtHelper& unanswered,
                                             CMbnWinRtHelper& helper,
                                             const mbimsim::Simulator& simulator) {
  LogCapture capture;
  std::int32_t level = 7;
  EXPECT_FALSE(unanswered.GetMbimCfun(&level));
  EXPECT_EQ(level, 7);
  EXPECT_FALSE(unanswered.SetMbimCfun());
  // The modem has read the set once it answers the query after it (the set's call may give up
  // before the modem reads it).
  EXPECT_TRUE(helper.GetMbimCfun(&level));
  EXPECT_EQ(level, 1);
  EXPECT_EQ(simulator.level(), 1);
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_THAT(lines, ::testing::Contains("T e :   async_state = Started"));
  EXPECT_THAT(lines, ::testing::Contains("T i :   async_state = Started"));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains("T i :   set cfun successful.")));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(
                         ::testing::StartsWith("T e :   query response too short"))));
  EXPECT_THAT(simulator.VendorCommands(),
              ::testing::ElementsAre("query 00", "set 01000000", "query 00"));
}

inline mbimsim::ModemOptions LateAnswers() {
  mbimsim::ModemOptions options;
  options.initial_level = 4;
  options.fault = mbimsim::Fault::kLateAnswer;  // held back until the next radio-level command
  options.fault_count = 2;                      // the first query and the first set
  return options;
}

// The route production takes: through mbim-proxy (a private one; root only). The runtime and
// its GLib thread are made after the proxy, so that they share its network namespace.
class MbimProxyEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string skip;
    std::string error;
    proxy_ = mbimsim::PrivateMbimProxy::Start(kProxyPatienceMs, &skip, &error);
    if (!skip.empty()) {
      GTEST_SKIP() << skip;
    }
    ASSERT_TRUE(proxy_) << error;
    UnsetEnv(mbn_linux::kProxyVariable);
    glib_ = std::make_unique<mbn_linux::GlibThread>();
    runtime_ = std::make_unique<mbn_linux::MbimRuntime>(*glib_);
    helper_ = std::make_unique<CMbnWinRtHelper>(*runtime_, nullptr);
  }
  void TearDown() override {
    helper_.reset();
    runtime_.reset();
    glib_.reset();
    UnsetEnv(mbn_linux::kPortVariable);
  }

  void StartModem(mbimsim::ModemOptions options) {
    simulator_ = std::make_unique<mbimsim::Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    SetEnv(mbn_linux::kPortVariable, simulator_->device_path());
  }

  static constexpr int kProxyPatienceMs = 30000;
  std::unique_ptr<mbimsim::PrivateMbimProxy> proxy_;
  std::unique_ptr<mbimsim::Simulator> simulator_;
  std::unique_ptr<mbn_linux::GlibThread> glib_;
  std::unique_ptr<mbn_linux::MbimRuntime> runtime_;
  std::unique_ptr<CMbnWinRtHelper> helper_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_MBN_LINUX_MBIM_END_TO_END_H_
