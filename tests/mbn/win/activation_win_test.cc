// Activation-factory lookups of the Windows backend: which factories are kept and for whom,
// counted by the fake provider's DllGetActivationFactory.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "fake_provider_client.h"
#include "mbn/win/runtime_win.h"

namespace halvorn {
namespace {

using testing::FakeProvider;

class ActivationWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider_ = FakeProvider::Get();
    ASSERT_NE(provider_, nullptr);
  }

  // One use of each of the three classes.
  static void UseEveryClass(mbn_platform::Runtime& runtime) {
    std::unique_ptr<mbn_platform::Modem> modem;
    EXPECT_TRUE(runtime.GetDefaultModem(&modem).ok());
    EXPECT_NE(modem, nullptr);
    static constexpr std::uint8_t kByte[] = {0x00};
    std::unique_ptr<mbn_platform::RequestBuffer> request;
    EXPECT_TRUE(runtime.MakeRequest(kByte, &request).ok());
    std::unique_ptr<mbn_platform::AccountWatcher> watcher;
    EXPECT_TRUE(runtime.CreateAccountWatcher(&watcher).ok());
  }

  FakeProvider* provider_ = nullptr;
};

TEST_F(ActivationWinTest, AgileFactoriesAreLookedUpOnceAcrossCallsAndThreads) {
  provider_->Reset(provider_->DefaultScript());
  auto runtime = mbn_win::CreateWinRuntime();
  // The first use looks each factory up (threads that race for a first lookup are the next
  // test's subject); every later use, on any thread, shares the kept one.
  UseEveryClass(*runtime);
  constexpr int kThreads = 4;
  constexpr int kCalls = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        UseEveryClass(*runtime);
      }
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  FakeRecord record = provider_->Record();
  for (int c = 0; c < kClassCount; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(record.lookups[c], 1);
  }
  EXPECT_EQ(record.default_lookups, kThreads * kCalls + 1);
  EXPECT_EQ(record.activations[kClassDataWriter], kThreads * kCalls + 1);
  EXPECT_EQ(record.activations[kClassAccountWatcher], kThreads * kCalls + 1);
  EXPECT_EQ(record.factories_alive, 3);  // kept by the runtime's caches
  EXPECT_EQ(record.objects_alive, 0);

  runtime.reset();
  EXPECT_EQ(provider_->Record().factories_alive, 0);
}

struct Agility {
  const char* name;
  std::int32_t agile_object;
  std::int32_t free_threaded_marshaler;
  bool kept;
};

void PrintTo(const Agility& agility, std::ostream* os) {
  *os << agility.name;
}

class FactoryAgilityTest : public ActivationWinTest,
                           public ::testing::WithParamInterface<Agility> {};

TEST_P(FactoryAgilityTest, OnlyAgileFactoriesAreKept) {
  const Agility& a = GetParam();
  FakeScript script = provider_->DefaultScript();
  script.factories_agile = a.agile_object;
  script.factories_ftm = a.free_threaded_marshaler;
  provider_->Reset(script);
  auto runtime = mbn_win::CreateWinRuntime();
  constexpr int kCalls = 3;
  for (int i = 0; i < kCalls; ++i) {
    UseEveryClass(*runtime);
    // A factory that is not kept was used for its call and released.
    EXPECT_EQ(provider_->Record().factories_alive, a.kept ? 3 : 0);
  }
  const FakeRecord record = provider_->Record();
  for (int c = 0; c < kClassCount; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(record.lookups[c], a.kept ? 1 : kCalls);
  }
  runtime.reset();
  EXPECT_EQ(provider_->Record().factories_alive, 0);
  EXPECT_EQ(provider_->Record().objects_alive, 0);
}

INSTANTIATE_TEST_SUITE_P(Factories,
                         FactoryAgilityTest,
                         ::testing::Values(Agility{"AgileObject", 1, 0, true},
                                           Agility{"FreeThreadedMarshaler", 0, 1, true},
                                           Agility{"NotAgile", 0, 0, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Two threads look the modem's factory up at the same moment: both get one, the first stored
// stays for everybody and the other is released.
TEST_F(ActivationWinTest, ConcurrentLookupsKeepTheFirstStoredFactory) {
  FakeScript script = provider_->DefaultScript();
  script.lookup_rendezvous = 2;
  provider_->Reset(script);
  auto runtime = mbn_win::CreateWinRuntime();
  std::array<bool, 2> found = {};
  std::vector<std::thread> threads;
  for (bool& f : found) {
    threads.emplace_back([&runtime, &f] {
      std::unique_ptr<mbn_platform::Modem> modem;
      f = runtime->GetDefaultModem(&modem).ok() && modem != nullptr;
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  EXPECT_TRUE(found[0]);
  EXPECT_TRUE(found[1]);
  FakeRecord record = provider_->Record();
  EXPECT_EQ(record.lookups[kClassModem], 2);
  EXPECT_EQ(record.factories_made[kClassModem], 2);
  EXPECT_EQ(record.factories_alive, 1);

  // Later calls use the stored one.
  std::unique_ptr<mbn_platform::Modem> modem;
  EXPECT_TRUE(runtime->GetDefaultModem(&modem).ok());
  modem.reset();
  record = provider_->Record();
  EXPECT_EQ(record.lookups[kClassModem], 2);
  EXPECT_EQ(record.factories_alive, 1);

  runtime.reset();
  EXPECT_EQ(provider_->Record().factories_alive, 0);
}

}  // namespace
}  // namespace halvorn
