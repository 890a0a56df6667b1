#include "service/task_wiring.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>
#include <utility>

#include "tasks/task_factory.h"

namespace halvorn {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

GiveUpAction GiveUpActionFor(const char* name) {
  if (EqualsIgnoreCase(name, "CTaskAuthModule")) {
    return GiveUpAction::kRestartService;
  }
  // No task of this service has this name; the policy keeps the firmware task's rule because
  // the manager's give-up policy is defined for both task names.
  if (EqualsIgnoreCase(name, "CTaskUnzipFirmware")) {
    return GiveUpAction::kClearSamePriority;
  }
  return GiveUpAction::kGiveUp;
}

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
