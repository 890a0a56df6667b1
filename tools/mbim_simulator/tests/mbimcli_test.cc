// The halvorn-mbim-sim program checked by the stock mbimcli, directly and through the real
// mbim-proxy. The proxy runs in a private network namespace (abstract Unix sockets belong to
// one), so that it never meets a proxy of the system; that needs root.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "client/libmbim_client.h"
#include "private_proxy.h"
#include "simulator.h"
#include "subprocess.h"
#include "util/linux/scoped_fd.h"

namespace halvorn::mbimsim {
namespace {

constexpr const char* kSimulatorProgram = HALVORN_MBIM_SIM;
constexpr const char* kMbimcli = HALVORN_MBIMCLI;
constexpr int kPatienceMs = 30000;
constexpr unsigned kTimeout = 10;
constexpr const char* kVendorUuidText = "11223344-5566-7788-99aa-bbccddeeff11";

// A temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/halvorn-mbim-sim.XXXXXX";
    if (mkdtemp(pattern)) {
      path_ = pattern;
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The text of the device-services block that mbimcli prints for `uuid`, up to the next one.
std::string ServiceBlock(const std::string& output, const std::string& uuid) {
  const std::size_t start = output.find("[" + uuid + "]");
  if (start == std::string::npos) {
    return {};
  }
  const std::size_t end = output.find("Service:", start);
  return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class MbimcliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::strlen(kMbimcli) == 0) {
      GTEST_SKIP() << "mbimcli is not installed (package libmbim-utils)";
    }
  }

  // Starts halvorn-mbim-sim and reads the port's path from its first line.
  void StartProgram(std::vector<std::string> args) {
    args.insert(args.begin(), kSimulatorProgram);
    std::string error;
    program_ = Subprocess::Start(args, &error);
    ASSERT_TRUE(program_) << error;
    std::optional<std::string> line = program_->ReadLine(kPatienceMs);
    ASSERT_TRUE(line) << program_->err();
    path_ = *line;
  }

  RunResult Mbimcli(const std::vector<std::string>& args, bool proxy = false) {
    std::vector<std::string> argv = {kMbimcli, "-d", path_};
    if (proxy) {
      argv.push_back("-p");
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, kPatienceMs);
  }

  std::unique_ptr<Subprocess> program_;
  std::string path_;
};

TEST_F(MbimcliTest, NoopOpensAndCloses) {
  StartProgram({});
  RunResult result = Mbimcli({"--noop"});
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
}

TEST_F(MbimcliTest, QueryDeviceCaps) {
  StartProgram({});
  RunResult result = Mbimcli({"--query-device-caps"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  for (const char* line :
       {"Device type: 'embedded'", "Data class: 'lte'", "Device ID: '990000000000001'",
        "Firmware info: 'HALVORN-SIM 1.0'", "Hardware info: 'halvorn-mbim-sim'"}) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
  }
}

TEST_F(MbimcliTest, QueryDeviceServicesListsTheVendorService) {
  StartProgram({});
  RunResult result = Mbimcli({"--query-device-services"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("Services: (2)"), std::string::npos) << result.out;
  const std::string vendor = ServiceBlock(result.out, kVendorUuidText);
  ASSERT_FALSE(vendor.empty()) << result.out;
  EXPECT_NE(vendor.find("(1)"), std::string::npos) << vendor;
  const std::string basic = ServiceBlock(result.out, "a289cc33-bcbb-8b4f-b6b0-133ec2aae6df");
  for (const char* cid : {"(1)", "(16)", "(19)"}) {
    EXPECT_NE(basic.find(cid), std::string::npos) << cid << "\n" << basic;
  }
}

TEST_F(MbimcliTest, WithoutTheVendorService) {
  StartProgram({"--no-vendor-service"});
  RunResult result = Mbimcli({"--query-device-services"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("Services: (1)"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find(kVendorUuidText), std::string::npos) << result.out;
}

TEST_F(MbimcliTest, UnsupportedQueryIsRefused) {
  StartProgram({});
  RunResult result = Mbimcli({"--query-radio-state"});
  EXPECT_NE(result.exit_code, 0);
  EXPECT_NE((result.out + result.err).find("NoDeviceSupport"), std::string::npos)
      << result.out << result.err;
}

TEST_F(MbimcliTest, LinkAndPathFileLastAsLongAsTheProgram) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string link = dir.path() + "/cdc-wdm-sim";
  const std::string path_file = dir.path() + "/port";
  StartProgram({"--link=" + link, "--path-file=" + path_file});

  std::ifstream file(path_file);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), path_ + "\n");
  std::error_code ignored;
  EXPECT_EQ(std::filesystem::read_symlink(link, ignored), path_);

  // libmbim opens the port by the link's name as well.
  path_ = link;
  RunResult result = Mbimcli({"--query-device-caps"});
  EXPECT_EQ(result.exit_code, 0) << result.err;

  program_->Signal(SIGTERM);
  EXPECT_EQ(program_->Wait(kPatienceMs), 0) << program_->err();
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0);
  EXPECT_NE(lstat(path_file.c_str(), &info), 0);
}

// A header the modem cannot take, written raw on the port, is answered, and mbimcli talks to
// the modem normally afterwards.
TEST_F(MbimcliTest, AnImpossibleHeaderDoesNotDerailTheNextClient) {
  StartProgram({});
  {
    ScopedFd port(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(port.is_valid()) << std::strerror(errno);
    const Bytes header = {
        0x03, 0x00, 0x00, 0x00,  // MessageType: COMMAND
        0x00, 0x00, 0x01, 0x00,  // MessageLength: 64 KiB, more than the modem takes
        0x2a, 0x00, 0x00, 0x00,  // TransactionId
    };
    ASSERT_EQ(::write(port.get(), header.data(), header.size()),
              static_cast<ssize_t>(header.size()));
    MessageStream stream;
    std::optional<Bytes> answer;
    pollfd pfd = {port.get(), POLLIN, 0};
    while (!answer && poll(&pfd, 1, kPatienceMs) > 0) {
      std::uint8_t buffer[64];
      const ssize_t n = ::read(port.get(), buffer, sizeof(buffer));
      ASSERT_GT(n, 0);
      stream.Append(ByteSpan(buffer, static_cast<std::size_t>(n)));
      answer = stream.Next();
    }
    EXPECT_EQ(answer, EncodeFunctionError(0x2a, kErrorMaxTransfer));
  }
  RunResult result = Mbimcli({"--query-device-caps"});
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("Device ID: '990000000000001'"), std::string::npos) << result.out;
}

TEST_F(MbimcliTest, VanishFaultEndsTheProgram) {
  StartProgram({"--fault=vanish", "--fault-on=set"});
  std::string error;
  std::unique_ptr<LibmbimClient> client =
      LibmbimClient::Open(path_, LibmbimClient::Route::kDirect, kTimeout, &error);
  ASSERT_TRUE(client) << error;
  EXPECT_EQ(client->QueryRadioLevel(kTimeout).outcome, CommandResult::Outcome::kAnswered);
  EXPECT_NE(client->SetRadioLevel(1, 1).outcome, CommandResult::Outcome::kAnswered);
  EXPECT_TRUE(client->removed());
  EXPECT_EQ(program_->Wait(kPatienceMs), 0);
  EXPECT_NE(program_->err().find("vanished"), std::string::npos) << program_->err();
}

TEST_F(MbimcliTest, BadOptionIsAUsageError) {
  RunResult result = RunProgram({kSimulatorProgram, "--fault=explode"}, kPatienceMs);
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("Usage:"), std::string::npos) << result.err;
}

