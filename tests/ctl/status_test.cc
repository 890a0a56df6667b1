// The tool's verdict on the facts, and its two renderings of them.

#include "ctl/status.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace halvorn {
namespace {

using ctl_platform::ServiceState;
using ::testing::HasSubstr;

// A vendor modem on a listed laptop with every check passing, the level 0, the service
// running and its last run found.
StatusFacts Base() {
  StatusFacts f;
  f.service_name = ctl_platform::kServiceName;
  f.service = {ServiceState::kRunning, "active (running)", 812};
  f.firmware_read = true;
  f.manufacturer = "LENOVO";
  f.product_name = "21BN0000";
  f.version = f.system_version = "ThinkPad X13 Gen 3";
  f.family = "ThinkPad";
  f.listed_model = true;
  f.allowed_modem_ids = {"7a3f0b41", "7a3f0b42"};
  f.fcc_mode = true;
  f.modem_present = f.vendor_modem = true;
  f.hardware_id = "USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C";
  f.modem_id = "7A3F0B41";
  f.platform_allows = true;
  f.level_read = true;
  f.level = 0;
  f.last_run.status = LastRun::Status::kFound;
  f.last_run.folder = "/var/log/Tessary Wireless Inc/Brevane/VK20T";
  f.last_run.log_file = "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.log";
  f.last_run.time = "2026-12-10 09:00:01.250";
  f.last_run.outcome = AuthOutcome::kLevelSet;
  f.auth = {true, true, 0, true, true, true, 0, std::nullopt};
  return f;
}

struct VerdictCase {
  const char* name;
  void (*change)(StatusFacts&);
  const char* blocked_by;  // empty: the radio is on
  const char* message_part;
};

void PrintTo(const VerdictCase& c, std::ostream* os) {
  *os << c.name;
}

void Level(StatusFacts& f, std::int32_t level) {
  f.level = f.auth.level = level;
}

const VerdictCase kVerdictCases[] = {
    {"LevelOneIsOnWhateverTheService",
     [](StatusFacts& f) {
       Level(f, 1);
       f.service.state = ServiceState::kStopped;
     },
     "", "the radio is on"},
    // The radio is on: a missing flag changes nothing about that.
    {"LevelOneIsOnWithoutTheFccFlag",
     [](StatusFacts& f) {
       Level(f, 1);
       f.fcc_mode = false;
       f.auth.fcc_mode = false;
     },
     "", "the radio is on"},
    {"NoModem",
     [](StatusFacts& f) {
       f.modem_present = false;
       f.auth = {false, std::nullopt, 0, true, true, std::nullopt, std::nullopt, std::nullopt};
       f.level_read.reset();
       f.level.reset();
     },
     "no-modem", "no MBIM modem is present"},
    {"ForeignModem",
     [](StatusFacts& f) {
       f.vendor_modem = false;
       f.auth.vendor_modem = false;
     },
     "foreign-modem", "not the vendor's"},
    {"PlatformRefused",
     [](StatusFacts& f) {
       f.platform_allows = false;
       f.auth.platform_allows = false;
     },
     "platform-refused", "this modem id is not allowed for this model"},
    {"FccModeOff",
     [](StatusFacts& f) {
       f.fcc_mode = false;
       f.auth.fcc_mode = false;
     },
     "fcc-mode-off", "the firmware carries no FCC-mode flag: nothing to do"},
    // With IsDisableVerify = 1 a refused platform and a missing flag do not block.
    {"ChecksOffLeaveOnlyTheLevel",
     [](StatusFacts& f) {
       f.disable_verify = 1;
       f.auth.disable_verify = 1;
       f.auth.platform_allows = false;
       f.auth.fcc_mode = false;
     },
     "level-pending", "the service sets it to 1 at its next run"},
    {"LevelUnreadable",
     [](StatusFacts& f) {
       f.level_read = false;
       f.level.reset();
       f.auth.level_read = false;
       f.auth.level.reset();
     },
     "level-unreadable", "cannot be read from the modem"},
    {"ServiceStopped",
     [](StatusFacts& f) {
       f.service = {ServiceState::kStopped, "inactive (dead)", 0};
     },
     "service-not-running", "the service is not running (stopped): start it with"},
    {"ServiceNotInstalled",
     [](StatusFacts& f) {
       f.service = {ServiceState::kNotInstalled, "no such unit", 0};
     },
     "service-not-running", "the service is not running (not-installed)"},
    {"ServiceStateUnknown",
     [](StatusFacts& f) {
       f.service = {ServiceState::kUnknown, "no bus", 0};
     },
     "service-state-unknown", "cannot be read (no bus)"},
    {"ModemRefusedTheSetLastTime",
     [](StatusFacts& f) { f.last_run.outcome = AuthOutcome::kLevelNotSet; }, "level-not-set",
     "the modem refused level 1"},
    // A run that ended long ago with the level set does not explain a level of 0 now.
    {"LevelDroppedSinceTheLastRun", [](StatusFacts&) {}, "level-pending",
     "the radio is off: the service sets it to 1"},
};

class VerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTest, Decides) {
  const VerdictCase& c = GetParam();
  StatusFacts f = Base();
  c.change(f);
  const Verdict v = DecideVerdict(f);
  const bool on = std::string(c.blocked_by).empty();
  EXPECT_EQ(v.radio_on, on);
  EXPECT_EQ(v.exit_code, on ? kExitRadioOn : kExitBlocked);
  EXPECT_EQ(v.blocked_by, c.blocked_by);
  EXPECT_THAT(v.message, HasSubstr(c.message_part));

