// The task model: the base of every piece of work the service runs, and the codes and ids
// that name tasks.

#ifndef HALVORN_TASKS_TASK_H_
#define HALVORN_TASKS_TASK_H_

#include <cstdint>

namespace halvorn {

class CTaskManager;

// Priorities under which the manager files tasks; a lower value runs first.
inline constexpr std::int32_t TASK_PRIORITY_HIGH = 0;
inline constexpr std::int32_t TASK_PRIORITY_MEDIUM = 1;
inline constexpr std::int32_t TASK_PRIORITY_LOW = 2;

// Type ids. The manager's duplicate rule compares them (with the priority); of these only
// TASK_TYPE_ID_AUTH_MODULE is reported by a kind of this system, by both kinds.
inline constexpr std::int32_t TASK_TYPE_ID_CHANGE_USB_MODE = 100;
inline constexpr std::int32_t TASK_TYPE_ID_CHECK_STATUS = 200;
inline constexpr std::int32_t TASK_TYPE_ID_QUICK_BOOT = 300;
inline constexpr std::int32_t TASK_TYPE_ID_UNZIP_FIRMWARE = 400;
inline constexpr std::int32_t TASK_TYPE_ID_UPGRADE = 500;
inline constexpr std::int32_t TASK_TYPE_ID_UPGRADE_FROM_EDL = 600;
inline constexpr std::int32_t TASK_TYPE_ID_UPGRADE_FROM_NORMAL = 700;
inline constexpr std::int32_t TASK_TYPE_ID_AUTH_MODULE = 800;

// Kind codes of CTaskFactory::createTask.
inline constexpr std::int32_t TASK_TYPE_STOP_WORK = 0;
inline constexpr std::int32_t TASK_TYPE_AUTH_MODULE = 1;

// A unit of work run by CTaskManager on its worker thread.
//
// Contract of doJob, as the manager uses it: the manager sets *retry to false and calls
// doJob on its worker thread, without holding its lock, only while iRetryTimes > 0. Setting
// *retry to true asks for another run of the same object after a pause; leaving it false
// means the task is finished and will be destroyed. The result says whether the job reached
// a decision (true) or could not begin (false); the manager does not act on it. A kind keeps
// bRunning true exactly while its doJob runs, on every way out included.
//
// Once a task has been handed to CTaskManager::addTask, its iRetryTimes is read and written
// only under the manager's lock (see CTaskManager); iPriority and pOwner no longer change.
class CTask {
 public:
  static constexpr std::int32_t kDefaultRetryTimes = 10;

  CTask() = default;
  CTask(const CTask&) = delete;
  CTask& operator=(const CTask&) = delete;
  virtual ~CTask() = default;

  virtual bool doJob(bool* retry) = 0;
  // The class name, with static lifetime. Used in every log text about the task and by the
  // manager's give-up policy.
  virtual const char* getName() const = 0;
  // Used only by the manager's duplicate rule.
  virtual std::int32_t getTypeId() const = 0;

  CTaskManager* pOwner = nullptr;  // not owned
  bool bRunning = false;
  std::int32_t iRetryTimes = kDefaultRetryTimes;  // runs left
  std::int32_t iPriority = TASK_PRIORITY_LOW;
};

}  // namespace halvorn

#endif  // HALVORN_TASKS_TASK_H_
