#include "mbn/mbn_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fake_runtime.h"
#include "mbn/helper_log.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using mbn_platform::AsyncStatus;
using testing::Completion;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeRuntime;
using testing::LogCapture;
using ::testing::Not;
using testing::Raise;
using testing::SuccessfulQueryLines;
using testing::SuccessfulSetLines;

constexpr const char* kNoService =
    "GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}";

class CommandTest : public ::testing::Test {
 protected:
  FakeRuntime runtime_;
  CMbnWinRtHelper helper_{runtime_, nullptr};
};

TEST_F(CommandTest, QueryReadsTheLevelWithEveryLine) {
  runtime_.script.response = {0x04, 0x00, 0x00, 0x00};
  LogCapture capture;
  std::int32_t level = -7;
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  EXPECT_THAT(capture.Lines(), ElementsAreArray(SuccessfulQueryLines(4, "5678ef00")));
  // The request is the single byte 00, sent to command 1 of the vendor service.
  EXPECT_THAT(runtime_.record.sent, ElementsAre("query 1 00"));
  EXPECT_EQ(runtime_.record.service_id, CMbnWinRtHelper::qbi_uuid);
  EXPECT_EQ(runtime_.record.closes, 1);
}

TEST_F(CommandTest, SetSendsLevelOneWithEveryLine) {
  LogCapture capture;
  EXPECT_TRUE(helper_.SetMbimCfun());
  EXPECT_THAT(capture.Lines(), ElementsAreArray(SuccessfulSetLines()));
  EXPECT_THAT(runtime_.record.sent, ElementsAre("set 1 01000000"));
  EXPECT_EQ(runtime_.record.closes, 1);
}

// One row per outcome of a command; `line` is the decisive line, which must stand just before
// the exit trace line.
struct Outcome {
  const char* name;
  void (*script)(FakeRuntime&);
  bool query_ok;
  const char* query_line;
  bool set_ok;
  const char* set_line;
  bool closed;  // the session was closed
};

const Outcome kOutcomes[] = {
    {"NoModem", [](FakeRuntime& rt) { rt.script.modem_lookups_present = 0; },  //
     false, "T i :   MBIM Device is not exist.", false, "T i :   MBIM Device is not exist.", false},
    {"ModemGoneBySecondLookup", [](FakeRuntime& rt) { rt.script.modem_lookups_present = 1; }, false,
     "T e :   MBIM Modem is not exist!", false, "T e :   MBIM Modem is not exist!", false},
    {"NoVendorService", [](FakeRuntime& rt) { rt.script.has_service = false; },  //
     false, "T e :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}",
     false, "T i :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}",
     false},
    {"NoSession", [](FakeRuntime& rt) { rt.script.has_session = false; },  //
     false, "T e :   OpenCommandSession() failed.", false, "T i :   OpenCommandSession() failed.",
     false},
    {"NonZeroStatus", [](FakeRuntime& rt) { rt.script.status_code = 0x87430002u; },  //
     false, "T e :   result status code = -2025652222\n", false,
     "T i :   result status code = -2025652222\n", true},
    {"Canceled", [](FakeRuntime& rt) { rt.script.final_status = AsyncStatus::kCanceled; },  //
     false, "T e :   async_state = Canceled", false, "T i :   async_state = Canceled", true},
    {"ErrorState", [](FakeRuntime& rt) { rt.script.final_status = AsyncStatus::kError; },  //
     false, "T e :   async_state = Error", false, "T i :   async_state = Error", true},
    {"ShortResponse",
     [](FakeRuntime& rt) {
       rt.script.response = {0x01, 0x00, 0x00};
     },  //
     false, "T e :   query response too short: 3 bytes", true, "T i :   set cfun successful.",
     true},
    {"FifthByteIgnored",
     [](FakeRuntime& rt) {
       rt.script.response = {1, 0, 0, 0, 0xFF};
     },  //
     true, "T i :   query command complete. cfun mode = 1.", true, "T i :   set cfun successful.",
     true},
    {"CompletedFromAnotherThread",
     [](FakeRuntime& rt) { rt.script.completion = Completion::kOnOtherThread; },  //
     true, "T i :   query command complete. cfun mode = 1.", true, "T i :   set cfun successful.",
     true},
    {"RaisedStdFailure",
     [](FakeRuntime& rt) {
       rt.script.raise = Raise::kGetDeviceService;
       rt.script.raise_std = true;
     },
     false, "T e :   exception : bad allocation", false, "T i :   exception : bad allocation",
     false},
    {"RaisedOtherFailureOnSend", [](FakeRuntime& rt) { rt.script.raise = Raise::kSend; },  //
     false, "T e :   exception other", false, "T i :   exception other", false},
    {"RaisedOnSecondModemLookup",
     [](FakeRuntime& rt) { rt.script.raise = Raise::kGetDefaultModemSecond; },  //
     false, "T e :   exception other", false, "T i :   exception other", false},
    {"CloseFailsAfterSuccess", [](FakeRuntime& rt) { rt.script.raise = Raise::kClose; },  //
     true, "T e :   exception other", true, "T i :   exception other", false},
};

