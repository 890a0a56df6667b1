#include "service/task_wiring.h"

#include <memory>
#include <utility>

#include "tasks/task_factory.h"

namespace halvorn {

std::function<void()> QueueAuthModuleTaskOn(std::function<CTaskManager*()> manager) {
  return [manager = std::move(manager)] {
    CTaskManager* owner = manager ? manager() : nullptr;
    if (owner == nullptr) {
      return;
    }
    if (std::unique_ptr<CTask> task = CTaskFactory::createTask(owner, TASK_TYPE_AUTH_MODULE)) {
      owner->addTask(std::move(task));
    }
  };
}

}  // namespace halvorn
