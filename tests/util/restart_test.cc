// The restart's steps, lines and command, over a fake service manager.

#include "util/restart.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/common_util.h"
#include "util/os_status.h"
#include "util/printf_format.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
namespace rp = restart_platform;

// Canned outcomes of each step.
struct Canned {
  OsStatus manager;
  OsStatus service;
  OsStatus query;
  std::uint32_t process_id;
  OsStatus launch;
};

constexpr OsStatus kOk = OsStatus::Ok();
constexpr OsStatus kDenied = OsStatus::Of(OsOutcome::kAccessDenied);
constexpr OsStatus kNotFound = OsStatus::Of(OsOutcome::kNotFound);
constexpr OsStatus kNoMemory = OsStatus::Of(OsOutcome::kOutOfMemory);

// The canned results, and what the restart did with the fake.
struct FakeState {
  Canned canned;
  std::vector<std::string> events;
  std::vector<rp::RestartRequest> launches;
};

class FakeService final : public rp::Service {
 public:
  explicit FakeService(FakeState* state) : state_(state) {}
  ~FakeService() override { state_->events.push_back("CloseService"); }
  OsStatus QueryProcessId(std::uint32_t* process_id) override {
    state_->events.push_back("QueryProcessId");
    if (state_->canned.query.ok()) {
      *process_id = state_->canned.process_id;
    }
    return state_->canned.query;
  }

 private:
  FakeState* state_;
};

class FakeManager final : public rp::ServiceManager {
 public:
  explicit FakeManager(FakeState* state) : state_(state) {}
  ~FakeManager() override { state_->events.push_back("CloseManager"); }
  OsStatus OpenService(const std::wstring& name, std::unique_ptr<rp::Service>* service) override {
    state_->events.push_back(StrPrintf("OpenService %ws", name));
    if (state_->canned.service.ok()) {
      *service = std::make_unique<FakeService>(state_);
    }
    return state_->canned.service;
  }

 private:
  FakeState* state_;
};

class FakePlatform final : public rp::Platform {
 public:
  explicit FakePlatform(FakeState* state) : state_(state) {}
  OsStatus OpenServiceManager(std::unique_ptr<rp::ServiceManager>* manager) override {
    state_->events.push_back("OpenServiceManager");
    if (state_->canned.manager.ok()) {
      *manager = std::make_unique<FakeManager>(state_);
    }
    return state_->canned.manager;
  }
  OsStatus Launch(const rp::RestartRequest& request) override {
    state_->events.push_back("Launch");
    state_->launches.push_back(request);
    return state_->canned.launch;
  }

 private:
  FakeState* state_;
};

constexpr const char* kProcessing = "T i :   RestartService Processing";
constexpr const char* kOpenManager = "OpenServiceManager";
constexpr const char* kOpenService = "OpenService TessaryCorvexSVC";

struct StepCase {
  const char* name;
  Canned canned;
  std::vector<std::string> lines;
  std::vector<std::string> events;
  const wchar_t* parameters;  // null: nothing is launched
};

// Every path through the steps: the lines it leaves, the calls it makes (handles are closed
// on every return, the service before the manager), and the restart it hands over.
TEST(RestartServiceTest, EachStepsOutcomeGivesItsLinesAndClosesWhatWasOpened) {
  const StepCase cases[] = {
      {"manager cannot be opened",
       {kDenied, kOk, kOk, 0, kOk},
       {kProcessing, "T i :   OpenSCManager fail(5)"},
       {kOpenManager},
       nullptr},
      {"unknown service shows the full name",
       {kOk, OsStatus::Other(1060), kOk, 0, kOk},
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:1060"},
       {kOpenManager, kOpenService, "CloseManager"},
       nullptr},
      {"status query fails",
       {kOk, kOk, OsStatus::Other(6), 4321, kOk},
       {kProcessing, "T i :    QueryServiceStatusEx failed."},
       {kOpenManager, kOpenService, "QueryProcessId", "CloseService", "CloseManager"},
       nullptr},
      {"status query refused",
       {kOk, kOk, kDenied, 4321, kOk},
       {kProcessing, "T i :    QueryServiceStatusEx failed."},
       {kOpenManager, kOpenService, "QueryProcessId", "CloseService", "CloseManager"},
       nullptr},
      {"launch fails",
       {kOk, kOk, kOk, 4321, OsStatus::Other(1223)},
       {kProcessing, "T i :    RestartService failed.Error = 0x4c7"},
       {kOpenManager, kOpenService, "QueryProcessId", "Launch", "CloseService", "CloseManager"},
       L"/C taskkill /pid 4321 /f & net start \"TessaryCorvexSVC\""},
      {"running service is killed, then started",
       {kOk, kOk, kOk, 4321, kOk},
       {kProcessing, "T i :    RestartService success."},
       {kOpenManager, kOpenService, "QueryProcessId", "Launch", "CloseService", "CloseManager"},
       L"/C taskkill /pid 4321 /f & net start \"TessaryCorvexSVC\""},
      {"stopped service is stopped, then started",
       {kOk, kOk, kOk, 0, kOk},
       {kProcessing, "T i :    RestartService success."},
       {kOpenManager, kOpenService, "QueryProcessId", "Launch", "CloseService", "CloseManager"},
       L"/C net stop \"TessaryCorvexSVC\" & net start \"TessaryCorvexSVC\""},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeState state{c.canned, {}, {}};
    FakePlatform platform(&state);
    testing::LogCapture capture;
    restart::RestartServiceWith(platform);
    EXPECT_THAT(capture.Lines(), ElementsAreArray(c.lines));
    EXPECT_THAT(state.events, ElementsAreArray(c.events));
    if (c.parameters == nullptr) {
      EXPECT_TRUE(state.launches.empty());
      continue;
    }
    ASSERT_EQ(state.launches.size(), 1u);
    const rp::RestartRequest& launch = state.launches[0];
    EXPECT_EQ(launch.command_line, c.parameters);
    EXPECT_EQ(launch.end_process_id, c.canned.process_id);
    EXPECT_EQ(launch.service_name, L"TessaryCorvexSVC");
  }
}

