// The restart's steps, lines and command, over a fake service manager.

#include "util/restart.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/common_util.h"
#include "util/printf_format.h"

namespace halvorn {
namespace {

using ::testing::ElementsAreArray;
namespace rp = restart_platform;

// Canned results of each step.
struct Canned {
  long manager_error;
  long service_error;
  long query_error;
  std::uint32_t process_id;
  long launch_error;
};

// The canned results, and what the restart did with the fake.
struct FakeState {
  Canned canned;
  std::vector<std::string> events;
  std::vector<rp::LaunchRequest> launches;
};

class FakeService final : public rp::Service {
 public:
  explicit FakeService(FakeState* state) : state_(state) {}
  ~FakeService() override { state_->events.push_back("CloseService"); }
  long QueryProcessId(std::uint32_t* process_id) override {
    state_->events.push_back("QueryProcessId");
    if (state_->canned.query_error == 0) {
      *process_id = state_->canned.process_id;
    }
    return state_->canned.query_error;
  }

 private:
  FakeState* state_;
};

class FakeManager final : public rp::ServiceManager {
 public:
  explicit FakeManager(FakeState* state) : state_(state) {}
  ~FakeManager() override { state_->events.push_back("CloseManager"); }
  long OpenService(const std::wstring& name,
                   std::uint32_t access,
                   std::unique_ptr<rp::Service>* service) override {
    state_->events.push_back(StrPrintf("OpenService %ws 0x%x", name, access));
    if (state_->canned.service_error == 0) {
      *service = std::make_unique<FakeService>(state_);
    }
    return state_->canned.service_error;
  }

 private:
  FakeState* state_;
};

class FakePlatform final : public rp::Platform {
 public:
  explicit FakePlatform(FakeState* state) : state_(state) {}
  long OpenServiceManager(std::uint32_t access,
                          std::unique_ptr<rp::ServiceManager>* manager) override {
    state_->events.push_back(StrPrintf("OpenServiceManager 0x%x", access));
    if (state_->canned.manager_error == 0) {
      *manager = std::make_unique<FakeManager>(state_);
    }
    return state_->canned.manager_error;
  }
  long Launch(const rp::LaunchRequest& request) override {
    state_->events.push_back("Launch");
    state_->launches.push_back(request);
    return state_->canned.launch_error;
  }

 private:
  FakeState* state_;
};

constexpr const char* kProcessing = "T i :   RestartService Processing";
constexpr const char* kOpenManager = "OpenServiceManager 0xf003f";
constexpr const char* kOpenService = "OpenService TessaryCorvexSVC 0x34";

struct StepCase {
  const char* name;
  Canned canned;
  std::vector<std::string> lines;
  std::vector<std::string> events;
  const wchar_t* parameters;  // null: nothing is launched
};

// Every path through the steps: the lines it leaves, the calls it makes (handles are closed
// on every return, the service before the manager), and the command it launches.
TEST(RestartServiceTest, EachStepsOutcomeGivesItsLinesAndClosesWhatWasOpened) {
  const StepCase cases[] = {
      {"manager cannot be opened",
       {5, 0, 0, 0, 0},
       {kProcessing, "T i :   OpenSCManager fail(5)"},
       {kOpenManager},
       nullptr},
      {"unknown service shows the full name",
       {0, 1060, 0, 0, 0},
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:1060"},
       {kOpenManager, kOpenService, "CloseManager"},
       nullptr},
      {"status query fails",
       {0, 0, 6, 4321, 0},
       {kProcessing, "T i :    QueryServiceStatusEx failed."},
       {kOpenManager, kOpenService, "QueryProcessId", "CloseService", "CloseManager"},
       nullptr},
      {"launch fails",
       {0, 0, 0, 4321, 1223},
       {kProcessing, "T i :    RestartService failed.Error = 0x4c7"},
       {kOpenManager, kOpenService, "QueryProcessId", "Launch", "CloseService", "CloseManager"},
       L"/C taskkill /pid 4321 /f & net start \"TessaryCorvexSVC\""},
      {"running service is killed, then started",
       {0, 0, 0, 4321, 0},
       {kProcessing, "T i :    RestartService success."},
       {kOpenManager, kOpenService, "QueryProcessId", "Launch", "CloseService", "CloseManager"},
       L"/C taskkill /pid 4321 /f & net start \"TessaryCorvexSVC\""},
      {"stopped service is stopped, then started",
       {0, 0, 0, 0, 0},
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
    const rp::LaunchRequest& launch = state.launches[0];
    EXPECT_EQ(launch.parameters, c.parameters);
    EXPECT_EQ(launch.end_process_id, c.canned.process_id);
    EXPECT_EQ(launch.service_name, L"TessaryCorvexSVC");
    // Elevated, hidden, and not waited for.
    EXPECT_EQ(launch.verb, L"runas");
    EXPECT_EQ(launch.file, L"cmd.exe");
    EXPECT_EQ(launch.show, 0);
    EXPECT_EQ(launch.mask, 0x40u);
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
