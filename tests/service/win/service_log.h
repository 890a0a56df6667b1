// Test support: the log that the service writes when the service manager runs it.

#ifndef HALVORN_TESTS_SERVICE_WIN_SERVICE_LOG_H_
#define HALVORN_TESTS_SERVICE_WIN_SERVICE_LOG_H_

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/log_capture.h"
#include "util/log_helper.h"
#include "util/platform.h"

namespace halvorn::testing {

// The log folders the service may use: its program-data folder is the service manager's
// choice, not the test's (Wine gives services the Public folder; Windows the ProgramData
// folder). Cleared when made, so that only this test's runs are read.
class ServiceLog {
 public:
  ServiceLog() {
    for (const wchar_t* variable : {L"ProgramData", L"PUBLIC", L"ALLUSERSPROFILE"}) {
      wchar_t value[MAX_PATH] = {};
      const DWORD n = ::GetEnvironmentVariableW(variable, value, MAX_PATH);
      if (n == 0 || n >= MAX_PATH) {
        continue;
      }
      const std::filesystem::path folder = std::filesystem::path(value) /
                                           LogHelper::kCompanyFolder / LogHelper::kProductFolder /
                                           LogHelper::kLogSubFolder;
      folders_.push_back(folder);
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    }
  }

  // The masked lines of every log file the service wrote since.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& folder : folders_) {
      const std::vector<std::string> more = MaskLogLines(ReadLogFolder(folder));
      lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
  }

 private:
  std::vector<std::filesystem::path> folders_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_WIN_SERVICE_LOG_H_
