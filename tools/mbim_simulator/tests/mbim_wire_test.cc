#include "mbim_wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace halvorn::mbimsim {
namespace {

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// Feeds `all` to `stream` in pieces of `chunk` bytes and collects what it cuts.
std::vector<Bytes> FeedInChunks(MessageStream& stream, const Bytes& all, std::size_t chunk) {
  std::vector<Bytes> got;
  for (std::size_t i = 0; i < all.size(); i += chunk) {
    stream.Append(ByteSpan(all).subspan(i, std::min(chunk, all.size() - i)));
    while (std::optional<Bytes> message = stream.Next()) {
      got.push_back(*message);
    }
  }
  return got;
}

TEST(MbimWireTest, VendorServiceTravelsInPrintedByteOrder) {
  EXPECT_EQ(UuidToString(kVendorService), "11223344-5566-7788-99aa-bbccddeeff11");
  EXPECT_EQ(UuidToString(kBasicConnectService), "a289cc33-bcbb-8b4f-b6b0-133ec2aae6df");
}

TEST(MbimWireTest, OpenCloseAndErrorMessages) {
  struct Case {
    Bytes got;
    Bytes want;
  } cases[] = {
      {EncodeOpen(0x01020304, 4096),
       {
           0x01, 0x00, 0x00, 0x00,  // MessageType: OPEN
           0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
           0x04, 0x03, 0x02, 0x01,  // TransactionId
           0x00, 0x10, 0x00, 0x00,  // MaxControlTransfer: 4096
       }},
      {EncodeOpenDone(7, kStatusSuccess),
       {
           0x01, 0x00, 0x00, 0x80,  // MessageType: OPEN_DONE
           0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
           0x07, 0x00, 0x00, 0x00,  // TransactionId: echoed
           0x00, 0x00, 0x00, 0x00,  // Status: success
       }},
      {EncodeClose(8),
       {
           0x02, 0x00, 0x00, 0x00,  // MessageType: CLOSE
           0x0c, 0x00, 0x00, 0x00,  // MessageLength: 12
           0x08, 0x00, 0x00, 0x00,  // TransactionId
       }},
      {EncodeCloseDone(8, kStatusSuccess),
       {
           0x02, 0x00, 0x00, 0x80,  // MessageType: CLOSE_DONE
           0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
           0x08, 0x00, 0x00, 0x00,  // TransactionId: echoed
           0x00, 0x00, 0x00, 0x00,  // Status: success
       }},
      {EncodeFunctionError(9, kErrorNotOpened),
       {
           0x04, 0x00, 0x00, 0x80,  // MessageType: FUNCTION_ERROR
           0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
           0x09, 0x00, 0x00, 0x00,  // TransactionId: echoed
           0x05, 0x00, 0x00, 0x00,  // ErrorStatusCode: not opened
       }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(MbimWireTest, VendorCommandsAndTheirAnswers) {
  Command query{kVendorService, kCidRadioLevel, kCommandQuery, {0x00}};
  const Bytes query_golden = {
      0x03, 0x00, 0x00, 0x00,                          // MessageType: COMMAND
      0x31, 0x00, 0x00, 0x00,                          // MessageLength: 49
      0x05, 0x00, 0x00, 0x00,                          // TransactionId
      0x01, 0x00, 0x00, 0x00,                          // TotalFragments: 1
      0x00, 0x00, 0x00, 0x00,                          // CurrentFragment: 0
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // DeviceServiceId: vendor
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x01, 0x00, 0x00, 0x00,                          // CID: radio function level
      0x00, 0x00, 0x00, 0x00,                          // CommandType: query
      0x01, 0x00, 0x00, 0x00,                          // InformationBufferLength: 1
      0x00,                                            // InformationBuffer: 00
  };
  EXPECT_EQ(EncodeCommand(5, query, 4096), std::vector<Bytes>{query_golden});

  CommandDone level{kVendorService, kCidRadioLevel, kStatusSuccess, {0x04, 0x00, 0x00, 0x00}};
  const Bytes level_golden = {
      0x03, 0x00, 0x00, 0x80,                          // MessageType: COMMAND_DONE
      0x34, 0x00, 0x00, 0x00,                          // MessageLength: 52
      0x05, 0x00, 0x00, 0x00,                          // TransactionId: echoed
      0x01, 0x00, 0x00, 0x00,                          // TotalFragments: 1
      0x00, 0x00, 0x00, 0x00,                          // CurrentFragment: 0
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // DeviceServiceId: vendor
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x01, 0x00, 0x00, 0x00,                          // CID: radio function level
      0x00, 0x00, 0x00, 0x00,                          // Status: success
      0x04, 0x00, 0x00, 0x00,                          // InformationBufferLength: 4
      0x04, 0x00, 0x00, 0x00,                          // InformationBuffer: level 4
  };
  EXPECT_EQ(EncodeCommandDone(5, level, 4096), std::vector<Bytes>{level_golden});
}

TEST(MbimWireTest, DeviceServicesInformationBuffer) {
  const Bytes got = DeviceServicesInfo(
      {{kBasicConnectService, 0, 0, {1, 16, 19}}, {kVendorService, 0, 0, {1}}}, 0);
  const Bytes want = {
      0x02, 0x00, 0x00, 0x00,                          // DeviceServicesCount: 2
      0x00, 0x00, 0x00, 0x00,                          // MaxDssSessions: 0
      0x18, 0x00, 0x00, 0x00,                          // element 0: offset 24
      0x28, 0x00, 0x00, 0x00,                          //            size 40
      0x40, 0x00, 0x00, 0x00,                          // element 1: offset 64
      0x20, 0x00, 0x00, 0x00,                          //            size 32
      0xa2, 0x89, 0xcc, 0x33, 0xbc, 0xbb, 0x8b, 0x4f,  // element 0: Basic Connect
      0xb6, 0xb0, 0x13, 0x3e, 0xc2, 0xaa, 0xe6, 0xdf,  //
      0x00, 0x00, 0x00, 0x00,                          //   DssPayload: 0
      0x00, 0x00, 0x00, 0x00,                          //   MaxDssInstances: 0
      0x03, 0x00, 0x00, 0x00,                          //   CidCount: 3
      0x01, 0x00, 0x00, 0x00,                          //   device caps
      0x10, 0x00, 0x00, 0x00,                          //   device services
      0x13, 0x00, 0x00, 0x00,                          //   device service subscribe list
      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  // element 1: vendor service
      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11,  //
      0x00, 0x00, 0x00, 0x00,                          //   DssPayload: 0
      0x00, 0x00, 0x00, 0x00,                          //   MaxDssInstances: 0
      0x01, 0x00, 0x00, 0x00,                          //   CidCount: 1
      0x01, 0x00, 0x00, 0x00,                          //   radio function level
  };
  EXPECT_EQ(got, want);
}

TEST(MbimWireTest, DeviceCapsStringsArePaddedUtf16) {
  DeviceCaps caps;
  caps.custom_data_class = "";
  caps.device_id = "123";
  caps.firmware_info = "F\xc3\xa9";         // "Fé": one two-byte sequence
  caps.hardware_info = "\xf0\x9f\x98\x80";  // U+1F600: a surrogate pair
  const Bytes want = {
      0x01, 0x00, 0x00, 0x00,  // DeviceType: embedded
      0x01, 0x00, 0x00, 0x00,  // CellularClass: GSM
      0x01, 0x00, 0x00, 0x00,  // VoiceClass: no voice
      0x02, 0x00, 0x00, 0x00,  // SimClass: removable
      0x20, 0x00, 0x00, 0x00,  // DataClass: LTE
      0x00, 0x00, 0x00, 0x00,  // SmsCaps
      0x00, 0x00, 0x00, 0x00,  // ControlCaps
      0x01, 0x00, 0x00, 0x00,  // MaxSessions: 1
      0x00, 0x00, 0x00, 0x00,  // CustomDataClass: empty, offset 0
      0x00, 0x00, 0x00, 0x00,  //                  size 0
      0x40, 0x00, 0x00, 0x00,  // DeviceId: offset 64
      0x06, 0x00, 0x00, 0x00,  //           size 6
      0x48, 0x00, 0x00, 0x00,  // FirmwareInfo: offset 72 (after two bytes of padding)
      0x04, 0x00, 0x00, 0x00,  //               size 4
      0x4c, 0x00, 0x00, 0x00,  // HardwareInfo: offset 76
      0x04, 0x00, 0x00, 0x00,  //               size 4
      '1',  0x00, '2',  0x00,  // "123"
      '3',  0x00, 0x00, 0x00,  //   and padding
      'F',  0x00, 0xe9, 0x00,  // "Fé"
      0x3d, 0xd8, 0x00, 0xde,  // U+1F600 as D83D DE00
  };
  EXPECT_EQ(DeviceCapsInfo(caps), want);
}

TEST(MbimWireTest, LongMessagesAreSplitIntoFragmentsThatFitTheTransfer) {
  CommandDone done{kVendorService, kCidRadioLevel, kStatusSuccess, {}};
  for (std::uint8_t i = 0; i < 40; ++i) {
    done.data.push_back(i);
  }
  // 28 bytes of fixed body and 40 of data; 64-byte transfers carry 44 body bytes each.
  const std::vector<Bytes> fragments = EncodeCommandDone(3, done, 64);
  ASSERT_EQ(fragments.size(), 2u);
  EXPECT_EQ(fragments[0].size(), 64u);
  const Bytes second_golden = {
      0x03, 0x00, 0x00, 0x80,  // MessageType: COMMAND_DONE
      0x2c, 0x00, 0x00, 0x00,  // MessageLength: 44
      0x03, 0x00, 0x00, 0x00,  // TransactionId: the same in every fragment
      0x02, 0x00, 0x00, 0x00,  // TotalFragments: 2
      0x01, 0x00, 0x00, 0x00,  // CurrentFragment: 1
      0x10, 0x11, 0x12, 0x13,  // the rest of the information buffer: bytes 16 to 39
      0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d,
      0x1e, 0x1f, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
  };
  EXPECT_EQ(fragments[1], second_golden);

  // Reassembled, they are the message again.
  FragmentCollector collector;
  EXPECT_EQ(collector.Add(*ParseMessage(fragments[0])), FragmentCollector::Result::kIncomplete);
  EXPECT_EQ(collector.Add(*ParseMessage(fragments[1])), FragmentCollector::Result::kComplete);
  const Message whole = collector.Take();
  EXPECT_EQ(whole.type, kCommandDoneMsg);
  EXPECT_EQ(whole.transaction_id, 3u);
  std::optional<CommandDone> parsed = ParseCommandDoneBody(whole.body);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->data, done.data);
}

TEST(MbimWireTest, FragmentSizesAtTheBoundary) {
  struct Case {
    std::size_t data_size;
    std::uint32_t max_transfer;
    std::size_t fragments;
  } cases[] = {
      {16, 64, 1},                   // 48 + 16 = 64: fits exactly
      {17, 64, 2},                   // one byte more
      {0, 64, 1},                    // an empty buffer still makes one fragment
      {6000, 4096, 2}, {16, 10, 1},  // a transfer below the minimum counts as the minimum
  };
  for (const Case& c : cases) {
    CommandDone done{kVendorService, 1, kStatusSuccess, Bytes(c.data_size, 0xab)};
    const std::vector<Bytes> fragments = EncodeCommandDone(1, done, c.max_transfer);
    EXPECT_EQ(fragments.size(), c.fragments) << c.data_size << "/" << c.max_transfer;
    for (const Bytes& fragment : fragments) {
      EXPECT_LE(fragment.size(), std::max(c.max_transfer, kMinMaxControlTransfer));
    }
  }
}

TEST(MbimWireTest, CollectorRejectsFragmentsOutOfSequence) {
  CommandDone done{kVendorService, 1, kStatusSuccess, Bytes(100, 0x5a)};
  const std::vector<Bytes> three = EncodeCommandDone(4, done, 64);
  ASSERT_EQ(three.size(), 3u);
  const Message first = *ParseMessage(three[0]);
  const Message second = *ParseMessage(three[1]);
  const Message third = *ParseMessage(three[2]);
  Message other_tid = second;
  other_tid.transaction_id = 5;
  Message other_type = second;
  other_type.type = kCommandMsg;
  Message other_total = second;
  other_total.total_fragments = 4;
  Message no_fragments = first;
  no_fragments.total_fragments = 0;

  struct Case {
    const char* name;
    std::vector<Message> fragments;
  } cases[] = {
      {"starts in the middle", {second}},        {"skips one", {first, third}},
      {"repeats one", {first, first}},           {"changes the transaction", {first, other_tid}},
      {"changes the type", {first, other_type}}, {"changes the count", {first, other_total}},
      {"counts zero fragments", {no_fragments}},
  };
  for (const Case& c : cases) {
    FragmentCollector collector;
    FragmentCollector::Result result = FragmentCollector::Result::kIncomplete;
    for (const Message& fragment : c.fragments) {
      result = collector.Add(fragment);
    }
    EXPECT_EQ(result, FragmentCollector::Result::kOutOfSequence) << c.name;
    // The collector starts over afterwards.
    EXPECT_EQ(collector.Add(first), FragmentCollector::Result::kIncomplete) << c.name;
  }
}

TEST(MbimWireTest, ParseRejectsMalformedMessages) {
  const Bytes open = EncodeOpen(1, 4096);
  Bytes long_field = open;
  long_field[4] = 17;  // claims one byte more than there is
  Bytes command_stub = EncodeMessage(kCommandMsg, 1, Bytes(7, 0));  // no room for fragments
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"shorter than a header", Bytes(open.begin(), open.begin() + 11)},
      {"length field disagrees", long_field},
      {"command without fragment header", command_stub},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseMessage(c.bytes)) << c.name;
  }
  EXPECT_TRUE(ParseMessage(open));
}

