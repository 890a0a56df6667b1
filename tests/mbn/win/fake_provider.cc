// A fake provider of the mobile-broadband runtime classes for tests under Wine (or Windows):
// a DLL with DllGetActivationFactory, registered by the tests under the real class names, so
// that the runtime's own activation (RoGetActivationFactory) loads it. It behaves like one
// modem with the vendor device service, following the script a test sets through the control
// functions (fake_provider_control.h), and records what it receives.
//
// It checks the interface ids of what it is handed (the completion handler, the event
// handlers) against the documented ids parsed from text at run time, independently of the
// compile-time ids of winrt_abi.h. Every object it makes is counted while alive, so tests can
// see that every reference was released.

#include <windows.h>

#include <combaseapi.h>
#include <winstring.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "fake_provider_control.h"
#include "mbn/win/com_ptr.h"
#include "mbn/win/winrt_abi.h"

namespace {

using namespace halvorn::winrt_abi;  // NOLINT: the ABI types are this file's vocabulary

// ---------------------------------------------------------------------------------------------
// Shared state.

GUID IidFromText(const wchar_t* text) {
  GUID iid{};
  IIDFromString(text, &iid);
  return iid;
}

// The documented ids, from their text.
struct Iids {
  GUID unknown = IidFromText(L"{00000000-0000-0000-c000-000000000046}");
  GUID inspectable = IidFromText(L"{af86e2e0-b12d-4c6a-9c5a-d7aa65101e90}");
  GUID agile = IidFromText(L"{94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90}");
  GUID marshal = IidFromText(L"{00000003-0000-0000-c000-000000000046}");
  GUID free_threaded_marshaler = IidFromText(L"{0000033a-0000-0000-c000-000000000046}");
  GUID activation_factory = IidFromText(L"{00000035-0000-0000-c000-000000000046}");
  GUID modem_statics = IidFromText(L"{f99ed637-d6f1-4a78-8cbc-6421a65063c8}");
  GUID modem = IidFromText(L"{d0356912-e9f9-4f67-a03d-43189a316bf1}");
  GUID device_service = IidFromText(L"{22be1a52-bd80-40ac-8e1f-2e07836a3dbd}");
  GUID session = IidFromText(L"{fc098a45-913b-4914-b6c3-ae6304593e75}");
  GUID command_result = IidFromText(L"{b0f46abb-94d6-44b9-a538-f0810b645389}");
  GUID async_operation = IidFromText(L"{2c673aa8-6a35-50fd-9422-3615a1c28ccb}");
  GUID completed_handler = IidFromText(L"{21f0ce4f-8f33-5e71-a457-dda553b0d6bb}");
  GUID buffer = IidFromText(L"{905a0fe0-bc53-11df-8c49-001e4fc686da}");
  GUID buffer_byte_access = IidFromText(L"{905a0fef-bc53-11df-8c49-001e4fc686da}");
  GUID data_writer = IidFromText(L"{64b89265-d341-4922-b38a-dd4af8808c4e}");
  GUID watcher = IidFromText(L"{6bf3335e-23b5-449f-928d-5e0d3e04471d}");
  GUID account_event_args = IidFromText(L"{3853c880-77de-4c04-bead-a123b08c9f59}");
  GUID account_handler = IidFromText(L"{423cc41e-fe8c-5a7d-9fee-aae04ef85700}");
  GUID object_handler = IidFromText(L"{e4dc9cfc-f462-5afd-856d-04ace229d00e}");
};

const Iids& Iid() {
  static const Iids* const iids = new Iids;
  return *iids;
}

class Operation;
class Watcher;

// Registration tokens count up from here: high bits set, low 32 bits 1, 2, 3...
constexpr std::int64_t kFirstToken = (std::int64_t{7} << 32) + 1;

FakeScript DefaultScript() {
  FakeScript s{};
  s.modem_lookups_present = -1;
  s.has_service = 1;
  s.has_session = 1;
  s.fail_at = kFailNone;
  s.fail_hr = S_OK;
  s.completion = kCompleteBeforeAttach;
  s.final_status = static_cast<std::int32_t>(AsyncStatus::kCompleted);
  s.response_length = 4;
  s.response[0] = 0x01;
  s.factories_agile = 1;
  s.require_apartment = 1;
  return s;
}

struct State {
  std::mutex lock;
  FakeScript script = DefaultScript();
  FakeRecord record{};
  std::condition_variable rendezvous;
  int inside_lookup = 0;
  std::mutex threads_lock;
  std::vector<std::thread> threads;
  ComPtr<ICommandResultAsyncOperation> held;  // a command completed only on request
  std::set<Watcher*> watchers;                // live watchers
  std::int64_t next_token = kFirstToken;
};

// The shared memory of a test in another process, when there is one (see
// FakeSharedState). Looked at once, when the provider's state is made.
FakeSharedState* OpenShared() {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, HALVORN_FAKE_PROVIDER_SHARED_NAME);
  if (mapping == nullptr) {
    return nullptr;
  }
  // The view stays mapped for the life of the process.
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FakeSharedState));
  CloseHandle(mapping);
  return static_cast<FakeSharedState*>(view);
}

FakeSharedState* const* Shared() {
  static FakeSharedState* const shared = OpenShared();
  return &shared;
}

