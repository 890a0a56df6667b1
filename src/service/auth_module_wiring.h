// Binds the authorisation job to the modem helper and installs it as the job of every
// CTaskAuthModule.

#ifndef HALVORN_SERVICE_AUTH_MODULE_WIRING_H_
#define HALVORN_SERVICE_AUTH_MODULE_WIRING_H_

#include "auth/auth_module_job.h"
#include "tasks/task_kinds.h"

namespace halvorn {

class CMbnWinRtHelper;

// The production collaborators with the modem operations of `modem`, which must outlive every
// run of the job.
AuthModuleCollaborators AuthModuleCollaboratorsFor(CMbnWinRtHelper& modem);

// The job body that runs RunAuthModuleJob with `with`.
AuthModuleJob MakeAuthModuleJob(AuthModuleCollaborators with);

// Installs the job over the process-wide modem helper (CMbnWinRtHelper::Instance). The service
// calls it once at start-up, before the first task runs.
void InstallProductionAuthModuleJob();

}  // namespace halvorn

#endif  // HALVORN_SERVICE_AUTH_MODULE_WIRING_H_
