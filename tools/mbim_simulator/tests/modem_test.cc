// The modem's behaviour message by message, without a terminal: what goes back for each
// message from the host, byte for byte where the bytes are the point.

#include "modem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace halvorn::mbimsim {
namespace {

Bytes One(std::vector<Bytes> fragments) {
  EXPECT_EQ(fragments.size(), 1u);
  return fragments.empty() ? Bytes{} : fragments.front();
}

Bytes Query(std::uint32_t tid) {
  return One(EncodeCommand(tid, {kVendorService, kCidRadioLevel, kCommandQuery, {0x00}}, 4096));
}

Bytes Set(std::uint32_t tid, Bytes level) {
  return One(EncodeCommand(tid, {kVendorService, kCidRadioLevel, kCommandSet, level}, 4096));
}

// The single command-done answer of a reaction, parsed.
struct Answer {
  std::uint32_t transaction_id = 0;
  CommandDone done;
};

Answer ParseAnswer(const Reaction& reaction) {
  EXPECT_EQ(reaction.messages.size(), 1u);
  if (reaction.messages.empty()) {
    return {};
  }
  std::optional<Message> message = ParseMessage(reaction.messages.front());
  EXPECT_TRUE(message && message->type == kCommandDoneMsg);
  std::optional<CommandDone> done = ParseCommandDoneBody(message->body);
  EXPECT_TRUE(done);
  return {message->transaction_id, done.value_or(CommandDone{})};
}

class ModemTest : public ::testing::Test {
 protected:
  // A modem that has been opened with a 4096-byte control transfer.
  static Modem Opened(ModemOptions options) {
    Modem modem(std::move(options));
    modem.Handle(EncodeOpen(1, 4096));
    return modem;
  }
};

TEST_F(ModemTest, OpenAndCloseAreAnsweredWithTheirTransactionIds) {
  Modem modem(ModemOptions{});
  EXPECT_FALSE(modem.is_open());
  Reaction opened = modem.Handle(EncodeOpen(0x11223344, 512));
  EXPECT_EQ(opened.messages, std::vector<Bytes>{EncodeOpenDone(0x11223344, kStatusSuccess)});
  EXPECT_TRUE(opened.new_session);
  EXPECT_TRUE(modem.is_open());
  EXPECT_EQ(modem.max_control_transfer(), 512u);
  EXPECT_EQ(modem.Handle(EncodeClose(0x55)).messages,
            std::vector<Bytes>{EncodeCloseDone(0x55, kStatusSuccess)});
  EXPECT_FALSE(modem.is_open());
}

TEST_F(ModemTest, CommandsBeforeOpenGetNotOpened) {
  Modem modem(ModemOptions{});
  EXPECT_EQ(modem.Handle(Query(3)).messages,
            std::vector<Bytes>{EncodeFunctionError(3, kErrorNotOpened)});
  // And again after a close.
  modem.Handle(EncodeOpen(4, 4096));
  modem.Handle(EncodeClose(5));
  EXPECT_EQ(modem.Handle(Query(6)).messages,
            std::vector<Bytes>{EncodeFunctionError(6, kErrorNotOpened)});
  EXPECT_TRUE(modem.received().empty());
}

TEST_F(ModemTest, VendorQueryAnswerGolden) {
  ModemOptions options;
  options.initial_level = 4;
  Modem modem = Opened(options);
  const Bytes want = {
      0x03, 0x00, 0x00, 0x80,                          // MessageType: COMMAND_DONE
      0x34, 0x00, 0x00, 0x00,                          // MessageLength: 52
      0x2a, 0x00, 0x00, 0x00,                          // TransactionId: the query's
      0x01, 0x00, 0x00, 0x00,                          // TotalFragments: 1
      0x00, 0x00, 0x00, 0x00,                          // CurrentFragment: 0
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // DeviceServiceId: vendor
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x01, 0x00, 0x00, 0x00,                          // CID: radio function level
      0x00, 0x00, 0x00, 0x00,                          // Status: success
      0x04, 0x00, 0x00, 0x00,                          // InformationBufferLength: 4
      0x04, 0x00, 0x00, 0x00,                          // level 4, signed little-endian
  };
  EXPECT_EQ(modem.Handle(Query(42)).messages, std::vector<Bytes>{want});
}

TEST_F(ModemTest, VendorSetAnswerGoldenAndLevelStored) {
  Modem modem = Opened(ModemOptions{});
  const Bytes want = {
      0x03, 0x00, 0x00, 0x80,                          // MessageType: COMMAND_DONE
      0x30, 0x00, 0x00, 0x00,                          // MessageLength: 48
      0x2b, 0x00, 0x00, 0x00,                          // TransactionId: the set's
      0x01, 0x00, 0x00, 0x00,                          // TotalFragments: 1
      0x00, 0x00, 0x00, 0x00,                          // CurrentFragment: 0
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // DeviceServiceId: vendor
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x01, 0x00, 0x00, 0x00,                          // CID: radio function level
      0x00, 0x00, 0x00, 0x00,                          // Status: success
      0x00, 0x00, 0x00, 0x00,                          // InformationBufferLength: 0
  };
  EXPECT_EQ(modem.Handle(Set(43, {0x01, 0x00, 0x00, 0x00})).messages, std::vector<Bytes>{want});
  EXPECT_EQ(modem.level(), 1);
  // Negative levels survive the round trip.
  modem.Handle(Set(44, {0xfe, 0xff, 0xff, 0xff}));
  EXPECT_EQ(modem.level(), -2);
  EXPECT_EQ(ParseAnswer(modem.Handle(Query(45))).done.data, (Bytes{0xfe, 0xff, 0xff, 0xff}));
}

TEST_F(ModemTest, SetNeedsExactlyFourBytes) {
  for (const Bytes& payload : {Bytes{}, Bytes{1, 0, 0}, Bytes{1, 0, 0, 0, 0}}) {
    Modem modem = Opened(ModemOptions{});
    EXPECT_EQ(ParseAnswer(modem.Handle(Set(2, payload))).done.status, kStatusInvalidParameters)
        << payload.size();
    EXPECT_EQ(modem.level(), 0);
  }
}

TEST_F(ModemTest, DeviceServicesListsTheVendorServiceUnlessItIsMissing) {
  const Bytes request =
      One(EncodeCommand(7, {kBasicConnectService, kCidDeviceServices, kCommandQuery, {}}, 4096));
  const std::vector<ServiceElement> basic = {
      {kBasicConnectService, 0, 0, {kCidDeviceCaps, kCidDeviceServices, 19}}};
  std::vector<ServiceElement> with_vendor = basic;
  with_vendor.push_back({kVendorService, 0, 0, {kCidRadioLevel}});

  Modem modem = Opened(ModemOptions{});
  Answer answer = ParseAnswer(modem.Handle(request));
  EXPECT_EQ(answer.transaction_id, 7u);
  EXPECT_EQ(answer.done.service, kBasicConnectService);
  EXPECT_EQ(answer.done.cid, kCidDeviceServices);
  EXPECT_EQ(answer.done.data, DeviceServicesInfo(with_vendor, 0));

  ModemOptions without;
  without.vendor_service = false;
  Modem lacking = Opened(without);
  EXPECT_EQ(ParseAnswer(lacking.Handle(request)).done.data, DeviceServicesInfo(basic, 0));
  // The missing service does not answer either.
  EXPECT_EQ(ParseAnswer(lacking.Handle(Query(8))).done.status, kStatusNoDeviceSupport);
}

TEST_F(ModemTest, EverythingElseIsNoDeviceSupport) {
  const Uuid sms = {0x53, 0x3f, 0xbe, 0xeb, 0x14, 0xfe, 0x44, 0x67,
                    0x9f, 0x90, 0x33, 0xa2, 0x23, 0xe5, 0x6c, 0x3f};
  struct Case {
    const char* name;
    Command command;
  } cases[] = {
      {"radio state", {kBasicConnectService, 3, kCommandQuery, {}}},
      {"device caps set", {kBasicConnectService, kCidDeviceCaps, kCommandSet, {}}},
      {"subscribe list query", {kBasicConnectService, 19, kCommandQuery, {}}},
      {"another service", {sms, 1, kCommandQuery, {}}},
      {"another vendor command", {kVendorService, 2, kCommandQuery, {0}}},
      {"unknown command type", {kVendorService, kCidRadioLevel, 2, {0}}},
  };
  for (const Case& c : cases) {
    Modem modem = Opened(ModemOptions{});
    Answer answer = ParseAnswer(modem.Handle(One(EncodeCommand(9, c.command, 4096))));
    EXPECT_EQ(answer.transaction_id, 9u) << c.name;
    EXPECT_EQ(answer.done.service, c.command.service) << c.name;
    EXPECT_EQ(answer.done.cid, c.command.cid) << c.name;
    EXPECT_EQ(answer.done.status, kStatusNoDeviceSupport) << c.name;
    EXPECT_TRUE(answer.done.data.empty()) << c.name;
    EXPECT_EQ(modem.received().size(), 1u) << c.name;
  }
}

TEST_F(ModemTest, SubscribeListIsAcceptedAndEchoed) {
  Modem modem = Opened(ModemOptions{});
  const Bytes list = {0x00, 0x00, 0x00, 0x00};  // ElementCount: 0
  Answer answer = ParseAnswer(
      modem.Handle(One(EncodeCommand(10, {kBasicConnectService, 19, kCommandSet, list}, 4096))));
  EXPECT_EQ(answer.done.status, kStatusSuccess);
  EXPECT_EQ(answer.done.data, list);
}

// A subscribe list as libmbim encodes it (mbim_message_device_service_subscribe_list_set_new)
// is echoed; one whose offsets, sizes or counts do not fit its bytes is refused with "invalid
// parameters" and not echoed.
TEST_F(ModemTest, SubscribeListMustParseBeforeItIsEchoed) {
  const Bytes list = {
      0x02, 0x00, 0x00, 0x00,                          // ElementCount: 2
      0x14, 0x00, 0x00, 0x00,                          // element 0: offset 20
      0x1c, 0x00, 0x00, 0x00,                          //            size 28
      0x30, 0x00, 0x00, 0x00,                          // element 1: offset 48
      0x18, 0x00, 0x00, 0x00,                          //            size 24
      0xa2, 0x89, 0xcc, 0x33, 0xbc, 0xbb, 0x8b, 0x4f,  // element 0: Basic Connect
      0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf,  //
      0x02, 0x00, 0x00, 0x00,                          //   CidCount: 2
      0x01, 0x00, 0x00, 0x00,                          //   device caps
      0x10, 0x00, 0x00, 0x00,                          //   device services
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // element 1: vendor service
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x01, 0x00, 0x00, 0x00,                          //   CidCount: 1
      0x01, 0x00, 0x00, 0x00,                          //   radio function level
  };
  auto with = [&list](std::size_t offset, std::uint32_t value) {
    Bytes out = list;
    for (int i = 0; i < 4; ++i) {
      out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return out;
  };
  auto set = [](std::uint32_t tid, const Bytes& data) {
    return One(EncodeCommand(tid, {kBasicConnectService, 19, kCommandSet, data}, 4096));
  };

  Modem modem = Opened(ModemOptions{});
  Answer accepted = ParseAnswer(modem.Handle(set(20, list)));
  EXPECT_EQ(accepted.done.status, kStatusSuccess);
  EXPECT_EQ(accepted.done.data, list);

  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"cut inside the count", {0x00, 0x00, 0x00}},
      {"element count 0xffffffff", with(0, 0xffffffff)},
      {"more elements than offset-size pairs", with(0, 9)},
      {"offset at the end", with(4, 72)},
      {"entry runs past the end", with(16, 28)},
      {"offset and size wrap around", with(4, 0xfffffff0)},
      {"entry inside the pair table", with(4, 4)},
      {"entry shorter than service and count", with(16, 16)},
      {"cid count one too many", with(36, 3)},
      {"cid count 0xffffffff", with(64, 0xffffffff)},
  };
  for (const Case& c : cases) {
    Answer refused = ParseAnswer(modem.Handle(set(21, c.data)));
    EXPECT_EQ(refused.transaction_id, 21u) << c.name;
    EXPECT_EQ(refused.done.cid, kCidDeviceServiceSubscribeList) << c.name;
    EXPECT_EQ(refused.done.status, kStatusInvalidParameters) << c.name;
    EXPECT_TRUE(refused.done.data.empty()) << c.name;
  }
}

