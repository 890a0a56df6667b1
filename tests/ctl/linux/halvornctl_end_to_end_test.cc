// halvornctl end to end on the simulated laptops of the job's own end-to-end test: the test
// bed, the SMBIOS tables, the registry file and the simulated modem behind libmbim-glib. On
// each laptop the real job runs once, as the service would, and writes its log; then the tool
// runs over the same real checks and backends and must give the verdict and exit code that
// match the job's outcome, in text and in JSON, the JSON valid against the documented schema,
// and leave the log folder as it was. Only the service manager's answer is given by the test.
// The program itself runs too: in the test bed as root, and without root.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "auth/auth_outcome.h"
#include "auth/linux/simulated_laptop.h"
#include "ctl/fake_ctl_platform.h"
#include "ctl/halvornctl.h"
#include "ctl/json_schema_check.h"
#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "subprocess.h"
#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

using mbimsim::Fault;
using testing::FileLogCapture;
using ::testing::HasSubstr;
using testing::kListedModel;
using testing::kOtherVendor;
using testing::kUnlistedModel;
using testing::kVendor;
using testing::Laptop;
using testing::LogCapture;
using testing::SimulatedLaptopTest;
using ::testing::StartsWith;
using Json = nlohmann::json;

constexpr const char* kVerdictLabel = "Verdict          ";

// One laptop, the job's outcome on it, and what the tool says afterwards.
struct Case {
  const char* name;
  Laptop laptop;
  AuthOutcome job_outcome;
  const char* blocked_by;  // empty: the radio is on
  int exit_code;
  std::int32_t level;  // what the tool reads; -1: it cannot read one
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case kCases[] = {
    {"LevelZeroIsSetByTheService",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kNone},
     AuthOutcome::kLevelSet,
     "",
     0,
     1},
    {"LevelAlreadyOne",
     {kListedModel, true, kVendor, "0b42", true, 0u, 1, Fault::kNone},
     AuthOutcome::kLevelIsOne,
     "",
     0,
     1},
    {"NoFccStructure",
     {kListedModel, true, kVendor, "0b41", false, std::nullopt, 0, Fault::kNone},
     AuthOutcome::kFccModeOff,
     "fcc-mode-off",
     1,
     0},
    {"UnlistedModemOnAListedModel",
     {kListedModel, true, kVendor, "0b47", true, std::nullopt, 0, Fault::kNone},
     AuthOutcome::kPlatformRefused,
     "platform-refused",
     1,
     0},
    {"LevelCannotBeRead",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kStatus},
     AuthOutcome::kLevelUnreadable,
     "level-unreadable",
     1,
     -1},
    {"ModemRefusesTheSet",
     {kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kRefuseSet},
     AuthOutcome::kLevelNotSet,
     "level-not-set",
     1,
     0},
    {"NoModem",
     {kListedModel, false, nullptr, nullptr, true, std::nullopt, 0, Fault::kNone},
     AuthOutcome::kNoModem,
     "no-modem",
     1,
     -1},
    {"AnotherMakersModem",
     {kListedModel, true, kOtherVendor, "0b41", true, std::nullopt, 0, Fault::kNone},
     AuthOutcome::kForeignModem,
     "foreign-modem",
     1,
     -1},
    {"ChecksOffUnlistedModemIsSwitchedOn",
     {kUnlistedModel, true, kVendor, "0b47", false, 0x101u, 0, Fault::kNone},
     AuthOutcome::kLevelSet,
     "",
     0,
     1},
};

// Every file of a folder with its content.
std::map<std::string, std::string> FolderContent(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    files[entry.path().string()] = ss.str();
  }
  return files;
}

ctl_platform::ServiceFacts Running() {
  return {ctl_platform::ServiceState::kRunning, "active (running)", 4242};
}

class HalvornCtlEndToEndTest : public SimulatedLaptopTest {
 protected:
  // Runs the job once on the laptop, as the service does, with its log in `capture`.
  void RunJob(LogCapture& capture) {
    CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), nullptr);
    AuthModuleCollaborators with = AuthModuleCollaboratorsFor(modem, AuthModulePlatforms::System());
    with.sleepMs = [](std::uint32_t) {};
    bool retry = false;
    MakeAuthModuleJob(std::move(with))(&retry);
    job_lines_ = capture.Lines();  // stops the facade: the log is complete
  }

  // Runs the tool with `args`; its output in out_ and err_.
  int RunTool(const std::vector<std::string>& args) {
    CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), nullptr);
    std::ostringstream out;
    std::ostringstream err;
    const int code =
        RunHalvornCtl(args, out, err, StatusChecksFor(modem, system_.checked), system_);
    out_ = out.str();
    err_ = err.str();
    return code;
  }

  std::string VerdictLine() const {
    std::istringstream in(out_);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
      last = line;
    }
    return last;
  }

  void ExpectValidJson(const std::string& text) {
    const testing::SchemaCheck check = testing::CheckStatusSchema(text);
    if (!check.available) {
      GTEST_SKIP() << "no JSON Schema validator: " << check.report;
    }
    EXPECT_TRUE(check.valid) << check.report << "\n" << text;
  }

  testing::FakeCtlPlatform ctl_;
  CtlSystem system_{ctl_, SystemLogFolderPlatform(), AuthModulePlatforms::System()};
  std::vector<std::string> job_lines_;
  std::string out_;
  std::string err_;
};

