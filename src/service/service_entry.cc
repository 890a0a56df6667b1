#include "service/service_entry.h"

#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/registry_platform.h"

namespace halvorn::service {

namespace {

constexpr const char* kTagMain = "wmain";

}  // namespace

std::uint32_t RunServiceProcess(EntryPlatform& platform,
                                const char* build_date,
                                const char* build_time) {
  platform.InstallCrashFilter();
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  LogHelper::Print(LogInfo, kTagMain, "Modem_ServiceMain Entry BUILD %s-%s", build_date,
                   build_time);
  platform.PrepareService();
  const std::uint32_t error = platform.RunDispatcher();
  platform.AwaitServiceMain();
  if (error == 0) {
    LogHelper::Print(LogInfo, kTagMain, "Halvorn: Main: Exit");
    return 0;
  }
  LogHelper::Print(LogInfo, kTagMain,
                   "Halvorn: Main: StartServiceCtrlDispatcher returned error : %d", error);
  return error;
}

void EndServiceProcess(EntryPlatform& platform, std::uint32_t code) {
  LogHelper::Shutdown();
  platform.EndProcessNow(code);
}

}  // namespace halvorn::service
