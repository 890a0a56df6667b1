// One start of halvorn.exe as the service "Halvorn" under Wine's service manager, told as a
// timeline on the terminal: the install, the start and each check of the job, the level going
// from 0 to 1, the stop and the removal. Every step is checked, so the story is also a test;
// scripts/demo.sh --windows shows it to a newcomer.
//
// The program is halvorn.exe's demo build: the same main and libraries with the stand-in
// adapter list (Wine has no mobile-broadband adapter). The modem is the fake runtime provider,
// registered under the runtime's class names and starting at level 0; the vendor's modem is a
// SetupAPI device with its driver key. Wine keeps no device power data and builds no OEM
// structure, so the platform and FCC-mode checks are turned off by IsDisableVerify = 1.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "auth/firmware_platform.h"
#include "auth/successful_run_log.h"
#include "auth/systeminfo.h"
#include "device/win/win_devices.h"
#include "fake_provider_client.h"
#include "service/story_lines.h"
#include "service/win/fake_modem_service.h"
#include "service/win/service_log.h"
#include "support/win/service_control.h"
#include "util/platform.h"

namespace halvorn::testing {
namespace {

constexpr const wchar_t* kName = L"Halvorn";

// The timeline: the story's own steps and the service log's lines worth showing, each with the
// seconds since the start.
class Timeline {
 public:
  explicit Timeline(const ServiceLog& log) : log_(log) {}

  void Say(const char* heading, const std::string& text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("  %6.1f s  %-7s %s\n", seconds, heading, text.c_str());
    std::fflush(stdout);
  }

  // Shows the log's new lines worth showing until the log holds `line`.
  bool FollowUntil(const std::string& line) {
    return PollUntil([&] {
      const std::vector<std::string> lines = log_.Lines();
      bool found = false;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i >= shown_) {
          if (const char* heading = StoryHeading(lines[i])) {
            Say(heading, std::string(StoryText(lines[i])));
          }
        }
        found = found || lines[i] == line;
      }
      shown_ = std::max(shown_, lines.size());
      return found;
    });
  }

 private:
  const ServiceLog& log_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::size_t shown_ = 0;
};

std::string StateName(DWORD state) {
  switch (state) {
    case SERVICE_RUNNING:
      return "RUNNING";
    case SERVICE_STOPPED:
      return "STOPPED";
    case SERVICE_START_PENDING:
      return "START_PENDING";
    case SERVICE_STOP_PENDING:
      return "STOP_PENDING";
    default:
      return std::to_string(state);
  }
}

class ServiceStoryWin : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = SettledPrefixProblem();
    ASSERT_TRUE(problem.empty()) << problem;
    RemoveService(kName);
    provider_ = FakeProvider::Get();  // registers the provider's classes
    ASSERT_NE(provider_, nullptr);
    ASSERT_TRUE(device_.created()) << ::GetLastError();
    ASSERT_TRUE(driver_key_.ok());
    ASSERT_TRUE(checks_off_.ok());
  }

  void TearDown() override {
    RemoveService(kName);
    if (!folder_.empty()) {
      // The process may hold its image a moment after the service manager reports it stopped.
      PollUntil([&] {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        return !ec;
      });
    }
  }

  // The demo build as C:\Program Files\Halvorn\halvorn.exe; false when a halvorn.exe of
  // another install is there.
  bool InstallProgram() {
    wchar_t base[MAX_PATH] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramFiles", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
      return false;
    }
    const std::filesystem::path folder = std::filesystem::path(base) / L"Halvorn";
    exe_ = folder / L"halvorn.exe";
    if (std::filesystem::exists(exe_)) {
      return false;
    }
    std::filesystem::create_directories(folder);
    folder_ = folder;
    std::filesystem::copy_file(
        std::filesystem::path(ModuleFolder()) / L"halvorn_stand_in_adapters.exe", exe_);
    return true;
  }

  FakeProvider* provider_ = nullptr;
  CreatedDevice device_{L"USB\\VID_7A3F&PID_0B41&MI_0C\\HALVORNSTORY&0&000C", L"LTE Module MBIM",
                        std::wstring(L"USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C\0"
                                     L"USB\\VID_7A3F&PID_0B41&MI_0C\0",
                                     64)};
  DriverKey driver_key_{"0917", kModemAdapterName, kModemInstanceId};
  ChecksOff checks_off_;
  ServiceLog log_;
  std::filesystem::path folder_;
  std::filesystem::path exe_;
};