TEST(MbimWireTest, CommandBodyLengthMustMatch) {
  Bytes body = CommandBody({kVendorService, 1, kCommandSet, {1, 0, 0, 0}});
  EXPECT_TRUE(ParseCommandBody(body));
  body.push_back(0);  // a byte beyond InformationBufferLength
  EXPECT_FALSE(ParseCommandBody(body));
  body.resize(20);  // cut inside the fixed part
  EXPECT_FALSE(ParseCommandBody(body));
}

TEST(MbimWireTest, StreamCutsMessagesWhereverTheBytesBreak) {
  const Bytes a = EncodeOpen(1, 4096);
  const Bytes b = EncodeClose(2);
  const Bytes c = Concat(EncodeCommand(3, {kVendorService, 1, kCommandQuery, {0}}, 4096));
  const Bytes all = Concat({a, b, c});
  // Byte by byte, and all at once, give the same three messages.
  for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, all.size()}) {
    MessageStream stream;
    EXPECT_EQ(FeedInChunks(stream, all, chunk), (std::vector<Bytes>{a, b, c})) << "chunk " << chunk;
    EXPECT_EQ(stream.buffered(), 0u);
  }
}

// A header that cannot start a message comes out alone, as its 12 bytes, for the receiver
// to answer; what follows it up to the next header that can start a message is skipped. The
// message after it is found whether it came in the same chunk or byte by byte.
TEST(MbimWireTest, StreamCutsAnImpossibleHeaderAndFindsTheNextMessage) {
  const Bytes length_four = {
      0x03, 0x00, 0x00, 0x00,  // MessageType: COMMAND
      0x04, 0x00, 0x00, 0x00,  // MessageLength: 4, shorter than the header itself
      0x2a, 0x00, 0x00, 0x00,  // TransactionId
  };
  auto header = [](std::uint32_t type, std::uint32_t length) {
    Bytes out = EncodeMessage(type, 0x2a, {});
    for (int i = 0; i < 4; ++i) {
      out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    return out;
  };
  // Whole messages whose length field was damaged: their bodies follow the header.
  Bytes open_lost_body = EncodeOpen(0x2a, 4096);
  open_lost_body[4] = 0x04;
  Bytes command_too_long =
      Concat(EncodeCommand(0x2a, {kVendorService, 1, kCommandSet, {1, 0, 0, 0}}, 4096));
  command_too_long[7] = 0xff;  // MessageLength 0xff000034
  const Bytes next = Concat(EncodeCommand(3, {kVendorService, 1, kCommandQuery, {0}}, 4096));

  struct Case {
    const char* name;
    Bytes bad;
    std::size_t skipped;  // bytes after the bad header that are no message
  } cases[] = {
      {"length 4", length_four, 0},
      {"length 0", header(kCommandMsg, 0), 0},
      {"length 11", header(kOpenMsg, 11), 0},
      {"open of 12 bytes", header(kOpenMsg, 12), 0},
      {"open of 20 bytes", header(kOpenMsg, 20), 0},
      {"close with a body", header(kCloseMsg, 16), 0},
      {"host error without its code", header(kHostErrorMsg, 12), 0},
      {"command without fragment header", header(kCommandMsg, 19), 0},
      {"longer than any message", header(kCommandMsg, kMaxMessageLength + 1), 0},
      {"open whose length lost its body", open_lost_body, 4},
      {"command claiming 4 GB", command_too_long, command_too_long.size() - kHeaderSize},
  };
  for (const Case& c : cases) {
    const Bytes all = Concat({c.bad, next});
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, all.size()}) {
      MessageStream stream;
      const Bytes bad_header(c.bad.begin(), c.bad.begin() + kHeaderSize);
      EXPECT_EQ(FeedInChunks(stream, all, chunk), (std::vector<Bytes>{bad_header, next}))
          << c.name << ", chunk " << chunk;
      EXPECT_EQ(stream.discarded(), c.skipped) << c.name << ", chunk " << chunk;
      EXPECT_EQ(stream.buffered(), 0u) << c.name << ", chunk " << chunk;
    }
  }
}

}  // namespace
}  // namespace halvorn::mbimsim
