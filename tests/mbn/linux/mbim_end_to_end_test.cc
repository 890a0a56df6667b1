// The radio function commands end to end: CMbnWinRtHelper over the Linux runtime, through the
// real libmbim-glib, against the simulated modem on a pseudo-terminal (opened directly).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mbn/helper_log.h"
#include "mbn/linux/glib_thread.h"
#include "mbn/linux/mbim_end_to_end.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_helper.h"
#include "simulator.h"
#include "support/log_capture.h"
#include "util/linux/scoped_fd.h"

namespace halvorn {
namespace {

using mbimsim::Fault;
using mbimsim::FaultTarget;
using mbimsim::ModemOptions;
using mbimsim::Simulator;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ExpectLateAnswersCompleteNothing;
using testing::LateAnswers;
using testing::LogCapture;
using testing::MaskSessionAddress;
using testing::MbimProxyEndToEndTest;
using ::testing::Not;
using testing::SetEnv;
using ::testing::StartsWith;
using testing::SuccessfulQueryLines;
using testing::SuccessfulSetLines;
using testing::TempDir;
using testing::UnsetEnv;

constexpr const char* kNoService =
    "GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}";

// The name of a parameterised case: its `name`.
constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

class MbimEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The pseudo-terminal is opened directly: mbim-proxy serves root only.
    SetEnv(mbn_linux::kProxyVariable, "0");
    SetEnv(mbn_linux::kPortVariable, link_.string());
  }
  void TearDown() override {
    UnsetEnv(mbn_linux::kPortVariable);
    UnsetEnv(mbn_linux::kProxyVariable);
  }

  // Starts the modem; the port is named through a link that the test can take away.
  void StartModem(ModemOptions options) {
    simulator_ = std::make_unique<Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    std::filesystem::create_symlink(simulator_->device_path(), link_);
  }

  // Waits until the modem has been closed, within a generous bound.
  bool WaitUntilClosed() const {
    for (int i = 0; i < 1000 && simulator_->is_open(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !simulator_->is_open();
  }

  // Unplugs the modem: the port goes away.
  void Unplug() {
    std::filesystem::remove(link_);
    simulator_->Vanish();
  }

  TempDir dir_;
  const std::filesystem::path link_ = dir_.path() / "cdc-wdm0";
  std::unique_ptr<Simulator> simulator_;
  CMbnWinRtHelper helper_{mbn_platform::DefaultRuntime(), nullptr};
  // Over the same runtime, for commands that are never answered: it gives up after a short
  // bound instead of the production one. Answered commands go through helper_, whose bound
  // a busy machine never exhausts.
  CMbnWinRtHelper unanswered_{mbn_platform::DefaultRuntime(), nullptr,
                              std::chrono::milliseconds(100)};
};

TEST_F(MbimEndToEndTest, QueryReadsLevelFourWithEveryLine) {
  ModemOptions options;
  options.initial_level = 4;
  StartModem(options);
  LogCapture capture;
  std::int32_t level = -1;
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  // The session line carries the session's address, which differs from run to run.
  EXPECT_THAT(MaskSessionAddress(capture.Lines()), ElementsAreArray(SuccessfulQueryLines(4)));
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAre("query 00"));
  // The port stays open for the next call: no MBIM close is ever waited for.
  EXPECT_TRUE(simulator_->is_open());
}

TEST_F(MbimEndToEndTest, SetIsAcceptedWithEveryLine) {
  StartModem(ModemOptions{});
  LogCapture capture;
  EXPECT_TRUE(helper_.SetMbimCfun());
  EXPECT_THAT(capture.Lines(), ElementsAreArray(SuccessfulSetLines()));
  EXPECT_EQ(simulator_->level(), 1);
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAre("set 01000000"));
  EXPECT_TRUE(simulator_->is_open());
}

// One modem behaviour; `line` is the decisive line just before the exit trace line.
struct Case {
  const char* name;
  void (*options)(ModemOptions&);
  bool query_ok;
  std::int32_t level;  // the output after the query (99 when untouched)
  const char* query_line;
  bool set_ok;
  const char* set_line;
  // False when the modem never answers in a way libmbim takes (the commands go through a helper
  // with a short bound).
  bool answered = true;
};