class HalvornCtlOutcomeTest : public HalvornCtlEndToEndTest,
                              public ::testing::WithParamInterface<Case> {};

TEST_P(HalvornCtlOutcomeTest, VerdictMatchesTheJobsOutcome) {
  const Case& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BuildLaptop(c.laptop));
  FileLogCapture capture;
  ASSERT_NO_FATAL_FAILURE(RunJob(capture));
  ASSERT_GE(job_lines_.size(), 2u);
  ASSERT_EQ(job_lines_[job_lines_.size() - 2],
            std::string(AuthOutcomeInfo(c.job_outcome).log_code == 1 ? "T e :   " : "T i :   ") +
                AuthOutcomeInfo(c.job_outcome).message);
  const auto log_before = FolderContent(capture.root());
  const std::int32_t level_after_job = simulator_->level();
  const std::size_t job_commands = simulator_->VendorCommands().size();
  ctl_.service = Running();

  // Text.
  EXPECT_EQ(RunTool({"status"}), c.exit_code) << out_ << err_;
  EXPECT_EQ(err_, "");
  const std::string verdict = VerdictLine();
  if (c.exit_code == 0) {
    EXPECT_EQ(verdict, std::string(kVerdictLabel) + "the radio is on (function level 1)");
  } else {
    EXPECT_THAT(verdict, StartsWith(std::string(kVerdictLabel) + "blocked: "));
  }
  EXPECT_THAT(out_, HasSubstr(std::string(AuthOutcomeInfo(c.job_outcome).name) + " (\"" +
                              AuthOutcomeInfo(c.job_outcome).message + "\")"));
  EXPECT_THAT(out_, HasSubstr("halvornd.service: running (active (running), pid 4242)"));

  // JSON.
  EXPECT_EQ(RunTool({"status", "--json"}), c.exit_code) << out_ << err_;
  ASSERT_NO_FATAL_FAILURE(ExpectValidJson(out_));
  const Json j = Json::parse(out_);
  EXPECT_EQ(j["exit_code"], c.exit_code);
  EXPECT_EQ(j["verdict"]["radio_on"], c.exit_code == 0);
  if (c.exit_code == 0) {
    EXPECT_TRUE(j["verdict"]["blocked_by"].is_null());
  } else {
    EXPECT_EQ(j["verdict"]["blocked_by"], c.blocked_by);
  }
  EXPECT_EQ(j["last_run"]["status"], "found");
  EXPECT_EQ(j["last_run"]["outcome"], AuthOutcomeInfo(c.job_outcome).name);
  EXPECT_EQ(j["last_run"]["cut_line"], false);
  if (c.level >= 0) {
    EXPECT_EQ(j["radio"]["level"], c.level);
  } else {
    EXPECT_TRUE(j["radio"]["level"].is_null());
  }
  EXPECT_EQ(j["modem"]["present"], c.laptop.modem);
  EXPECT_EQ(j["laptop"]["system_version"], c.laptop.model);
  EXPECT_EQ(j["fcc_mode"], c.laptop.fcc_structure);

  // Read-only: the level the job left, no vendor command but queries, and the log folder as
  // the job left it (the facade was never started again).
  EXPECT_EQ(simulator_->level(), level_after_job);
  const std::vector<std::string> commands = simulator_->VendorCommands();
  ASSERT_GE(commands.size(), job_commands);
  for (std::size_t i = job_commands; i < commands.size(); ++i) {
    EXPECT_EQ(commands[i], "query 00") << "the tool sends queries only";
  }
  EXPECT_EQ(FolderContent(capture.root()), log_before);
  EXPECT_EQ(LogHelper::CurrentLogFilePath(), "");
}

