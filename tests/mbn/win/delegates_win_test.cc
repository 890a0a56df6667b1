// The backend's delegates as the runtime sees them: interface ids, reference counting that
// keeps the callback (and what it shares) alive exactly as long as a reference is held, one
// completion, and no exception crossing into the runtime.

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "mbn/win/delegates.h"

namespace halvorn {
namespace {

using mbn_platform::AsyncStatus;
using winrt_abi::ComPtr;
using winrt_abi::ICommandResultCompletedHandler;

TEST(DelegatesWinTest, CompletedHandlerKeepsItsCallbackUntilTheLastReleaseGoes) {
  auto shared = std::make_shared<int>(0);
  ComPtr<ICommandResultCompletedHandler> handler =
      mbn_win::CompletedHandler::Create([shared](AsyncStatus) { ++*shared; });
  ASSERT_TRUE(handler);
  EXPECT_EQ(shared.use_count(), 2);

  // What the runtime does: take a reference of its own; the creator lets go of its own.
  auto runtime_ref = ComPtr<ICommandResultCompletedHandler>::Share(handler.get());
  handler.Reset();
  EXPECT_EQ(shared.use_count(), 2);  // still held by the runtime
  EXPECT_EQ(
      runtime_ref->lpVtbl->Invoke(runtime_ref.get(), nullptr, winrt_abi::AsyncStatus::kCompleted),
      S_OK);
  EXPECT_EQ(*shared, 1);
  runtime_ref.Reset();
  EXPECT_EQ(shared.use_count(), 1);  // the callback went with the last reference
}

TEST(DelegatesWinTest, CompletedHandlerPassesOnlyTheFirstStatus) {
  std::vector<AsyncStatus> seen;
  auto handler =
      mbn_win::CompletedHandler::Create([&seen](AsyncStatus status) { seen.push_back(status); });
  ASSERT_TRUE(handler);
  handler->lpVtbl->Invoke(handler.get(), nullptr, winrt_abi::AsyncStatus::kError);
  handler->lpVtbl->Invoke(handler.get(), nullptr, winrt_abi::AsyncStatus::kCompleted);
  EXPECT_EQ(seen, std::vector<AsyncStatus>{AsyncStatus::kError});
}

TEST(DelegatesWinTest, AnExceptionOfTheCallbackBecomesAFailureCode) {
  struct Case {
    void (*raise)();
    HRESULT expected;
  } const cases[] = {
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {[] { throw std::runtime_error("lock failed"); }, E_FAIL},
  };
  for (const Case& c : cases) {
    auto completed = mbn_win::CompletedHandler::Create([&c](AsyncStatus) { c.raise(); });
    EXPECT_EQ(
        completed->lpVtbl->Invoke(completed.get(), nullptr, winrt_abi::AsyncStatus::kCompleted),
        c.expected);
    auto event = mbn_win::AccountEventHandler::Create([&c] { c.raise(); });
    EXPECT_EQ(event->lpVtbl->Invoke(event.get(), nullptr, nullptr), c.expected);
    auto object_event = mbn_win::AccountObjectEventHandler::Create([&c] { c.raise(); });
    EXPECT_EQ(object_event->lpVtbl->Invoke(object_event.get(), nullptr, nullptr), c.expected);
  }
}

// Answers `iid` (and hands out itself) or not.
template <class Iface>
bool Answers(const ComPtr<Iface>& handler, const GUID& iid) {
  void* object = nullptr;
  const HRESULT hr = handler->lpVtbl->base.QueryInterface(handler.get(), iid, &object);
  if (FAILED(hr)) {
    EXPECT_EQ(object, nullptr);
    return false;
  }
  EXPECT_EQ(object, handler.get());
  handler->lpVtbl->base.Release(handler.get());
  return true;
}

TEST(DelegatesWinTest, EachDelegateAnswersItsOwnInterfaceIdOnly) {
  auto completed = mbn_win::CompletedHandler::Create([](AsyncStatus) {});
  auto event = mbn_win::AccountEventHandler::Create([] {});
  auto object_event = mbn_win::AccountObjectEventHandler::Create([] {});
  const GUID own[] = {winrt_abi::ICommandResultCompletedHandler::kIid,
                      winrt_abi::IAccountEventHandler::kIid,
                      winrt_abi::IAccountObjectEventHandler::kIid};
  const bool expected[3][3] = {{true, false, false}, {false, true, false}, {false, false, true}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Answers(completed, own[i]), expected[0][i]);
    EXPECT_EQ(Answers(event, own[i]), expected[1][i]);
    EXPECT_EQ(Answers(object_event, own[i]), expected[2][i]);
  }
  // Every delegate is an IUnknown usable from any thread, and not an IInspectable.
  EXPECT_TRUE(Answers(completed, winrt_abi::IUnknownAbi::kIid));
  EXPECT_TRUE(Answers(event, winrt_abi::IAgileObjectAbi::kIid));
  EXPECT_FALSE(Answers(object_event, winrt_abi::IInspectableAbi::kIid));
}

}  // namespace
}  // namespace halvorn
