// The simulator on its pseudo-terminal, driven with raw bytes through the port's path the way
// a driver-level client would, without libmbim.

#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "util/linux/scoped_fd.h"

namespace halvorn::mbimsim {
namespace {

// Generous bound on waiting for bytes that are due; tests do not measure time with it.
constexpr int kPatienceMs = 10000;

// The host side of the control port.
class RawPort {
 public:
  explicit RawPort(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

  bool is_open() const { return fd_.is_valid(); }
  bool hung_up() const { return hung_up_; }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(::write(fd_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  void Write(const std::vector<Bytes>& fragments) {
    for (const Bytes& fragment : fragments) {
      Write(fragment);
    }
  }

  // The next whole message, or nothing on a hang-up or when none comes.
  std::optional<Bytes> Read() {
    while (true) {
      if (std::optional<Bytes> message = stream_.Next()) {
        return message;
      }
      pollfd pfd = {fd_.get(), POLLIN, 0};
      if (poll(&pfd, 1, kPatienceMs) <= 0) {
        return std::nullopt;
      }
      std::uint8_t buffer[4096];
      const ssize_t n = ::read(fd_.get(), buffer, sizeof(buffer));
      if (n <= 0) {
        hung_up_ = n == 0 || errno == EIO;
        return std::nullopt;
      }
      stream_.Append(ByteSpan(buffer, static_cast<std::size_t>(n)));
    }
  }

 private:
  ScopedFd fd_;
  MessageStream stream_;
  bool hung_up_ = false;
};

// Waits until `condition` holds, within a generous bound.
template <typename Condition>
bool WaitUntil(Condition condition) {
  for (int i = 0; i < kPatienceMs / 10; ++i) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void StartWith(ModemOptions options) {
    simulator_ = std::make_unique<Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    port_ = std::make_unique<RawPort>(simulator_->device_path());
    ASSERT_TRUE(port_->is_open());
  }

  void Open(std::uint32_t max_transfer = 4096) {
    port_->Write(EncodeOpen(1, max_transfer));
    EXPECT_EQ(port_->Read(), EncodeOpenDone(1, kStatusSuccess));
  }

  std::unique_ptr<Simulator> simulator_;
  std::unique_ptr<RawPort> port_;
};

TEST_F(SimulatorTest, PublishesATerminalPath) {
  StartWith(ModemOptions{});
  const std::string& path = simulator_->device_path();
  EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));  // libmbim wants a special file
}

TEST_F(SimulatorTest, OpenDoneGoldenThroughTheTerminal) {
  StartWith(ModemOptions{});
  // A transaction id made of carriage return, line feed, XON and XOFF: bytes a terminal in
  // cooked mode would change or swallow.
  port_->Write(EncodeOpen(0x13110a0d, 4096));
  const Bytes want = {
      0x01, 0x00, 0x00, 0x80,  // MessageType: OPEN_DONE
      0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
      0x0d, 0x0a, 0x11, 0x13,  // TransactionId: echoed unchanged
      0x00, 0x00, 0x00, 0x00,  // Status: success
  };
  EXPECT_EQ(port_->Read(), want);
  EXPECT_TRUE(simulator_->is_open());
}

TEST_F(SimulatorTest, EveryByteValuePassesBothWays) {
  ModemOptions options;
  options.query_padding = 256;  // the padding counts 00 to ff
  StartWith(options);
  Open();

  // Host to modem: a command carrying every byte value.
  Bytes all;
  for (int i = 0; i < 256; ++i) {
    all.push_back(static_cast<std::uint8_t>(255 - i));
  }
  port_->Write(EncodeCommand(2, {kVendorService, 7, kCommandQuery, all}, 4096));
  ASSERT_TRUE(port_->Read());  // "no device support"
  ASSERT_EQ(simulator_->received().size(), 1u);
  EXPECT_EQ(simulator_->received()[0].command.data, all);

  // A level of ETX, DEL, CR, XON.
  port_->Write(EncodeCommand(
      3, {kVendorService, kCidRadioLevel, kCommandSet, {0x03, 0x7f, 0x0d, 0x11}}, 4096));
  ASSERT_TRUE(port_->Read());
  EXPECT_EQ(simulator_->level(), 0x110d7f03);

  // Modem to host: the answer to a query carries every byte value in its padding.
  port_->Write(EncodeCommand(4, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096));
  std::optional<Bytes> answer = port_->Read();
  ASSERT_TRUE(answer);
  std::optional<CommandDone> done = ParseCommandDoneBody(ParseMessage(*answer)->body);
  ASSERT_TRUE(done);
  ASSERT_EQ(done->data.size(), 4u + 256u);
  EXPECT_EQ(Bytes(done->data.begin(), done->data.begin() + 4), (Bytes{0x03, 0x7f, 0x0d, 0x11}));
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(done->data[4 + static_cast<std::size_t>(i)], i);
  }
}

TEST_F(SimulatorTest, AnswersFollowTheTransferSizeOfTheOpen) {
  ModemOptions options;
  options.initial_level = 4;
  options.query_padding = 60;
  StartWith(options);
  Open(64);
  port_->Write(EncodeCommand(5, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 64));
  FragmentCollector collector;
  FragmentCollector::Result result = FragmentCollector::Result::kIncomplete;
  int fragments = 0;
  while (result == FragmentCollector::Result::kIncomplete) {
    std::optional<Bytes> fragment = port_->Read();
    ASSERT_TRUE(fragment);
    EXPECT_LE(fragment->size(), 64u);
    result = collector.Add(*ParseMessage(*fragment));
    ++fragments;
  }
  ASSERT_EQ(result, FragmentCollector::Result::kComplete);
  EXPECT_EQ(fragments, 3);  // 28 fixed bytes and 64 of data, 44 to a fragment
  std::optional<CommandDone> done = ParseCommandDoneBody(collector.Take().body);
  ASSERT_TRUE(done);
  EXPECT_EQ(Bytes(done->data.begin(), done->data.begin() + 4), (Bytes{4, 0, 0, 0}));
}

TEST_F(SimulatorTest, AnOpenDropsAnswersTheHostNeverRead) {
  ModemOptions options;
  options.initial_level = 4;
  StartWith(options);
  Open();
  // A query and a close whose answers the host leaves unread...
  port_->Write(EncodeCommand(6, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096));
  port_->Write(EncodeClose(7));
  ASSERT_TRUE(WaitUntil([&] { return !simulator_->is_open(); }));
  // ...are gone once the next session has started.
  port_->Write(EncodeOpen(8, 4096));
  ASSERT_TRUE(WaitUntil([&] { return simulator_->is_open(); }));
  EXPECT_EQ(port_->Read(), EncodeOpenDone(8, kStatusSuccess));
}

// A header the modem cannot take is answered with a function error under its transaction id,
// and the query written after it, in the same write or the next, is answered too.
TEST_F(SimulatorTest, AnImpossibleHeaderIsAnsweredAndTheModemStaysInStep) {
  const Bytes length_four = {
      0x03, 0x00, 0x00, 0x00,  // MessageType: COMMAND
      0x04, 0x00, 0x00, 0x00,  // MessageLength: 4, shorter than the header itself
      0x2a, 0x00, 0x00, 0x00,  // TransactionId
  };
  const Bytes length_mismatch = {
      0x04, 0x00, 0x00, 0x80,  // MessageType: FUNCTION_ERROR
      0x10, 0x00, 0x00, 0x00,  // MessageLength: 16
      0x2a, 0x00, 0x00, 0x00,  // TransactionId: the bad header's
      0x03, 0x00, 0x00, 0x00,  // ErrorStatusCode: length mismatch
  };
  // The bad header of each case: `length_four` with another type and length.
  auto header = [&length_four](std::uint32_t type, std::uint32_t length) {
    Bytes out = length_four;
    for (int i = 0; i < 4; ++i) {
      out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(type >> (8 * i));
      out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    return out;
  };
  Bytes open_lost_body = EncodeOpen(0x2a, 4096);
  open_lost_body[4] = 0x04;  // MessageLength 4; the transfer size still follows

  struct Case {
    const char* name;
    Bytes bad;
    Bytes want;
  } cases[] = {
      {"length 4", length_four, length_mismatch},
      {"length 0", header(kCommandMsg, 0), length_mismatch},
      {"length 11", header(kOpenMsg, 11), length_mismatch},
      {"close with a body", header(kCloseMsg, 16), length_mismatch},
      {"open of 20 bytes", header(kOpenMsg, 20), length_mismatch},
      {"command one byte longer than the modem takes",
       header(kCommandMsg, kModemMaxControlMessage + 1),
       EncodeFunctionError(0x2a, kErrorMaxTransfer)},
      {"length 0xffffffff", header(kCommandMsg, 0xffffffff),
       EncodeFunctionError(0x2a, kErrorMaxTransfer)},
      {"open whose length lost its body", open_lost_body, length_mismatch},
  };
  ModemOptions options;
  options.initial_level = 4;
  StartWith(options);
  Open();
  std::uint32_t tid = 100;
  for (const Case& c : cases) {
    for (bool same_write : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (same_write ? ", same write" : ", two writes"));
      const Bytes query =
          EncodeCommand(++tid, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096)[0];
      if (same_write) {
        Bytes both = c.bad;
        both.insert(both.end(), query.begin(), query.end());
        port_->Write(both);
      } else {
        port_->Write(c.bad);
        port_->Write(query);
      }
      EXPECT_EQ(port_->Read(), c.want);
      std::optional<Message> answer = ParseMessage(port_->Read().value_or(Bytes{}));
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->transaction_id, tid);
      std::optional<CommandDone> done = ParseCommandDoneBody(answer->body);
      ASSERT_TRUE(done);
      EXPECT_EQ(done->data, (Bytes{4, 0, 0, 0}));
    }
  }
  EXPECT_TRUE(simulator_->is_open());
}

TEST_F(SimulatorTest, ADelayedAnswerDoesNotHoldUpOthers) {
  ModemOptions options;
  options.fault = Fault::kDelay;
  options.delay = std::chrono::milliseconds(1000);
  StartWith(options);
  Open();
  port_->Write(EncodeCommand(8, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096));
  port_->Write(EncodeCommand(9, {kBasicConnectService, kCidDeviceCaps, kCommandQuery, {}}, 4096));
  std::optional<Message> first = ParseMessage(port_->Read().value_or(Bytes{}));
  std::optional<Message> second = ParseMessage(port_->Read().value_or(Bytes{}));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->transaction_id, 9u);
  EXPECT_EQ(second->transaction_id, 8u);
}