// A message the modem cannot take is answered with a function error under its transaction id
// and changes nothing.
TEST_F(ModemTest, MalformedMessagesGetFunctionErrors) {
  Modem modem = Opened(ModemOptions{});
  Bytes bad_length = Query(11);
  bad_length.push_back(0);  // one byte beyond the information buffer...
  bad_length[4] = static_cast<std::uint8_t>(bad_length.size());  // ...counted in the message
  Bytes open_without_size = EncodeMessage(kOpenMsg, 12, {});
  Bytes unknown_type = EncodeMessage(0x00000042, 13, {});
  const Bytes length_four = {
      0x03, 0x00, 0x00, 0x00,  // MessageType: COMMAND
      0x04, 0x00, 0x00, 0x00,  // MessageLength: 4, shorter than the header itself
      0x10, 0x00, 0x00, 0x00,  // TransactionId
  };
  const Bytes header_of_a_long_one = {
      0x03, 0x00, 0x00, 0x00,  // MessageType: COMMAND
      0x00, 0x20, 0x00, 0x00,  // MessageLength: 8192, more than the modem takes
      0x11, 0x00, 0x00, 0x00,  // TransactionId
  };
  // One fragment of 4097 bytes, one more than the modem takes.
  const Bytes too_long = One(EncodeCommand(
      18, {kVendorService, kCidRadioLevel, kCommandSet, Bytes(4097 - kCommandFixedSize, 0)}, 8192));
  struct Case {
    const char* name;
    Bytes message;
    Bytes want;
  } cases[] = {
      {"buffer length disagrees", bad_length, EncodeFunctionError(11, kErrorLengthMismatch)},
      {"open without transfer size", open_without_size,
       EncodeFunctionError(12, kErrorLengthMismatch)},
      {"unknown message type", unknown_type, EncodeFunctionError(13, kErrorUnknown)},
      {"shorter than its header", length_four, EncodeFunctionError(0x10, kErrorLengthMismatch)},
      {"header of a message longer than the modem takes", header_of_a_long_one,
       EncodeFunctionError(0x11, kErrorMaxTransfer)},
      {"close with a body", EncodeMessage(kCloseMsg, 14, Bytes{0, 0, 0, 0}),
       EncodeFunctionError(14, kErrorLengthMismatch)},
      {"host error without its code", EncodeMessage(kHostErrorMsg, 15, {}),
       EncodeFunctionError(15, kErrorLengthMismatch)},
      {"open with a longer body", EncodeMessage(kOpenMsg, 16, Bytes(8, 0)),
       EncodeFunctionError(16, kErrorLengthMismatch)},
      {"command without fragment header", EncodeMessage(kCommandMsg, 17, Bytes(7, 0)),
       EncodeFunctionError(17, kErrorLengthMismatch)},
      {"longer than the modem takes", too_long, EncodeFunctionError(18, kErrorMaxTransfer)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(modem.Handle(c.message).messages, std::vector<Bytes>{c.want}) << c.name;
    EXPECT_TRUE(modem.is_open()) << c.name;
  }
  EXPECT_TRUE(modem.received().empty());
  EXPECT_EQ(modem.level(), 0);
  // The longest message the modem takes is handled.
  const Bytes longest = One(EncodeCommand(
      19, {kVendorService, kCidRadioLevel, kCommandSet, Bytes(4096 - kCommandFixedSize, 0)}, 4096));
  EXPECT_EQ(ParseAnswer(modem.Handle(longest)).done.status, kStatusInvalidParameters);
}

// The host must be able to take 64-byte transfers; an open that offers less is refused and
// changes nothing.
TEST_F(ModemTest, OpenWithATransferBelowTheMinimumIsRefused) {
  for (std::uint32_t size : {0u, 1u, 63u}) {
    Modem closed(ModemOptions{});
    EXPECT_EQ(closed.Handle(EncodeOpen(5, size)).messages,
              std::vector<Bytes>{EncodeFunctionError(5, kErrorMaxTransfer)})
        << size;
    EXPECT_FALSE(closed.is_open()) << size;

    Modem open = Opened(ModemOptions{});
    Reaction refused = open.Handle(EncodeOpen(6, size));
    EXPECT_EQ(refused.messages, std::vector<Bytes>{EncodeFunctionError(6, kErrorMaxTransfer)})
        << size;
    EXPECT_FALSE(refused.new_session) << size;
    EXPECT_TRUE(open.is_open()) << size;
    EXPECT_EQ(open.max_control_transfer(), 4096u) << size;
  }
  Modem modem(ModemOptions{});
  EXPECT_EQ(modem.Handle(EncodeOpen(7, 64)).messages,
            std::vector<Bytes>{EncodeOpenDone(7, kStatusSuccess)});
  EXPECT_EQ(modem.max_control_transfer(), 64u);
}

TEST_F(ModemTest, AnswersLongerThanTheOpenedTransferComeInFragments) {
  ModemOptions options;
  options.initial_level = 1;
  options.query_padding = 100;
  Modem modem(options);
  modem.Handle(EncodeOpen(1, 64));
  const Reaction reaction = modem.Handle(Query(14));
  // 28 fixed bytes and 104 of data, 44 to a fragment.
  ASSERT_EQ(reaction.messages.size(), 3u);
  FragmentCollector collector;
  for (const Bytes& fragment : reaction.messages) {
    EXPECT_LE(fragment.size(), 64u);
    std::optional<Message> message = ParseMessage(fragment);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->transaction_id, 14u);
    collector.Add(*message);
  }
  std::optional<CommandDone> done = ParseCommandDoneBody(collector.Take().body);
  ASSERT_TRUE(done);
  ASSERT_EQ(done->data.size(), 104u);
  EXPECT_EQ(Bytes(done->data.begin(), done->data.begin() + 4), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(done->data[4 + 99], 99);  // the padding counts up
}

TEST_F(ModemTest, FragmentedCommandsAreReassembledBeforeHandling) {
  Modem modem = Opened(ModemOptions{});
  Bytes payload(80, 0x00);
  payload[79] = 0x79;
  // A set whose 80-byte buffer the host sent in 64-byte transfers.
  const std::vector<Bytes> fragments =
      EncodeCommand(15, {kVendorService, kCidRadioLevel, kCommandSet, payload}, 64);
  ASSERT_EQ(fragments.size(), 3u);
  EXPECT_TRUE(modem.Handle(fragments[0]).messages.empty());
  EXPECT_TRUE(modem.Handle(fragments[1]).messages.empty());
  Answer answer = ParseAnswer(modem.Handle(fragments[2]));
  EXPECT_EQ(answer.transaction_id, 15u);
  EXPECT_EQ(answer.done.status, kStatusInvalidParameters);  // 80 bytes are no level
  ASSERT_EQ(modem.received().size(), 1u);
  EXPECT_EQ(modem.received()[0].command.data, payload);

  // Out of order: the first fragment again where the second belongs.
  modem.Handle(fragments[0]);
  EXPECT_EQ(modem.Handle(fragments[0]).messages,
            std::vector<Bytes>{EncodeFunctionError(15, kErrorFragmentOutOfSequence)});
  // A host error abandons a half-sent command.
  modem.Handle(fragments[0]);
  EXPECT_TRUE(modem.Handle(EncodeMessage(kHostErrorMsg, 15, Bytes{1, 0, 0, 0})).messages.empty());
  EXPECT_EQ(modem.Handle(fragments[1]).messages,
            std::vector<Bytes>{EncodeFunctionError(15, kErrorFragmentOutOfSequence)});
  EXPECT_EQ(modem.level(), 0);
}

// Which commands each fault hits, and what the modem then does. The level starts at 0; every
// case sends a set of 1 and then a query.
TEST_F(ModemTest, FaultsHitTheirTargets) {
  enum class Seen { kNormal, kStatus, kNothing, kLate, kShort, kWrongTid, kVanish };
  struct Case {
    const char* name;
    Fault fault;
    FaultTarget target;
    Seen set;
    int level_after_set;
    Seen query;
  } cases[] = {
      {"status on both", Fault::kStatus, FaultTarget::kBoth, Seen::kStatus, 0, Seen::kStatus},
      {"status on queries", Fault::kStatus, FaultTarget::kQuery, Seen::kNormal, 1, Seen::kStatus},
      {"status on sets", Fault::kStatus, FaultTarget::kSet, Seen::kStatus, 0, Seen::kNormal},
      {"no answer", Fault::kNoAnswer, FaultTarget::kBoth, Seen::kNothing, 0, Seen::kNothing},
      {"delay", Fault::kDelay, FaultTarget::kBoth, Seen::kLate, 1, Seen::kLate},
      {"short", Fault::kShortResponse, FaultTarget::kBoth, Seen::kNormal, 1, Seen::kShort},
      {"short ignores the target", Fault::kShortResponse, FaultTarget::kSet, Seen::kNormal, 1,
       Seen::kShort},
      {"wrong tid", Fault::kWrongTransactionId, FaultTarget::kBoth, Seen::kWrongTid, 1,
       Seen::kWrongTid},
      {"vanish on queries", Fault::kVanish, FaultTarget::kQuery, Seen::kNormal, 1, Seen::kVanish},
      {"refuse set", Fault::kRefuseSet, FaultTarget::kQuery, Seen::kStatus, 0, Seen::kNormal},
      {"ignore set", Fault::kIgnoreSet, FaultTarget::kBoth, Seen::kNormal, 0, Seen::kNormal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModemOptions options;
    options.fault = c.fault;
    options.fault_target = c.target;
    options.fault_status = 0x1234;
    options.delay = std::chrono::milliseconds(250);
    options.short_length = 2;
    Modem modem = Opened(options);

    auto check = [&](const Reaction& reaction, Seen seen, std::uint32_t tid, bool is_set) {
      const std::uint32_t want_status =
          seen != Seen::kStatus
              ? kStatusSuccess
              : (c.fault == Fault::kRefuseSet ? kStatusOperationNotAllowed : 0x1234u);
      EXPECT_EQ(reaction.vanish, seen == Seen::kVanish);
      EXPECT_EQ(reaction.delay, seen == Seen::kLate ? std::chrono::milliseconds(250)
                                                    : std::chrono::milliseconds(0));
      if (seen == Seen::kNothing || seen == Seen::kVanish) {
        EXPECT_TRUE(reaction.messages.empty());
        return;
      }
      Answer answer = ParseAnswer(reaction);
      EXPECT_EQ(answer.transaction_id, seen == Seen::kWrongTid ? tid + 1 : tid);
      EXPECT_EQ(answer.done.status, want_status);
      if (!is_set && seen != Seen::kStatus) {
        EXPECT_EQ(answer.done.data.size(), seen == Seen::kShort ? 2u : 4u);
      }
    };
    check(modem.Handle(Set(20, {1, 0, 0, 0})), c.set, 20, true);
    EXPECT_EQ(modem.level(), c.level_after_set);
    check(modem.Handle(Query(21)), c.query, 21, false);
  }
}

TEST_F(ModemTest, FaultCountLetsTheModemRecover) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kStatus;
  options.fault_target = FaultTarget::kQuery;
  options.fault_count = 2;
  Modem modem = Opened(options);
  // Sets do not use up the count.
  EXPECT_EQ(ParseAnswer(modem.Handle(Set(1, {1, 0, 0, 0}))).done.status, kStatusSuccess);
  EXPECT_EQ(ParseAnswer(modem.Handle(Query(2))).done.status, kStatusFailure);
  EXPECT_EQ(ParseAnswer(modem.Handle(Query(3))).done.status, kStatusFailure);
  Answer third = ParseAnswer(modem.Handle(Query(4)));
  EXPECT_EQ(third.done.status, kStatusSuccess);
  EXPECT_EQ(third.done.data, (Bytes{1, 0, 0, 0}));
}

// A late answer is not lost when the host closes and opens the port again: it goes out just
// before the answer to the next radio-level command, whatever that command is.
TEST_F(ModemTest, LateAnswerGoesOutWithTheNextRadioLevelAnswerAfterAReopen) {
  ModemOptions options;
  options.initial_level = 9;
  options.fault = Fault::kLateAnswer;
  options.fault_target = FaultTarget::kQuery;
  options.fault_count = 1;
  Modem modem = Opened(options);
  EXPECT_TRUE(modem.Handle(Query(7)).messages.empty());
  EXPECT_EQ(modem.Handle(EncodeClose(8)).messages,
            std::vector<Bytes>{EncodeCloseDone(8, kStatusSuccess)});
  EXPECT_EQ(modem.Handle(EncodeOpen(1, 4096)).messages,
            std::vector<Bytes>{EncodeOpenDone(1, kStatusSuccess)});
  // Other commands do not carry it.
  EXPECT_EQ(ParseAnswer(modem.Handle(One(EncodeCommand(
                            2, {kBasicConnectService, kCidDeviceCaps, kCommandQuery, {}}, 4096))))
                .transaction_id,
            2u);

  Reaction set = modem.Handle(Set(3, {1, 0, 0, 0}));
  ASSERT_EQ(set.messages.size(), 2u);
  std::optional<Message> late = ParseMessage(set.messages[0]);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->transaction_id, 7u);
  EXPECT_EQ(ParseCommandDoneBody(late->body)->data, (Bytes{9, 0, 0, 0}));  // the level then
  std::optional<Message> own = ParseMessage(set.messages[1]);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->transaction_id, 3u);
  EXPECT_EQ(modem.level(), 1);
  // Sent once only.
  EXPECT_EQ(ParseAnswer(modem.Handle(Query(4))).transaction_id, 4u);
}

