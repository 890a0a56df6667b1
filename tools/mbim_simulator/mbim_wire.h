// MBIM control messages as they travel on the control channel: encoding and parsing, splitting
// a byte stream into messages, and fragmenting and reassembling messages longer than the
// maximum control transfer. All integers are little-endian; service UUIDs travel in the byte
// order of their printed form (11223344-5566-... is sent as 11 22 33 44 55 66 ...).

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_MBIM_WIRE_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_MBIM_WIRE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace halvorn::mbimsim {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using Uuid = std::array<std::uint8_t, 16>;

// Message types (MessageType of the message header).
inline constexpr std::uint32_t kOpenMsg = 0x00000001;
inline constexpr std::uint32_t kCloseMsg = 0x00000002;
inline constexpr std::uint32_t kCommandMsg = 0x00000003;
inline constexpr std::uint32_t kHostErrorMsg = 0x00000004;
inline constexpr std::uint32_t kOpenDoneMsg = 0x80000001;
inline constexpr std::uint32_t kCloseDoneMsg = 0x80000002;
inline constexpr std::uint32_t kCommandDoneMsg = 0x80000003;
inline constexpr std::uint32_t kFunctionErrorMsg = 0x80000004;
inline constexpr std::uint32_t kIndicateStatusMsg = 0x80000007;

// Command types of a command message.
inline constexpr std::uint32_t kCommandQuery = 0;
inline constexpr std::uint32_t kCommandSet = 1;

// Status codes of done messages (MBIM_STATUS_*), the ones this code uses.
inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusBusy = 1;
inline constexpr std::uint32_t kStatusFailure = 2;
inline constexpr std::uint32_t kStatusNoDeviceSupport = 9;
inline constexpr std::uint32_t kStatusInvalidParameters = 21;
inline constexpr std::uint32_t kStatusOperationNotAllowed = 28;

// Error codes of function-error and host-error messages (MBIM_ERROR_*).
inline constexpr std::uint32_t kErrorTimeoutFragment = 1;
inline constexpr std::uint32_t kErrorFragmentOutOfSequence = 2;
inline constexpr std::uint32_t kErrorLengthMismatch = 3;
inline constexpr std::uint32_t kErrorNotOpened = 5;
inline constexpr std::uint32_t kErrorUnknown = 6;
inline constexpr std::uint32_t kErrorMaxTransfer = 8;

// Sizes of the fixed parts.
inline constexpr std::size_t kHeaderSize = 12;         // type, length, transaction id
inline constexpr std::size_t kFragmentHeaderSize = 8;  // total fragments, current fragment
// Header, fragment header, service, command id, command type or status, buffer length.
inline constexpr std::size_t kCommandFixedSize = 48;
// The smallest maximum control transfer that a host may announce.
inline constexpr std::uint32_t kMinMaxControlTransfer = 64;
// Longest message accepted from a stream; anything longer is garbage.
inline constexpr std::uint32_t kMaxMessageLength = 64 * 1024;
// Longest message the modem takes from the host, what a cdc-wdm device announces as its
// maximum control message (libmbim assumes 4096 on a terminal, where it cannot ask).
inline constexpr std::uint32_t kModemMaxControlMessage = 4096;

// Basic Connect service, a289cc33-bcbb-8b4f-b6b0-133ec2aae6df.
inline constexpr Uuid kBasicConnectService = {0xa2, 0x89, 0xcc, 0x33, 0xbc, 0xbb, 0x8b, 0x4f,
                                              0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf};
inline constexpr std::uint32_t kCidDeviceCaps = 1;
inline constexpr std::uint32_t kCidDeviceServices = 16;
inline constexpr std::uint32_t kCidDeviceServiceSubscribeList = 19;

// The modem's vendor device service, 11223344-5566-7788-99aa-bbccddeeff11, and its radio
// function level command (the same id for query and set).
inline constexpr Uuid kVendorService = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                        0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11};
inline constexpr std::uint32_t kCidRadioLevel = 1;

// "11223344-5566-7788-99aa-bbccddeeff11".
std::string UuidToString(const Uuid& uuid);

// True for the message types that carry a fragment header after the message header.
bool HasFragmentHeader(std::uint32_t type);

// One message, or one fragment of a longer one.
struct Message {
  std::uint32_t type = 0;
  std::uint32_t transaction_id = 0;
  // The fragment header, for the types that have one.
  std::uint32_t total_fragments = 1;
  std::uint32_t current_fragment = 0;
  // Everything after the message header and, where present, the fragment header.
  Bytes body;
};

// Parses exactly one message. Fails when `data` is shorter than the headers of its type or
// its length field is not `data.size()`.
std::optional<Message> ParseMessage(ByteSpan data);

// Why the header at the start of `data` cannot start a message of its type that is at most
// `max_length` bytes long: kErrorLengthMismatch when its length field is below the 12-byte
// header, or not the one length of open, close, host-error and the fixed-size answers, or
// leaves no room for the fragment header; kErrorMaxTransfer when it exceeds `max_length`.
// Nothing when it can; types this code does not know are only held to the header and to
// `max_length`. Fewer than 8 bytes, with no length field, are a length mismatch.
std::optional<std::uint32_t> HeaderError(ByteSpan data, std::uint32_t max_length);

// Encodes a message of a type without fragment header (open, close, the done messages of
// open and close, errors).
Bytes EncodeMessage(std::uint32_t type, std::uint32_t transaction_id, ByteSpan body);

