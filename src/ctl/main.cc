// halvornctl: tells an administrator why the cellular radio is on or off.

#include <iostream>
#include <string>
#include <vector>

#include "ctl/halvornctl.h"
#include "mbn/mbn_helper.h"
#include "mbn/mbn_platform.h"
#include "util/log_folder_platform.h"

int main(int argc, char** argv) {
  using namespace halvorn;
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The modem is reached through the same helper as the service's; its account watcher is
  // never started.
  CMbnWinRtHelper modem(mbn_platform::DefaultRuntime(), nullptr);
  const CtlSystem system{ctl_platform::SystemCtlPlatform(), SystemLogFolderPlatform(),
                         AuthModulePlatforms::System()};
  const int code =
      RunHalvornCtl(args, std::cout, std::cerr, StatusChecksFor(modem, system.checked), system);
  std::cout.flush();
  return code;
}
