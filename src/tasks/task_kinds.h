// The two task kinds of the service.

#ifndef HALVORN_TASKS_TASK_KINDS_H_
#define HALVORN_TASKS_TASK_KINDS_H_

#include <cstdint>
#include <functional>

#include "tasks/task.h"

namespace halvorn {

// The authorisation job body: one run of the modem authorisation. Sets *retry to true to ask
// for another run; returns false when the job could not begin. It need not touch bRunning.
using AuthModuleJob = std::function<bool(bool* retry)>;

// Installs the job that every CTaskAuthModule runs and returns the one it replaces. The
// authorisation subsystem installs its job once at start-up, before tasks run.
//
// Not wired yet: until a job is installed (or after an empty one is), CTaskAuthModule::doJob
// reports "could not begin" (false), asks for no retry and logs nothing, so the manager drops
// the task after one run. Nothing is authorised in that state.
AuthModuleJob SetAuthModuleJob(AuthModuleJob job);

// Authorises the modem and makes sure its radio is on (factory code 1).
class CTaskAuthModule : public CTask {
 public:
  bool doJob(bool* retry) override;
  const char* getName() const override;
  std::int32_t getTypeId() const override;
};

// Ends the owner's worker loop after this task (factory code 0). Reports the same type id as
// CTaskAuthModule, so the manager absorbs it into a filed authorisation task of the same
// priority.
class CTaskStopWork : public CTask {
 public:
  bool doJob(bool* retry) override;
  const char* getName() const override;
  std::int32_t getTypeId() const override;
};

}  // namespace halvorn

#endif  // HALVORN_TASKS_TASK_KINDS_H_