// Encodes a message of a type with fragment header, split into as many fragments as needed
// so that none is longer than `max_transfer` (at least kMinMaxControlTransfer is assumed).
std::vector<Bytes> EncodeFragments(std::uint32_t type,
                                   std::uint32_t transaction_id,
                                   ByteSpan body,
                                   std::uint32_t max_transfer);

// The body of a command message.
struct Command {
  Uuid service{};
  std::uint32_t cid = 0;
  std::uint32_t command_type = kCommandQuery;
  Bytes data;  // the information buffer
};

// The body of a command-done message.
struct CommandDone {
  Uuid service{};
  std::uint32_t cid = 0;
  std::uint32_t status = kStatusSuccess;
  Bytes data;  // the information buffer
};

// Fail when the body is shorter than its fixed part or its buffer length disagrees with the
// bytes that follow.
std::optional<Command> ParseCommandBody(ByteSpan body);
std::optional<CommandDone> ParseCommandDoneBody(ByteSpan body);
Bytes CommandBody(const Command& command);
Bytes CommandDoneBody(const CommandDone& done);

// Whole messages, ready to send.
Bytes EncodeOpen(std::uint32_t transaction_id, std::uint32_t max_transfer);
Bytes EncodeClose(std::uint32_t transaction_id);
Bytes EncodeOpenDone(std::uint32_t transaction_id, std::uint32_t status);
Bytes EncodeCloseDone(std::uint32_t transaction_id, std::uint32_t status);
Bytes EncodeFunctionError(std::uint32_t transaction_id, std::uint32_t error);
std::vector<Bytes> EncodeCommand(std::uint32_t transaction_id,
                                 const Command& command,
                                 std::uint32_t max_transfer);
std::vector<Bytes> EncodeCommandDone(std::uint32_t transaction_id,
                                     const CommandDone& done,
                                     std::uint32_t max_transfer);

// One entry of the device-services list.
struct ServiceElement {
  Uuid service{};
  std::uint32_t dss_payload = 0;
  std::uint32_t max_dss_instances = 0;
  std::vector<std::uint32_t> cids;
};

// Information buffer of a device-services response.
Bytes DeviceServicesInfo(const std::vector<ServiceElement>& services,
                         std::uint32_t max_dss_sessions);

// True when `info` parses as the information buffer of a subscribe-list set
// (MBIM_DEVICE_SERVICE_SUBSCRIBE_LIST): ElementCount, that many offset-size pairs, each
// pointing, past the pairs and inside the buffer, to an event entry of a service UUID, a
// CidCount and that many CIDs.
bool IsSubscribeList(ByteSpan info);

// What a device-caps query reports.
struct DeviceCaps {
  std::uint32_t device_type = 1;     // embedded
  std::uint32_t cellular_class = 1;  // GSM family
  std::uint32_t voice_class = 1;     // no voice
  std::uint32_t sim_class = 2;       // removable SIM
  std::uint32_t data_class = 0x20;   // LTE
  std::uint32_t sms_caps = 0;
  std::uint32_t control_caps = 0;
  std::uint32_t max_sessions = 1;
  std::string custom_data_class;
  std::string device_id = "990000000000001";
  std::string firmware_info = "HALVORN-SIM 1.0";
  std::string hardware_info = "halvorn-mbim-sim";
};

// Information buffer of a device-caps response; strings are UTF-16LE, each padded to four
// bytes, empty ones with offset and size 0.
Bytes DeviceCapsInfo(const DeviceCaps& caps);

// Cuts a byte stream into whole messages by their length fields.
//
// On a cdc-wdm device every write of the host is one transfer on the USB control pipe, so the
// device knows where a message it cannot take ends, answers it and meets the next write in
// step. A pseudo-terminal keeps no write boundaries: one read may hold a bad header and the
// command written after it, or half of either. So the stream resynchronises on its own: a
// header that HeaderError() refuses comes out alone, as its 12 bytes (the header every MBIM
// message starts with, and what a host that wrote just a bad header wrote), for the receiver
// to answer under its transaction id; then bytes are skipped, and counted in discarded(),
// until the next place where a header of a known type with a possible length starts. A host
// that wrote a bare bad header loses nothing, one that wrote a damaged message loses only
// that message, and the command written next is found whether it shares a read or not.
// Trusting such a length instead would swallow the messages that follow it, and dropping
// everything buffered would drop them too when they shared the read. A wrong length that is
// possible for its type (a command claiming 100 bytes that has 49) cannot be told from the
// bytes alone: it takes bytes of the next message, which the receiver then finds malformed.
class MessageStream {
 public:
  void Append(ByteSpan data);

  // The next message, once all its bytes have arrived, or the 12 bytes of a header that
  // cannot start a message of at most `max_length` bytes (its length field then disagrees
  // with its size).
  std::optional<Bytes> Next(std::uint32_t max_length = kMaxMessageLength);

  std::size_t buffered() const { return buffer_.size(); }
  std::size_t discarded() const { return discarded_; }

 private:
  // Drops bytes up to the next possible header; false while none is in sight yet.
  bool SkipToHeader(std::uint32_t max_length);

  Bytes buffer_;
  std::size_t discarded_ = 0;
  bool skipping_ = false;  // after a bad header
};

// Gathers the fragments of one message, given in order.
class FragmentCollector {
 public:
  enum class Result { kIncomplete, kComplete, kOutOfSequence };

  // The first fragment must be number 0; each further one must continue the sequence with
  // the same type, transaction id and fragment count.
  Result Add(const Message& fragment);

  // The reassembled message (one fragment, the bodies joined) after kComplete.
  Message Take();

 private:
  std::optional<Message> message_;
  std::uint32_t next_ = 0;
};

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_MBIM_WIRE_H_