// Never destroyed: threads and objects of the provider may outlive any order of teardown.
State& S() {
  static State* const state = [] {
    auto* made = new State;
    if (FakeSharedState* shared = *Shared()) {
      made->script = shared->script;
      made->record.level = shared->script.level;
    }
    return made;
  }();
  return *state;
}

// Copies the record to the test's shared memory. Call with S().lock held.
void Publish() {
  if (FakeSharedState* shared = *Shared()) {
    shared->record = S().record;
  }
}

// Runs `body` on a new thread that WaitIdle joins.
template <class Body>
void Spawn(Body body) {
  std::lock_guard<std::mutex> hold(S().threads_lock);
  S().threads.emplace_back(std::move(body));
}

void WaitIdle() {
  for (;;) {
    std::vector<std::thread> running;
    {
      std::lock_guard<std::mutex> hold(S().threads_lock);
      running.swap(S().threads);
    }
    if (running.empty()) {
      return;
    }
    for (std::thread& t : running) {
      t.join();
    }
  }
}

FakeScript Script() {
  std::lock_guard<std::mutex> hold(S().lock);
  return S().script;
}

template <class Update>
void Record(Update update) {
  std::lock_guard<std::mutex> hold(S().lock);
  update(S().record);
  Publish();
}

// The scripted failure of `point`, or S_OK.
HRESULT FailureAt(FakeFailPoint point) {
  const FakeScript script = Script();
  return script.fail_at == point ? script.fail_hr : S_OK;
}

// ---------------------------------------------------------------------------------------------
// Objects.

// Reference counting and the alive count of an object of the provider.
template <class Derived>
class Counted {
 public:
  ULONG AddRefObject() { return refs_.fetch_add(1) + 1; }
  // A reference unless the object is already on its way out.
  bool TryAddRef() {
    ULONG n = refs_.load();
    while (n != 0) {
      if (refs_.compare_exchange_weak(n, n + 1)) {
        return true;
      }
    }
    return false;
  }
  ULONG ReleaseObject() {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) {
      delete static_cast<Derived*>(this);
    }
    return left;
  }

 protected:
  explicit Counted(bool factory) : factory_(factory) {
    Record([this](FakeRecord& r) { ++(factory_ ? r.factories_alive : r.objects_alive); });
  }
  ~Counted() {
    Record([this](FakeRecord& r) { --(factory_ ? r.factories_alive : r.objects_alive); });
  }

 private:
  const bool factory_;
  std::atomic<ULONG> refs_{1};
};

