// Binds the authorisation job to the modem helper.

#ifndef HALVORN_SERVICE_AUTH_MODULE_WIRING_H_
#define HALVORN_SERVICE_AUTH_MODULE_WIRING_H_

#include "auth/auth_module_job.h"
#include "tasks/task_manager.h"

namespace halvorn {

class CMbnWinRtHelper;

// The production collaborators over `platforms` (AuthModulePlatforms::System() in the service)
// with the modem operations of `modem`; the modem and the platforms must outlive every run of
// the job.
AuthModuleCollaborators AuthModuleCollaboratorsFor(CMbnWinRtHelper& modem,
                                                   const AuthModulePlatforms& platforms);

// The job body that runs RunAuthModuleJob with `with`: what a manager's hooks carry as the job
// of its authorisation tasks (TaskManagerHooks::authModuleJob).
AuthModuleJob MakeAuthModuleJob(AuthModuleCollaborators with);

}  // namespace halvorn

#endif  // HALVORN_SERVICE_AUTH_MODULE_WIRING_H_