TEST_F(ModemTest, LateAnswersOfEveryTargetQueueUpInOrder) {
  ModemOptions options;
  options.fault = Fault::kLateAnswer;
  options.fault_count = 2;
  Modem modem = Opened(options);
  EXPECT_TRUE(modem.Handle(Query(1)).messages.empty());
  // The set's own answer is held in turn; the query's goes out.
  Reaction set = modem.Handle(Set(2, {1, 0, 0, 0}));
  ASSERT_EQ(set.messages.size(), 1u);
  EXPECT_EQ(ParseMessage(set.messages[0])->transaction_id, 1u);
  Reaction query = modem.Handle(Query(3));
  ASSERT_EQ(query.messages.size(), 2u);
  EXPECT_EQ(ParseMessage(query.messages[0])->transaction_id, 2u);
  EXPECT_EQ(ParseMessage(query.messages[1])->transaction_id, 3u);
}

TEST_F(ModemTest, SilentOpenAndCloseAreNeverAnswered) {
  ModemOptions options;
  options.fault = Fault::kSilentOpen;
  options.fault_count = 1;
  Modem silent_open(options);
  Reaction first = silent_open.Handle(EncodeOpen(1, 4096));
  EXPECT_TRUE(first.messages.empty());
  EXPECT_FALSE(first.new_session);
  EXPECT_FALSE(silent_open.is_open());
  // The count is used up: the next OPEN is answered.
  EXPECT_EQ(silent_open.Handle(EncodeOpen(2, 4096)).messages,
            std::vector<Bytes>{EncodeOpenDone(2, kStatusSuccess)});
  EXPECT_TRUE(silent_open.is_open());
  // Commands are not hit by it.
  EXPECT_EQ(ParseAnswer(silent_open.Handle(Query(3))).done.status, kStatusSuccess);

  options.fault = Fault::kSilentClose;
  options.fault_count = -1;
  Modem silent_close = Opened(options);
  EXPECT_EQ(ParseAnswer(silent_close.Handle(Query(3))).done.status, kStatusSuccess);
  EXPECT_TRUE(silent_close.Handle(EncodeClose(4)).messages.empty());
  EXPECT_FALSE(silent_close.is_open());  // taken, only not answered
}

