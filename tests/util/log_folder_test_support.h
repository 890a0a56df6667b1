// Test support for the log folder's protection: its levels, an old log file, and a start-up
// of logging whose standard error is kept.

#ifndef HALVORN_TESTS_UTIL_LOG_FOLDER_TEST_SUPPORT_H_
#define HALVORN_TESTS_UTIL_LOG_FOLDER_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/registry_platform.h"

namespace halvorn::testing {

inline constexpr const char* kOldLog = "tessary_brevane_monitor_VK20T_2023-01-02_16.00.45.log";

// A matching log file two days old.
inline void MakeOldLog(const std::filesystem::path& path) {
  std::ofstream(path, std::ios::binary) << "old";
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
}

// The three levels below the program-data folder `root`, from the top.
inline std::vector<std::filesystem::path> LogFolderLevels(const std::filesystem::path& root) {
  const std::filesystem::path company = root / LogHelper::kCompanyFolder;
  const std::filesystem::path product = company / LogHelper::kProductFolder;
  return {company, product, product / LogHelper::kLogSubFolder};
}

// Starts logging with the program-data folder `root`, writes a line, stops, and returns what
// start-up wrote to standard error; *logging tells whether a log file was opened.
inline std::string StartUpLogging(const std::string& root, bool* logging) {
  SetEnv("programdata", root);
  ::testing::internal::CaptureStderr();
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  *logging = !LogHelper::CurrentLogFilePath().empty();
  LogHelper::Print(LogInfo, "t", "a line for the log");
  LogHelper::Shutdown();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_UTIL_LOG_FOLDER_TEST_SUPPORT_H_
