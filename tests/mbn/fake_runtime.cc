#include "fake_runtime.h"

#include <cstdio>
#include <thread>

namespace halvorn::testing {

namespace {

using mbn_platform::CallResult;

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::uint8_t b : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  return out;
}

class FakeBuffer : public mbn_platform::RequestBuffer {
 public:
  explicit FakeBuffer(std::span<const std::uint8_t> b) : bytes(b.begin(), b.end()) {}
  std::vector<std::uint8_t> bytes;
};

class FakePending : public mbn_platform::PendingCommand {
 public:
  explicit FakePending(FakeRuntime* rt) : rt_(rt) {}
  ~FakePending() override {
    if (worker_.joinable()) {
      worker_.join();
    }
  }
  CallResult SetCompleted(std::function<void(mbn_platform::AsyncStatus)> on_done) override {
    if (rt_->script.raise == Raise::kSetCompleted) {
      return rt_->Fail(Raise::kSetCompleted);
    }
    rt_->record.pending_handler = on_done;
    const auto status = rt_->script.final_status;
    switch (rt_->script.completion) {
      case Completion::kWhenAttached:
        on_done(status);
        break;
      case Completion::kNever:
        break;
      case Completion::kOnOtherThread:
        worker_ = std::thread([on_done, status] { on_done(status); });
        break;
    }
    return CallResult::Ok();
  }
  CallResult GetResults(std::uint32_t* status_code, std::vector<std::uint8_t>* response) override {
    if (rt_->script.raise == Raise::kGetResults) {
      return rt_->Fail(Raise::kGetResults);
    }
    *status_code = rt_->script.status_code;
    *response = rt_->script.response;
    return CallResult::Ok();
  }

 private:
  FakeRuntime* rt_;
  std::thread worker_;
};

class FakeSession : public mbn_platform::CommandSession {
 public:
  explicit FakeSession(FakeRuntime* rt) : rt_(rt) {}
  std::uintptr_t Identity() const override { return 0x1234ABCD5678EF00u; }
  CallResult SendQuery(std::uint32_t id,
                       mbn_platform::RequestBuffer& request,
                       std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send("query", id, request, pending);
  }
  CallResult SendSet(std::uint32_t id,
                     mbn_platform::RequestBuffer& request,
                     std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send("set", id, request, pending);
  }
  CallResult Close() override {
    if (rt_->script.raise == Raise::kClose) {
      return rt_->Fail(Raise::kClose);
    }
    ++rt_->record.closes;
    return CallResult::Ok();
  }

 private:
  CallResult Send(const char* kind,
                  std::uint32_t id,
                  mbn_platform::RequestBuffer& request,
                  std::unique_ptr<mbn_platform::PendingCommand>* pending) {
    if (rt_->script.raise == Raise::kSend) {
      return rt_->Fail(Raise::kSend);
    }
    rt_->record.sent.push_back(std::string(kind) + " " + std::to_string(id) + " " +
                               Hex(static_cast<FakeBuffer&>(request).bytes));
    *pending = std::make_unique<FakePending>(rt_);
    return CallResult::Ok();
  }
  FakeRuntime* rt_;
};

class FakeService : public mbn_platform::DeviceService {
 public:
  explicit FakeService(FakeRuntime* rt) : rt_(rt) {}
  CallResult OpenCommandSession(std::unique_ptr<mbn_platform::CommandSession>* session) override {
    if (rt_->script.raise == Raise::kOpenCommandSession) {
      return rt_->Fail(Raise::kOpenCommandSession);
    }
    if (rt_->script.has_session) {
      *session = std::make_unique<FakeSession>(rt_);
    }
    return CallResult::Ok();
  }

 private:
  FakeRuntime* rt_;
};

class FakeModem : public mbn_platform::Modem {
 public:
  explicit FakeModem(FakeRuntime* rt) : rt_(rt) {}
  CallResult GetDeviceService(const mbn_platform::ServiceId& id,
                              std::unique_ptr<mbn_platform::DeviceService>* service) override {
    ++rt_->record.service_lookups;
    rt_->record.service_id = id;
    if (rt_->script.raise == Raise::kGetDeviceService) {
      return rt_->Fail(Raise::kGetDeviceService);
    }
    if (rt_->script.has_service) {
      *service = std::make_unique<FakeService>(rt_);
    }
    return CallResult::Ok();
  }

 private:
  FakeRuntime* rt_;
};

class FakeWatcher : public mbn_platform::AccountWatcher {
 public:
  explicit FakeWatcher(std::shared_ptr<FakeRuntime::WatcherState> s) : s_(std::move(s)) {}
  CallResult AddAccountAdded(std::function<void()> h, std::int64_t* token) override {
    s_->added = std::move(h);
    *token = 0x100000001LL;  // only the low 32 bits are shown
    return CallResult::Ok();
  }
  CallResult AddAccountRemoved(std::function<void()> h, std::int64_t* token) override {
    s_->removed = std::move(h);
    *token = 2;
    return CallResult::Ok();
  }
  CallResult AddEnumerationCompleted(std::function<void()> h, std::int64_t* token) override {
    s_->enumerated = std::move(h);
    *token = -3;
    return CallResult::Ok();
  }
  CallResult GetStatus(mbn_platform::WatcherStatus* status) override {
    ++s_->status_reads;
    if (s_->fail_status) {
      return CallResult::StdFailure("status unavailable");
    }
    *status = s_->status;
    return CallResult::Ok();
  }
  CallResult Start() override {
    if (s_->fail_start) {
      return CallResult::Failure();
    }
    ++s_->starts;
    s_->status = mbn_platform::WatcherStatus::kStarted;
    return CallResult::Ok();
  }

 private:
  std::shared_ptr<FakeRuntime::WatcherState> s_;
};

}  // namespace

CallResult FakeRuntime::Fail(Raise) {
  return script.raise_std ? CallResult::StdFailure("bad allocation") : CallResult::Failure();
}

CallResult FakeRuntime::GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) {
  ++record.modem_lookups;
  if (script.raise == Raise::kGetDefaultModemSecond && record.modem_lookups == 2) {
    return Fail(Raise::kGetDefaultModemSecond);
  }
  if (record.modem_lookups <= script.modem_lookups_present) {
    *modem = std::make_unique<FakeModem>(this);
  }
  return CallResult::Ok();
}

CallResult FakeRuntime::MakeRequest(std::span<const std::uint8_t> bytes,
                                    std::unique_ptr<mbn_platform::RequestBuffer>* buffer) {
  if (script.raise == Raise::kMakeRequest) {
    return Fail(Raise::kMakeRequest);
  }
  *buffer = std::make_unique<FakeBuffer>(bytes);
  return CallResult::Ok();
}

CallResult FakeRuntime::CreateAccountWatcher(std::unique_ptr<mbn_platform::AccountWatcher>* w) {
  if (fail_create_watcher) {
    return CallResult::Failure();
  }
  watchers.push_back(std::make_shared<WatcherState>());
  *w = std::make_unique<FakeWatcher>(watchers.back());
  return CallResult::Ok();
}

}  // namespace halvorn::testing