struct NumberCase {
  const char* name;
  Canned canned;
  const char* line;  // the line after "RestartService Processing"
};

// A failure's line prints the Windows error number of its outcome, whichever system reported
// it; a number with no outcome of its own passes through as it is.
TEST(RestartServiceTest, FailureLinesPrintTheWindowsNumberOfTheOutcome) {
  const NumberCase cases[] = {
      {"manager refused", {kDenied, kOk, kOk, 0, kOk}, "T i :   OpenSCManager fail(5)"},
      {"manager not found", {kNotFound, kOk, kOk, 0, kOk}, "T i :   OpenSCManager fail(2)"},
      {"manager out of memory", {kNoMemory, kOk, kOk, 0, kOk}, "T i :   OpenSCManager fail(8)"},
      {"manager other number",
       {OsStatus::Other(1722), kOk, kOk, 0, kOk},
       "T i :   OpenSCManager fail(1722)"},
      // "%ld" is 32 bits wide and signed, as on Windows.
      {"manager number above 31 bits",
       {OsStatus::Other(0x80070005u), kOk, kOk, 0, kOk},
       "T i :   OpenSCManager fail(-2147024891)"},
      {"service refused",
       {kOk, kDenied, kOk, 0, kOk},
       "T i :   OpenService TessaryCorvexSVC error:5"},
      {"service not found",
       {kOk, kNotFound, kOk, 0, kOk},
       "T i :   OpenService TessaryCorvexSVC error:2"},
      {"service other number",
       {kOk, OsStatus::Other(1060), kOk, 0, kOk},
       "T i :   OpenService TessaryCorvexSVC error:1060"},
      {"launch refused",
       {kOk, kOk, kOk, 4321, kDenied},
       "T i :    RestartService failed.Error = 0x5"},
      {"launch not found",
       {kOk, kOk, kOk, 0, kNotFound},
       "T i :    RestartService failed.Error = 0x2"},
      {"launch other number",
       {kOk, kOk, kOk, 0, OsStatus::Other(1155)},
       "T i :    RestartService failed.Error = 0x483"},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeState state{c.canned, {}, {}};
    FakePlatform platform(&state);
    testing::LogCapture capture;
    restart::RestartServiceWith(platform);
    EXPECT_THAT(capture.Lines(), ElementsAre(kProcessing, c.line));
  }
}

TEST(RestartServiceTest, ParametersFollowTheProcessIdAndFitTheBuffer) {
  struct Case {
    std::uint32_t process_id;
    std::wstring service;
    std::wstring expected;
  };
  const std::wstring long_name(300, L'n');
  const Case cases[] = {
      {4321, L"TessaryCorvexSVC", L"/C taskkill /pid 4321 /f & net start \"TessaryCorvexSVC\""},
      {1, L"S", L"/C taskkill /pid 1 /f & net start \"S\""},
      {0, L"TessaryCorvexSVC",
       L"/C net stop \"TessaryCorvexSVC\" & net start \"TessaryCorvexSVC\""},
      // Braces and percent signs in a name are text, not format.
      {0, L"a%d{0}", L"/C net stop \"a%d{0}\" & net start \"a%d{0}\""},
      // 256 characters with the terminator: the text is cut, never overrun.
      {0, long_name, (L"/C net stop \"" + long_name).substr(0, 255)},
      {7, long_name, (L"/C taskkill /pid 7 /f & net start \"" + long_name).substr(0, 255)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restart::BuildRestartParameters(c.process_id, c.service), c.expected);
  }
}

}  // namespace
}  // namespace halvorn
