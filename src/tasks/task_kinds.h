// The two task kinds of the service.

#ifndef HALVORN_TASKS_TASK_KINDS_H_
#define HALVORN_TASKS_TASK_KINDS_H_

#include <cstdint>

#include "tasks/task.h"

namespace halvorn {

// Authorises the modem and makes sure its radio is on (factory code 1). Its job is the one its
// owner carries (CTaskManager::authModuleJob, given by the service through the manager's hooks).
//
// Not wired: without an owner, or while the owner has no job, doJob reports "could not begin"
// (false), asks for no retry and logs nothing, so the manager drops the task after one run.
// Nothing is authorised in that state.
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
