// The simulated modem's behaviour, free of any I/O: it takes one whole message from the host
// and says what goes back. It opens and closes, answers the basic-connect queries that clients
// and mbim-proxy send (device caps, device services, subscribe list), keeps the radio function
// level of the vendor device service, and misbehaves on purpose as its options say.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_MODEM_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_MODEM_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mbim_wire.h"

namespace halvorn::mbimsim {

// Deliberate misbehaviour of the radio-level command of the vendor service.
enum class Fault {
  kNone,
  kStatus,              // answered with options.fault_status, nothing stored
  kNoAnswer,            // never answered, nothing stored
  kDelay,               // handled at once, answered after options.delay
  kShortResponse,       // query answered with status 0 and only options.short_length bytes
  kWrongTransactionId,  // handled, answered with the transaction id plus one
  kVanish,              // the device disappears instead of answering
  kRefuseSet,           // set answered with "operation not allowed", level kept
  kIgnoreSet,           // set answered with success, level kept
  kLateAnswer,          // handled at once; the answer goes out with the next radio-level answer
  kGarbled,             // answered with a length field that announces more bytes than follow
  kSilentOpen,          // OPEN never answered (the modem stays closed)
  kSilentClose,         // CLOSE taken but never answered
};

// How many bytes more than it carries a garbled answer announces.
inline constexpr std::uint32_t kGarbledExtraLength = 1024;

// Which radio-level commands a fault hits (the silent OPEN and CLOSE hit those messages).
enum class FaultTarget { kQuery, kSet, kBoth };

struct ModemOptions {
  std::int32_t initial_level = 0;
  // Whether the vendor service exists. Without it, it is missing from the device-services
  // list and its commands are answered "no device support".
  bool vendor_service = true;
  Fault fault = Fault::kNone;
  FaultTarget fault_target = FaultTarget::kBoth;
  // How many of the targeted commands the fault hits before the modem behaves; negative
  // for all of them.
  int fault_count = -1;
  std::uint32_t fault_status = kStatusFailure;
  std::chrono::milliseconds delay{0};
  std::uint32_t short_length = 0;  // 0 to 3
  // Extra bytes after the level in query answers (clients ignore them); enough of them make
  // the answer longer than the maximum control transfer, so that it goes out in fragments.
  std::uint32_t query_padding = 0;
  DeviceCaps caps;
};

// A command as the modem received it, reassembled when it came in fragments.
struct ReceivedCommand {
  std::uint32_t transaction_id = 0;
  Command command;
};

// What goes back for one message from the host.
struct Reaction {
  std::vector<Bytes> messages;  // sent in this order (usually the fragments of one answer)
  std::chrono::milliseconds delay{0};
  bool vanish = false;  // the device disappears; nothing is sent
  // The host opened a new session: answers from before it that the host has not read yet
  // are void.
  bool new_session = false;
};

class Modem {
 public:
  explicit Modem(ModemOptions options);

  // Handles one whole message (or one fragment of a command) from the host.
  Reaction Handle(ByteSpan message);

  std::int32_t level() const { return level_; }
  // The level changes on the modem's side (as after a reset or a firmware switch-off).
  void set_level(std::int32_t level) { level_ = level; }
  bool is_open() const { return open_; }
  std::uint32_t max_control_transfer() const { return max_transfer_; }
  const std::vector<ReceivedCommand>& received() const { return received_; }

 private:
  Reaction HandleCommand(std::uint32_t transaction_id, const Command& command);
  Reaction HandleRadioLevel(std::uint32_t transaction_id, const Command& command);
  // True when the fault applies to this command (and counts it).
  bool TakeFault(std::uint32_t command_type);
  // True when `fault` is the modem's fault and hits this OPEN or CLOSE (and counts it).
  bool TakeMessageFault(Fault fault);
  Reaction Answer(std::uint32_t transaction_id,
                  const Command& command,
                  std::uint32_t status,
                  Bytes data = {}) const;

  ModemOptions options_;
  std::int32_t level_;
  bool open_ = false;
  std::uint32_t max_transfer_ = 4096;
  int faults_left_;
  std::map<std::uint32_t, FragmentCollector> partial_;  // by transaction id
  std::vector<ReceivedCommand> received_;
  // Answers held back by the late fault, in order; a new OPEN does not drop them, as a real
  // device may still send what it was working on.
  std::vector<Bytes> held_;
};

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_MODEM_H_