const Case kCases[] = {
    {"LevelOneAndAFifthByte",
     [](ModemOptions& o) {
       o.initial_level = 1;
       o.query_padding = 1;
     },
     true, 1, "T i :   query command complete. cfun mode = 1.", true,
     "T i :   set cfun successful."},
    {"AnswerInFragments",
     [](ModemOptions& o) {
       o.initial_level = 4;
       o.query_padding = 10000;
     },
     true, 4, "T i :   query command complete. cfun mode = 4.", true,
     "T i :   set cfun successful."},
    {"NoVendorService", [](ModemOptions& o) { o.vendor_service = false; },  //
     false, 99,
     "T e :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}", false,
     "T i :   GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}"},
    {"NonZeroStatus",
     [](ModemOptions& o) {
       o.fault = Fault::kStatus;
       o.fault_status = 0x87430002u;
     },
     false, 99, "T e :   result status code = -2025652222\n", false,
     "T i :   result status code = -2025652222\n"},
    {"SetRefused", [](ModemOptions& o) { o.fault = Fault::kRefuseSet; },  //
     true, 0, "T i :   query command complete. cfun mode = 0.", false,
     "T i :   result status code = 28\n"},
    {"ShortAnswer",
     [](ModemOptions& o) {
       o.fault = Fault::kShortResponse;
       o.short_length = 2;
     },
     false, 99, "T e :   query response too short: 2 bytes", true, "T i :   set cfun successful."},
    {"AnsweredWithAnotherTransactionId",
     [](ModemOptions& o) { o.fault = Fault::kWrongTransactionId; },  //
     false, 99, "T e :   async_state = Started", false, "T i :   async_state = Started", false},
};

class MbimCaseTest : public MbimEndToEndTest, public ::testing::WithParamInterface<Case> {};

TEST_P(MbimCaseTest, QueryAndSet) {
  const Case& c = GetParam();
  ModemOptions options;
  c.options(options);
  StartModem(options);
  for (bool query : {true, false}) {
    SCOPED_TRACE(query ? "query" : "set");
    LogCapture capture;
    std::int32_t level = 99;
    CMbnWinRtHelper& helper = c.answered ? helper_ : unanswered_;
    const bool ok = query ? helper.GetMbimCfun(&level) : helper.SetMbimCfun();
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(ok, query ? c.query_ok : c.set_ok);
    EXPECT_EQ(lines[lines.size() - 2], query ? c.query_line : c.set_line);
    if (query) {
      EXPECT_EQ(level, c.level);
    }
    EXPECT_TRUE(simulator_->is_open());
  }
}

INSTANTIATE_TEST_SUITE_P(Modem, MbimCaseTest, ::testing::ValuesIn(kCases), kCaseName);

TEST_F(MbimEndToEndTest, NoModemAsksNothingAndKeepsTheLevel) {
  // The named port does not exist.
  LogCapture capture;
  std::int32_t level = 7;
  EXPECT_FALSE(helper_.IsMbimModemExist());
  EXPECT_FALSE(helper_.GetMbimCfun(&level));
  EXPECT_FALSE(helper_.SetMbimCfun());
  EXPECT_EQ(level, 7);
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T h : + CMbnWinRtHelper::GetMbimCfun",  //
                          "T i :   MBIM Device is not exist.",     //
                          "T h : - CMbnWinRtHelper::GetMbimCfun",  //
                          "T h : + CMbnWinRtHelper::SetMbimCfun",  //
                          "T i :   MBIM Device is not exist.",     //
                          "T h : - CMbnWinRtHelper::SetMbimCfun"));
}

// Passes every call to the runtime of the build, and unplugs the modem right after the first
// modem lookup (the presence test).
class UnplugAfterPresenceTest : public mbn_platform::Runtime {
 public:
  UnplugAfterPresenceTest(mbn_platform::Runtime& real, std::function<void()> unplug)
      : real_(real), unplug_(std::move(unplug)) {}
  mbn_platform::CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override {
    mbn_platform::CallResult r = real_.GetDefaultModem(modem);
    if (++lookups_ == 1) {
      unplug_();
    }
    return r;
  }
  mbn_platform::CallResult MakeRequest(
      std::span<const std::uint8_t> bytes,
      std::unique_ptr<mbn_platform::RequestBuffer>* buffer) override {
    return real_.MakeRequest(bytes, buffer);
  }
  mbn_platform::CallResult CreateAccountWatcher(
      std::unique_ptr<mbn_platform::AccountWatcher>* watcher) override {
    return real_.CreateAccountWatcher(watcher);
  }

 private:
  mbn_platform::Runtime& real_;
  std::function<void()> unplug_;
  int lookups_ = 0;
};

