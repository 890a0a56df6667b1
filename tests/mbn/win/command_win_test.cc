// The radio function commands through the real Windows backend, against the fake provider
// activated by the runtime itself.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fake_provider_client.h"
#include "mbn/helper_log.h"
#include "mbn/mbn_helper.h"
#include "mbn/win/runtime_win.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeProvider;
using testing::LogCapture;
using testing::SuccessfulQueryLines;
using testing::SuccessfulSetLines;

constexpr const char* kGetExit = "T h : - CMbnWinRtHelper::GetMbimCfun";
constexpr const char* kSetExit = "T h : - CMbnWinRtHelper::SetMbimCfun";

class CommandWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider_ = FakeProvider::Get();
    ASSERT_NE(provider_, nullptr);
  }

  // A fresh runtime and helper over the provider with `script`.
  void Start(const FakeScript& script) {
    provider_->Reset(script);
    runtime_ = mbn_win::CreateWinRuntime();
    helper_ = std::make_unique<CMbnWinRtHelper>(*runtime_, nullptr);
  }

  // Drops helper and runtime; then nothing the provider made may be alive.
  void ExpectAllReleased() {
    helper_.reset();
    runtime_.reset();
    provider_->WaitIdle();
    const FakeRecord record = provider_->Record();
    EXPECT_EQ(record.objects_alive, 0);
    EXPECT_EQ(record.factories_alive, 0);
  }

  FakeProvider* provider_ = nullptr;
  std::unique_ptr<mbn_platform::Runtime> runtime_;
  std::unique_ptr<CMbnWinRtHelper> helper_;
};

std::vector<std::uint8_t> BytesOf(const FakeCommand& c) {
  return std::vector<std::uint8_t>(c.bytes, c.bytes + std::min<std::uint32_t>(c.length, 16));
}

TEST_F(CommandWinTest, QueryReadsLevelFourFromTheVendorService) {
  FakeScript script = provider_->DefaultScript();
  script.response[0] = 0x04;
  Start(script);
  LogCapture capture;
  std::int32_t level = -7;
  EXPECT_TRUE(helper_->GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  const FakeRecord record = provider_->Record();
  // The session line shows the low 32 bits of the session object's address.
  char session[16];
  std::snprintf(session, sizeof session, "%x", record.session_address_low);
  EXPECT_THAT(capture.Lines(), ElementsAreArray(SuccessfulQueryLines(4, session)));

  // The runtime was asked for {11223344-5566-7788-99AA-BBCCDDEEFF11}.
  const GUID vendor = {
      0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11}};
  EXPECT_TRUE(IsEqualGUID(record.service_id, vendor));
  // One query of command 1 with the single byte 00, then the session was closed.
  ASSERT_EQ(record.command_count, 1);
  EXPECT_EQ(record.commands[0].set, 0);
  EXPECT_EQ(record.commands[0].command_id, 1u);
  EXPECT_THAT(BytesOf(record.commands[0]), ElementsAre(0x00));
  EXPECT_EQ(record.sessions_closed, 1);
  EXPECT_EQ(record.default_lookups, 2);  // the presence test, then the command's own lookup
  EXPECT_EQ(record.bad_handler, 0);
  ExpectAllReleased();
}

TEST_F(CommandWinTest, SetSendsLevelOne) {
  Start(provider_->DefaultScript());
  LogCapture capture;
  EXPECT_TRUE(helper_->SetMbimCfun());
  EXPECT_THAT(capture.Lines(), ElementsAreArray(SuccessfulSetLines()));
  const FakeRecord record = provider_->Record();
  ASSERT_EQ(record.command_count, 1);
  EXPECT_EQ(record.commands[0].set, 1);
  EXPECT_EQ(record.commands[0].command_id, 1u);
  EXPECT_THAT(BytesOf(record.commands[0]), ElementsAre(0x01, 0x00, 0x00, 0x00));
  EXPECT_EQ(record.sessions_closed, 1);
  ExpectAllReleased();
}

// One row per outcome; `*_line` is the decisive line, just before the exit trace line.
struct Outcome {
  const char* name;
  void (*script)(FakeScript&);
  bool query_ok;
  std::int32_t level;  // the level read when query_ok
  const char* query_line;
  bool set_ok;
  const char* set_line;
  int query_closed;  // sessions closed by the query
  int set_closed;    // sessions closed by the set
};

void PrintTo(const Outcome& outcome, std::ostream* os) {
  *os << outcome.name;
}

void Fail(FakeScript& s, FakeFailPoint at, HRESULT hr) {
  s.fail_at = at;
  s.fail_hr = hr;
}