TEST_F(SimulatorTest, VanishingHangsUpTheTerminal) {
  StartWith(ModemOptions{});
  Open();
  simulator_->Vanish();
  EXPECT_TRUE(simulator_->WaitForVanish(std::chrono::milliseconds(kPatienceMs)));
  EXPECT_FALSE(port_->Read());
  EXPECT_TRUE(port_->hung_up());
}

// A host that opens a vanished port's path again, also after the host has let go of it and
// other terminals were opened (another test's modem, side by side), finds nothing there.
TEST_F(SimulatorTest, AVanishedPortsPathLeadsNowhereWhileTheSimulatorLives) {
  StartWith(ModemOptions{});
  const std::string path = simulator_->device_path();
  simulator_->Vanish();
  ASSERT_TRUE(simulator_->WaitForVanish(std::chrono::milliseconds(kPatienceMs)));
  port_.reset();
  Simulator other{ModemOptions{}};
  std::string error;
  ASSERT_TRUE(other.Start(&error)) << error;
  EXPECT_NE(other.device_path(), path);
  RawPort again(path);
  EXPECT_FALSE(again.is_open()) << path << " opened again";
}

TEST_F(SimulatorTest, VanishFaultHangsUpMidCommand) {
  ModemOptions options;
  options.fault = Fault::kVanish;
  StartWith(options);
  Open();
  port_->Write(
      EncodeCommand(10, {kVendorService, kCidRadioLevel, kCommandSet, {1, 0, 0, 0}}, 4096));
  EXPECT_TRUE(simulator_->WaitForVanish(std::chrono::milliseconds(kPatienceMs)));
  EXPECT_FALSE(port_->Read());
  EXPECT_TRUE(port_->hung_up());
  EXPECT_EQ(simulator_->level(), 0);
}