TEST_F(MbimEndToEndTest, ModemGoneBeforeTheSecondLookup) {
  StartModem(ModemOptions{});
  UnplugAfterPresenceTest runtime(mbn_platform::DefaultRuntime(), [this] { Unplug(); });
  CMbnWinRtHelper helper(runtime, nullptr);
  LogCapture capture;
  std::int32_t level = 7;
  EXPECT_FALSE(helper.GetMbimCfun(&level));
  EXPECT_EQ(level, 7);
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T h : + CMbnWinRtHelper::GetMbimCfun",  //
                          "T i :   +Get MobileBroadbandModem",     //
                          "T i :   -Get MobileBroadbandModem",     //
                          "T e :   MBIM Modem is not exist!",      //
                          "T h : - CMbnWinRtHelper::GetMbimCfun"));
}

TEST_F(MbimEndToEndTest, NoAnswerEndsAsStartedAndTheNextCommandWorks) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kNoAnswer;
  options.fault_count = 2;  // the first query and the first set
  StartModem(options);
  LogCapture capture;
  std::int32_t level = 7;
  EXPECT_FALSE(unanswered_.GetMbimCfun(&level));
  EXPECT_EQ(level, 7);
  // The port is dropped after the unanswered command without an MBIM close, and opened again.
  EXPECT_TRUE(simulator_->is_open());
  EXPECT_FALSE(unanswered_.SetMbimCfun());
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_THAT(lines, Contains("T e :   async_state = Started"));
  EXPECT_THAT(lines, Contains("T i :   async_state = Started"));
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAre("query 00", "set 01000000", "query 00"));
}

TEST_F(MbimEndToEndTest, AnAnswerAfterTheWaitChangesNothing) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kDelay;
  options.fault_target = FaultTarget::kQuery;
  // A second past the query's short wait: an answer that arrives while the waiting thread is
  // still waking up from that wait (a loaded machine can take a few hundred milliseconds) is
  // taken as a completed command, and is not what this test is about.
  options.delay = std::chrono::milliseconds(1100);
  options.fault_count = 1;
  // Set once an answer of the vendor service went out: the trace line of a command-done
  // message whose service (bytes 20 to 35) is the vendor's. Shared with the simulator's
  // thread, which outlives this function.
  struct AnswerOut {
    std::mutex lock;
    std::condition_variable changed;
    bool out = false;
  };
  auto late = std::make_shared<AnswerOut>();
  simulator_ = std::make_unique<Simulator>(options);
  simulator_->set_trace([late](std::string_view line) {
    constexpr std::string_view kCommandDone = "modem> 03 00 00 80";
    constexpr std::string_view kVendorService = " 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 11";
    constexpr std::size_t kServiceAt = std::string_view("modem>").size() + 3 * 20;
    if (line.starts_with(kCommandDone) && line.size() >= kServiceAt + kVendorService.size() &&
        line.substr(kServiceAt, kVendorService.size()) == kVendorService) {
      std::lock_guard<std::mutex> hold(late->lock);
      late->out = true;
      late->changed.notify_all();
    }
  });
  std::string error;
  ASSERT_TRUE(simulator_->Start(&error)) << error;
  std::filesystem::create_symlink(simulator_->device_path(), link_);
  LogCapture capture;
  std::int32_t level = 7;
  EXPECT_FALSE(unanswered_.GetMbimCfun(&level));
  EXPECT_EQ(level, 7);
  // The late answer goes out; then the modem is used again and answers as it should.
  {
    std::unique_lock<std::mutex> hold(late->lock);
    ASSERT_TRUE(late->changed.wait_for(hold, std::chrono::seconds(60), [&] { return late->out; }))
        << "the late answer never went out";
  }
  EXPECT_TRUE(helper_.SetMbimCfun());
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 1);
  EXPECT_EQ(simulator_->level(), 1);
  EXPECT_THAT(capture.Lines(), Contains("T e :   async_state = Started"));
}

TEST_F(MbimEndToEndTest, LateAnswersNeverCompleteLaterCommands) {
  StartModem(LateAnswers());
  ExpectLateAnswersCompleteNothing(unanswered_, helper_, *simulator_);
}

// A port that misbehaves outside the vendor command fails at most the call it hits; the next
// call gets the modem's own answer.
struct PortFaultCase {
  const char* name;
  Fault fault;
  bool first_ok;
  const char* first_line;  // the decisive line of the first call, before its exit trace line
};