INSTANTIATE_TEST_SUITE_P(Laptop,
                         HalvornCtlOutcomeTest,
                         ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The checks pass and the level is 0, but the service is not running and has never logged.
TEST_F(HalvornCtlEndToEndTest, StoppedServiceWithoutLogFolderIsTheBlocker) {
  ASSERT_NO_FATAL_FAILURE(
      BuildLaptop({kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, Fault::kNone}));
  testing::TempDir programdata;
  testing::SetEnv("programdata", programdata.path().string());
  ctl_.service = {ctl_platform::ServiceState::kStopped, "inactive (dead)", 0};

  EXPECT_EQ(RunTool({"status"}), 1);
  EXPECT_EQ(VerdictLine(), std::string(kVerdictLabel) +
                               "blocked: the service is not running (stopped): start it with "
                               "\"systemctl start halvornd.service\"");
  EXPECT_THAT(out_, HasSubstr("Last run         no log folder " + programdata.path().string()));
  EXPECT_EQ(RunTool({"status", "--json"}), 1);
  ASSERT_NO_FATAL_FAILURE(ExpectValidJson(out_));
  const Json j = Json::parse(out_);
  EXPECT_EQ(j["verdict"]["blocked_by"], "service-not-running");
  EXPECT_EQ(j["last_run"]["status"], "no-log-folder");
  EXPECT_EQ(j["next_run"]["sets_level"], true);
  EXPECT_EQ(simulator_->level(), 0);
  EXPECT_FALSE(std::filesystem::exists(programdata.path() / "Tessary Wireless Inc"));
  testing::UnsetEnv("programdata");
}

// The service was writing when the tool looked: the last line is cut in the middle. The run
// before it still counts.
TEST_F(HalvornCtlEndToEndTest, LogCutInTheMiddleOfALine) {
  ASSERT_NO_FATAL_FAILURE(
      BuildLaptop({kListedModel, true, kVendor, "0b41", true, std::nullopt, 1, Fault::kNone}));
  FileLogCapture capture;
  ASSERT_NO_FATAL_FAILURE(RunJob(capture));
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(capture.log_folder())) {
    files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 1u);
  std::ofstream(files[0], std::ios::binary | std::ios::app) << "2026-12-10 10:00:00.000 0000abcd";
  ctl_.service = Running();

  EXPECT_EQ(RunTool({"status"}), 0);
  EXPECT_THAT(out_, HasSubstr("level-is-one (\"MBIM FUN 1!\") in " + files[0].filename().string() +
                              " (its last line is cut short)"));
  EXPECT_EQ(RunTool({"status", "--json"}), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectValidJson(out_));
  const Json j = Json::parse(out_);
  EXPECT_EQ(j["last_run"]["outcome"], "level-is-one");
  EXPECT_EQ(j["last_run"]["cut_line"], true);
}

// The program as an administrator runs it, in the test bed: the same answer, on standard
// output, with the exit code.
TEST_F(HalvornCtlEndToEndTest, ProgramAnswersWithItsExitCode) {
  ASSERT_NO_FATAL_FAILURE(
      BuildLaptop({kListedModel, true, kVendor, "0b47", true, std::nullopt, 0, Fault::kNone}));
  testing::TempDir programdata;
  testing::SetEnv("programdata", programdata.path().string());
  // No system bus here: the service's state is unknown, which the verdict does not need.
  testing::SetEnv("DBUS_SYSTEM_BUS_ADDRESS",
                  "unix:path=" + (programdata.path() / "no-bus").string());

  const mbimsim::RunResult text = mbimsim::RunProgram({HALVORN_CTL, "status"}, 60000);
  EXPECT_EQ(text.exit_code, 1) << text.out << text.err;
  EXPECT_THAT(text.out, HasSubstr("Service          halvornd.service: unknown ("));
  EXPECT_THAT(text.out, HasSubstr("Modem            USB\\VID_7A3F&PID_0B47&REV_0318 "
                                  "(modem id 7A3F0B47): the vendor's, not allowed for this model"));
  EXPECT_THAT(text.out, HasSubstr("blocked: this modem id is not allowed for this model"));
  const mbimsim::RunResult json = mbimsim::RunProgram({HALVORN_CTL, "status", "--json"}, 60000);
  EXPECT_EQ(json.exit_code, 1) << json.err;
  ASSERT_NO_FATAL_FAILURE(ExpectValidJson(json.out));
  EXPECT_EQ(Json::parse(json.out)["verdict"]["blocked_by"], "platform-refused");
  // Nothing was written where the service logs.
  EXPECT_TRUE(std::filesystem::is_empty(programdata.path()));
  testing::UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS");
  testing::UnsetEnv("programdata");
}

// Without root the firmware tables and the registry file cannot be read: a clear answer and
// exit code 2, in text and in JSON, before anything is read.
TEST_F(HalvornCtlEndToEndTest, ProgramWithoutRootSaysWhy) {
  constexpr const char* kSetpriv = "/usr/bin/setpriv";
  if (::access(kSetpriv, X_OK) != 0) {
    GTEST_SKIP() << "needs " << kSetpriv << " to drop root";
  }
  const std::vector<std::string> drop = {kSetpriv,         "--reuid=65534", "--regid=65534",
                                         "--clear-groups", HALVORN_CTL,     "status"};
  mbimsim::RunResult text = mbimsim::RunProgram(drop, 60000);
  EXPECT_EQ(text.exit_code, 2) << text.out << text.err;
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err,
            "halvornctl: must run as root to read the firmware tables and the registry file\n");

  std::vector<std::string> drop_json = drop;
  drop_json.push_back("--json");
  const mbimsim::RunResult json = mbimsim::RunProgram(drop_json, 60000);
  EXPECT_EQ(json.exit_code, 2) << json.err;
  ASSERT_NO_FATAL_FAILURE(ExpectValidJson(json.out));
  EXPECT_EQ(Json::parse(json.out)["error"],
            "must run as root to read the firmware tables and the registry file");
}

}  // namespace
}  // namespace halvorn