// The IUnknown and IInspectable slots of interface `Iface` of object `Derived`, which answers
// QueryInterface through its Query member.
template <class Derived, class Iface>
struct Implements : Iface {
  static Derived* Self(Iface* i) { return static_cast<Derived*>(i); }
  static HRESULT STDMETHODCALLTYPE QueryInterface(Iface* i, const IID& iid, void** out) {
    if (out == nullptr) {
      return E_POINTER;
    }
    *out = nullptr;
    if (void* found = Self(i)->Query(iid)) {
      Self(i)->AddRefObject();
      *out = found;
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE AddRef(Iface* i) { return Self(i)->AddRefObject(); }
  static ULONG STDMETHODCALLTYPE Release(Iface* i) { return Self(i)->ReleaseObject(); }
  static HRESULT STDMETHODCALLTYPE GetIids(Iface*, ULONG* count, IID** iids) {
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetRuntimeClassName(Iface*, HSTRING* name) {
    *name = nullptr;
    return E_NOTIMPL;
  }
  static HRESULT STDMETHODCALLTYPE GetTrustLevel(Iface*, TrustLevel* level) {
    *level = BaseTrust;
    return S_OK;
  }
  static constexpr UnknownSlots<Iface> kUnknown = {&QueryInterface, &AddRef, &Release};
  static constexpr InspectableSlots<Iface> kInspectable = {kUnknown, &GetIids, &GetRuntimeClassName,
                                                           &GetTrustLevel};
};

// Failure codes of the runtime that MinGW's headers lack.
constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000EL);
constexpr HRESULT kIllegalDelegateAssignment = static_cast<HRESULT>(0x80000018L);

bool Is(const IID& iid, const GUID& want) {
  return IsEqualGUID(iid, want) != 0;
}

// A buffer of bytes: IBuffer and IBufferByteAccess.
class Buffer final : public Counted<Buffer>,
                     public Implements<Buffer, IBuffer>,
                     public Implements<Buffer, IBufferByteAccess> {
 public:
  Buffer(std::vector<std::uint8_t> bytes, UINT32 capacity, UINT32 length)
      : Counted(false), bytes_(std::move(bytes)), capacity_(capacity), length_(length) {
    bytes_.resize(std::max<std::size_t>(bytes_.size(), capacity_));
    static_cast<IBuffer*>(this)->lpVtbl = &kBufferVtbl;
    static_cast<IBufferByteAccess*>(this)->lpVtbl = &kAccessVtbl;
  }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().buffer)) {
      return static_cast<IBuffer*>(this);
    }
    if (Is(iid, Iid().buffer_byte_access)) {
      return static_cast<IBufferByteAccess*>(this);
    }
    return nullptr;
  }

  // The bytes of any IBuffer, read through its own interfaces.
  static std::vector<std::uint8_t> BytesOf(IBuffer* buffer) {
    UINT32 length = 0;
    buffer->lpVtbl->get_Length(buffer, &length);
    ComPtr<IBufferByteAccess> access;
    ComPtr<IBuffer>::Share(buffer).As(&access);
    BYTE* data = nullptr;
    if (access) {
      access->lpVtbl->Buffer(access.get(), &data);
    }
    return data ? std::vector<std::uint8_t>(data, data + length) : std::vector<std::uint8_t>{};
  }

 private:
  using AsBuffer = Implements<Buffer, IBuffer>;
  using AsAccess = Implements<Buffer, IBufferByteAccess>;

  static HRESULT STDMETHODCALLTYPE GetCapacity(IBuffer* i, UINT32* value) {
    *value = AsBuffer::Self(i)->capacity_;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetLength(IBuffer* i, UINT32* value) {
    *value = AsBuffer::Self(i)->length_;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutLength(IBuffer* i, UINT32 value) {
    Buffer* self = AsBuffer::Self(i);
    if (value > self->capacity_) {
      return E_INVALIDARG;
    }
    self->length_ = value;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE Bytes(IBufferByteAccess* i, BYTE** value) {
    *value = AsAccess::Self(i)->bytes_.data();
    return S_OK;
  }

  static constexpr IBuffer::Vtbl kBufferVtbl = {
      .base = AsBuffer::kInspectable,
      .get_Capacity = &GetCapacity,
      .get_Length = &GetLength,
      .put_Length = &PutLength,
  };
  static constexpr IBufferByteAccess::Vtbl kAccessVtbl = {.base = AsAccess::kUnknown,
                                                          .Buffer = &Bytes};

  std::vector<std::uint8_t> bytes_;
  const UINT32 capacity_;
  UINT32 length_;
};

ComPtr<IBuffer> MakeBuffer(std::vector<std::uint8_t> bytes, UINT32 capacity, UINT32 length) {
  return ComPtr<IBuffer>::Adopt(new Buffer(std::move(bytes), capacity, length));
}

class DataWriter final : public Counted<DataWriter>, public Implements<DataWriter, IDataWriter> {
 public:
  DataWriter() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().data_writer)) {
      return static_cast<IDataWriter*>(this);
    }
    return nullptr;
  }

 private:
  static HRESULT STDMETHODCALLTYPE WriteBytes(IDataWriter* i, UINT32 length, BYTE* value) {
    if (const HRESULT hr = FailureAt(kFailWriteBytes); FAILED(hr)) {
      return hr;
    }
    std::vector<std::uint8_t>& pending = Self(i)->pending_;
    pending.insert(pending.end(), value, value + length);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE DetachBuffer(IDataWriter* i, IBuffer** buffer) {
    *buffer = nullptr;
    if (const HRESULT hr = FailureAt(kFailDetachBuffer); FAILED(hr)) {
      return hr;
    }
    std::vector<std::uint8_t> bytes = std::exchange(Self(i)->pending_, {});
    const auto length = static_cast<UINT32>(bytes.size());
    *buffer = MakeBuffer(std::move(bytes), length, length).Detach();
    return S_OK;
  }

  static constexpr IDataWriter::Vtbl kVtbl = {
      .base = kInspectable,
      .WriteBytes = &WriteBytes,
      .DetachBuffer = &DetachBuffer,
  };

  std::vector<std::uint8_t> pending_;
};

// What a modem that keeps its level answered to one command.
struct Answer {
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> bytes;
};

// Carries out a command on the kept level (FakeScript::keeps_level) and says what goes back.
Answer ExecuteOnKeptLevel(bool set, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> hold(S().lock);
  Answer answer;
  std::int32_t& level = S().record.level;
  if (set) {
    answer.status_code = S().script.set_status_code;
    if (answer.status_code == 0 && bytes.size() >= 4) {
      level = static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                        static_cast<std::uint32_t>(bytes[3]) << 24);
      Publish();
    }
    return answer;
  }
  answer.status_code = S().script.status_code;
  const auto value = static_cast<std::uint32_t>(level);
  answer.bytes = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return answer;
}

