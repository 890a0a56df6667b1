#include "support/log_capture.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/log_helper_testing.h"
#include "util/registry_platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace halvorn::testing {

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  ::SetEnvironmentVariableA(name, value.c_str());
  _putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#ifdef _WIN32
  ::SetEnvironmentVariableA(name, nullptr);
  _putenv_s(name, "");
#else
  ::setenv(name, "", 1);
#endif
}

#ifndef _WIN32
namespace {

// Adds the variables that the product reads and tests set, before main and so before any
// thread of a test exists (see SetEnv).
const bool kProductVariablesAdded = [] {
  for (const char* name : {"programdata", "HALVORN_REGISTRY_FILE", "HALVORN_MBIM_PORT",
                           "HALVORN_MBIM_PROXY", "NOTIFY_SOCKET", "DBUS_SYSTEM_BUS_ADDRESS"}) {
    ::setenv(name, "", 0);
  }
  return true;
}();

}  // namespace
#endif

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("halvorn-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(path_, ec)) {
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

LogCapture::LogCapture() : LogCapture(Sink::kMemory) {}

LogCapture::LogCapture(Sink sink) {
  LogHelper::Shutdown();
  SetEnv("programdata", dir_.path().string());
  if (sink == Sink::kFile) {
    LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  } else {
    memory_ = std::make_shared<InMemoryLogLines>();
    StartLogHelperInMemoryForTesting(SystemRegistryPlatform(), memory_);
  }
}

LogCapture::~LogCapture() {
  LogHelper::Shutdown();
}

std::filesystem::path LogFolderUnder(const std::filesystem::path& programdata) {
  return programdata / LogHelper::kCompanyFolder / LogHelper::kProductFolder /
         LogHelper::kLogSubFolder;
}

std::filesystem::path LogCapture::log_folder() const {
  return LogFolderUnder(dir_.path());
}

std::vector<std::string> ReadLogFolder(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  // Rotated files hold older lines: "x.log" is newest, then "x.1.log", "x.2.log", ...
  auto index = [](const std::filesystem::path& p) {
    static const std::regex kRotated(R"(_\d\d\.\d\d\.\d\d\.(\d+)\.log$)");
    std::smatch m;
    const std::string name = p.filename().string();
    return std::regex_search(name, m, kRotated) ? std::stoi(m[1].str()) : 0;
  };
  std::sort(files.begin(), files.end(), [&](const auto& a, const auto& b) {
    if (index(a) != index(b)) {
      return index(a) > index(b);
    }
    return a.filename().string() < b.filename().string();
  });
  std::vector<std::string> lines;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    SplitLogText(ss.str(), lines);
  }
  return lines;
}

void SplitLogText(const std::string& text, std::vector<std::string>& lines) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
}

std::vector<std::string> LogCapture::RawLines() {
  LogHelper::Shutdown();
  if (memory_ == nullptr) {
    return ReadLogFolder(log_folder());
  }
  std::vector<std::string> lines;
  SplitLogText(memory_->Text(), lines);
  return lines;
}

std::vector<std::string> LogCapture::Lines() {
  std::vector<std::string> all = AllLines();
  if (memory_ != nullptr) {
    return all;  // the in-memory start writes no line of its own
  }
  auto end_of_start =
      std::find(all.begin(), all.end(), "T h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime");
  if (end_of_start == all.end()) {
    return all;
  }
  return std::vector<std::string>(end_of_start + 1, all.end());
}

std::vector<std::string> MaskLogLines(const std::vector<std::string>& raw) {
  static const std::regex kStamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ([0-9a-f]{8} )?)");
  std::vector<std::string> out;
  for (const std::string& line : raw) {
    std::smatch m;
    if (std::regex_search(line, m, kStamp)) {
      out.push_back("T " + line.substr(static_cast<std::size_t>(m.length(0))));
    } else {
      out.push_back(line);
    }
  }
  return out;
}

std::vector<std::string> LogCapture::AllLines() {
  return MaskLogLines(RawLines());
}

::testing::AssertionResult LinesInOrder(const std::vector<std::string>& lines,
                                        const std::vector<std::string>& wanted) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    if (at < wanted.size() && line == wanted[at]) {
      ++at;
    }
  }
  if (at == wanted.size()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "missing, in order, from line: " << wanted[at];
}

}  // namespace halvorn::testing
