// A lookup from a thread that has not joined an apartment, in a process where nothing has
// joined the multithreaded apartment yet. It has an executable of its own: once raised, the
// process's use of the multithreaded apartment is never lowered.

#include <windows.h>

#include <combaseapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "fake_provider_client.h"
#include "mbn/win/runtime_win.h"

namespace halvorn {
namespace {

using testing::FakeProvider;

TEST(ApartmentWinTest, RefusedLookupRaisesTheProcessMtaUseAndSucceeds) {
  FakeProvider* provider = FakeProvider::Get();
  ASSERT_NE(provider, nullptr);
  FakeScript script = provider->DefaultScript();
  script.factories_agile = 0;  // every call looks its factory up again
  ASSERT_EQ(script.require_apartment, 1);
  provider->Reset(script);
  auto runtime = mbn_win::CreateWinRuntime();

  std::thread([&] {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    // Nothing in this process has joined an apartment yet.
    ASSERT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
    std::unique_ptr<mbn_platform::Modem> modem;
    EXPECT_TRUE(runtime->GetDefaultModem(&modem).ok());
    EXPECT_NE(modem, nullptr);
  }).join();
  FakeRecord record = provider->Record();
  EXPECT_EQ(record.refusals, 1);
  EXPECT_EQ(record.lookups[kClassModem], 1);

  // From now on every thread is in the process's multithreaded apartment without joining it,
  // and nothing is refused.
  std::thread([&] {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
    EXPECT_EQ(qualifier, APTTYPEQUALIFIER_IMPLICIT_MTA);
    std::unique_ptr<mbn_platform::Modem> modem;
    EXPECT_TRUE(runtime->GetDefaultModem(&modem).ok());
  }).join();
  record = provider->Record();
  EXPECT_EQ(record.refusals, 1);
  EXPECT_EQ(record.lookups[kClassModem], 2);
}

}  // namespace
}  // namespace halvorn
