#include "tasks/task_factory.h"

#include "tasks/task_kinds.h"
#include "util/log_helper.h"

namespace halvorn {

std::unique_ptr<CTask> CTaskFactory::createTask(CTaskManager* owner, std::int32_t code) {
  static constexpr const char* kTag = "CTaskFactory::createTask";
  LogHelper::TraceEnter(kTag);
  std::unique_ptr<CTask> task;
  if (code == TASK_TYPE_AUTH_MODULE) {
    LogHelper::Print(LogInfo, kTag, "CTaskFactory createTask TASK_TYPE_AUTH_MODULE");
    task = std::make_unique<CTaskAuthModule>();
  } else if (code == TASK_TYPE_STOP_WORK) {
    LogHelper::Print(LogInfo, kTag, "CTaskFactory createTask TASK_TYPE_STOP_WORK");
    task = std::make_unique<CTaskStopWork>();
  } else {
    // Only the unknown code writes the exit line; a made task returns without one.
    LogHelper::TraceLeave(kTag);
    return nullptr;
  }
  task->pOwner = owner;
  return task;
}

}  // namespace halvorn