class CommandResult final
    : public Counted<CommandResult>,
      public Implements<CommandResult, IMobileBroadbandDeviceServiceCommandResult> {
 public:
  // `answer`: what a level-keeping modem answered; empty for the scripted answer.
  explicit CommandResult(std::optional<Answer> answer)
      : Counted(false), answer_(std::move(answer)) {
    lpVtbl = &kVtbl;
  }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().command_result)) {
      return static_cast<IMobileBroadbandDeviceServiceCommandResult*>(this);
    }
    return nullptr;
  }

 private:
  static HRESULT STDMETHODCALLTYPE GetStatusCode(IMobileBroadbandDeviceServiceCommandResult* i,
                                                 UINT32* value) {
    if (const HRESULT hr = FailureAt(kFailStatusCode); FAILED(hr)) {
      return hr;
    }
    *value = Self(i)->answer_ ? Self(i)->answer_->status_code : Script().status_code;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetResponseData(IMobileBroadbandDeviceServiceCommandResult* i,
                                                   IBuffer** value) {
    *value = nullptr;
    if (const HRESULT hr = FailureAt(kFailResponseData); FAILED(hr)) {
      return hr;
    }
    if (const std::optional<Answer>& answer = Self(i)->answer_) {
      const auto length = static_cast<UINT32>(answer->bytes.size());
      *value = MakeBuffer(answer->bytes, length, length).Detach();
      return S_OK;
    }
    const FakeScript script = Script();
    if (script.response_null) {
      return S_OK;
    }
    const UINT32 length = std::min<UINT32>(script.response_length, sizeof script.response);
    std::vector<std::uint8_t> bytes(script.response, script.response + length);
    const UINT32 capacity = length + script.response_capacity_extra;
    // An overlong buffer claims one byte more than it holds.
    *value =
        MakeBuffer(std::move(bytes), capacity, script.response_overlong ? capacity + 1 : length)
            .Detach();
    return S_OK;
  }

  static constexpr IMobileBroadbandDeviceServiceCommandResult::Vtbl kVtbl = {
      .base = kInspectable,
      .get_StatusCode = &GetStatusCode,
      .get_ResponseData = &GetResponseData,
  };

  const std::optional<Answer> answer_;
};

// A sent command: IAsyncOperation<MobileBroadbandDeviceServiceCommandResult>.
class Operation final : public Counted<Operation>,
                        public Implements<Operation, ICommandResultAsyncOperation> {
 public:
  explicit Operation(std::optional<Answer> answer) : Counted(false), answer_(std::move(answer)) {
    lpVtbl = &kVtbl;
    if (Script().completion == kCompleteBeforeAttach) {
      done_ = true;
      status_ = static_cast<AsyncStatus>(Script().final_status);
    }
  }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().async_operation)) {
      return static_cast<ICommandResultAsyncOperation*>(this);
    }
    return nullptr;
  }

  // Finishes with `status` and invokes the handler, if one is attached, on this thread.
  void Complete(AsyncStatus status) {
    ComPtr<ICommandResultCompletedHandler> handler;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (done_) {
        return;
      }
      done_ = true;
      status_ = status;
      handler = std::move(handler_);
    }
    if (handler) {
      handler->lpVtbl->Invoke(handler.get(), this, status);
      // Letting go of the handler after the completion, as the runtime does; what the
      // release returns tells whether anybody else still holds it.
      ICommandResultCompletedHandler* raw = handler.Detach();
      const auto left = static_cast<std::int32_t>(raw->lpVtbl->base.Release(raw));
      Record([left](FakeRecord& r) { r.handler_refs_left = left; });
    }
  }

 private:
  static HRESULT STDMETHODCALLTYPE PutCompleted(ICommandResultAsyncOperation* i,
                                                ICommandResultCompletedHandler* handler) {
    if (const HRESULT hr = FailureAt(kFailPutCompleted); FAILED(hr)) {
      return hr;
    }
    if (handler == nullptr) {
      return E_POINTER;
    }
    // The handler must be what it claims to be.
    void* checked = nullptr;
    if (FAILED(handler->lpVtbl->base.QueryInterface(handler, Iid().completed_handler, &checked)) ||
        checked == nullptr) {
      Record([](FakeRecord& r) { ++r.bad_handler; });
      return E_NOINTERFACE;
    }
    ComPtr<ICommandResultCompletedHandler>::Adopt(
        static_cast<ICommandResultCompletedHandler*>(checked));
    Operation* self = Self(i);
    bool done = false;
    AsyncStatus status = AsyncStatus::kStarted;
    {
      std::lock_guard<std::mutex> hold(self->lock_);
      if (self->attached_) {
        return kIllegalDelegateAssignment;
      }
      self->attached_ = true;
      done = self->done_;
      status = self->status_;
      if (!done) {
        self->handler_ = ComPtr<ICommandResultCompletedHandler>::Share(handler);
      }
    }
    if (done) {
      // Already finished: the handler runs at once, on the caller's thread.
      handler->lpVtbl->Invoke(handler, self, status);
      return S_OK;
    }
    const FakeScript script = Script();
    auto op = ComPtr<ICommandResultAsyncOperation>::Share(self);
    if (script.completion == kCompleteFromOtherThread) {
      const auto final_status = static_cast<AsyncStatus>(script.final_status);
      Spawn([op, final_status] { Self(op.get())->Complete(final_status); });
    } else {
      std::lock_guard<std::mutex> hold(S().lock);
      S().held = op;
    }
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetCompleted(ICommandResultAsyncOperation* i,
                                                ICommandResultCompletedHandler** handler) {
    std::lock_guard<std::mutex> hold(Self(i)->lock_);
    *handler = ComPtr<ICommandResultCompletedHandler>(Self(i)->handler_).Detach();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetResults(ICommandResultAsyncOperation* i,
                                              IMobileBroadbandDeviceServiceCommandResult** out) {
    *out = nullptr;
    if (const HRESULT hr = FailureAt(kFailGetResults); FAILED(hr)) {
      return hr;
    }
    Operation* self = Self(i);
    std::lock_guard<std::mutex> hold(self->lock_);
    if (!self->done_ || self->status_ != AsyncStatus::kCompleted) {
      return kIllegalMethodCall;
    }
    *out = new CommandResult(self->answer_);
    return S_OK;
  }

  static constexpr ICommandResultAsyncOperation::Vtbl kVtbl = {
      .base = kInspectable,
      .put_Completed = &PutCompleted,
      .get_Completed = &GetCompleted,
      .GetResults = &GetResults,
  };

  const std::optional<Answer> answer_;
  std::mutex lock_;
  bool done_ = false;
  bool attached_ = false;
  AsyncStatus status_ = AsyncStatus::kStarted;
  ComPtr<ICommandResultCompletedHandler> handler_;
};

class Session final : public Counted<Session>,
                      public Implements<Session, IMobileBroadbandDeviceServiceCommandSession> {
 public:
  Session() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().session)) {
      return static_cast<IMobileBroadbandDeviceServiceCommandSession*>(this);
    }
    return nullptr;
  }

 private:
  static HRESULT Send(bool set,
                      UINT32 command_id,
                      IBuffer* data,
                      ICommandResultAsyncOperation** operation) {
    *operation = nullptr;
    if (const HRESULT hr = FailureAt(kFailSend); FAILED(hr)) {
      return hr;
    }
    if (data == nullptr) {
      return E_POINTER;
    }
    const std::vector<std::uint8_t> bytes = Buffer::BytesOf(data);
    Record([&](FakeRecord& r) {
      if (r.command_count < static_cast<std::int32_t>(std::size(r.commands))) {
        FakeCommand& c = r.commands[r.command_count];
        c.set = set ? 1 : 0;
        c.command_id = command_id;
        c.length = static_cast<std::uint32_t>(bytes.size());
        std::memcpy(c.bytes, bytes.data(), std::min(bytes.size(), sizeof c.bytes));
      }
      ++r.command_count;
    });
    std::optional<Answer> answer;
    if (Script().keeps_level) {
      answer = ExecuteOnKeptLevel(set, bytes);
    }
    *operation = new Operation(std::move(answer));
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE SendQuery(IMobileBroadbandDeviceServiceCommandSession*,
                                             UINT32 command_id,
                                             IBuffer* data,
                                             ICommandResultAsyncOperation** operation) {
    return Send(false, command_id, data, operation);
  }
  static HRESULT STDMETHODCALLTYPE SendSet(IMobileBroadbandDeviceServiceCommandSession*,
                                           UINT32 command_id,
                                           IBuffer* data,
                                           ICommandResultAsyncOperation** operation) {
    return Send(true, command_id, data, operation);
  }
  static HRESULT STDMETHODCALLTYPE CloseSession(IMobileBroadbandDeviceServiceCommandSession*) {
    if (const HRESULT hr = FailureAt(kFailCloseSession); FAILED(hr)) {
      return hr;
    }
    Record([](FakeRecord& r) { ++r.sessions_closed; });
    return S_OK;
  }

  static constexpr IMobileBroadbandDeviceServiceCommandSession::Vtbl kVtbl = {
      .base = kInspectable,
      .SendQueryCommandAsync = &SendQuery,
      .SendSetCommandAsync = &SendSet,
      .CloseSession = &CloseSession,
  };
};

