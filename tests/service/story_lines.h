// The stories of the service programs (halvornd on Linux, halvorn.exe under Wine), told as
// timelines on the terminal: which of the job's log lines are worth a line of the timeline,
// and the lines that mark the steps of a run. The log's text is the same on both builds.

#ifndef HALVORN_TESTS_SERVICE_STORY_LINES_H_
#define HALVORN_TESTS_SERVICE_STORY_LINES_H_

#include <string_view>

namespace halvorn::testing {

inline constexpr const char* kStoryJobEndLine = "T h : - CTaskAuthModule::doJob";
inline constexpr const char* kStoryRemovedLine = "T i :   after  delete task list size = 0";
inline constexpr const char* kStorySetLine = "T i :   SET MBIM FUN SUCCESS!";
inline constexpr const char* kStoryExitLine = "T i :   Halvorn: Main: Exit";

// A prefix of a masked log line and the heading it is shown under.
struct StoryLine {
  const char* prefix;
  const char* heading;
};

inline constexpr StoryLine kStoryLines[] = {
    {"T i :   find MBIM device : ", "check"},
    {"T i :   IsTessaryMBIMDevcieExist ", "check"},
    {"T i :   Read IsDisableVerify = ", "check"},
    {"T i :   SMBIOS system version = ", "check"},
    {"T i :   VerifyPlatform return = ", "check"},
    {"T i :   Valid Modem in this platform.", "check"},
    {"T i :   Invalid Modem in this platform.", "check"},
    {"T i :   isFccMode ", "check"},
    {"T i :   GetMbimCfun Mode : ", "level"},
    {"T i :   MBIM FUN 1!", "level"},
    {"T i :   SET MBIM FUN SUCCESS!", "level"},
    {"T i :   SetMbimCfun failed", "level"},
    {"T i :   GetMbimCfun failed", "level"},
    {"T i :   PowerChanged: Event Type = 4 ", "sleep"},
    {"T i :   PowerChanged: Event Type = 18 ", "resume"},
    {"T i :   CTaskFactory createTask TASK_TYPE_AUTH_MODULE", "job"},
    {"T i :   SERVICE_CONTROL_STOP", "stop"},
    {"T i :   Halvorn: Main: Exit", "stop"},
};

// The heading of a masked log line worth showing, or null.
inline const char* StoryHeading(std::string_view line) {
  for (const StoryLine& s : kStoryLines) {
    if (line.starts_with(s.prefix)) {
      return s.heading;
    }
  }
  return nullptr;
}

// The text of a masked line as the timeline shows it: without its "T i :   " (the level and
// the indent; the thread id and the time are masked away already).
inline std::string_view StoryText(std::string_view line) {
  return line.size() > 8 ? line.substr(8) : std::string_view{};
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_STORY_LINES_H_
