#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvorn::mbimsim {
namespace {

TEST(CommandLineTest, DefaultsWithoutArguments) {
  std::string error;
  std::optional<CommandLine> line = ParseCommandLine({}, &error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->modem.initial_level, 0);
  EXPECT_TRUE(line->modem.vendor_service);
  EXPECT_EQ(line->modem.fault, Fault::kNone);
  EXPECT_EQ(line->modem.fault_target, FaultTarget::kBoth);
  EXPECT_LT(line->modem.fault_count, 0);
  EXPECT_TRUE(line->path_file.empty());
  EXPECT_FALSE(line->verbose);
}

TEST(CommandLineTest, FaultsAndTheirArguments) {
  struct Case {
    std::vector<std::string> args;
    Fault fault;
    std::uint32_t status = kStatusFailure;
    int delay_ms = 0;
    std::uint32_t short_length = 0;
  } cases[] = {
      {{"--fault=none"}, Fault::kNone},
      {{"--fault=status:2"}, Fault::kStatus, 2},
      {{"--fault", "status:0x87430001"}, Fault::kStatus, 0x87430001},
      {{"--fault=no-answer"}, Fault::kNoAnswer},
      {{"--fault=delay:1500"}, Fault::kDelay, kStatusFailure, 1500},
      {{"--fault=short:0"}, Fault::kShortResponse, kStatusFailure, 0, 0},
      {{"--fault=short:3"}, Fault::kShortResponse, kStatusFailure, 0, 3},
      {{"--fault=wrong-tid"}, Fault::kWrongTransactionId},
      {{"--fault=vanish"}, Fault::kVanish},
      {{"--fault=refuse-set"}, Fault::kRefuseSet},
      {{"--fault=ignore-set"}, Fault::kIgnoreSet},
      {{"--fault=late"}, Fault::kLateAnswer},
      {{"--fault=garble"}, Fault::kGarbled},
      {{"--fault=silent-open"}, Fault::kSilentOpen},
      {{"--fault=silent-close"}, Fault::kSilentClose},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<CommandLine> line = ParseCommandLine(c.args, &error);
    ASSERT_TRUE(line) << c.args.back() << ": " << error;
    EXPECT_EQ(line->modem.fault, c.fault) << c.args.back();
    EXPECT_EQ(line->modem.fault_status, c.status) << c.args.back();
    EXPECT_EQ(line->modem.delay.count(), c.delay_ms) << c.args.back();
    EXPECT_EQ(line->modem.short_length, c.short_length) << c.args.back();
  }
}

TEST(CommandLineTest, OtherOptions) {
  std::string error;
  std::optional<CommandLine> line =
      ParseCommandLine({"--level=-3", "--fault-on", "set", "--fault-count=2", "--no-vendor-service",
                        "--query-padding=5000", "--path-file", "/tmp/p", "--link=/tmp/l", "-v"},
                       &error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->modem.initial_level, -3);
  EXPECT_EQ(line->modem.fault_target, FaultTarget::kSet);
  EXPECT_EQ(line->modem.fault_count, 2);
  EXPECT_FALSE(line->modem.vendor_service);
  EXPECT_EQ(line->modem.query_padding, 5000u);
  EXPECT_EQ(line->path_file, "/tmp/p");
  EXPECT_EQ(line->link, "/tmp/l");
  EXPECT_TRUE(line->verbose);

  line = ParseCommandLine({"--level", "0x7fffffff", "--fault-on=query"}, &error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->modem.initial_level, 0x7fffffff);
  EXPECT_EQ(line->modem.fault_target, FaultTarget::kQuery);
}

TEST(CommandLineTest, RejectsWhatItCannotUse) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--level"},  // value missing
      {"--level=abc"},
      {"--level=2147483648"},  // beyond int32
      {"--level=4x"},
      {"--fault=status"},    // code missing
      {"--fault=status:0"},  // 0 is success, not a fault
      {"--fault=delay:0"},
      {"--fault=delay:-5"},
      {"--fault=short:4"},   // the point is fewer than four bytes
      {"--fault=vanish:1"},  // takes no argument
      {"--fault=late:100"},
      {"--fault=explode"},
      {"--fault-on=sometimes"},
      {"--fault-count=-1"},
      {"--query-padding=65537"},
      {"--verbose=yes"},
      {"--path-file="},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, &error)) << args.front();
    EXPECT_FALSE(error.empty()) << args.front();
  }
}

}  // namespace
}  // namespace halvorn::mbimsim
