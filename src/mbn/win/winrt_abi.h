// Hand-written ABI of the Windows Runtime types the mobile-broadband backend uses
// (Windows.Networking.NetworkOperators, Windows.Storage.Streams, robuffer and the generic
// instances over them). MinGW-w64 ships almost none of them and gets some ids wrong, so each
// interface is declared here in the C layout of the ABI: an object is a pointer to its table
// of function pointers, and each table is a plain struct whose member order is the slot order.
// The static_asserts below pin every interface id and the slot of every method called (or
// implemented by a test double) to the documented values; a wrong declaration does not build.
//
// Conventions of the ABI: slots 0-2 are IUnknown, 3-5 IInspectable (delegates and classic COM
// interfaces derive from IUnknown only); every method is __stdcall and returns HRESULT;
// a runtime-class argument is a pointer to its default interface; a GUID is passed by value;
// boolean is one byte; enums are 32-bit. Slots the backend never calls are declared with the
// placeholder type `AbiSlot` under their documented names, so that positions stay visible;
// they are null in the backend's and the test double's own tables.

#ifndef HALVORN_MBN_WIN_WINRT_ABI_H_
#define HALVORN_MBN_WIN_WINRT_ABI_H_

#include <windows.h>

#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

#include <cstddef>
#include <cstdint>

#include "mbn/win/winrt_iid.h"

