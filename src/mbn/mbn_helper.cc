#include "mbn/mbn_helper.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "util/little_endian.h"
#include "util/log_helper.h"

namespace halvorn {

namespace {

using mbn_platform::AsyncStatus;
using mbn_platform::CallResult;

constexpr const char* kGetTag = "CMbnWinRtHelper::GetMbimCfun";
constexpr const char* kSetTag = "CMbnWinRtHelper::SetMbimCfun";
constexpr const char* kInitTag = "CMbnWinRtHelper::Init";
constexpr const char* kInitWatcherTag = "CMbnWinRtHelper::InitMobileBroadbandAccountWatcher";
constexpr const char* kStartTag = "CMbnWinRtHelper::StartMobileBroadbandAccountWatcher";
constexpr const char* kAddedTag = "CMbnWinRtHelper::AccountAddedHandler";
constexpr const char* kRemovedTag = "CMbnWinRtHelper::AccountRemovedHandler";
constexpr const char* kEnumTag = "CMbnWinRtHelper::AccountEnumHandler";

const char* AsyncStateName(AsyncStatus status) {
  switch (status) {
    case AsyncStatus::kStarted:
      return "Started";
    case AsyncStatus::kCompleted:
      return "Completed";
    case AsyncStatus::kCanceled:
      return "Canceled";
    case AsyncStatus::kError:
      return "Error";
  }
  return "Unknown";
}

void LogRaised(unsigned code, const char* tag, const CallResult& r) {
  if (r.kind == CallResult::Kind::kStdFailure) {
    LogHelper::Print(code, tag, "exception : %s", r.what);
  } else {
    LogHelper::Print(code, tag, "exception other");
  }
}

// Shared by the waiting call and the completion callback; whichever lets go last frees it,
// so a completion that arrives after the wait has given up only updates this orphan.
struct CompletionState {
  std::mutex lock;
  std::condition_variable signalled_cv;
  bool signalled = false;
  AsyncStatus status = AsyncStatus::kStarted;
};

// Waits up to `bound` for `pending` to complete. *status is Started when the bound ran out.
CallResult WaitForCommand(mbn_platform::PendingCommand& pending,
                          std::chrono::milliseconds bound,
                          AsyncStatus* status) {
  auto state = std::make_shared<CompletionState>();
  CallResult r = pending.SetCompleted([state](AsyncStatus done) {
    std::lock_guard<std::mutex> hold(state->lock);
    state->status = done;
    state->signalled = true;
    state->signalled_cv.notify_all();
  });
  if (!r.ok()) {
    return r;
  }
  std::unique_lock<std::mutex> hold(state->lock);
  state->signalled_cv.wait_for(hold, bound, [&] { return state->signalled; });
  *status = state->status;
  return CallResult::Ok();
}

// One run of the level query or set: how it logs, and the runtime objects it reaches, each
// held until the run ends (released in the reverse order).
struct CommandRun {
  explicit CommandRun(bool is_query)
      : query(is_query),
        tag(is_query ? kGetTag : kSetTag),
        failure_code(is_query ? LogError : LogInfo) {}

