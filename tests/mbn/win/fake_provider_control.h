// The control surface of the fake mobile-broadband provider DLL (fake_provider.cc): the script
// a test gives it and the record of what it received. Plain C types: the DLL and the test
// executables are separate modules.

#ifndef HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CONTROL_H_
#define HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CONTROL_H_

#include <windows.h>

#include <cstdint>

extern "C" {

// The runtime call that fails, with FakeScript::fail_hr.
enum FakeFailPoint : std::int32_t {
  kFailNone = 0,
  kFailGetDefault,
  kFailGetDeviceService,
  kFailOpenCommandSession,
  kFailActivateDataWriter,
  kFailWriteBytes,
  kFailDetachBuffer,
  kFailSend,
  kFailPutCompleted,
  kFailGetResults,
  kFailStatusCode,
  kFailResponseData,
  kFailCloseSession,
  kFailActivateWatcher,
  kFailAddAccountAdded,
  kFailGetStatus,
  kFailStart,
};

// When a sent command completes.
enum FakeCompletion : std::int32_t {
  kCompleteBeforeAttach = 0,  // finished when sent: put_Completed invokes the handler at once
  kCompleteFromOtherThread,   // finished by another thread after the handler is attached
  kCompleteNever,             // held until FakeProviderCompleteHeld
};

// Runtime classes the provider serves, as indexes of the record's counters.
enum FakeClass : std::int32_t {
  kClassModem = 0,
  kClassAccountWatcher,
  kClassDataWriter,
  kClassCount,
};

struct FakeScript {
  std::int32_t modem_lookups_present;  // GetDefault answers a modem this many times; -1: always
  std::int32_t has_service;            // GetDeviceService answers a service (else none)
  std::int32_t has_session;            // OpenCommandSession answers a session (else none)
  std::int32_t fail_at;                // FakeFailPoint
  HRESULT fail_hr;
  std::int32_t completion;    // FakeCompletion
  std::int32_t final_status;  // AsyncStatus reported on completion
  std::uint32_t status_code;
  std::int32_t response_null;             // ResponseData answers no buffer
  std::uint32_t response_length;          // bytes of `response` in the buffer
  std::uint32_t response_capacity_extra;  // Capacity = length + this; see response_overlong
  std::int32_t response_overlong;         // the buffer claims a Length beyond its Capacity
  std::uint8_t response[32];
  std::int32_t factories_agile;    // factories answer IAgileObject
  std::int32_t factories_ftm;      // factories marshal through the free-threaded marshaler
  std::int32_t require_apartment;  // refuse lookups from a thread outside any apartment while
                                   // the process has no multithreaded apartment
                                   // (CO_E_NOTINITIALIZED), as the system's runtime does
  std::int32_t lookup_rendezvous;  // n > 1: a factory lookup waits until n lookups are inside
  std::int32_t accounts_at_start;  // accounts a started watcher reports before enumeration ends
  // The modem keeps a radio function level, as a real one does: a query is answered with
  // status_code and the level as 4 bytes little-endian (in place of `response`); a set is
  // answered with set_status_code and, when that is 0, stores the level it carries.
  std::int32_t keeps_level;
  std::int32_t level;  // the level it starts with
  std::uint32_t set_status_code;
  // GetDefault writes through a null pointer: an access violation on the caller's thread (a
  // crash of the program under test, for its crash handler).
  std::int32_t crash_in_get_default;
};

struct FakeCommand {
  std::int32_t set;  // 0: query, 1: set
  std::uint32_t command_id;
  std::uint32_t length;
  std::uint8_t bytes[16];
};

struct FakeRecord {
  std::int32_t lookups[kClassCount];  // DllGetActivationFactory calls that got a factory
  std::int32_t refusals;              // lookups refused for want of an apartment
  std::int32_t factories_made[kClassCount];
  std::int32_t factories_alive;
  std::int32_t activations[kClassCount];  // ActivateInstance calls
  std::int32_t objects_alive;             // every other object of the provider
  std::int32_t default_lookups;           // GetDefault calls
  std::int32_t service_lookups;
  GUID service_id;                    // the last service asked for
  std::uint32_t session_address_low;  // low 32 bits of the last session's address
  std::int32_t sessions_closed;
  std::int32_t command_count;
  FakeCommand commands[8];
  std::int32_t bad_handler;        // a handler that did not answer its documented interface id
  std::int32_t handler_refs_left;  // references to a completion handler left when a held or
                                   // late-completed command let go of it
  std::int32_t watcher_starts;
  std::int32_t handlers_registered;
  std::int32_t events_delivered;
  std::int32_t level;  // the level kept under FakeScript::keeps_level
};

// A program that loads the provider in another process (a service under test) is driven
// through this shared memory: when a file mapping of this name exists as the provider starts
// in a process, that provider takes its script from it and copies its record into it after
// every change. The test creates the mapping (FakeSharedState) before the program starts.
#define HALVORN_FAKE_PROVIDER_SHARED_NAME L"Global\\HalvornFakeProviderShared"
struct FakeSharedState {
  FakeScript script;
  FakeRecord record;
};

// The script the provider starts with: one modem with the vendor service that answers every
// command at once with status 0 and level 1; agile factories; lookups outside an apartment
// refused as the system's runtime does.
typedef void(WINAPI* FakeProviderDefaultScriptFn)(FakeScript* script);
// Resets the record and sets the script; objects made before keep working.
typedef void(WINAPI* FakeProviderResetFn)(const FakeScript* script);
// Copies the record.
typedef void(WINAPI* FakeProviderGetRecordFn)(FakeRecord* record);
// Completes the command held by kCompleteNever with `status` on another thread and waits for
// the handler to return; then lets go of the command. Returns 0 when none was held.
typedef std::int32_t(WINAPI* FakeProviderCompleteHeldFn)(std::int32_t status);
// Raises AccountAdded (added != 0) or AccountRemoved on every started watcher, on another
// thread, and waits for the handlers to return.
typedef void(WINAPI* FakeProviderRaiseAccountEventFn)(std::int32_t added);
// Waits until every thread the provider started has finished.
typedef void(WINAPI* FakeProviderWaitIdleFn)();

}  // extern "C"

#endif  // HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CONTROL_H_