class DeviceService final : public Counted<DeviceService>,
                            public Implements<DeviceService, IMobileBroadbandDeviceService> {
 public:
  DeviceService() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().device_service)) {
      return static_cast<IMobileBroadbandDeviceService*>(this);
    }
    return nullptr;
  }

 private:
  static HRESULT STDMETHODCALLTYPE
  OpenCommandSession(IMobileBroadbandDeviceService*,
                     IMobileBroadbandDeviceServiceCommandSession** session) {
    *session = nullptr;
    if (const HRESULT hr = FailureAt(kFailOpenCommandSession); FAILED(hr)) {
      return hr;
    }
    if (Script().has_session) {
      *session = new Session;
      const auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(*session));
      Record([low](FakeRecord& r) { r.session_address_low = low; });
    }
    return S_OK;
  }

  static constexpr IMobileBroadbandDeviceService::Vtbl kVtbl = {
      .base = kInspectable,
      .OpenCommandSession = &OpenCommandSession,
  };
};

class Modem final : public Counted<Modem>, public Implements<Modem, IMobileBroadbandModem> {
 public:
  Modem() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().modem)) {
      return static_cast<IMobileBroadbandModem*>(this);
    }
    return nullptr;
  }

 private:
  static HRESULT STDMETHODCALLTYPE GetDeviceService(IMobileBroadbandModem*,
                                                    GUID id,
                                                    IMobileBroadbandDeviceService** service) {
    *service = nullptr;
    Record([&](FakeRecord& r) {
      ++r.service_lookups;
      r.service_id = id;
    });
    if (const HRESULT hr = FailureAt(kFailGetDeviceService); FAILED(hr)) {
      return hr;
    }
    if (Script().has_service) {
      *service = new DeviceService;
    }
    return S_OK;
  }

  static constexpr IMobileBroadbandModem::Vtbl kVtbl = {
      .base = kInspectable,
      .GetDeviceService = &GetDeviceService,
  };
};

