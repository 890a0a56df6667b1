// A scripted mobile-broadband runtime for the modem helper's tests.

#ifndef HALVORN_TESTS_MBN_FAKE_RUNTIME_H_
#define HALVORN_TESTS_MBN_FAKE_RUNTIME_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mbn/mbn_platform.h"

namespace halvorn::testing {

// Which runtime call raises a failure (at most one per script).
enum class Raise {
  kNone,
  kGetDefaultModemSecond,  // the lookup after the presence test
  kGetDeviceService,
  kOpenCommandSession,
  kMakeRequest,
  kSend,
  kSetCompleted,
  kGetResults,
  kClose,
};

// How the command completes.
enum class Completion {
  kWhenAttached,   // the handler is called as soon as it is attached (already finished)
  kNever,          // never within the wait; the test may complete it later
  kOnOtherThread,  // from another thread, soon after the handler is attached
};

struct FakeScript {
  int modem_lookups_present = 1000;  // GetDefaultModem answers a modem this many times
  bool has_service = true;
  bool has_session = true;
  Raise raise = Raise::kNone;
  bool raise_std = false;  // the raised failure is a standard one ("bad allocation")
  Completion completion = Completion::kWhenAttached;
  mbn_platform::AsyncStatus final_status = mbn_platform::AsyncStatus::kCompleted;
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> response = {0x01, 0x00, 0x00, 0x00};
};

// What the runtime saw.
struct FakeRecord {
  int modem_lookups = 0;
  int service_lookups = 0;
  mbn_platform::ServiceId service_id{};
  std::vector<std::string> sent;  // "query <id> <hex bytes>" / "set <id> <hex bytes>"
  int closes = 0;
  // The completion handler of the last command, kept for a late completion.
  std::function<void(mbn_platform::AsyncStatus)> pending_handler;
};

class FakeRuntime : public mbn_platform::Runtime {
 public:
  FakeScript script;
  FakeRecord record;

  mbn_platform::CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override;
  mbn_platform::CallResult MakeRequest(
      std::span<const std::uint8_t> bytes,
      std::unique_ptr<mbn_platform::RequestBuffer>* buffer) override;
  mbn_platform::CallResult CreateAccountWatcher(
      std::unique_ptr<mbn_platform::AccountWatcher>* watcher) override;

  // Account watchers made so far; the last one is the helper's.
  struct WatcherState {
    mbn_platform::WatcherStatus status = mbn_platform::WatcherStatus::kCreated;
    bool fail_status = false;
    bool fail_start = false;
    int starts = 0;
    int status_reads = 0;
    std::function<void()> added, removed, enumerated;
  };
  std::vector<std::shared_ptr<WatcherState>> watchers;
  bool fail_create_watcher = false;

  mbn_platform::CallResult Fail(Raise at);
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_MBN_FAKE_RUNTIME_H_
