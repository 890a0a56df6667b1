// The job's decisions on what its steps found, apart from the steps.

#include "auth/auth_outcome.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include "auth/platform_verification.h"

namespace halvorn {
namespace {

struct OutcomeCase {
  const char* name;
  AuthFacts facts;
  std::optional<AuthOutcome> outcome;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
  *os << c.name;
}

// A vendor modem with every check passing, up to the level read.
AuthFacts Passing() {
  AuthFacts f;
  f.modem_present = true;
  f.vendor_modem = true;
  f.disable_verify = 0;
  f.platform_allows = true;
  f.fcc_mode = true;
  return f;
}

AuthFacts With(AuthFacts f, void (*change)(AuthFacts&)) {
  change(f);
  return f;
}

const OutcomeCase kOutcomeCases[] = {
    {"NothingKnownYet", {}, std::nullopt},
    {"NoModem", With({}, [](AuthFacts& f) { f.modem_present = false; }), AuthOutcome::kNoModem},
    // Later facts are not looked at once an earlier step has failed.
    {"NoModemWinsOverLaterFacts", With(Passing(), [](AuthFacts& f) { f.modem_present = false; }),
     AuthOutcome::kNoModem},
    {"VendorTestStillToRun", With({}, [](AuthFacts& f) { f.modem_present = true; }), std::nullopt},
    {"ForeignModem", With(Passing(), [](AuthFacts& f) { f.vendor_modem = false; }),
     AuthOutcome::kForeignModem},
    {"PlatformRefused", With(Passing(), [](AuthFacts& f) { f.platform_allows = false; }),
     AuthOutcome::kPlatformRefused},
    {"FccModeOff", With(Passing(), [](AuthFacts& f) { f.fcc_mode = false; }),
     AuthOutcome::kFccModeOff},
    // With the checks off, failed checks do not count.
    {"ChecksOffIgnoreTheChecks",
     With(Passing(),
          [](AuthFacts& f) {
            f.disable_verify = 1;
            f.platform_allows = false;
            f.fcc_mode = false;
            f.level_read = true;
            f.level = 1;
          }),
     AuthOutcome::kLevelIsOne},
    // Only 1 turns them off.
    {"DisableVerifyTwoKeepsTheChecks",
     With(Passing(),
          [](AuthFacts& f) {
            f.disable_verify = 2;
            f.fcc_mode = false;
          }),
     AuthOutcome::kFccModeOff},
    {"ChecksPassLevelStillToRead", Passing(), std::nullopt},
    {"LevelUnreadable", With(Passing(), [](AuthFacts& f) { f.level_read = false; }),
     AuthOutcome::kLevelUnreadable},
    {"LevelIsOne",
     With(Passing(),
          [](AuthFacts& f) {
            f.level_read = true;
            f.level = 1;
          }),
     AuthOutcome::kLevelIsOne},
    {"LevelZeroSetStillToRun",
     With(Passing(),
          [](AuthFacts& f) {
            f.level_read = true;
            f.level = 0;
          }),
     std::nullopt},
    {"LevelSet",
     With(Passing(),
          [](AuthFacts& f) {
            f.level_read = true;
            f.level = 4;
            f.level_set = true;
          }),
     AuthOutcome::kLevelSet},
    {"LevelNotSet",
     With(Passing(),
          [](AuthFacts& f) {
            f.level_read = true;
            f.level = -1;
            f.level_set = false;
          }),
     AuthOutcome::kLevelNotSet},
};

class DecideAuthOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(DecideAuthOutcomeTest, Decides) {
  EXPECT_EQ(DecideAuthOutcome(GetParam().facts), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(Facts,
                         DecideAuthOutcomeTest,
                         ::testing::ValuesIn(kOutcomeCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AuthOutcomeTableTest, RowsAreInEnumOrderAndFoundByMessageAndName) {
  int index = 0;
  for (const AuthOutcomeRow& row : AuthOutcomeTable()) {
    EXPECT_EQ(static_cast<int>(row.outcome), index++);
    EXPECT_EQ(AuthOutcomeByMessage(row.message), row.outcome) << row.name;
    EXPECT_EQ(AuthOutcomeByName(row.name), row.outcome) << row.name;
  }
  EXPECT_EQ(index, 8);
  // Whole messages only.
  EXPECT_EQ(AuthOutcomeByMessage("MBIM FUN 1"), std::nullopt);
  EXPECT_EQ(AuthOutcomeByMessage("MBIM FUN 1! "), std::nullopt);
  EXPECT_EQ(AuthOutcomeByName("Level-Is-One"), std::nullopt);
}

TEST(ChecksDisabledTest, OnlyOneTurnsTheChecksOff) {
  EXPECT_FALSE(ChecksDisabled(0));
  EXPECT_TRUE(ChecksDisabled(1));
  EXPECT_FALSE(ChecksDisabled(2));
  EXPECT_FALSE(ChecksDisabled(255));
}

TEST(PlatformTableQueriesTest, SystemVersionListingAndAllowedIds) {
  EXPECT_EQ(SystemVersionOf("ThinkPad X13 Gen 3", "ThinkPad"), "ThinkPad X13 Gen 3");
  EXPECT_EQ(SystemVersionOf("ab", "VersaPro"), "abVersaPro");
  EXPECT_EQ(SystemVersionOf("", "VersaPro"), "VersaPro");
  EXPECT_EQ(SystemVersionOf("abc", "VersaPro"), "abc");

  EXPECT_TRUE(IsListedModel("thinkpad x13 gen 3"));
  EXPECT_FALSE(IsListedModel("ThinkPad X13 Gen 3 "));
  EXPECT_FALSE(IsListedModel(""));
  EXPECT_EQ(AllowedModemIds("THINKPAD L15 GEN 3A"),
            (std::vector<std::string>{"7a3f0b41", "7a3f0b42"}));
  EXPECT_TRUE(AllowedModemIds("Halvorn Test Laptop").empty());
}

}  // namespace
}  // namespace halvorn
