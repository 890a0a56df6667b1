// The mobile-broadband runtime of the running build, as the modem helper uses it: the
// Windows Runtime's NetworkOperators classes on Windows, libmbim over the modem's MBIM control
// port on Linux. Every call returns how it ended (CallResult) and hands objects out through
// out-parameters; none raises. The helper (mbn_helper.h) owns the order of calls, the waits,
// the decisions and every log line.

#ifndef HALVORN_MBN_MBN_PLATFORM_H_
#define HALVORN_MBN_MBN_PLATFORM_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace halvorn::mbn_platform {

// How a runtime call ended. A raised failure is either a standard one with a description
// (out of memory, for instance; logged "exception : %s") or any other runtime failure
// (an HRESULT, a transport error; logged "exception other").
struct CallResult {
  enum class Kind { kOk, kFailure, kStdFailure };
  Kind kind = Kind::kOk;
  std::string what;  // the description of a kStdFailure

  static CallResult Ok() { return {}; }
  static CallResult Failure() { return {Kind::kFailure, {}}; }
  static CallResult StdFailure(std::string description) {
    return {Kind::kStdFailure, std::move(description)};
  }
  bool ok() const { return kind == Kind::kOk; }
};

// Final states of an asynchronous command, as the runtime numbers them.
enum class AsyncStatus : std::int32_t { kStarted = 0, kCompleted = 1, kCanceled = 2, kError = 3 };

// A device service id in its 16-byte in-memory GUID layout (Data1 to Data3 little-endian).
using ServiceId = std::array<std::uint8_t, 16>;

// Request bytes made into a runtime buffer.
class RequestBuffer {
 public:
  virtual ~RequestBuffer() = default;
};

// A command that has been sent.
class PendingCommand {
 public:
  virtual ~PendingCommand() = default;
  // Registers `on_done`, called exactly once with the final status from any thread, also
  // when the command finished before the registration. The callback may outlive the wait.
  virtual CallResult SetCompleted(std::function<void(AsyncStatus)> on_done) = 0;
  // The result of a Completed command: the MBIM status and the response information buffer.
  virtual CallResult GetResults(std::uint32_t* status_code,
                                std::vector<std::uint8_t>* response) = 0;
};

class CommandSession {
 public:
  virtual ~CommandSession() = default;
  // The session object's identity for the log (its address on Windows).
  virtual std::uintptr_t Identity() const = 0;
  virtual CallResult SendQuery(std::uint32_t command_id,
                               RequestBuffer& request,
                               std::unique_ptr<PendingCommand>* pending) = 0;
  virtual CallResult SendSet(std::uint32_t command_id,
                             RequestBuffer& request,
                             std::unique_ptr<PendingCommand>* pending) = 0;
  virtual CallResult Close() = 0;
};

class DeviceService {
 public:
  virtual ~DeviceService() = default;
  // Opens a command session; *session stays empty when the service offers none.
  virtual CallResult OpenCommandSession(std::unique_ptr<CommandSession>* session) = 0;
};

class Modem {
 public:
  virtual ~Modem() = default;
  // The modem's device service `id`; *service stays empty when the modem has none.
  virtual CallResult GetDeviceService(const ServiceId& id,
                                      std::unique_ptr<DeviceService>* service) = 0;
};

// Status of an account watcher, as the runtime numbers it.
enum class WatcherStatus : std::int32_t {
  kCreated = 0,
  kStarted = 1,
  kEnumerationCompleted = 2,
  kStopped = 3,
  kAborted = 4,
};

// Reports mobile-broadband accounts (modems) as they come and go. After Start it reports each
// account present through the added handler, then raises enumeration-completed once, then
// reports later additions and removals. Handlers run on threads of the runtime, possibly
// several at once.
class AccountWatcher {
 public:
  virtual ~AccountWatcher() = default;
  virtual CallResult AddAccountAdded(std::function<void()> handler, std::int64_t* token) = 0;
  virtual CallResult AddAccountRemoved(std::function<void()> handler, std::int64_t* token) = 0;
  virtual CallResult AddEnumerationCompleted(std::function<void()> handler,
                                             std::int64_t* token) = 0;
  virtual CallResult GetStatus(WatcherStatus* status) = 0;
  virtual CallResult Start() = 0;
};

class Runtime {
 public:
  virtual ~Runtime() = default;
  // The default modem; *modem stays empty when there is none.
  virtual CallResult GetDefaultModem(std::unique_ptr<Modem>* modem) = 0;
  // A buffer holding exactly `bytes`.
  virtual CallResult MakeRequest(std::span<const std::uint8_t> bytes,
                                 std::unique_ptr<RequestBuffer>* buffer) = 0;
  virtual CallResult CreateAccountWatcher(std::unique_ptr<AccountWatcher>* watcher) = 0;
};

// The runtime of this build, alive for the whole process.
Runtime& DefaultRuntime();

}  // namespace halvorn::mbn_platform

#endif  // HALVORN_MBN_MBN_PLATFORM_H_