  // Both renderings carry the verdict.
  const std::string text = RenderStatusText(f, v);
  EXPECT_THAT(text, HasSubstr("\nVerdict          " + std::string(on ? "" : "blocked: ") +
                              v.message + "\n"));
  const nlohmann::ordered_json j = RenderStatusJson(f, v);
  EXPECT_EQ(j["exit_code"], v.exit_code);
  EXPECT_EQ(j["verdict"]["radio_on"], on);
  EXPECT_EQ(j["verdict"]["message"], v.message);
  if (on) {
    EXPECT_TRUE(j["verdict"]["blocked_by"].is_null());
  } else {
    EXPECT_EQ(j["verdict"]["blocked_by"], c.blocked_by);
  }
}

INSTANTIATE_TEST_SUITE_P(Facts,
                         VerdictTest,
                         ::testing::ValuesIn(kVerdictCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

TEST(StatusTextTest, OneAlignedLinePerFactThenTheVerdict) {
  const StatusFacts f = Base();
  const std::vector<std::string> lines = Lines(RenderStatusText(f, DecideVerdict(f)));
  const std::vector<std::string> labels = {
      "Service", "Laptop",          "System version", "Platform table", "FCC-mode flag",
      "Modem",   "IsDisableVerify", "Radio level",    "Last run",       "Verdict"};
  ASSERT_EQ(lines.size(), labels.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, labels[i].size()), labels[i]);
    // Every value starts in the same column.
    EXPECT_EQ(lines[i].find_first_not_of(' ', labels[i].size()), 17u) << lines[i];
  }
  EXPECT_EQ(lines[0], "Service          " + std::string(ctl_platform::kServiceName) +
                          ": running (active (running), pid 812)");
  EXPECT_EQ(lines[2], "System version   \"ThinkPad X13 Gen 3\"");
  EXPECT_EQ(lines[3], "Platform table   model listed: allows modem ids 7a3f0b41, 7a3f0b42");
  EXPECT_EQ(lines[5],
            "Modem            USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C (modem id 7A3F0B41): the "
            "vendor's, allowed here");
  EXPECT_EQ(lines[6], "IsDisableVerify  0: the platform and FCC-mode checks run");
  EXPECT_EQ(lines[7], "Radio level      0 (radio off)");
  EXPECT_EQ(lines[8],
            "Last run         2026-12-10 09:00:01.250: level-set (\"SET MBIM FUN SUCCESS!\") in "
            "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.log");
}