TEST_F(SimulatorTest, ALevelSetFromOutsideIsWhatTheNextQueryAnswers) {
  ModemOptions options;
  options.initial_level = 1;
  StartWith(options);
  Open();
  simulator_->SetLevel(0);
  EXPECT_EQ(simulator_->level(), 0);
  port_->Write(EncodeCommand(12, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096));
  std::optional<Bytes> answer = port_->Read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(ParseCommandDoneBody(ParseMessage(*answer)->body)->data, (Bytes{0, 0, 0, 0}));
  // And a set from the host takes it back up.
  port_->Write(
      EncodeCommand(13, {kVendorService, kCidRadioLevel, kCommandSet, {1, 0, 0, 0}}, 4096));
  ASSERT_TRUE(port_->Read());
  EXPECT_EQ(simulator_->level(), 1);
}

TEST_F(SimulatorTest, ClientsComeAndGo) {
  ModemOptions options;
  options.initial_level = 2;
  StartWith(options);
  Open();
  port_.reset();  // the only client closes its end
  port_ = std::make_unique<RawPort>(simulator_->device_path());
  ASSERT_TRUE(port_->is_open());
  Open();
  port_->Write(EncodeCommand(11, {kVendorService, kCidRadioLevel, kCommandQuery, {0}}, 4096));
  std::optional<Bytes> answer = port_->Read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(ParseCommandDoneBody(ParseMessage(*answer)->body)->data, (Bytes{2, 0, 0, 0}));
}

}  // namespace
}  // namespace halvorn::mbimsim