const PortFaultCase kPortFaultCases[] = {
    {"OpenNeverAnswered", Fault::kSilentOpen, false, "T e :   exception other"},
    // The port stays open between calls, so an unanswered close does not touch them.
    {"CloseNeverAnswered", Fault::kSilentClose, true,
     "T i :   query command complete. cfun mode = 4."},
    // The host's reading of the stream is out of step after the garbled answer.
    {"GarbledAnswer", Fault::kGarbled, false, "T e :   async_state = Started"},
    {"QueryNeverAnswered", Fault::kNoAnswer, false, "T e :   async_state = Started"},
};

// The call a fault hits gives up after a short command bound (none of these faults is ever
// answered in time); the next call, on the same runtime, waits the production bound. An OPEN
// that is never answered is waited out on the runtime's production port wait.
class MbimPortFaultTest : public MbimEndToEndTest,
                          public ::testing::WithParamInterface<PortFaultCase> {};

TEST_P(MbimPortFaultTest, FailsOnlyTheCallItHits) {
  const PortFaultCase& c = GetParam();
  ModemOptions options;
  options.initial_level = 4;
  options.fault = c.fault;
  options.fault_count = 1;
  StartModem(options);
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call == 0 ? "the call it hits" : "the next call");
    LogCapture capture;
    std::int32_t level = 7;
    CMbnWinRtHelper& helper = call == 0 && !c.first_ok ? unanswered_ : helper_;
    const bool ok = helper.GetMbimCfun(&level);
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(ok, call == 0 ? c.first_ok : true);
    EXPECT_EQ(level, ok ? 4 : 7);
    EXPECT_EQ(lines[lines.size() - 2],
              call == 0 ? c.first_line : "T i :   query command complete. cfun mode = 4.");
  }
}

INSTANTIATE_TEST_SUITE_P(Port, MbimPortFaultTest, ::testing::ValuesIn(kPortFaultCases), kCaseName);

