#include "service/auth_module_wiring.h"

#include <memory>
#include <utility>

#include "mbn/mbn_helper.h"

namespace halvorn {

AuthModuleCollaborators AuthModuleCollaboratorsFor(CMbnWinRtHelper& modem,
                                                   const AuthModulePlatforms& platforms) {
  AuthModuleCollaborators with(platforms);
  with.isMbimModemExist = [&modem] { return modem.IsMbimModemExist(); };
  with.getMbimCfun = [&modem](std::int32_t* level) { return modem.GetMbimCfun(level); };
  with.setMbimCfun = [&modem] { return modem.SetMbimCfun(); };
  return with;
}

AuthModuleJob MakeAuthModuleJob(AuthModuleCollaborators with) {
  auto shared = std::make_shared<const AuthModuleCollaborators>(std::move(with));
  return [shared](bool* retry) { return RunAuthModuleJob(*shared, retry); };
}

}  // namespace halvorn
