// The simulator as libmbim sees it: a real libmbim-glib client opens the port directly and
// sends the vendor commands as raw bytes, and every fault shows as libmbim reports it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "client/libmbim_client.h"
#include "simulator.h"

namespace halvorn::mbimsim {
namespace {

using Outcome = CommandResult::Outcome;

// libmbim's wait for an answer that is due (seconds); long, it costs nothing when the answer
// comes.
constexpr unsigned kTimeout = 10;
// libmbim's wait where the test expects no answer.
constexpr unsigned kShortTimeout = 1;

class LibmbimClientTest : public ::testing::Test {
 protected:
  void StartWith(ModemOptions options) {
    client_.reset();
    simulator_ = std::make_unique<Simulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    client_ = LibmbimClient::Open(simulator_->device_path(), LibmbimClient::Route::kDirect,
                                  kTimeout, &error);
    ASSERT_TRUE(client_) << error;
  }

  std::unique_ptr<Simulator> simulator_;
  std::unique_ptr<LibmbimClient> client_;
};

TEST_F(LibmbimClientTest, ReadsAndSetsTheLevel) {
  ModemOptions options;
  options.initial_level = 4;
  StartWith(options);

  CommandResult query = client_->QueryRadioLevel(kTimeout);
  ASSERT_EQ(query.outcome, Outcome::kAnswered) << query.error_message;
  EXPECT_EQ(query.service, kVendorService);
  EXPECT_EQ(query.cid, kCidRadioLevel);
  EXPECT_EQ(query.status, kStatusSuccess);
  EXPECT_EQ(query.data, (Bytes{4, 0, 0, 0}));

  CommandResult set = client_->SetRadioLevel(1, kTimeout);
  ASSERT_EQ(set.outcome, Outcome::kAnswered) << set.error_message;
  EXPECT_EQ(set.status, kStatusSuccess);
  EXPECT_TRUE(set.data.empty());
  EXPECT_EQ(simulator_->level(), 1);
  EXPECT_EQ(client_->QueryRadioLevel(kTimeout).data, (Bytes{1, 0, 0, 0}));

  // The modem saw exactly the request bytes of the vendor service.
  const std::vector<ReceivedCommand> received = simulator_->received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].command.service, kVendorService);
  EXPECT_EQ(received[0].command.command_type, kCommandQuery);
  EXPECT_EQ(received[0].command.data, Bytes{0x00});
  EXPECT_EQ(received[1].command.command_type, kCommandSet);
  EXPECT_EQ(received[1].command.data, (Bytes{0x01, 0x00, 0x00, 0x00}));

  std::string error;
  EXPECT_TRUE(client_->Close(kTimeout, &error)) << error;
  EXPECT_FALSE(simulator_->is_open());
}

TEST_F(LibmbimClientTest, DeviceServicesListTheVendorService) {
  StartWith(ModemOptions{});
  std::string error;
  std::optional<std::vector<ServiceElement>> services =
      client_->QueryDeviceServices(kTimeout, &error);
  ASSERT_TRUE(services) << error;
  ASSERT_EQ(services->size(), 2u);
  EXPECT_EQ((*services)[0].service, kBasicConnectService);
  EXPECT_EQ((*services)[1].service, kVendorService);
  EXPECT_EQ((*services)[1].cids, std::vector<std::uint32_t>{kCidRadioLevel});
}

TEST_F(LibmbimClientTest, MissingVendorService) {
  ModemOptions options;
  options.vendor_service = false;
  StartWith(options);
  std::string error;
  std::optional<std::vector<ServiceElement>> services =
      client_->QueryDeviceServices(kTimeout, &error);
  ASSERT_TRUE(services) << error;
  for (const ServiceElement& element : *services) {
    EXPECT_NE(element.service, kVendorService);
  }
  CommandResult query = client_->QueryRadioLevel(kTimeout);
  EXPECT_EQ(query.outcome, Outcome::kAnswered);
  EXPECT_EQ(query.status, kStatusNoDeviceSupport);
}

TEST_F(LibmbimClientTest, UnsupportedCommandsAreNoDeviceSupport) {
  StartWith(ModemOptions{});
  // Radio state of Basic Connect, which this modem does not implement.
  CommandResult result = client_->Command(kBasicConnectService, 3, kCommandQuery, {}, kTimeout);
  ASSERT_EQ(result.outcome, Outcome::kAnswered);
  EXPECT_EQ(result.status, kStatusNoDeviceSupport);
}

TEST_F(LibmbimClientTest, StatusFault) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kStatus;
  options.fault_status = kStatusBusy;
  StartWith(options);
  CommandResult query = client_->QueryRadioLevel(kTimeout);
  EXPECT_EQ(query.outcome, Outcome::kAnswered);
  EXPECT_EQ(query.status, kStatusBusy);
  EXPECT_TRUE(query.data.empty());
  CommandResult set = client_->SetRadioLevel(1, kTimeout);
  EXPECT_EQ(set.status, kStatusBusy);
  EXPECT_EQ(simulator_->level(), 4);
}

TEST_F(LibmbimClientTest, NoAnswerFaultTimesOut) {
  ModemOptions options;
  options.fault = Fault::kNoAnswer;
  options.fault_target = FaultTarget::kSet;
  StartWith(options);
  EXPECT_EQ(client_->SetRadioLevel(1, kShortTimeout).outcome, Outcome::kTimedOut);
  EXPECT_EQ(simulator_->level(), 0);
  // The port still works for what the fault does not hit.
  EXPECT_EQ(client_->QueryRadioLevel(kTimeout).outcome, Outcome::kAnswered);
}