// An account event's arguments, and the plain object of EnumerationCompleted.
class AccountEventArgs final
    : public Counted<AccountEventArgs>,
      public Implements<AccountEventArgs, IMobileBroadbandAccountEventArgs> {
 public:
  AccountEventArgs() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().account_event_args)) {
      return static_cast<IMobileBroadbandAccountEventArgs*>(this);
    }
    return nullptr;
  }

 private:
  static constexpr IMobileBroadbandAccountEventArgs::Vtbl kVtbl = {.base = kInspectable};
};

class PlainObject final : public Counted<PlainObject>,
                          public Implements<PlainObject, IInspectableAbi> {
 public:
  PlainObject() : Counted(false) { lpVtbl = &kVtbl; }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable)) {
      return static_cast<IInspectableAbi*>(this);
    }
    return nullptr;
  }

 private:
  static constexpr IInspectableAbi::Vtbl kVtbl = {.base = kInspectable};
};

class Watcher final : public Counted<Watcher>,
                      public Implements<Watcher, IMobileBroadbandAccountWatcher> {
 public:
  enum Event { kAdded, kRemoved, kEnumerated };

  Watcher() : Counted(false) {
    lpVtbl = &kVtbl;
    std::lock_guard<std::mutex> hold(S().lock);
    S().watchers.insert(this);
  }
  ~Watcher() {
    std::lock_guard<std::mutex> hold(S().lock);
    S().watchers.erase(this);
  }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().watcher)) {
      return static_cast<IMobileBroadbandAccountWatcher*>(this);
    }
    return nullptr;
  }

  // Every started live watcher, each with a reference.
  static std::vector<ComPtr<IMobileBroadbandAccountWatcher>> Started() {
    std::vector<ComPtr<IMobileBroadbandAccountWatcher>> out;
    std::lock_guard<std::mutex> hold(S().lock);
    for (Watcher* w : S().watchers) {
      if (w->started_ && w->TryAddRef()) {
        out.push_back(ComPtr<IMobileBroadbandAccountWatcher>::Adopt(w));
      }
    }
    return out;
  }

  // Invokes the handlers of `event` on this thread.
  void Deliver(Event event) {
    std::vector<ComPtr<IUnknownAbi>> handlers;
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (const auto& [token, registered] : handlers_) {
        if (registered.first == event) {
          handlers.push_back(registered.second);
        }
      }
    }
    for (const ComPtr<IUnknownAbi>& handler : handlers) {
      if (event == kEnumerated) {
        auto args = ComPtr<IInspectableAbi>::Adopt(new PlainObject);
        auto* typed = reinterpret_cast<IAccountObjectEventHandler*>(handler.get());
        typed->lpVtbl->Invoke(typed, this, args.get());
      } else {
        auto args = ComPtr<IMobileBroadbandAccountEventArgs>::Adopt(new AccountEventArgs);
        auto* typed = reinterpret_cast<IAccountEventHandler*>(handler.get());
        typed->lpVtbl->Invoke(typed, this, args.get());
      }
      Record([](FakeRecord& r) { ++r.events_delivered; });
    }
  }

 private:
  // Registers `handler` for `event` after checking that it answers `iid`.
  template <class Handler>
  static HRESULT Add(IMobileBroadbandAccountWatcher* i,
                     Event event,
                     const GUID& iid,
                     Handler* handler,
                     EventRegistrationToken* token) {
    if (handler == nullptr || token == nullptr) {
      return E_POINTER;
    }
    void* checked = nullptr;
    if (FAILED(handler->lpVtbl->base.QueryInterface(handler, iid, &checked)) || !checked) {
      Record([](FakeRecord& r) { ++r.bad_handler; });
      return E_NOINTERFACE;
    }
    auto held = ComPtr<IUnknownAbi>::Adopt(static_cast<IUnknownAbi*>(checked));
    std::int64_t value = 0;
    {
      std::lock_guard<std::mutex> hold(S().lock);
      value = S().next_token++;
      ++S().record.handlers_registered;
    }
    Watcher* self = Self(i);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->handlers_[value] = {event, std::move(held)};
    token->value = value;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE AddAccountAdded(IMobileBroadbandAccountWatcher* i,
                                                   IAccountEventHandler* handler,
                                                   EventRegistrationToken* token) {
    if (const HRESULT hr = FailureAt(kFailAddAccountAdded); FAILED(hr)) {
      return hr;
    }
    return Add(i, kAdded, Iid().account_handler, handler, token);
  }
  static HRESULT STDMETHODCALLTYPE AddAccountRemoved(IMobileBroadbandAccountWatcher* i,
                                                     IAccountEventHandler* handler,
                                                     EventRegistrationToken* token) {
    return Add(i, kRemoved, Iid().account_handler, handler, token);
  }
  static HRESULT STDMETHODCALLTYPE AddEnumerationCompleted(IMobileBroadbandAccountWatcher* i,
                                                           IAccountObjectEventHandler* handler,
                                                           EventRegistrationToken* token) {
    return Add(i, kEnumerated, Iid().object_handler, handler, token);
  }
  static HRESULT STDMETHODCALLTYPE GetStatus(IMobileBroadbandAccountWatcher* i,
                                             MobileBroadbandAccountWatcherStatus* status) {
    if (const HRESULT hr = FailureAt(kFailGetStatus); FAILED(hr)) {
      return hr;
    }
    *status = Self(i)->status_.load();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE Start(IMobileBroadbandAccountWatcher* i) {
    if (const HRESULT hr = FailureAt(kFailStart); FAILED(hr)) {
      return hr;
    }
    Watcher* self = Self(i);
    const auto status = self->status_.load();
    if (status == MobileBroadbandAccountWatcherStatus::kStarted ||
        status == MobileBroadbandAccountWatcherStatus::kEnumerationCompleted) {
      return kIllegalMethodCall;
    }
    self->status_ = MobileBroadbandAccountWatcherStatus::kStarted;
    {
      std::lock_guard<std::mutex> hold(S().lock);
      self->started_ = true;
      ++S().record.watcher_starts;
    }
    // Accounts present now are reported first, then the end of the enumeration, on a thread
    // of the provider.
    const int accounts = Script().accounts_at_start;
    auto keep = ComPtr<IMobileBroadbandAccountWatcher>::Share(self);
    Spawn([keep, accounts] {
      Watcher* w = Self(keep.get());
      for (int n = 0; n < accounts; ++n) {
        w->Deliver(kAdded);
      }
      w->status_ = MobileBroadbandAccountWatcherStatus::kEnumerationCompleted;
      w->Deliver(kEnumerated);
    });
    return S_OK;
  }

  static constexpr IMobileBroadbandAccountWatcher::Vtbl kVtbl = {
      .base = kInspectable,
      .add_AccountAdded = &AddAccountAdded,
      .add_AccountRemoved = &AddAccountRemoved,
      .add_EnumerationCompleted = &AddEnumerationCompleted,
      .get_Status = &GetStatus,
      .Start = &Start,
  };

  std::mutex lock_;
  std::map<std::int64_t, std::pair<Event, ComPtr<IUnknownAbi>>> handlers_;
  std::atomic<MobileBroadbandAccountWatcherStatus> status_{
      MobileBroadbandAccountWatcherStatus::kCreated};
  bool started_ = false;  // guarded by S().lock
};

// The activation factory of one class: IActivationFactory, for the modem also its statics;
// agile or marshaled through the free-threaded marshaler as the script said when it was made.
class Factory final : public Counted<Factory>,
                      public Implements<Factory, IActivationFactoryAbi>,
                      public Implements<Factory, IMobileBroadbandModemStatics>,
                      public Implements<Factory, IMarshalAbi> {
 public:
  explicit Factory(FakeClass kind)
      : Counted(true),
        kind_(kind),
        agile_(Script().factories_agile != 0),
        ftm_(Script().factories_ftm != 0) {
    static_cast<IActivationFactoryAbi*>(this)->lpVtbl = &kFactoryVtbl;
    static_cast<IMobileBroadbandModemStatics*>(this)->lpVtbl = &kStaticsVtbl;
    static_cast<IMarshalAbi*>(this)->lpVtbl = &kMarshalVtbl;
    Record([kind](FakeRecord& r) { ++r.factories_made[kind]; });
  }
  void* Query(const IID& iid) {
    if (Is(iid, Iid().unknown) || Is(iid, Iid().inspectable) || Is(iid, Iid().activation_factory) ||
        (agile_ && Is(iid, Iid().agile))) {
      return static_cast<IActivationFactoryAbi*>(this);
    }
    if (kind_ == kClassModem && Is(iid, Iid().modem_statics)) {
      return static_cast<IMobileBroadbandModemStatics*>(this);
    }
    if (ftm_ && Is(iid, Iid().marshal)) {
      return static_cast<IMarshalAbi*>(this);
    }
    return nullptr;
  }

 private:
  using AsFactory = Implements<Factory, IActivationFactoryAbi>;
  using AsStatics = Implements<Factory, IMobileBroadbandModemStatics>;
  using AsMarshal = Implements<Factory, IMarshalAbi>;

  static HRESULT STDMETHODCALLTYPE ActivateInstance(IActivationFactoryAbi* i,
                                                    IInspectableAbi** instance) {
    *instance = nullptr;
    const FakeClass kind = AsFactory::Self(i)->kind_;
    Record([kind](FakeRecord& r) { ++r.activations[kind]; });
    if (kind == kClassAccountWatcher) {
      if (const HRESULT hr = FailureAt(kFailActivateWatcher); FAILED(hr)) {
        return hr;
      }
      *instance = reinterpret_cast<IInspectableAbi*>(
          static_cast<IMobileBroadbandAccountWatcher*>(new Watcher));
      return S_OK;
    }
    if (kind == kClassDataWriter) {
      if (const HRESULT hr = FailureAt(kFailActivateDataWriter); FAILED(hr)) {
        return hr;
      }
      *instance = reinterpret_cast<IInspectableAbi*>(static_cast<IDataWriter*>(new DataWriter));
      return S_OK;
    }
    return E_NOTIMPL;  // the modem has no default constructor
  }
  static HRESULT STDMETHODCALLTYPE GetDefault(IMobileBroadbandModemStatics*,
                                              IMobileBroadbandModem** modem) {
    *modem = nullptr;
    std::int32_t lookup = 0;
    Record([&](FakeRecord& r) { lookup = ++r.default_lookups; });
    if (Script().crash_in_get_default) {
      *static_cast<volatile std::int32_t*>(nullptr) = lookup;
    }
    if (const HRESULT hr = FailureAt(kFailGetDefault); FAILED(hr)) {
      return hr;
    }
    const std::int32_t present = Script().modem_lookups_present;
    if (present < 0 || lookup <= present) {
      *modem = new Modem;
    }
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE
  GetUnmarshalClass(IMarshalAbi*, const IID&, void*, DWORD, void*, DWORD, CLSID* clsid) {
    *clsid = Iid().free_threaded_marshaler;
    return S_OK;
  }

  static constexpr IActivationFactoryAbi::Vtbl kFactoryVtbl = {
      .base = AsFactory::kInspectable,
      .ActivateInstance = &ActivateInstance,
  };
  static constexpr IMobileBroadbandModemStatics::Vtbl kStaticsVtbl = {
      .base = AsStatics::kInspectable,
      .GetDefault = &GetDefault,
  };
  static constexpr IMarshalAbi::Vtbl kMarshalVtbl = {
      .base = AsMarshal::kUnknown,
      .GetUnmarshalClass = &GetUnmarshalClass,
  };

  const FakeClass kind_;
  const bool agile_;
  const bool ftm_;
};

bool ClassOf(std::wstring_view name, FakeClass* kind) {
  static constexpr std::pair<std::wstring_view, FakeClass> kClasses[] = {
      {L"Windows.Networking.NetworkOperators.MobileBroadbandModem", kClassModem},
      {L"Windows.Networking.NetworkOperators.MobileBroadbandAccountWatcher", kClassAccountWatcher},
      {L"Windows.Storage.Streams.DataWriter", kClassDataWriter},
  };
  for (const auto& [class_name, value] : kClasses) {
    if (name == class_name) {
      *kind = value;
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING class_id, IActivationFactoryAbi** factory) {
  if (factory == nullptr) {
    return E_POINTER;
  }
  *factory = nullptr;
  // The runtime unloads a provider whose lookup failed; the record must survive that (a
  // refused lookup is part of what the tests look at), so the module stays for good.
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExW(
               GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
               reinterpret_cast<LPCWSTR>(&DllGetActivationFactory), &self) != 0;
  }();
  if (!pinned) {
    return E_UNEXPECTED;
  }
  UINT32 length = 0;
  const wchar_t* raw = WindowsGetStringRawBuffer(class_id, &length);
  FakeClass kind = kClassModem;
  if (raw == nullptr || !ClassOf(std::wstring_view(raw, length), &kind)) {
    return REGDB_E_CLASSNOTREG;
  }
  const FakeScript script = Script();
  if (script.require_apartment) {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED) {
      Record([](FakeRecord& r) { ++r.refusals; });
      return CO_E_NOTINITIALIZED;
    }
  }
  if (script.lookup_rendezvous > 1) {
    // Holds each lookup until the scripted number of them are inside at once (bounded, so a
    // test that never sends them all still ends).
    std::unique_lock<std::mutex> hold(S().lock);
    ++S().inside_lookup;
    S().rendezvous.notify_all();
    S().rendezvous.wait_for(hold, std::chrono::seconds(20),
                            [&] { return S().inside_lookup >= script.lookup_rendezvous; });
  }
  Record([kind](FakeRecord& r) { ++r.lookups[kind]; });
  *factory = new Factory(kind);
  return S_OK;
}

__declspec(dllexport) void WINAPI FakeProviderDefaultScript(FakeScript* script) {
  *script = DefaultScript();
}

__declspec(dllexport) void WINAPI FakeProviderReset(const FakeScript* script) {
  std::lock_guard<std::mutex> hold(S().lock);
  S().script = *script;
  const std::int32_t factories_alive = S().record.factories_alive;
  const std::int32_t objects_alive = S().record.objects_alive;
  S().record = FakeRecord{};
  S().record.factories_alive = factories_alive;
  S().record.objects_alive = objects_alive;
  S().record.level = script->level;
  S().inside_lookup = 0;
  S().next_token = kFirstToken;
}

__declspec(dllexport) void WINAPI FakeProviderGetRecord(FakeRecord* record) {
  std::lock_guard<std::mutex> hold(S().lock);
  *record = S().record;
}

__declspec(dllexport) std::int32_t WINAPI FakeProviderCompleteHeld(std::int32_t status) {
  ComPtr<ICommandResultAsyncOperation> held;
  {
    std::lock_guard<std::mutex> hold(S().lock);
    held = std::move(S().held);
  }
  if (!held) {
    return 0;
  }
  std::thread completer(
      [&held, status] { Operation::Self(held.get())->Complete(static_cast<AsyncStatus>(status)); });
  completer.join();
  return 1;
}

__declspec(dllexport) void WINAPI FakeProviderRaiseAccountEvent(std::int32_t added) {
  std::thread raiser([added] {
    for (const auto& watcher : Watcher::Started()) {
      Watcher::Self(watcher.get())->Deliver(added ? Watcher::kAdded : Watcher::kRemoved);
    }
  });
  raiser.join();
}

__declspec(dllexport) void WINAPI FakeProviderWaitIdle() {
  WaitIdle();
}

}  // extern "C"