  const bool query;
  const char* const tag;
  // The query reports its failures as errors, the set as information.
  const unsigned failure_code;
  std::unique_ptr<mbn_platform::Modem> modem;
  std::unique_ptr<mbn_platform::DeviceService> service;
  std::unique_ptr<mbn_platform::CommandSession> session;
  std::unique_ptr<mbn_platform::RequestBuffer> request;
  std::unique_ptr<mbn_platform::PendingCommand> pending;
};

// A raised failure: logged, and the run ends with `result`. The session is not closed
// explicitly; every object is released on the way out.
bool EndsRaised(const CommandRun& run, const CallResult& r, bool result = false) {
  LogRaised(run.failure_code, run.tag, r);
  return result;
}

// An object the runtime did not give: said, and the run fails.
bool EndsWithout(const CommandRun& run, unsigned code, const char* message) {
  LogHelper::Print(code, run.tag, "%s", message);
  return false;
}

// The modem, its vendor device service and a command session on it; false when the run ended.
bool ReachSession(mbn_platform::Runtime& runtime, CommandRun& run) {
  LogHelper::Print(LogInfo, run.tag, "+Get MobileBroadbandModem");
  if (CallResult r = runtime.GetDefaultModem(&run.modem); !r.ok()) {
    return EndsRaised(run, r);
  }
  LogHelper::Print(LogInfo, run.tag, "-Get MobileBroadbandModem");
  if (!run.modem) {
    return EndsWithout(run, LogError, "MBIM Modem is not exist!");
  }

  LogHelper::Print(LogInfo, run.tag, "+Get GetDeviceService");
  if (CallResult r = run.modem->GetDeviceService(CMbnWinRtHelper::qbi_uuid, &run.service);
      !r.ok()) {
    return EndsRaised(run, r);
  }
  LogHelper::Print(LogInfo, run.tag, "-Get GetDeviceService");
  if (!run.service) {
    return EndsWithout(
        run, run.failure_code,
        "GetDeviceService() failed. qbi_uuid ={11223344-5566-7788-99AA-BBCCDDEEFF11}");
  }

  LogHelper::Print(LogInfo, run.tag, "+OpenCommandSession");
  if (CallResult r = run.service->OpenCommandSession(&run.session); !r.ok()) {
    return EndsRaised(run, r);
  }
  LogHelper::Print(LogInfo, run.tag, "-OpenCommandSession");
  if (!run.session) {
    return EndsWithout(run, run.failure_code, "OpenCommandSession() failed.");
  }
  if (run.query) {
    LogHelper::Print(LogInfo, run.tag, "device_service_session:0x%x",
                     static_cast<std::uint32_t>(run.session->Identity() & 0xFFFFFFFFu));
  }
  return true;
}

// The request (the query sends one zero byte; the set sends the level 1 as a little-endian
// 32-bit value), sent on the session; false when the run ended.
bool SendRequest(mbn_platform::Runtime& runtime, CommandRun& run) {
  static constexpr std::uint8_t kQueryRequest[] = {0x00};
  static constexpr std::uint8_t kSetRequest[] = {0x01, 0x00, 0x00, 0x00};
  if (CallResult r = run.query ? runtime.MakeRequest(kQueryRequest, &run.request)
                               : runtime.MakeRequest(kSetRequest, &run.request);
      !r.ok()) {
    return EndsRaised(run, r);
  }
  if (!run.query) {
    LogHelper::Print(LogInfo, run.tag, "set cfun value: %d.", 1);
  }

  LogHelper::Print(LogInfo, run.tag, run.query ? "+SendQueryCommandAsync" : "+SendSetCommandAsync");
  if (CallResult r =
          run.query
              ? run.session->SendQuery(CMbnWinRtHelper::CFUN_COMMAND_ID, *run.request, &run.pending)
              : run.session->SendSet(CMbnWinRtHelper::CFUN_COMMAND_ID, *run.request, &run.pending);
      !r.ok() || !run.pending) {
    return EndsRaised(run, r.ok() ? CallResult::Failure() : r);
  }
  LogHelper::Print(LogInfo, run.tag, run.query ? "-SendQueryCommandAsync" : "-SendSetCommandAsync");
  return true;
}

// Waits up to `bound` for the answer and reads it: whether the command did what it asked
// (the level in *level for a query), or empty when the run ended.
std::optional<bool> ReadAnswer(CommandRun& run,
                               std::chrono::milliseconds bound,
                               std::int32_t* level) {
  AsyncStatus status = AsyncStatus::kStarted;
  if (CallResult r = WaitForCommand(*run.pending, bound, &status); !r.ok()) {
    EndsRaised(run, r);
    return std::nullopt;
  }
  if (status != AsyncStatus::kCompleted) {
    LogHelper::Print(run.failure_code, run.tag, "async_state = %s", AsyncStateName(status));
    return false;
  }
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> response;
  if (CallResult r = run.pending->GetResults(&status_code, &response); !r.ok()) {
    EndsRaised(run, r);
    return std::nullopt;
  }
  if (status_code != 0) {
    LogHelper::Print(run.failure_code, run.tag, "result status code = %d\n", status_code);
    return false;
  }
  if (!run.query) {
    LogHelper::Print(LogInfo, run.tag, "set cfun successful.");
    return true;
  }
  if (response.size() < 4) {
    // A level needs four bytes; a shorter answer is a failed read, never a read past its end.
    LogHelper::Print(LogError, run.tag, "query response too short: %d bytes",
                     static_cast<std::uint32_t>(response.size()));
    return false;
  }
  const auto value = static_cast<std::int32_t>(LoadLe32(response.data()));
  *level = value;
  LogHelper::Print(LogInfo, run.tag, "query command complete. cfun mode = %d.", value);
  return true;
}

}  // namespace

CMbnWinRtHelper::CMbnWinRtHelper(mbn_platform::Runtime& runtime,
                                 std::function<void()> account_added,
                                 std::chrono::milliseconds command_wait)
    : runtime_(runtime), account_added_(std::move(account_added)), command_wait_(command_wait) {
  // The first watcher only makes the runtime's first use here; a failure is of no
  // consequence, Init makes the watcher that is used.
  runtime_.CreateAccountWatcher(&watcher_);
}

bool CMbnWinRtHelper::IsMbimModemExist() {
  std::unique_ptr<mbn_platform::Modem> modem;
  return runtime_.GetDefaultModem(&modem).ok() && modem != nullptr;
}

bool CMbnWinRtHelper::GetMbimCfun(std::int32_t* level) {
  return RunCommand(true, level);
}

bool CMbnWinRtHelper::SetMbimCfun() {
  return RunCommand(false, nullptr);
}

bool CMbnWinRtHelper::RunCommand(bool query, std::int32_t* level) {
  // Made before the trace scope: the runtime objects are released after the leave line.
  CommandRun run(query);
  const TraceScope trace(run.tag);
  if (!IsMbimModemExist()) {
    return EndsWithout(run, LogInfo, "MBIM Device is not exist.");
  }
  if (!ReachSession(runtime_, run) || !SendRequest(runtime_, run)) {
    return false;
  }
  const std::optional<bool> result = ReadAnswer(run, command_wait_, level);
  if (!result) {
    return false;
  }
  if (CallResult r = run.session->Close(); !r.ok()) {
    return EndsRaised(run, r, *result);
  }
  return *result;
}

void CMbnWinRtHelper::Init() {
  const TraceScope trace(kInitTag);
  if (!bInitialized) {
    InitMobileBroadbandAccountWatcher();
    bInitialized = true;
  }
}

void CMbnWinRtHelper::InitMobileBroadbandAccountWatcher() {
  const TraceScope trace(kInitWatcherTag);
  std::unique_ptr<mbn_platform::AccountWatcher> watcher;
  CallResult created = runtime_.CreateAccountWatcher(&watcher);
  if (!created.ok() || !watcher) {
    // The service goes on without a watcher: modems are still authorised at start and after
    // resume.
    LogRaised(LogInfo, kInitWatcherTag, created.ok() ? CallResult::Failure() : created);
    watcher_.reset();
    return;
  }
  watcher_ = std::move(watcher);

  struct Registration {
    CallResult (mbn_platform::AccountWatcher::*add)(std::function<void()>, std::int64_t*);
    std::function<void()> handler;
    const char* line;
  } registrations[] = {
      {&mbn_platform::AccountWatcher::AddAccountAdded, [this] { AccountAddedHandler(); },
       "event add token = %d\n"},
      {&mbn_platform::AccountWatcher::AddAccountRemoved, &AccountRemovedHandler,
       "event remove token = %d\n"},
      {&mbn_platform::AccountWatcher::AddEnumerationCompleted, &AccountEnumHandler,
       "event enum token = %d\n"},
  };
  for (Registration& reg : registrations) {
    std::int64_t token = 0;
    CallResult r = ((*watcher_).*reg.add)(std::move(reg.handler), &token);
    if (!r.ok()) {
      LogRaised(LogInfo, kInitWatcherTag, r);
      continue;
    }
    LogHelper::Print(LogInfo, kInitWatcherTag, reg.line,
                     static_cast<std::int32_t>(static_cast<std::uint32_t>(token & 0xFFFFFFFF)));
  }
}

void CMbnWinRtHelper::StartMobileBroadbandAccountWatcher() {
  using mbn_platform::WatcherStatus;
  const TraceScope trace(kStartTag);
  if (!watcher_) {
    LogHelper::Print(LogInfo, kStartTag, "Watcher is not available.");
    return;
  }
  WatcherStatus status = WatcherStatus::kCreated;
  CallResult r = watcher_->GetStatus(&status);
  if (r.ok() && status == WatcherStatus::kStarted) {
    LogHelper::Print(LogInfo, kStartTag, "Watcher is already started.");
  } else if (r.ok() && (r = watcher_->GetStatus(&status)).ok()) {
    if (status == WatcherStatus::kEnumerationCompleted) {
      LogHelper::Print(LogInfo, kStartTag, "Watcher is already started.");
    } else if ((r = watcher_->Start()).ok()) {
      LogHelper::Print(LogInfo, kStartTag, "Watcher is started successfully.");
    }
  }
  if (!r.ok()) {
    LogRaised(LogInfo, kStartTag, r);
  }
}

void CMbnWinRtHelper::AccountAddedHandler() {
  const TraceScope trace(kAddedTag);
  if (account_added_) {
    account_added_();
  }
}

// Registered for its token and trace lines only: a removed modem needs no work, the next one
// added runs the job again.
void CMbnWinRtHelper::AccountRemovedHandler() {
  const TraceScope trace(kRemovedTag);
}

// Registered for its token and trace lines only: the modems present at the start are found by
// the job the service runs at start.
void CMbnWinRtHelper::AccountEnumHandler() {
  const TraceScope trace(kEnumTag);
}

}  // namespace halvorn