namespace halvorn::winrt_abi {

// A slot that is not called through this declaration.
using AbiSlot = void(STDMETHODCALLTYPE*)();

template <class Self>
struct UnknownSlots {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(Self* self, const IID& iid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(Self* self);
  ULONG(STDMETHODCALLTYPE* Release)(Self* self);
};

template <class Self>
struct InspectableSlots {
  UnknownSlots<Self> unknown;
  HRESULT(STDMETHODCALLTYPE* GetIids)(Self* self, ULONG* count, IID** iids);
  HRESULT(STDMETHODCALLTYPE* GetRuntimeClassName)(Self* self, HSTRING* name);
  HRESULT(STDMETHODCALLTYPE* GetTrustLevel)(Self* self, TrustLevel* level);
};

// Final states of an asynchronous operation (Windows.Foundation.AsyncStatus).
enum class AsyncStatus : std::int32_t { kStarted = 0, kCompleted = 1, kCanceled = 2, kError = 3 };

// Windows.Networking.NetworkOperators.MobileBroadbandAccountWatcherStatus.
enum class MobileBroadbandAccountWatcherStatus : std::int32_t {
  kCreated = 0,
  kStarted = 1,
  kEnumerationCompleted = 2,
  kStopped = 3,
  kAborted = 4,
};

// ---------------------------------------------------------------------------------------------
// Base COM interfaces.

struct IUnknownAbi {
  static constexpr GUID kIid = {0x00000000,
                                0x0000,
                                0x0000,
                                {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  struct Vtbl {
    UnknownSlots<IUnknownAbi> base;
  };
  const Vtbl* lpVtbl;
};

struct IInspectableAbi {
  static constexpr GUID kIid = {0xaf86e2e0,
                                0xb12d,
                                0x4c6a,
                                {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
  struct Vtbl {
    InspectableSlots<IInspectableAbi> base;
  };
  const Vtbl* lpVtbl;
};

// Marks an object that may be called from any apartment. No methods of its own.
struct IAgileObjectAbi {
  static constexpr GUID kIid = {0x94ea2b94,
                                0xe9cc,
                                0x49e0,
                                {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
  struct Vtbl {
    UnknownSlots<IAgileObjectAbi> base;
  };
  const Vtbl* lpVtbl;
};

// Classic COM IMarshal; only GetUnmarshalClass is called (to recognise the free-threaded
// marshaler, whose objects are usable from any apartment).
struct IMarshalAbi {
  static constexpr GUID kIid = {0x00000003,
                                0x0000,
                                0x0000,
                                {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  struct Vtbl {
    UnknownSlots<IMarshalAbi> base;
    HRESULT(STDMETHODCALLTYPE* GetUnmarshalClass)
    (IMarshalAbi* self,
     const IID& iid,
     void* object,
     DWORD dest_context,
     void* reserved,
     DWORD flags,
     CLSID* clsid);
    AbiSlot GetMarshalSizeMax = nullptr;
    AbiSlot MarshalInterface = nullptr;
    AbiSlot UnmarshalInterface = nullptr;
    AbiSlot ReleaseMarshalData = nullptr;
    AbiSlot DisconnectObject = nullptr;
  };
  const Vtbl* lpVtbl;
};

// The unmarshal class of the free-threaded marshaler (CLSID_InProcFreeMarshaler).
inline constexpr GUID kClsidFreeThreadedMarshaler = {
    0x0000033a,
    0x0000,
    0x0000,
    {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IActivationFactoryAbi {
  static constexpr GUID kIid = {0x00000035,
                                0x0000,
                                0x0000,
                                {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  struct Vtbl {
    InspectableSlots<IActivationFactoryAbi> base;
    HRESULT(STDMETHODCALLTYPE* ActivateInstance)
    (IActivationFactoryAbi* self, IInspectableAbi** instance);
  };
  const Vtbl* lpVtbl;
};

// ---------------------------------------------------------------------------------------------
// Windows.Storage.Streams and robuffer.

struct IBuffer {
  static constexpr GUID kIid = {0x905a0fe0,
                                0xbc53,
                                0x11df,
                                {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
  struct Vtbl {
    InspectableSlots<IBuffer> base;
    HRESULT(STDMETHODCALLTYPE* get_Capacity)(IBuffer* self, UINT32* value);
    HRESULT(STDMETHODCALLTYPE* get_Length)(IBuffer* self, UINT32* value);
    HRESULT(STDMETHODCALLTYPE* put_Length)(IBuffer* self, UINT32 value);
  };
  const Vtbl* lpVtbl;
};

// Raw access to the bytes of an IBuffer, valid while the buffer lives.
struct IBufferByteAccess {
  static constexpr GUID kIid = {0x905a0fef,
                                0xbc53,
                                0x11df,
                                {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
  struct Vtbl {
    UnknownSlots<IBufferByteAccess> base;
    HRESULT(STDMETHODCALLTYPE* Buffer)(IBufferByteAccess* self, BYTE** value);
  };
  const Vtbl* lpVtbl;
};

// Default interface of Windows.Storage.Streams.DataWriter.
struct IDataWriter {
  static constexpr GUID kIid = {0x64b89265,
                                0xd341,
                                0x4922,
                                {0xb3, 0x8a, 0xdd, 0x4a, 0xf8, 0x80, 0x8c, 0x4e}};
  struct Vtbl {
    InspectableSlots<IDataWriter> base;
    AbiSlot get_UnstoredBufferLength = nullptr;
    AbiSlot get_UnicodeEncoding = nullptr;
    AbiSlot put_UnicodeEncoding = nullptr;
    AbiSlot get_ByteOrder = nullptr;
    AbiSlot put_ByteOrder = nullptr;
    AbiSlot WriteByte = nullptr;
    HRESULT(STDMETHODCALLTYPE* WriteBytes)(IDataWriter* self, UINT32 length, BYTE* value);
    AbiSlot WriteBuffer = nullptr;
    AbiSlot WriteBufferRange = nullptr;
    AbiSlot WriteBoolean = nullptr;
    AbiSlot WriteGuid = nullptr;
    AbiSlot WriteInt16 = nullptr;
    AbiSlot WriteInt32 = nullptr;
    AbiSlot WriteInt64 = nullptr;
    AbiSlot WriteUInt16 = nullptr;
    AbiSlot WriteUInt32 = nullptr;
    AbiSlot WriteUInt64 = nullptr;
    AbiSlot WriteSingle = nullptr;
    AbiSlot WriteDouble = nullptr;
    AbiSlot WriteDateTime = nullptr;
    AbiSlot WriteTimeSpan = nullptr;
    AbiSlot WriteString = nullptr;
    AbiSlot MeasureString = nullptr;
    AbiSlot StoreAsync = nullptr;
    AbiSlot FlushAsync = nullptr;
    HRESULT(STDMETHODCALLTYPE* DetachBuffer)(IDataWriter* self, IBuffer** buffer);
    AbiSlot DetachStream = nullptr;
  };
  const Vtbl* lpVtbl;
};

// ---------------------------------------------------------------------------------------------
// Windows.Networking.NetworkOperators.

inline constexpr char kCommandResultClassName[] =
    "Windows.Networking.NetworkOperators.MobileBroadbandDeviceServiceCommandResult";
inline constexpr char kAccountWatcherClassName[] =
    "Windows.Networking.NetworkOperators.MobileBroadbandAccountWatcher";
inline constexpr char kAccountEventArgsClassName[] =
    "Windows.Networking.NetworkOperators.MobileBroadbandAccountEventArgs";

struct IMobileBroadbandDeviceServiceCommandResult {
  static constexpr GUID kIid = {0xb0f46abb,
                                0x94d6,
                                0x44b9,
                                {0xa5, 0x38, 0xf0, 0x81, 0x0b, 0x64, 0x53, 0x89}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandDeviceServiceCommandResult> base;
    HRESULT(STDMETHODCALLTYPE* get_StatusCode)
    (IMobileBroadbandDeviceServiceCommandResult* self, UINT32* value);
    HRESULT(STDMETHODCALLTYPE* get_ResponseData)
    (IMobileBroadbandDeviceServiceCommandResult* self, IBuffer** value);
  };
  const Vtbl* lpVtbl;
};

struct ICommandResultAsyncOperation;

// AsyncOperationCompletedHandler<MobileBroadbandDeviceServiceCommandResult>, a delegate.
struct ICommandResultCompletedHandler {
  static constexpr GUID kPiid = ParseGuid("fcdcf02c-e5d8-4478-915a-4d90b74b83a5");
  static constexpr GUID kIid = ParameterizedIid(
      PinterfaceSignature(kPiid,
                          RuntimeClassSignature(kCommandResultClassName,
                                                IMobileBroadbandDeviceServiceCommandResult::kIid)));
  struct Vtbl {
    UnknownSlots<ICommandResultCompletedHandler> base;
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (ICommandResultCompletedHandler* self,
     ICommandResultAsyncOperation* operation,
     AsyncStatus status);
  };
  const Vtbl* lpVtbl;
};

// IAsyncOperation<MobileBroadbandDeviceServiceCommandResult>.
struct ICommandResultAsyncOperation {
  static constexpr GUID kPiid = ParseGuid("9fc2b0bb-e446-44e2-aa61-9cab8f636af2");
  static constexpr GUID kIid = ParameterizedIid(
      PinterfaceSignature(kPiid,
                          RuntimeClassSignature(kCommandResultClassName,
                                                IMobileBroadbandDeviceServiceCommandResult::kIid)));
  struct Vtbl {
    InspectableSlots<ICommandResultAsyncOperation> base;
    HRESULT(STDMETHODCALLTYPE* put_Completed)
    (ICommandResultAsyncOperation* self, ICommandResultCompletedHandler* handler);
    HRESULT(STDMETHODCALLTYPE* get_Completed)
    (ICommandResultAsyncOperation* self, ICommandResultCompletedHandler** handler);
    HRESULT(STDMETHODCALLTYPE* GetResults)
    (ICommandResultAsyncOperation* self, IMobileBroadbandDeviceServiceCommandResult** results);
  };
  const Vtbl* lpVtbl;
};

struct IMobileBroadbandDeviceServiceCommandSession {
  static constexpr GUID kIid = {0xfc098a45,
                                0x913b,
                                0x4914,
                                {0xb6, 0xc3, 0xae, 0x63, 0x04, 0x59, 0x3e, 0x75}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandDeviceServiceCommandSession> base;
    HRESULT(STDMETHODCALLTYPE* SendQueryCommandAsync)
    (IMobileBroadbandDeviceServiceCommandSession* self,
     UINT32 command_id,
     IBuffer* data,
     ICommandResultAsyncOperation** operation);
    HRESULT(STDMETHODCALLTYPE* SendSetCommandAsync)
    (IMobileBroadbandDeviceServiceCommandSession* self,
     UINT32 command_id,
     IBuffer* data,
     ICommandResultAsyncOperation** operation);
    HRESULT(STDMETHODCALLTYPE* CloseSession)(IMobileBroadbandDeviceServiceCommandSession* self);
  };
  const Vtbl* lpVtbl;
};

struct IMobileBroadbandDeviceService {
  static constexpr GUID kIid = {0x22be1a52,
                                0xbd80,
                                0x40ac,
                                {0x8e, 0x1f, 0x2e, 0x07, 0x83, 0x6a, 0x3d, 0xbd}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandDeviceService> base;
    AbiSlot get_DeviceServiceId = nullptr;
    AbiSlot get_SupportedCommands = nullptr;
    AbiSlot OpenDataSession = nullptr;
    HRESULT(STDMETHODCALLTYPE* OpenCommandSession)
    (IMobileBroadbandDeviceService* self, IMobileBroadbandDeviceServiceCommandSession** session);
  };
  const Vtbl* lpVtbl;
};

// Default interface of MobileBroadbandModem.
struct IMobileBroadbandModem {
  static constexpr GUID kIid = {0xd0356912,
                                0xe9f9,
                                0x4f67,
                                {0xa0, 0x3d, 0x43, 0x18, 0x9a, 0x31, 0x6b, 0xf1}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandModem> base;
    AbiSlot get_CurrentAccount = nullptr;
    AbiSlot get_DeviceInformation = nullptr;
    AbiSlot get_MaxDeviceServiceCommandSizeInBytes = nullptr;
    AbiSlot get_MaxDeviceServiceDataSizeInBytes = nullptr;
    AbiSlot get_DeviceServices = nullptr;
    // The service id is passed by value.
    HRESULT(STDMETHODCALLTYPE* GetDeviceService)
    (IMobileBroadbandModem* self, GUID device_service_id, IMobileBroadbandDeviceService** service);
    AbiSlot get_IsResetSupported = nullptr;
    AbiSlot ResetAsync = nullptr;
    AbiSlot GetCurrentConfigurationAsync = nullptr;
    AbiSlot get_CurrentNetwork = nullptr;
  };
  const Vtbl* lpVtbl;
};

// Statics of MobileBroadbandModem (its activation factory answers this interface).
struct IMobileBroadbandModemStatics {
  static constexpr GUID kIid = {0xf99ed637,
                                0xd6f1,
                                0x4a78,
                                {0x8c, 0xbc, 0x64, 0x21, 0xa6, 0x50, 0x63, 0xc8}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandModemStatics> base;
    AbiSlot GetDeviceSelector = nullptr;
    AbiSlot FromId = nullptr;
    HRESULT(STDMETHODCALLTYPE* GetDefault)
    (IMobileBroadbandModemStatics* self, IMobileBroadbandModem** modem);
  };
  const Vtbl* lpVtbl;
};

// Default interface of MobileBroadbandAccountEventArgs.
struct IMobileBroadbandAccountEventArgs {
  static constexpr GUID kIid = {0x3853c880,
                                0x77de,
                                0x4c04,
                                {0xbe, 0xad, 0xa1, 0x23, 0xb0, 0x8c, 0x9f, 0x59}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandAccountEventArgs> base;
    AbiSlot get_NetworkAccountId = nullptr;
  };
  const Vtbl* lpVtbl;
};

struct IAccountEventHandler;
struct IAccountObjectEventHandler;

// Default interface of MobileBroadbandAccountWatcher.
struct IMobileBroadbandAccountWatcher {
  static constexpr GUID kIid = {0x6bf3335e,
                                0x23b5,
                                0x449f,
                                {0x92, 0x8d, 0x5e, 0x0d, 0x3e, 0x04, 0x47, 0x1d}};
  struct Vtbl {
    InspectableSlots<IMobileBroadbandAccountWatcher> base;
    HRESULT(STDMETHODCALLTYPE* add_AccountAdded)
    (IMobileBroadbandAccountWatcher* self,
     IAccountEventHandler* handler,
     EventRegistrationToken* token);
    AbiSlot remove_AccountAdded = nullptr;
    AbiSlot add_AccountUpdated = nullptr;
    AbiSlot remove_AccountUpdated = nullptr;
    HRESULT(STDMETHODCALLTYPE* add_AccountRemoved)
    (IMobileBroadbandAccountWatcher* self,
     IAccountEventHandler* handler,
     EventRegistrationToken* token);
    AbiSlot remove_AccountRemoved = nullptr;
    HRESULT(STDMETHODCALLTYPE* add_EnumerationCompleted)
    (IMobileBroadbandAccountWatcher* self,
     IAccountObjectEventHandler* handler,
     EventRegistrationToken* token);
    AbiSlot remove_EnumerationCompleted = nullptr;
    AbiSlot add_Stopped = nullptr;
    AbiSlot remove_Stopped = nullptr;
    HRESULT(STDMETHODCALLTYPE* get_Status)
    (IMobileBroadbandAccountWatcher* self, MobileBroadbandAccountWatcherStatus* status);
    HRESULT(STDMETHODCALLTYPE* Start)(IMobileBroadbandAccountWatcher* self);
    AbiSlot Stop = nullptr;
  };
  const Vtbl* lpVtbl;
};

// TypedEventHandler<MobileBroadbandAccountWatcher, MobileBroadbandAccountEventArgs>, a delegate
// (AccountAdded, AccountRemoved).
struct IAccountEventHandler {
  static constexpr GUID kPiid = ParseGuid("9de1c534-6ae1-11e0-84e1-18a905bcc53f");
  static constexpr GUID kIid = ParameterizedIid(PinterfaceSignature(
      kPiid,
      RuntimeClassSignature(kAccountWatcherClassName, IMobileBroadbandAccountWatcher::kIid),
      RuntimeClassSignature(kAccountEventArgsClassName, IMobileBroadbandAccountEventArgs::kIid)));
  struct Vtbl {
    UnknownSlots<IAccountEventHandler> base;
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (IAccountEventHandler* self,
     IMobileBroadbandAccountWatcher* sender,
     IMobileBroadbandAccountEventArgs* args);
  };
  const Vtbl* lpVtbl;
};

// TypedEventHandler<MobileBroadbandAccountWatcher, Object>, a delegate (EnumerationCompleted,
// Stopped). Object is spelled "cinterface(IInspectable)" in the signature.
struct IAccountObjectEventHandler {
  static constexpr GUID kPiid = IAccountEventHandler::kPiid;
  static constexpr GUID kIid = ParameterizedIid(PinterfaceSignature(
      kPiid,
      RuntimeClassSignature(kAccountWatcherClassName, IMobileBroadbandAccountWatcher::kIid),
      "cinterface(IInspectable)"));
  struct Vtbl {
    UnknownSlots<IAccountObjectEventHandler> base;
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (IAccountObjectEventHandler* self,
     IMobileBroadbandAccountWatcher* sender,
     IInspectableAbi* args);
  };
  const Vtbl* lpVtbl;
};

// ---------------------------------------------------------------------------------------------
// Compile-time checks against the documented ABI.

namespace abi_checks {

constexpr std::size_t Slot(std::size_t offset) {
  return offset / sizeof(void*);
}

// The generic id computation reproduces ids that MinGW's own headers carry for
// IAsyncOperation<boolean> and AsyncOperationCompletedHandler<boolean>.
static_assert(SameGuid(ParameterizedIid(PinterfaceSignature(ICommandResultAsyncOperation::kPiid,
                                                            "b1")),
                       ParseGuid("cdb5efb3-5788-509d-9be1-71ccb8a3362a")));
static_assert(SameGuid(ParameterizedIid(PinterfaceSignature(ICommandResultCompletedHandler::kPiid,
                                                            "b1")),
                       ParseGuid("c1d3d1a2-ae17-5a5f-b5a2-bdcc8844889a")));

// Interface ids, each checked against its documented text form.
static_assert(SameGuid(IUnknownAbi::kIid, ParseGuid("00000000-0000-0000-c000-000000000046")));
static_assert(SameGuid(IInspectableAbi::kIid, ParseGuid("af86e2e0-b12d-4c6a-9c5a-d7aa65101e90")));
static_assert(SameGuid(IAgileObjectAbi::kIid, ParseGuid("94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90")));
static_assert(SameGuid(IMarshalAbi::kIid, ParseGuid("00000003-0000-0000-c000-000000000046")));
static_assert(SameGuid(kClsidFreeThreadedMarshaler,
                       ParseGuid("0000033a-0000-0000-c000-000000000046")));
static_assert(SameGuid(IActivationFactoryAbi::kIid,
                       ParseGuid("00000035-0000-0000-c000-000000000046")));
static_assert(SameGuid(IBuffer::kIid, ParseGuid("905a0fe0-bc53-11df-8c49-001e4fc686da")));
static_assert(SameGuid(IBufferByteAccess::kIid, ParseGuid("905a0fef-bc53-11df-8c49-001e4fc686da")));
static_assert(SameGuid(IDataWriter::kIid, ParseGuid("64b89265-d341-4922-b38a-dd4af8808c4e")));
static_assert(SameGuid(IMobileBroadbandDeviceServiceCommandResult::kIid,
                       ParseGuid("b0f46abb-94d6-44b9-a538-f0810b645389")));
static_assert(SameGuid(IMobileBroadbandDeviceServiceCommandSession::kIid,
                       ParseGuid("fc098a45-913b-4914-b6c3-ae6304593e75")));
static_assert(SameGuid(IMobileBroadbandDeviceService::kIid,
                       ParseGuid("22be1a52-bd80-40ac-8e1f-2e07836a3dbd")));
static_assert(SameGuid(IMobileBroadbandModem::kIid,
                       ParseGuid("d0356912-e9f9-4f67-a03d-43189a316bf1")));
static_assert(SameGuid(IMobileBroadbandModemStatics::kIid,
                       ParseGuid("f99ed637-d6f1-4a78-8cbc-6421a65063c8")));
static_assert(SameGuid(IMobileBroadbandAccountEventArgs::kIid,
                       ParseGuid("3853c880-77de-4c04-bead-a123b08c9f59")));
static_assert(SameGuid(IMobileBroadbandAccountWatcher::kIid,
                       ParseGuid("6bf3335e-23b5-449f-928d-5e0d3e04471d")));

// The generic instances: computed from their signatures and equal to the documented ids.
static_assert(SameGuid(ICommandResultAsyncOperation::kIid,
                       ParseGuid("2c673aa8-6a35-50fd-9422-3615a1c28ccb")));
static_assert(SameGuid(ICommandResultCompletedHandler::kIid,
                       ParseGuid("21f0ce4f-8f33-5e71-a457-dda553b0d6bb")));
static_assert(SameGuid(IAccountEventHandler::kIid,
                       ParseGuid("423cc41e-fe8c-5a7d-9fee-aae04ef85700")));
static_assert(SameGuid(IAccountObjectEventHandler::kIid,
                       ParseGuid("e4dc9cfc-f462-5afd-856d-04ace229d00e")));

// Value types of the ABI.
static_assert(sizeof(EventRegistrationToken) == 8);
static_assert(sizeof(boolean) == 1);
static_assert(sizeof(AsyncStatus) == 4 && sizeof(MobileBroadbandAccountWatcherStatus) == 4);
static_assert(sizeof(GUID) == 16);

// Slot positions of the base interfaces.
static_assert(sizeof(UnknownSlots<IUnknownAbi>) == 3 * sizeof(void*));
static_assert(Slot(offsetof(UnknownSlots<IUnknownAbi>, QueryInterface)) == 0);
static_assert(Slot(offsetof(UnknownSlots<IUnknownAbi>, AddRef)) == 1);
static_assert(Slot(offsetof(UnknownSlots<IUnknownAbi>, Release)) == 2);
static_assert(Slot(offsetof(InspectableSlots<IInspectableAbi>, GetIids)) == 3);
static_assert(Slot(offsetof(InspectableSlots<IInspectableAbi>, GetRuntimeClassName)) == 4);
static_assert(Slot(offsetof(InspectableSlots<IInspectableAbi>, GetTrustLevel)) == 5);
static_assert(sizeof(InspectableSlots<IInspectableAbi>) == 6 * sizeof(void*));
static_assert(Slot(offsetof(IMarshalAbi::Vtbl, GetUnmarshalClass)) == 3);
static_assert(Slot(offsetof(IActivationFactoryAbi::Vtbl, ActivateInstance)) == 6);

// Slot of every method called or implemented.
static_assert(Slot(offsetof(IBuffer::Vtbl, get_Capacity)) == 6);
static_assert(Slot(offsetof(IBuffer::Vtbl, get_Length)) == 7);
static_assert(Slot(offsetof(IBuffer::Vtbl, put_Length)) == 8);
static_assert(Slot(offsetof(IBufferByteAccess::Vtbl, Buffer)) == 3);
static_assert(Slot(offsetof(IDataWriter::Vtbl, WriteBytes)) == 12);
static_assert(Slot(offsetof(IDataWriter::Vtbl, DetachBuffer)) == 31);
static_assert(Slot(offsetof(IDataWriter::Vtbl, DetachStream)) == 32);
static_assert(Slot(offsetof(IMobileBroadbandDeviceServiceCommandResult::Vtbl, get_StatusCode)) ==
              6);
static_assert(Slot(offsetof(IMobileBroadbandDeviceServiceCommandResult::Vtbl, get_ResponseData)) ==
              7);
static_assert(Slot(offsetof(ICommandResultCompletedHandler::Vtbl, Invoke)) == 3);
static_assert(Slot(offsetof(ICommandResultAsyncOperation::Vtbl, put_Completed)) == 6);
static_assert(Slot(offsetof(ICommandResultAsyncOperation::Vtbl, get_Completed)) == 7);
static_assert(Slot(offsetof(ICommandResultAsyncOperation::Vtbl, GetResults)) == 8);
static_assert(Slot(offsetof(IMobileBroadbandDeviceServiceCommandSession::Vtbl,
                            SendQueryCommandAsync)) == 6);
static_assert(Slot(offsetof(IMobileBroadbandDeviceServiceCommandSession::Vtbl,
                            SendSetCommandAsync)) == 7);
static_assert(Slot(offsetof(IMobileBroadbandDeviceServiceCommandSession::Vtbl, CloseSession)) == 8);
static_assert(Slot(offsetof(IMobileBroadbandDeviceService::Vtbl, OpenCommandSession)) == 9);
static_assert(Slot(offsetof(IMobileBroadbandModem::Vtbl, GetDeviceService)) == 11);
static_assert(Slot(offsetof(IMobileBroadbandModem::Vtbl, get_CurrentNetwork)) == 15);
static_assert(Slot(offsetof(IMobileBroadbandModemStatics::Vtbl, GetDefault)) == 8);
static_assert(Slot(offsetof(IMobileBroadbandAccountEventArgs::Vtbl, get_NetworkAccountId)) == 6);
static_assert(Slot(offsetof(IAccountEventHandler::Vtbl, Invoke)) == 3);
static_assert(Slot(offsetof(IAccountObjectEventHandler::Vtbl, Invoke)) == 3);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, add_AccountAdded)) == 6);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, add_AccountRemoved)) == 10);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, add_EnumerationCompleted)) == 12);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, get_Status)) == 16);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, Start)) == 17);
static_assert(Slot(offsetof(IMobileBroadbandAccountWatcher::Vtbl, Stop)) == 18);

}  // namespace abi_checks

}  // namespace halvorn::winrt_abi

#endif  // HALVORN_MBN_WIN_WINRT_ABI_H_
