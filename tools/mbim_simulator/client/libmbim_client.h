// A small libmbim-glib client for tests: opens an MBIM control port, directly or through
// mbim-proxy, and sends commands built from raw bytes, the vendor service registered as a
// custom service by its UUID. Everything it reports is libmbim's own reading of the answers.
// One client belongs to one thread; it runs a GLib main context of its own while it waits.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_CLIENT_LIBMBIM_CLIENT_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_CLIENT_LIBMBIM_CLIENT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mbim_wire.h"

typedef struct _GMainContext GMainContext;
typedef struct _MbimDevice MbimDevice;

namespace halvorn::mbimsim {

// How one command ended.
struct CommandResult {
  enum class Outcome {
    kAnswered,       // a command-done answer arrived (whatever its status)
    kTimedOut,       // libmbim gave up waiting
    kFunctionError,  // the modem answered with a function-error message (code in error_code)
    kFailed,         // another libmbim error
  };
  Outcome outcome = Outcome::kFailed;
  int error_code = 0;
  std::string error_message;

  // From the command-done answer (kAnswered).
  Uuid service{};
  std::uint32_t cid = 0;
  std::uint32_t status = 0;
  Bytes data;
};

class LibmbimClient {
 public:
  enum class Route { kDirect, kProxy };

  // Creates the libmbim device for `path` and opens it (the MBIM open, or the proxy's
  // configuration when going through mbim-proxy). Null, with libmbim's message in `error`,
  // on failure.
  static std::unique_ptr<LibmbimClient> Open(const std::string& path,
                                             Route route,
                                             unsigned timeout_s,
                                             std::string* error);
  ~LibmbimClient();  // drops the device without a close message

  LibmbimClient(const LibmbimClient&) = delete;
  LibmbimClient& operator=(const LibmbimClient&) = delete;

  CommandResult Command(const Uuid& service,
                        std::uint32_t cid,
                        std::uint32_t command_type,
                        ByteSpan payload,
                        unsigned timeout_s);

  // The vendor radio-level command with exactly the request bytes of the service: the query
  // carries the single byte 00, the set the level as four little-endian bytes.
  CommandResult QueryRadioLevel(unsigned timeout_s);
  CommandResult SetRadioLevel(std::int32_t level, unsigned timeout_s);

  // The modem's device services, as libmbim parses them. Null with a message on failure.
  std::optional<std::vector<ServiceElement>> QueryDeviceServices(unsigned timeout_s,
                                                                 std::string* error);

  // The MBIM close. False with libmbim's message on failure.
  bool Close(unsigned timeout_s, std::string* error);

  // True once libmbim has reported the port gone (a hang-up).
  bool removed() const { return removed_; }

 private:
  LibmbimClient();
  static void OnRemoved(MbimDevice* device, void* self);

  GMainContext* context_ = nullptr;
  MbimDevice* device_ = nullptr;
  bool removed_ = false;
};

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_CLIENT_LIBMBIM_CLIENT_H_