TEST_F(ModemTest, GarbledAnswerAnnouncesMoreBytesThanItHas) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kGarbled;
  options.fault_target = FaultTarget::kQuery;
  Modem modem = Opened(options);
  const Reaction query = modem.Handle(Query(5));
  ASSERT_EQ(query.messages.size(), 1u);
  const Bytes& bytes = query.messages.front();
  ASSERT_GE(bytes.size(), kHeaderSize);
  const std::uint32_t announced =
      static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
      static_cast<std::uint32_t>(bytes[6]) << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
  EXPECT_EQ(announced, bytes.size() + kGarbledExtraLength);
  // A stream reader waits for the rest.
  MessageStream stream;
  stream.Append(bytes);
  EXPECT_FALSE(stream.Next());
  // Sets are not hit.
  EXPECT_EQ(ParseAnswer(modem.Handle(Set(6, {1, 0, 0, 0}))).done.status, kStatusSuccess);
}

TEST_F(ModemTest, ReceivedCommandsKeepTheRequestBytes) {
  Modem modem = Opened(ModemOptions{});
  modem.Handle(Query(30));
  modem.Handle(Set(31, {0x01, 0x00, 0x00, 0x00}));
  ASSERT_EQ(modem.received().size(), 2u);
  EXPECT_EQ(modem.received()[0].transaction_id, 30u);
  EXPECT_EQ(modem.received()[0].command.command_type, kCommandQuery);
  EXPECT_EQ(modem.received()[0].command.data, Bytes{0x00});
  EXPECT_EQ(modem.received()[1].command.command_type, kCommandSet);
  EXPECT_EQ(modem.received()[1].command.data, (Bytes{0x01, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace halvorn::mbimsim