TEST_F(ServiceStoryWin, InstallStartLevelZeroToOneStopRemove) {
  FakeScript script = provider_->DefaultScript();
  script.keeps_level = 1;
  script.level = 0;
  SharedProviderState modem(script);
  ASSERT_TRUE(modem.ok()) << ::GetLastError();

  Systeminfo firmware(SystemFirmwarePlatform());
  std::printf(
      "\nUnder Wine: the firmware table says maker \"%s\", model \"%s\"; the modem is the fake "
      "runtime "
      "provider\n(registered under the runtime's class names) at radio level %d; the adapter "
      "list is a stand-in\n(Wine has no mobile-broadband adapter); the vendor's modem (USB "
      "7A3F:0B41) is a SetupAPI device.\nWine keeps no device power data and builds no OEM "
      "structure: the platform and FCC-mode checks\nare turned off by IsDisableVerify = 1.\n\n",
      firmware.manufacturer.empty() ? "?" : firmware.manufacturer.c_str(),
      firmware.version.empty() ? "?" : firmware.version.c_str(), modem.Level());
  Timeline timeline(log_);

  ASSERT_TRUE(InstallProgram()) << "a halvorn.exe is installed already";
  std::string out;
  ASSERT_EQ(RunCommand("sc create Halvorn binPath= \"" + platform::WideToNarrow(exe_.wstring()) +
                           "\" type= own",
                       &out),
            0)
      << out;
  timeline.Say("install", "sc create Halvorn: " + platform::WideToNarrow(exe_.wstring()) +
                              " (the demo build)");

  ASSERT_EQ(RunCommand("sc start Halvorn", &out), 0) << out;
  ASSERT_TRUE(PollUntil([] { return QueryService(kName).state == SERVICE_RUNNING; }));
  timeline.Say("start",
               "service Halvorn RUNNING, pid " + std::to_string(QueryService(kName).process_id));
  ASSERT_TRUE(timeline.FollowUntil(kStorySetLine));
  ASSERT_TRUE(PollUntil([&] { return modem.Level() == 1; })) << "level " << modem.Level();
  const FakeRecord record = modem.Record();
  ASSERT_EQ(record.command_count, 2);
  EXPECT_EQ(record.commands[0].set, 0);
  EXPECT_EQ(record.commands[1].set, 1);
  timeline.Say("modem", "level " + std::to_string(modem.Level()) +
                            " (the provider got a query, then a set)");

  ASSERT_TRUE(timeline.FollowUntil(kStoryRemovedLine));
  ASSERT_EQ(RunCommand("sc stop Halvorn", &out), 0) << out;
  ASSERT_TRUE(PollUntil([] { return QueryService(kName).state == SERVICE_STOPPED; }));
  ASSERT_TRUE(timeline.FollowUntil(kStoryExitLine));
  timeline.Say("stop", "service Halvorn " + StateName(QueryService(kName).state));
  ASSERT_EQ(RunCommand("sc delete Halvorn", &out), 0) << out;
  ASSERT_TRUE(PollUntil([] { return !QueryService(kName).installed; }));
  timeline.Say("remove", "sc delete Halvorn: the service is gone");

  const std::vector<std::string> lines = log_.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(kStorySetLine)), 1);
  EXPECT_EQ(lines.back(), kStoryExitLine);
  std::printf(
      "\nSummary: halvorn.exe (demo build) ran as the service Halvorn under Wine's service "
      "manager; its job\nbrought the fake modem from level 0 to %d and the service stopped "
      "cleanly.\n\n",
      modem.Level());
}

}  // namespace
}  // namespace halvorn::testing