// Another host closes the modem behind the kept port (as a modem reset would): the modem then
// answers "not opened". That call fails; the port is opened again for the next one.
TEST_F(MbimEndToEndTest, AModemThatLostTheSessionIsOpenedAgain) {
  ModemOptions options;
  options.initial_level = 4;
  StartModem(options);
  std::int32_t level = 7;
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  {
    ScopedFd other(::open(simulator_->device_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(other.is_valid());
    const mbimsim::Bytes close = mbimsim::EncodeClose(0x4242);
    ASSERT_EQ(::write(other.get(), close.data(), close.size()), static_cast<ssize_t>(close.size()));
  }
  ASSERT_TRUE(WaitUntilClosed());
  LogCapture capture;
  level = 7;
  EXPECT_FALSE(helper_.GetMbimCfun(&level));
  const std::vector<std::string> lines = capture.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "T e :   async_state = Error");
  EXPECT_TRUE(helper_.GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  EXPECT_TRUE(helper_.SetMbimCfun());
  EXPECT_EQ(simulator_->level(), 1);
}

// The modem is unplugged and another one comes up, at the same path or at a new one: the call
// after it talks to the new modem.
TEST_F(MbimEndToEndTest, AModemPluggedInAgainIsTheOneAsked) {
  for (const bool same_path : {true, false}) {
    SCOPED_TRACE(same_path ? "same path" : "new path");
    ModemOptions first;
    first.initial_level = 4;
    StartModem(first);
    std::int32_t level = 7;
    EXPECT_TRUE(helper_.GetMbimCfun(&level));
    EXPECT_EQ(level, 4);
    Unplug();

    const std::filesystem::path port = same_path ? link_ : dir_.path() / "cdc-wdm1";
    SetEnv(mbn_linux::kPortVariable, port.string());
    ModemOptions second;
    second.initial_level = 9;
    auto replugged = std::make_unique<Simulator>(second);
    std::string error;
    ASSERT_TRUE(replugged->Start(&error)) << error;
    std::filesystem::create_symlink(replugged->device_path(), port);
    EXPECT_TRUE(helper_.GetMbimCfun(&level));
    EXPECT_EQ(level, 9);
    EXPECT_TRUE(helper_.SetMbimCfun());
    EXPECT_EQ(replugged->level(), 1);
    std::filesystem::remove(port);
    SetEnv(mbn_linux::kPortVariable, link_.string());
  }
}

TEST_F(MbimEndToEndTest, ModemVanishingInsteadOfAnsweringFailsTheCommand) {
  ModemOptions options;
  options.fault = Fault::kVanish;
  StartModem(options);
  std::int32_t level = 7;
  // A vanished modem answers nothing: the command fails when its wait runs out.
  EXPECT_FALSE(unanswered_.GetMbimCfun(&level));
  EXPECT_EQ(level, 7);
  // The wait may have run out before the modem read the command.
  EXPECT_TRUE(simulator_->WaitForVanish(std::chrono::seconds(60)));
}

TEST_F(MbimProxyEndToEndTest, QueryAndSetWithEveryLine) {
  ModemOptions options;
  options.initial_level = 4;
  StartModem(options);
  LogCapture capture;
  std::int32_t level = -1;
  EXPECT_TRUE(helper_->GetMbimCfun(&level));
  EXPECT_EQ(level, 4);
  EXPECT_THAT(MaskSessionAddress(capture.Lines()), ElementsAreArray(SuccessfulQueryLines(4)));
  LogCapture set_capture;
  EXPECT_TRUE(helper_->SetMbimCfun());
  EXPECT_THAT(set_capture.Lines(), ElementsAreArray(SuccessfulSetLines()));
  EXPECT_EQ(simulator_->level(), 1);
  EXPECT_THAT(simulator_->VendorCommands(), ElementsAre("query 00", "set 01000000"));
}

// A latch that one thread opens and others wait for.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    opened_cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    opened_cv_.wait(hold, [&] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_cv_;
  bool open_ = false;
};

TEST(GlibThreadTest, RunsWorkOnItsThreadInPostingOrderAlsoWhenPostedThere) {
  mbn_linux::GlibThread glib;
  // Touched on the GLib thread only, until the Await below has returned.
  std::vector<std::string> ran;
  bool all_on_glib = true;
  auto record = [&](const char* name) {
    all_on_glib = all_on_glib && glib.IsCurrent();
    ran.push_back(name);
  };
  Gate posted;
  // Held until everything is posted: the order seen is the posting order, not a race.
  glib.Post([&] {
    posted.Wait();
    record("gate");
  });
  glib.Post([&] { record("first"); });
  glib.Post([&] {
    record("second");
    // Posted on the GLib thread: runs after what was posted before it, not at once.
    glib.Post([&] { record("posted by second"); });
  });
  glib.Post([&] { record("third"); });
  glib.Post([&] { record("fourth"); });
  posted.Open();
  EXPECT_FALSE(glib.IsCurrent());
  // The second wait is posted after "second" ran, so behind what "second" posted.
  EXPECT_TRUE(glib.Await<bool>([](std::function<void(bool)> done) { done(true); }));
  EXPECT_TRUE(glib.Await<bool>([](std::function<void(bool)> done) { done(true); }));
  EXPECT_THAT(ran, ElementsAre("gate", "first", "second", "third", "fourth", "posted by second"));
  EXPECT_TRUE(all_on_glib);
}

TEST(GlibThreadTest, StopsAfterThePostedWorkAndDropsLaterWorkDestroyingIt) {
  // A chain of work that posts its successor from the GLib thread, until the thread stops:
  // the one link posted after the stop must be destroyed without running.
  struct Chain {
    mbn_linux::GlibThread* glib = nullptr;
    std::atomic<int> posted{0};
    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
    struct Link {
      explicit Link(std::atomic<int>* count) : destroyed(count) {}
      Link(const Link&) = delete;
      Link& operator=(const Link&) = delete;
      ~Link() { ++*destroyed; }
      std::atomic<int>* destroyed;
    };
    void Next() {
      ++posted;
      glib->Post([this, link = std::make_shared<Link>(&destroyed)] {
        ++ran;
        Next();
      });
    }
  };
  Chain chain;
  auto glib = std::make_unique<mbn_linux::GlibThread>();
  chain.glib = glib.get();
  chain.Next();
  // Posted behind the first link: by the time it answers, the chain runs on its own.
  glib->Await<bool>([](std::function<void(bool)> done) { done(true); });
  // Posted before the destructor: runs, although the chain keeps the thread busy.
  bool last_before_stop = false;
  glib->Post([&] { last_before_stop = true; });
  glib.reset();
  EXPECT_TRUE(last_before_stop);
  EXPECT_GE(chain.ran.load(), 1);
  EXPECT_EQ(chain.ran.load(), chain.posted.load() - 1);
  EXPECT_EQ(chain.destroyed.load(), chain.posted.load());
}

}  // namespace
}  // namespace halvorn
