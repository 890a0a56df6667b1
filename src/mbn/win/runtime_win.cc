#include "mbn/win/runtime_win.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "mbn/win/activation.h"
#include "mbn/win/com_ptr.h"
#include "mbn/win/delegates.h"
#include "mbn/win/winrt_abi.h"

namespace halvorn {

namespace mbn_win {

namespace {

using mbn_platform::CallResult;
using winrt_abi::ComPtr;
using winrt_abi::IActivationFactoryAbi;
using winrt_abi::IBuffer;
using winrt_abi::IBufferByteAccess;
using winrt_abi::ICommandResultAsyncOperation;
using winrt_abi::IDataWriter;
using winrt_abi::IInspectableAbi;
using winrt_abi::IMobileBroadbandAccountWatcher;
using winrt_abi::IMobileBroadbandDeviceService;
using winrt_abi::IMobileBroadbandDeviceServiceCommandResult;
using winrt_abi::IMobileBroadbandDeviceServiceCommandSession;
using winrt_abi::IMobileBroadbandModem;
using winrt_abi::IMobileBroadbandModemStatics;

static_assert(sizeof(mbn_platform::ServiceId) == sizeof(GUID));

// A success that hands out no object where one is required.
CallResult Missing() {
  return CallResult::Failure();
}

// Creates a default-constructed instance through its class's activation factory.
template <class T>
HRESULT ActivateInstance(FactoryCache<IActivationFactoryAbi>& factories, ComPtr<T>* object) {
  ComPtr<IActivationFactoryAbi> factory;
  if (const HRESULT hr = factories.Get(&factory); FAILED(hr)) {
    return hr;
  }
  ComPtr<IInspectableAbi> instance;
  if (const HRESULT hr = factory->lpVtbl->ActivateInstance(factory.get(), instance.Receive());
      FAILED(hr)) {
    return hr;
  }
  if (!instance) {
    return E_POINTER;
  }
  return instance.As(object);
}

class WinRequestBuffer final : public mbn_platform::RequestBuffer {
 public:
  explicit WinRequestBuffer(ComPtr<IBuffer> buffer) : buffer_(std::move(buffer)) {}
  IBuffer* get() const { return buffer_.get(); }

 private:
  const ComPtr<IBuffer> buffer_;
};

// Copies the bytes of `buffer`, never more than its Length (and never a Length beyond its
// Capacity, which would point past the bytes it owns).
HRESULT CopyBufferBytes(const ComPtr<IBuffer>& buffer, std::vector<std::uint8_t>* bytes) {
  UINT32 length = 0;
  if (const HRESULT hr = buffer->lpVtbl->get_Length(buffer.get(), &length); FAILED(hr)) {
    return hr;
  }
  UINT32 capacity = 0;
  if (const HRESULT hr = buffer->lpVtbl->get_Capacity(buffer.get(), &capacity); FAILED(hr)) {
    return hr;
  }
  if (length > capacity) {
    return E_UNEXPECTED;
  }
  ComPtr<IBufferByteAccess> access;
  if (const HRESULT hr = buffer.As(&access); FAILED(hr)) {
    return hr;
  }
  BYTE* data = nullptr;
  if (const HRESULT hr = access->lpVtbl->Buffer(access.get(), &data); FAILED(hr)) {
    return hr;
  }
  if (length > 0 && data == nullptr) {
    return E_POINTER;
  }
  bytes->assign(data, data + length);
  return S_OK;
}

class WinPendingCommand final : public mbn_platform::PendingCommand {
 public:
  // `query`: a query's successful response carries data; a set's is not read.
  WinPendingCommand(ComPtr<ICommandResultAsyncOperation> operation, bool query)
      : operation_(std::move(operation)), query_(query) {}

  CallResult SetCompleted(std::function<void(mbn_platform::AsyncStatus)> on_done) override {
    // The runtime takes its own reference to the handler (and with it to `on_done`) and keeps
    // it until it lets go of the handler, also past the caller's wait; ours goes here.
    ComPtr<winrt_abi::ICommandResultCompletedHandler> handler =
        CompletedHandler::Create(std::move(on_done));
    if (!handler) {
      return ResultOf(E_OUTOFMEMORY);
    }
    return ResultOf(operation_->lpVtbl->put_Completed(operation_.get(), handler.get()));
  }

