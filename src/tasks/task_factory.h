// Makes tasks from their kind codes.

#ifndef HALVORN_TASKS_TASK_FACTORY_H_
#define HALVORN_TASKS_TASK_FACTORY_H_

#include <cstdint>
#include <memory>

#include "tasks/task.h"

namespace halvorn {

class CTaskFactory {
 public:
  CTaskFactory() = delete;

  // A new task of kind `code` (TASK_TYPE_STOP_WORK or TASK_TYPE_AUTH_MODULE) run by `owner`,
  // with bRunning false, iRetryTimes 10 and iPriority TASK_PRIORITY_LOW; null for any other
  // code. The caller owns the task and hands it to owner->addTask.
  static std::unique_ptr<CTask> createTask(CTaskManager* owner, std::int32_t code);
};

}  // namespace halvorn

#endif  // HALVORN_TASKS_TASK_FACTORY_H_
