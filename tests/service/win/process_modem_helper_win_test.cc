// The process-wide helper, constructed before main. The check runs in a child process started
// once the provider is registered, so that the construction before main reaches it.

#include <windows.h>

#include <combaseapi.h>

#include <gtest/gtest.h>

#include <string>

#include "fake_provider_client.h"
#include "mbn/mbn_helper.h"
#include "service/process_wiring.h"

namespace halvorn {
namespace {

using testing::FakeProvider;

constexpr const wchar_t* kChildVariable = L"HALVORN_PROCESS_MODEM_HELPER_CHILD";

bool IsChild() {
  return GetEnvironmentVariableW(kChildVariable, nullptr, 0) != 0;
}

TEST(ProcessModemHelperWinChild, HelperWasBuiltBeforeMainAndJoinedTheProcessToTheMta) {
  if (!IsChild()) {
    GTEST_SKIP() << "runs in the child process that ProcessModemHelperWinTest starts";
  }
  // Before main, on this thread, the helper's first watcher was the first use of the runtime:
  // refused for want of an apartment, then made after the process's use of the
  // multithreaded apartment was raised.
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
  EXPECT_EQ(type, APTTYPE_MTA);
  EXPECT_EQ(qualifier, APTTYPEQUALIFIER_IMPLICIT_MTA);

  FakeProvider* provider = FakeProvider::Get();  // the module the runtime loaded before main
  ASSERT_NE(provider, nullptr);
  const FakeRecord record = provider->Record();
  EXPECT_EQ(record.refusals, 1);
  EXPECT_EQ(record.activations[kClassAccountWatcher], 1);
  EXPECT_EQ(record.watcher_starts, 0);  // the first watcher is never started

  CMbnWinRtHelper& helper = ProcessModemHelper();
  EXPECT_EQ(&helper, &ProcessModemHelper());
  EXPECT_TRUE(helper.IsMbimModemExist());
}

TEST(ProcessModemHelperWinTest, ChildProcessFindsTheHelperBuiltBeforeMain) {
  if (IsChild()) {
    GTEST_SKIP() << "the child runs ProcessModemHelperWinChild only";
  }
  ASSERT_NE(FakeProvider::Get(), nullptr);  // registered for the child

  wchar_t exe[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  std::wstring command =
      L"\"" + std::wstring(exe) + L"\" --gtest_filter=ProcessModemHelperWinChild.* --gtest_brief=1";
  ASSERT_TRUE(SetEnvironmentVariableW(kChildVariable, L"1"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  SetEnvironmentVariableW(kChildVariable, nullptr);
  ASSERT_TRUE(started) << GetLastError();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exit_code, 0u);
}

}  // namespace
}  // namespace halvorn
