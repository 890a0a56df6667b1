#include "ctl/last_run.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "util/log_folder_platform.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

// "2023-01-09 16:00:45.123 " before every payload.
constexpr std::size_t kTimestampLength = 23;
// "0000abcd " before the line's kind letter.
constexpr std::size_t kThreadIdLength = 9;
// "YYYY-MM-DD_hh.mm.ss" in a file name.
constexpr std::size_t kStartStampLength = 19;
// A log file is rotated at 1 MiB; anything much larger is not one of ours.
constexpr std::uintmax_t kMaxReadSize = 4u << 20;
constexpr const char* kJobExitLine = "h : - CTaskAuthModule::doJob";

struct LogLine {
  std::string_view time;
  std::string_view body;  // "i :   text", "h : - tag"
};

std::optional<LogLine> ParseLine(std::string_view line) {
  if (line.size() < kTimestampLength + 1 + kThreadIdLength || line[kTimestampLength] != ' ') {
    return std::nullopt;
  }
  return LogLine{line.substr(0, kTimestampLength),
                 line.substr(kTimestampLength + 1 + kThreadIdLength)};
}

// The outcome an information or error line ends a run with.
std::optional<AuthOutcome> OutcomeOf(std::string_view body) {
  constexpr std::string_view kSeparator = " :   ";
  if (body.size() < 1 + kSeparator.size() || body.substr(1, kSeparator.size()) != kSeparator) {
    return std::nullopt;
  }
  const std::optional<AuthOutcome> outcome =
      AuthOutcomeByMessage(body.substr(1 + kSeparator.size()));
  if (!outcome) {
    return std::nullopt;
  }
  const char kind = AuthOutcomeInfo(*outcome).log_code == LogError ? 'e' : 'i';
  return body[0] == kind ? outcome : std::nullopt;
}

// The start stamp and rotation index of a log file name; none for another name.
struct LogName {
  std::string stamp;
  unsigned index = 0;  // 0: the file being written
};

std::optional<LogName> ParseName(const std::string& name) {
  const std::string head = std::string(LogHelper::kFilePrefix) + LogHelper::kLogSubFolder + "_";
  const std::string tail = LogHelper::kFileExtension;
  if (name.size() < head.size() + kStartStampLength + tail.size() || name.rfind(head, 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return std::nullopt;
  }
  LogName parsed;
  parsed.stamp = name.substr(head.size(), kStartStampLength);
  const std::string rest = name.substr(head.size() + kStartStampLength,
                                       name.size() - head.size() - kStartStampLength - tail.size());
  if (rest.empty()) {
    return parsed;
  }
  if (rest.size() < 2 || rest.size() > 4 || rest[0] != '.') {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') {
      return std::nullopt;
    }
    parsed.index = parsed.index * 10 + static_cast<unsigned>(rest[i] - '0');
  }
  return parsed.index > 0 ? std::optional<LogName>(parsed) : std::nullopt;
}

bool ReadFile(const std::filesystem::path& path, std::string* text) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxReadSize) {
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

LastRun FindLastRunInText(std::string_view text) {
  LastRun run;
  run.status = LastRun::Status::kNoRun;
  std::optional<LogLine> previous;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) {
      run.cut_line = true;  // the last line has no line end: it is not whole
      break;
    }
    std::string_view line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    begin = end + 1;
    const std::optional<LogLine> parsed = ParseLine(line);
    if (parsed && parsed->body == kJobExitLine && previous) {
      if (const std::optional<AuthOutcome> outcome = OutcomeOf(previous->body)) {
        run.status = LastRun::Status::kFound;
        run.outcome = outcome;
        run.time = std::string(previous->time);
      }
    }
    previous = parsed;
  }
  return run;
}

std::vector<std::string> NewestStartFiles(const std::vector<std::string>& names) {
  std::vector<std::pair<LogName, std::string>> parsed;
  std::string newest;
  for (const std::string& name : names) {
    if (std::optional<LogName> log = ParseName(name)) {
      newest = std::max(newest, log->stamp);
      parsed.emplace_back(std::move(*log), name);
    }
  }
  std::erase_if(parsed, [&](const auto& entry) { return entry.first.stamp != newest; });
  std::sort(parsed.begin(), parsed.end(),
            [](const auto& a, const auto& b) { return a.first.index < b.first.index; });
  std::vector<std::string> files;
  files.reserve(parsed.size());
  for (auto& entry : parsed) {
    files.push_back(std::move(entry.second));
  }
  return files;
}

LastRun FindLastRun(LogFolderPlatform& fs, const std::string& folder) {
  LastRun run;
  run.folder = folder;
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
    run.status = LastRun::Status::kNoFolder;
    return run;
  }
  std::vector<std::string> names;
  for (const LogFileEntry& entry :
       fs.FindFiles(folder, LogHelper::kFilePrefix, LogHelper::kFileExtension)) {
    names.push_back(entry.name);
  }
  const std::vector<std::string> files = NewestStartFiles(names);
  if (files.empty()) {
    run.status = LastRun::Status::kNoLogFile;
    return run;
  }
  // The file being written first; when the run's lines went out with a rotation, the newest
  // rotated file holds them.
  bool cut_line = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string text;
    if (!ReadFile(std::filesystem::path(folder) / files[i], &text)) {
      if (i == 0) {
        run.status = LastRun::Status::kUnreadable;
        run.log_file = files[0];
        return run;
      }
      continue;
    }
    LastRun found = FindLastRunInText(text);
    if (i == 0) {
      cut_line = found.cut_line;
    }
    if (found.status == LastRun::Status::kFound || i + 1 == files.size()) {
      found.folder = folder;
      found.log_file = found.status == LastRun::Status::kFound ? files[i] : files[0];
      found.cut_line = cut_line;
      return found;
    }
  }
  run.status = LastRun::Status::kNoRun;
  run.log_file = files[0];
  run.cut_line = cut_line;
  return run;
}

}  // namespace halvorn