  CallResult GetResults(std::uint32_t* status_code, std::vector<std::uint8_t>* response) override {
    ComPtr<IMobileBroadbandDeviceServiceCommandResult> result;
    if (const HRESULT hr = operation_->lpVtbl->GetResults(operation_.get(), result.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (!result) {
      return Missing();
    }
    UINT32 code = 0;
    if (const HRESULT hr = result->lpVtbl->get_StatusCode(result.get(), &code); FAILED(hr)) {
      return ResultOf(hr);
    }
    *status_code = code;
    response->clear();
    if (!query_ || code != 0) {
      return CallResult::Ok();
    }
    ComPtr<IBuffer> data;
    if (const HRESULT hr = result->lpVtbl->get_ResponseData(result.get(), data.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (!data) {
      return CallResult::Ok();  // no response data: an empty response
    }
    return ResultOf(CopyBufferBytes(data, response));
  }

 private:
  const ComPtr<ICommandResultAsyncOperation> operation_;
  const bool query_;
};

class WinCommandSession final : public mbn_platform::CommandSession {
 public:
  explicit WinCommandSession(ComPtr<IMobileBroadbandDeviceServiceCommandSession> session)
      : session_(std::move(session)) {}

  std::uintptr_t Identity() const override {
    return reinterpret_cast<std::uintptr_t>(session_.get());
  }

  CallResult SendQuery(std::uint32_t command_id,
                       mbn_platform::RequestBuffer& request,
                       std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send(session_->lpVtbl->SendQueryCommandAsync, true, command_id, request, pending);
  }

  CallResult SendSet(std::uint32_t command_id,
                     mbn_platform::RequestBuffer& request,
                     std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send(session_->lpVtbl->SendSetCommandAsync, false, command_id, request, pending);
  }

  CallResult Close() override { return ResultOf(session_->lpVtbl->CloseSession(session_.get())); }

 private:
  using SendMethod =
      decltype(IMobileBroadbandDeviceServiceCommandSession::Vtbl::SendQueryCommandAsync);

  CallResult Send(SendMethod send,
                  bool query,
                  std::uint32_t command_id,
                  mbn_platform::RequestBuffer& request,
                  std::unique_ptr<mbn_platform::PendingCommand>* pending) {
    // Requests come from this runtime's MakeRequest.
    IBuffer* data = static_cast<WinRequestBuffer&>(request).get();
    ComPtr<ICommandResultAsyncOperation> operation;
    if (const HRESULT hr = send(session_.get(), command_id, data, operation.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (operation) {
      *pending = std::make_unique<WinPendingCommand>(std::move(operation), query);
    }
    return CallResult::Ok();
  }

  const ComPtr<IMobileBroadbandDeviceServiceCommandSession> session_;
};

class WinDeviceService final : public mbn_platform::DeviceService {
 public:
  explicit WinDeviceService(ComPtr<IMobileBroadbandDeviceService> service)
      : service_(std::move(service)) {}

  CallResult OpenCommandSession(std::unique_ptr<mbn_platform::CommandSession>* session) override {
    ComPtr<IMobileBroadbandDeviceServiceCommandSession> opened;
    if (const HRESULT hr = service_->lpVtbl->OpenCommandSession(service_.get(), opened.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (opened) {
      *session = std::make_unique<WinCommandSession>(std::move(opened));
    }
    return CallResult::Ok();
  }

 private:
  const ComPtr<IMobileBroadbandDeviceService> service_;
};

class WinModem final : public mbn_platform::Modem {
 public:
  explicit WinModem(ComPtr<IMobileBroadbandModem> modem) : modem_(std::move(modem)) {}

  CallResult GetDeviceService(const mbn_platform::ServiceId& id,
                              std::unique_ptr<mbn_platform::DeviceService>* service) override {
    GUID service_id;
    std::memcpy(&service_id, id.data(), sizeof service_id);  // the same in-memory layout
    ComPtr<IMobileBroadbandDeviceService> found;
    if (const HRESULT hr =
            modem_->lpVtbl->GetDeviceService(modem_.get(), service_id, found.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (found) {
      *service = std::make_unique<WinDeviceService>(std::move(found));
    }
    return CallResult::Ok();
  }

 private:
  const ComPtr<IMobileBroadbandModem> modem_;
};

class WinAccountWatcher final : public mbn_platform::AccountWatcher {
 public:
  explicit WinAccountWatcher(ComPtr<IMobileBroadbandAccountWatcher> watcher)
      : watcher_(std::move(watcher)) {}

  CallResult AddAccountAdded(std::function<void()> handler, std::int64_t* token) override {
    return Register<AccountEventHandler>(watcher_->lpVtbl->add_AccountAdded, std::move(handler),
                                         token);
  }
  CallResult AddAccountRemoved(std::function<void()> handler, std::int64_t* token) override {
    return Register<AccountEventHandler>(watcher_->lpVtbl->add_AccountRemoved, std::move(handler),
                                         token);
  }
  CallResult AddEnumerationCompleted(std::function<void()> handler, std::int64_t* token) override {
    return Register<AccountObjectEventHandler>(watcher_->lpVtbl->add_EnumerationCompleted,
                                               std::move(handler), token);
  }

  CallResult GetStatus(mbn_platform::WatcherStatus* status) override {
    winrt_abi::MobileBroadbandAccountWatcherStatus value{};
    if (const HRESULT hr = watcher_->lpVtbl->get_Status(watcher_.get(), &value); FAILED(hr)) {
      return ResultOf(hr);
    }
    *status = static_cast<mbn_platform::WatcherStatus>(static_cast<std::int32_t>(value));
    return CallResult::Ok();
  }

  CallResult Start() override { return ResultOf(watcher_->lpVtbl->Start(watcher_.get())); }

 private:
  // Registers a new delegate of type `Handler` with `add`. The watcher keeps its own
  // reference to the delegate for as long as it stays registered.
  template <class Handler, class Iface>
  CallResult Register(HRESULT(STDMETHODCALLTYPE* add)(IMobileBroadbandAccountWatcher*,
                                                      Iface*,
                                                      EventRegistrationToken*),
                      std::function<void()> callback,
                      std::int64_t* token) {
    ComPtr<Iface> handler = Handler::Create(std::move(callback));
    if (!handler) {
      return ResultOf(E_OUTOFMEMORY);
    }
    EventRegistrationToken registration{};
    if (const HRESULT hr = add(watcher_.get(), handler.get(), &registration); FAILED(hr)) {
      return ResultOf(hr);
    }
    *token = registration.value;
    return CallResult::Ok();
  }

  const ComPtr<IMobileBroadbandAccountWatcher> watcher_;
};

class WinRuntime final : public mbn_platform::Runtime {
 public:
  CallResult GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) override {
    ComPtr<IMobileBroadbandModemStatics> statics;
    if (const HRESULT hr = modem_statics_.Get(&statics); FAILED(hr)) {
      return ResultOf(hr);
    }
    ComPtr<IMobileBroadbandModem> found;
    if (const HRESULT hr = statics->lpVtbl->GetDefault(statics.get(), found.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (found) {
      *modem = std::make_unique<WinModem>(std::move(found));
    }
    return CallResult::Ok();
  }

  CallResult MakeRequest(std::span<const std::uint8_t> bytes,
                         std::unique_ptr<mbn_platform::RequestBuffer>* buffer) override {
    if (bytes.size() > std::numeric_limits<UINT32>::max()) {
      return ResultOf(E_INVALIDARG);
    }
    ComPtr<IDataWriter> writer;
    if (const HRESULT hr = ActivateInstance(data_writers_, &writer); FAILED(hr)) {
      return ResultOf(hr);
    }
    // WriteBytes only reads the bytes; the ABI spells its input array without const.
    if (const HRESULT hr = writer->lpVtbl->WriteBytes(
            writer.get(), static_cast<UINT32>(bytes.size()), const_cast<BYTE*>(bytes.data()));
        FAILED(hr)) {
      return ResultOf(hr);
    }
    ComPtr<IBuffer> detached;
    if (const HRESULT hr = writer->lpVtbl->DetachBuffer(writer.get(), detached.Receive());
        FAILED(hr)) {
      return ResultOf(hr);
    }
    if (!detached) {
      return Missing();
    }
    *buffer = std::make_unique<WinRequestBuffer>(std::move(detached));
    return CallResult::Ok();
  }

  CallResult CreateAccountWatcher(std::unique_ptr<mbn_platform::AccountWatcher>* watcher) override {
    ComPtr<IMobileBroadbandAccountWatcher> created;
    if (const HRESULT hr = ActivateInstance(account_watchers_, &created); FAILED(hr)) {
      return ResultOf(hr);
    }
    *watcher = std::make_unique<WinAccountWatcher>(std::move(created));
    return CallResult::Ok();
  }

 private:
  FactoryCache<IMobileBroadbandModemStatics> modem_statics_{kModemClassName};
  FactoryCache<IActivationFactoryAbi> account_watchers_{kAccountWatcherClassName};
  FactoryCache<IActivationFactoryAbi> data_writers_{kDataWriterClassName};
};

}  // namespace

CallResult ResultOf(HRESULT hr) {
  if (SUCCEEDED(hr)) {
    return CallResult::Ok();
  }
  if (hr == E_OUTOFMEMORY) {
    return CallResult::StdFailure("bad allocation");
  }
  return CallResult::Failure();
}

std::unique_ptr<mbn_platform::Runtime> CreateWinRuntime() {
  return std::make_unique<WinRuntime>();
}

}  // namespace mbn_win

namespace mbn_platform {

Runtime& DefaultRuntime() {
  // Never destroyed: runtime callbacks and the static destructors of other objects may still
  // reach it while the process exits, and its cached factories are kept until then anyway.
  static Runtime* const runtime = mbn_win::CreateWinRuntime().release();
  return *runtime;
}

}  // namespace mbn_platform

}  // namespace halvorn