TEST(StatusTextTest, MissingFactsAreSaidSo) {
  StatusFacts f = Base();
  f.firmware_read = false;
  f.system_version.clear();
  f.listed_model = false;
  f.modem_present = f.vendor_modem = false;
  f.level_read.reset();
  f.level.reset();
  f.disable_verify = 1;
  f.last_run = {};
  f.last_run.status = LastRun::Status::kNoRun;
  f.last_run.log_file = "x.log";
  f.last_run.cut_line = true;
  const std::string text = RenderStatusText(f, DecideVerdict(f));
  EXPECT_THAT(text, HasSubstr("Laptop           unknown: the firmware tables hold no System"));
  EXPECT_THAT(text, HasSubstr("System version   (empty)\n"));
  EXPECT_THAT(text, HasSubstr("model not listed: any of the vendor's modems is allowed\n"));
  EXPECT_THAT(text, HasSubstr("Modem            none found\n"));
  EXPECT_THAT(text, HasSubstr("IsDisableVerify  1: the platform and FCC-mode checks are off\n"));
  EXPECT_THAT(text, HasSubstr("Radio level      not read: no modem\n"));
  EXPECT_THAT(text, HasSubstr("no finished run in x.log (its last line is cut short)\n"));
}

TEST(StatusJsonTest, FieldsAndNulls) {
  StatusFacts f = Base();
  f.hardware_id.reset();
  f.modem_id.reset();
  f.service.process_id = 0;
  nlohmann::ordered_json j = RenderStatusJson(f, DecideVerdict(f));
  EXPECT_EQ(j.begin().key(), "schema_version");
  EXPECT_EQ(j["schema_version"], kStatusSchemaVersion);
  EXPECT_TRUE(j["service"]["pid"].is_null());
  EXPECT_EQ(j["service"]["state"], "running");
  EXPECT_TRUE(j["modem"]["hardware_id"].is_null());
  EXPECT_EQ(j["modem"]["allowed_here"], true);
  EXPECT_EQ(j["platform_table"]["allowed_modem_ids"], nlohmann::json({"7a3f0b41", "7a3f0b42"}));
  EXPECT_EQ(j["radio"]["level"], 0);
  EXPECT_EQ(j["last_run"]["outcome"], "level-set");
  EXPECT_EQ(j["last_run"]["message"], "SET MBIM FUN SUCCESS!");
  EXPECT_TRUE(j["next_run"]["outcome"].is_null());
  EXPECT_EQ(j["next_run"]["sets_level"], true);

  // A modem that is not the vendor's is neither allowed nor refused here.
  f.vendor_modem = false;
  f.auth.vendor_modem = false;
  j = RenderStatusJson(f, DecideVerdict(f));
  EXPECT_TRUE(j["modem"]["allowed_here"].is_null());
  EXPECT_EQ(j["next_run"]["outcome"], "foreign-modem");
  EXPECT_EQ(j["next_run"]["sets_level"], false);
}

TEST(StatusJsonTest, TextThatIsNotUtf8IsReplacedNotThrown) {
  StatusFacts f = Base();
  f.manufacturer = "ACME\xff\xfe";
  const std::string dumped = JsonText(RenderStatusJson(f, DecideVerdict(f)));
  EXPECT_THAT(dumped, HasSubstr("ACME\xEF\xBF\xBD"));
}

TEST(StatusErrorTest, ErrorAnswers) {
  EXPECT_EQ(RenderErrorText("must run as root"), "halvornctl: must run as root\n");
  const nlohmann::ordered_json j = RenderErrorJson("must run as root");
  EXPECT_EQ(j.dump(), R"({"schema_version":1,"error":"must run as root","exit_code":2})");
}

}  // namespace
}  // namespace halvorn