const Outcome kOutcomes[] = {
    {"NoModem", [](FakeScript& s) { s.modem_lookups_present = 0; }, false, 0,
     "T i :   MBIM Device is not exist.", false, "T i :   MBIM Device is not exist.", 0, 0},
    {"ModemGoneBySecondLookup", [](FakeScript& s) { s.modem_lookups_present = 1; }, false, 0,
     "T e :   MBIM Modem is not exist!", false, "T e :   MBIM Modem is not exist!", 0, 0},
    {"LookupFailsDuringPresenceTest", [](FakeScript& s) { Fail(s, kFailGetDefault, E_FAIL); },
     false, 0, "T i :   MBIM Device is not exist.", false, "T i :   MBIM Device is not exist.", 0,
     0},
    {"NoVendorService", [](FakeScript& s) { s.has_service = 0; }, false, 0,
     "T e :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}", false,
     "T i :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}", 0, 0},
    {"NoSession", [](FakeScript& s) { s.has_session = 0; }, false, 0,
     "T e :   OpenCommandSession() failed.", false, "T i :   OpenCommandSession() failed.", 0, 0},
    {"FifthByteIgnored",
     [](FakeScript& s) {
       s.response_length = 5;
       s.response[4] = 0xFF;
     },
     true, 1, "T i :   query command complete. cfun mode = 1.", true,
     "T i :   set cfun successful.", 1, 1},
    {"NegativeLevel",
     [](FakeScript& s) {
       const std::uint8_t bytes[] = {0xFE, 0xFF, 0xFF, 0xFF};
       std::memcpy(s.response, bytes, sizeof bytes);
     },
     true, -2, "T i :   query command complete. cfun mode = -2.", true,
     "T i :   set cfun successful.", 1, 1},
    {"NonZeroStatus", [](FakeScript& s) { s.status_code = 0x87430002u; }, false, 0,
     "T e :   result status code = -2025652222\n", false,
     "T i :   result status code = -2025652222\n", 1, 1},
    {"Canceled", [](FakeScript& s) { s.final_status = 2; }, false, 0,
     "T e :   async_state = Canceled", false, "T i :   async_state = Canceled", 1, 1},
    {"ErrorState", [](FakeScript& s) { s.final_status = 3; }, false, 0,
     "T e :   async_state = Error", false, "T i :   async_state = Error", 1, 1},
    {"CompletedFromAnotherThread", [](FakeScript& s) { s.completion = kCompleteFromOtherThread; },
     true, 1, "T i :   query command complete. cfun mode = 1.", true,
     "T i :   set cfun successful.", 1, 1},
    {"ShortResponse", [](FakeScript& s) { s.response_length = 3; }, false, 0,
     "T e :   query response too short: 3 bytes", true, "T i :   set cfun successful.", 1, 1},
    // No response buffer at all is an empty response; the set never reads one.
    {"NoResponseBuffer", [](FakeScript& s) { s.response_null = 1; }, false, 0,
     "T e :   query response too short: 0 bytes", true, "T i :   set cfun successful.", 1, 1},
    // Spare capacity beyond the length is not part of the response.
    {"SpareCapacityNotRead",
     [](FakeScript& s) {
       s.response_length = 3;
       s.response_capacity_extra = 8;
     },
     false, 0, "T e :   query response too short: 3 bytes", true, "T i :   set cfun successful.", 1,
     1},
    // A buffer that claims more bytes than it holds is refused, never read past its end.
    {"LengthBeyondCapacity", [](FakeScript& s) { s.response_overlong = 1; }, false, 0,
     "T e :   exception other", true, "T i :   set cfun successful.", 0, 1},
    {"ResponseDataFails", [](FakeScript& s) { Fail(s, kFailResponseData, E_FAIL); }, false, 0,
     "T e :   exception other", true, "T i :   set cfun successful.", 0, 1},
    {"GetDeviceServiceOutOfMemory",
     [](FakeScript& s) { Fail(s, kFailGetDeviceService, E_OUTOFMEMORY); }, false, 0,
     "T e :   exception : bad allocation", false, "T i :   exception : bad allocation", 0, 0},
    {"OpenCommandSessionFails", [](FakeScript& s) { Fail(s, kFailOpenCommandSession, E_FAIL); },
     false, 0, "T e :   exception other", false, "T i :   exception other", 0, 0},
    {"DataWriterUnavailable",
     [](FakeScript& s) { Fail(s, kFailActivateDataWriter, E_OUTOFMEMORY); }, false, 0,
     "T e :   exception : bad allocation", false, "T i :   exception : bad allocation", 0, 0},
    {"WriteBytesFails", [](FakeScript& s) { Fail(s, kFailWriteBytes, E_FAIL); }, false, 0,
     "T e :   exception other", false, "T i :   exception other", 0, 0},
    {"DetachBufferFails", [](FakeScript& s) { Fail(s, kFailDetachBuffer, E_FAIL); }, false, 0,
     "T e :   exception other", false, "T i :   exception other", 0, 0},
    {"SendFails", [](FakeScript& s) { Fail(s, kFailSend, E_FAIL); }, false, 0,
     "T e :   exception other", false, "T i :   exception other", 0, 0},
    {"CompletedHandlerRefused", [](FakeScript& s) { Fail(s, kFailPutCompleted, E_FAIL); }, false, 0,
     "T e :   exception other", false, "T i :   exception other", 0, 0},
    {"GetResultsOutOfMemory", [](FakeScript& s) { Fail(s, kFailGetResults, E_OUTOFMEMORY); }, false,
     0, "T e :   exception : bad allocation", false, "T i :   exception : bad allocation", 0, 0},
    {"StatusCodeFails", [](FakeScript& s) { Fail(s, kFailStatusCode, E_FAIL); }, false, 0,
     "T e :   exception other", false, "T i :   exception other", 0, 0},
    // The command succeeded before the close failed: the result stands.
    {"CloseFailsAfterSuccess", [](FakeScript& s) { Fail(s, kFailCloseSession, E_FAIL); }, true, 1,
     "T e :   exception other", true, "T i :   exception other", 0, 0},
};