TEST_F(LibmbimClientTest, DelayFaultWithinTheClientsWait) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kDelay;
  options.delay = std::chrono::milliseconds(300);
  StartWith(options);
  CommandResult query = client_->QueryRadioLevel(kTimeout);
  ASSERT_EQ(query.outcome, Outcome::kAnswered);
  EXPECT_EQ(query.data, (Bytes{4, 0, 0, 0}));
}

TEST_F(LibmbimClientTest, DelayFaultBeyondTheClientsWait) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kDelay;
  options.delay = std::chrono::milliseconds(4000);
  options.fault_count = 1;
  StartWith(options);
  EXPECT_EQ(client_->QueryRadioLevel(kShortTimeout).outcome, Outcome::kTimedOut);
  // The next query is answered at once, and libmbim matches it to its own request.
  CommandResult next = client_->QueryRadioLevel(kTimeout);
  ASSERT_EQ(next.outcome, Outcome::kAnswered);
  EXPECT_EQ(next.data, (Bytes{4, 0, 0, 0}));
}

TEST_F(LibmbimClientTest, ShortResponseFault) {
  for (std::uint32_t length : {0u, 3u}) {
    ModemOptions options;
    options.initial_level = 0x04030201;
    options.fault = Fault::kShortResponse;
    options.short_length = length;
    StartWith(options);
    CommandResult query = client_->QueryRadioLevel(kTimeout);
    ASSERT_EQ(query.outcome, Outcome::kAnswered) << length;
    EXPECT_EQ(query.status, kStatusSuccess) << length;
    Bytes want = {0x01, 0x02, 0x03};
    want.resize(length);
    EXPECT_EQ(query.data, want) << length;
  }
}

TEST_F(LibmbimClientTest, WrongTransactionIdFault) {
  ModemOptions options;
  options.fault = Fault::kWrongTransactionId;
  StartWith(options);
  // libmbim cannot match the answer and waits in vain; the modem did the work.
  EXPECT_EQ(client_->SetRadioLevel(1, kShortTimeout).outcome, Outcome::kTimedOut);
  EXPECT_EQ(simulator_->level(), 1);
}

TEST_F(LibmbimClientTest, VanishFault) {
  ModemOptions options;
  options.fault = Fault::kVanish;
  StartWith(options);
  CommandResult query = client_->QueryRadioLevel(kShortTimeout);
  // libmbim sees the hang-up, reports the device removed and never gets an answer. (The
  // terminal's number is free again at once; a parallel test may already own it, so whether
  // the path exists says nothing here.)
  EXPECT_NE(query.outcome, Outcome::kAnswered);
  EXPECT_TRUE(client_->removed());
  EXPECT_TRUE(simulator_->vanished());
}

TEST_F(LibmbimClientTest, RefuseSetFault) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kRefuseSet;
  StartWith(options);
  CommandResult set = client_->SetRadioLevel(1, kTimeout);
  EXPECT_EQ(set.outcome, Outcome::kAnswered);
  EXPECT_EQ(set.status, kStatusOperationNotAllowed);
  EXPECT_EQ(client_->QueryRadioLevel(kTimeout).data, (Bytes{4, 0, 0, 0}));
}

TEST_F(LibmbimClientTest, IgnoreSetFault) {
  ModemOptions options;
  options.initial_level = 4;
  options.fault = Fault::kIgnoreSet;
  StartWith(options);
  CommandResult set = client_->SetRadioLevel(1, kTimeout);
  EXPECT_EQ(set.outcome, Outcome::kAnswered);
  EXPECT_EQ(set.status, kStatusSuccess);
  EXPECT_EQ(client_->QueryRadioLevel(kTimeout).data, (Bytes{4, 0, 0, 0}));
}

TEST_F(LibmbimClientTest, FragmentedAnswerIsReassembledByLibmbim) {
  ModemOptions options;
  options.initial_level = 1;
  options.query_padding = 6000;  // beyond libmbim's 4096-byte transfer
  StartWith(options);
  CommandResult query = client_->QueryRadioLevel(kTimeout);
  ASSERT_EQ(query.outcome, Outcome::kAnswered) << query.error_message;
  ASSERT_EQ(query.data.size(), 6004u);
  EXPECT_EQ(Bytes(query.data.begin(), query.data.begin() + 4), (Bytes{1, 0, 0, 0}));
  for (std::size_t i = 0; i < 6000; ++i) {
    ASSERT_EQ(query.data[4 + i], static_cast<std::uint8_t>(i)) << i;
  }
}

TEST_F(LibmbimClientTest, FragmentedCommandIsReassembledByTheModem) {
  StartWith(ModemOptions{});
  Bytes payload(6000);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    payload[i] = static_cast<std::uint8_t>(i * 7);
  }
  CommandResult set =
      client_->Command(kVendorService, kCidRadioLevel, kCommandSet, payload, kTimeout);
  ASSERT_EQ(set.outcome, Outcome::kAnswered) << set.error_message;
  EXPECT_EQ(set.status, kStatusInvalidParameters);  // no level is 6000 bytes long
  const std::vector<ReceivedCommand> received = simulator_->received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].command.data, payload);
}

TEST_F(LibmbimClientTest, ReopensAfterClose) {
  ModemOptions options;
  options.initial_level = 4;
  StartWith(options);
  std::string error;
  ASSERT_TRUE(client_->Close(kTimeout, &error)) << error;
  client_.reset();
  client_ = LibmbimClient::Open(simulator_->device_path(), LibmbimClient::Route::kDirect, kTimeout,
                                &error);
  ASSERT_TRUE(client_) << error;
  EXPECT_EQ(client_->QueryRadioLevel(kTimeout).data, (Bytes{4, 0, 0, 0}));
}

}  // namespace
}  // namespace halvorn::mbimsim