class OutcomeTest : public ::testing::TestWithParam<Outcome> {};

TEST_P(OutcomeTest, QueryAndSet) {
  const Outcome& o = GetParam();
  for (bool query : {true, false}) {
    SCOPED_TRACE(query ? "query" : "set");
    FakeRuntime runtime;
    o.script(runtime);
    CMbnWinRtHelper helper(runtime, nullptr);
    LogCapture capture;
    std::int32_t level = 99;
    const bool ok = query ? helper.GetMbimCfun(&level) : helper.SetMbimCfun();
    auto lines = capture.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(ok, query ? o.query_ok : o.set_ok);
    EXPECT_EQ(lines[lines.size() - 2], query ? o.query_line : o.set_line);
    EXPECT_EQ(lines.back(), query ? "T h : - CMbnWinRtHelper::GetMbimCfun"
                                  : "T h : - CMbnWinRtHelper::SetMbimCfun");
    EXPECT_EQ(runtime.record.closes, o.closed ? 1 : 0);
    if (query && !o.query_ok) {
      EXPECT_EQ(level, 99);  // the caller's value stays
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes,
                         OutcomeTest,
                         ::testing::ValuesIn(kOutcomes),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(CommandTest, NoModemAsksForNoDeviceService) {
  runtime_.script.modem_lookups_present = 0;
  EXPECT_FALSE(helper_.GetMbimCfun(nullptr));
  EXPECT_FALSE(helper_.SetMbimCfun());
  EXPECT_EQ(runtime_.record.service_lookups, 0);
}

TEST_F(CommandTest, CloseFailingAfterASuccessfulQueryStillGivesTheLevel) {
  runtime_.script.raise = Raise::kClose;
  runtime_.script.response = {0x04, 0, 0, 0};
  std::int32_t level = 0;
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
}

// A command that never answers, with a short bound in place of the production one (the real
// 2-second bound has its own test, mbn_helper_bound_test).
TEST(CommandBoundTest, NoAnswerEndsAsStartedAndALateAnswerIsHarmless) {
  FakeRuntime runtime;
  CMbnWinRtHelper helper(runtime, nullptr, std::chrono::milliseconds(20));
  runtime.script.completion = Completion::kNever;
  LogCapture capture;
  std::int32_t level = 5;
  EXPECT_FALSE(helper.GetMbimCfun(&level));
  EXPECT_EQ(level, 5);
  EXPECT_EQ(runtime.record.closes, 1);
  // The answer arrives after the wait has given up: it only reaches the orphaned state.
  ASSERT_TRUE(runtime.record.pending_handler);
  runtime.record.pending_handler(AsyncStatus::kCompleted);
  runtime.record.pending_handler = nullptr;
  EXPECT_FALSE(helper.SetMbimCfun());
  auto lines = capture.Lines();
  EXPECT_THAT(lines, Contains("T e :   async_state = Started"));
  EXPECT_THAT(lines, Contains("T i :   async_state = Started"));
}

TEST(MbnRuntimeTest, PresenceTestWritesNothingAndTreatsAFailedLookupAsNoModem) {
  FakeRuntime runtime;
  CMbnWinRtHelper helper(runtime, nullptr);
  LogCapture capture;
  EXPECT_TRUE(helper.IsMbimModemExist());
  runtime.script.modem_lookups_present = 0;
  EXPECT_FALSE(helper.IsMbimModemExist());
  runtime.script.modem_lookups_present = 1000;
  runtime.record.modem_lookups = 1;
  runtime.script.raise = Raise::kGetDefaultModemSecond;
  EXPECT_FALSE(helper.IsMbimModemExist());
  EXPECT_THAT(capture.Lines(), ElementsAre());
}

}  // namespace
}  // namespace halvorn