class CommandOutcomeTest : public CommandWinTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(CommandOutcomeTest, QueryAndSet) {
  const Outcome& o = GetParam();
  for (bool query : {true, false}) {
    SCOPED_TRACE(query ? "query" : "set");
    FakeScript script = provider_->DefaultScript();
    o.script(script);
    Start(script);
    LogCapture capture;
    std::int32_t level = 99;
    const bool ok = query ? helper_->GetMbimCfun(&level) : helper_->SetMbimCfun();
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(ok, query ? o.query_ok : o.set_ok);
    EXPECT_EQ(lines[lines.size() - 2], query ? o.query_line : o.set_line);
    EXPECT_EQ(lines.back(), query ? kGetExit : kSetExit);
    if (query) {
      EXPECT_EQ(level, o.query_ok ? o.level : 99);  // untouched unless read
    }
    const FakeRecord record = provider_->Record();
    EXPECT_EQ(record.sessions_closed, query ? o.query_closed : o.set_closed);
    EXPECT_EQ(record.bad_handler, 0);
    ExpectAllReleased();
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes,
                         CommandOutcomeTest,
                         ::testing::ValuesIn(kOutcomes),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(CommandWinTest, NoModemAsksForNoDeviceService) {
  FakeScript script = provider_->DefaultScript();
  script.modem_lookups_present = 0;
  Start(script);
  std::int32_t level = 3;
  EXPECT_FALSE(helper_->GetMbimCfun(&level));
  EXPECT_FALSE(helper_->SetMbimCfun());
  EXPECT_EQ(level, 3);
  EXPECT_EQ(provider_->Record().service_lookups, 0);
  EXPECT_EQ(provider_->Record().command_count, 0);
  ExpectAllReleased();
}

// The wait runs its real 2-second bound: the command answers only after it.
TEST_F(CommandWinTest, NoAnswerWithinTheWaitAndALateAnswer) {
  for (bool query : {true, false}) {
    SCOPED_TRACE(query ? "query" : "set");
    FakeScript script = provider_->DefaultScript();
    script.completion = kCompleteNever;
    Start(script);
    LogCapture capture;
    std::int32_t level = 5;
    EXPECT_FALSE(query ? helper_->GetMbimCfun(&level) : helper_->SetMbimCfun());
    EXPECT_EQ(level, 5);
    const std::vector<std::string> lines = capture.Lines();
    EXPECT_THAT(
        lines, Contains(query ? "T e :   async_state = Started" : "T i :   async_state = Started"));
    EXPECT_EQ(lines.back(), query ? kGetExit : kSetExit);
    EXPECT_EQ(provider_->Record().sessions_closed, 1);

    // The runtime still holds the command and its handler; the answer arrives now, reaches
    // only the abandoned wait state, and the runtime's release frees the handler.
    ASSERT_TRUE(provider_->CompleteHeld(1));
    EXPECT_EQ(provider_->Record().handler_refs_left, 0);
    ExpectAllReleased();
  }
}

}  // namespace
}  // namespace halvorn
