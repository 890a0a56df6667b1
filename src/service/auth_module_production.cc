// Kept apart from auth_module_wiring.cc: only programs that run the real modem helper pull
// this in.

#include "mbn/mbn_helper.h"
#include "service/auth_module_wiring.h"
#include "service/process_wiring.h"

namespace halvorn {

void InstallProductionAuthModuleJob() {
  SetAuthModuleJob(MakeAuthModuleJob(AuthModuleCollaboratorsFor(ProcessModemHelper())));
}

}  // namespace halvorn