// mbimcli -p and the libmbim client through a private mbim-proxy.
class MbimProxyTest : public MbimcliTest {
 protected:
  void SetUp() override {
    MbimcliTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    std::string skip;
    std::string error;
    proxy_ = PrivateMbimProxy::Start(kPatienceMs, &skip, &error);
    if (!skip.empty()) {
      GTEST_SKIP() << skip;
    }
    ASSERT_TRUE(proxy_) << error;
  }

  std::unique_ptr<PrivateMbimProxy> proxy_;
};

TEST_F(MbimProxyTest, MbimcliThroughTheProxy) {
  StartProgram({});
  RunResult noop = Mbimcli({"--noop"}, /*proxy=*/true);
  EXPECT_EQ(noop.exit_code, 0) << noop.out << noop.err;
  RunResult caps = Mbimcli({"--query-device-caps"}, /*proxy=*/true);
  EXPECT_EQ(caps.exit_code, 0) << caps.err;
  EXPECT_NE(caps.out.find("Device ID: '990000000000001'"), std::string::npos) << caps.out;
  RunResult services = Mbimcli({"--query-device-services"}, /*proxy=*/true);
  EXPECT_EQ(services.exit_code, 0) << services.err;
  EXPECT_NE(services.out.find(kVendorUuidText), std::string::npos) << services.out;
}

TEST_F(MbimProxyTest, VendorCommandsThroughTheProxy) {
  ModemOptions options;
  options.initial_level = 4;
  Simulator simulator(options);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  std::unique_ptr<LibmbimClient> client =
      LibmbimClient::Open(simulator.device_path(), LibmbimClient::Route::kProxy, kTimeout, &error);
  ASSERT_TRUE(client) << error;
  CommandResult query = client->QueryRadioLevel(kTimeout);
  ASSERT_EQ(query.outcome, CommandResult::Outcome::kAnswered) << query.error_message;
  EXPECT_EQ(query.service, kVendorService);
  EXPECT_EQ(query.data, (Bytes{4, 0, 0, 0}));
  EXPECT_EQ(client->SetRadioLevel(1, kTimeout).status, kStatusSuccess);
  EXPECT_EQ(simulator.level(), 1);
  EXPECT_EQ(client->QueryRadioLevel(kTimeout).data, (Bytes{1, 0, 0, 0}));
  // The proxy passed the request bytes on unchanged.
  const std::vector<ReceivedCommand> received = simulator.received();
  std::vector<Bytes> vendor_requests;
  for (const ReceivedCommand& command : received) {
    if (command.command.service == kVendorService) {
      vendor_requests.push_back(command.command.data);
    }
  }
  EXPECT_EQ(vendor_requests, (std::vector<Bytes>{{0x00}, {0x01, 0x00, 0x00, 0x00}, {0x00}}));
}

}  // namespace
}  // namespace halvorn::mbimsim
