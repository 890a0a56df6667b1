// The process-wide task queue and runner.

#ifndef HALVORN_TASKS_TASK_MANAGER_H_
#define HALVORN_TASKS_TASK_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "tasks/auto_reset_event.h"
#include "tasks/task.h"

namespace halvorn {

// The job body of an authorisation task: one run of the modem authorisation. Sets *retry to
// true to ask for another run; returns false when the job could not begin. It need not touch
// bRunning.
using AuthModuleJob = std::function<bool(bool* retry)>;

// What the worker does with a task that it picks with no runs left. Each action writes its own
// line first.
enum class GiveUpAction {
  // "... ,give up the Task": the task is removed and destroyed through popTask.
  kGiveUp,
  // "... ,will clear same Priority Task": every task of its priority loses its runs, then the
  // task is removed and destroyed.
  kClearSamePriority,
  // "CommonUtil::RestartService();": restartService is called and the worker ends; the task
  // stays filed.
  kRestartService,
};

// What the manager needs from outside the task engine. The defaults of the clock, the sleeper
// and the thread starter are the production ones; the others are bound by the service
// (src/service/) and are skipped while empty.
struct TaskManagerHooks {
  // Milliseconds of a monotonic clock.
  static std::uint64_t SystemTickCountMs();
  // Blocks the calling thread for `ms` milliseconds.
  static void SystemSleepMs(std::uint32_t ms);
  // Starts `body` on a new std::thread stored in *thread. Returns 0, or the error code of the
  // thread library when no thread could be started.
  static std::uint32_t SystemStartThread(std::function<void()> body, std::thread* thread);

  // Prepares the modem helper, then starts its account watcher. Used only for the process-wide
  // manager, once, by getInstance. The watcher's handler may call getInstance from any thread,
  // also while startAccountWatcher is still running.
  std::function<void()> initModemHelper;
  std::function<void()> startAccountWatcher;
  // Restarts the service; called on the worker thread when the give-up action is
  // kRestartService.
  std::function<void()> restartService;
  // Chooses the give-up action by the task's name (getName); empty: kGiveUp for every task.
  // Called on the worker thread while no lock of the manager is held.
  std::function<GiveUpAction(const char* name)> giveUpPolicy;
  // The job that every CTaskAuthModule owned by this manager runs. Empty: not wired (see
  // CTaskAuthModule).
  AuthModuleJob authModuleJob;

  std::function<std::uint64_t()> tickCountMs = &SystemTickCountMs;
  std::function<void(std::uint32_t ms)> sleepMs = &SystemSleepMs;
  // Starts the worker. A replacement may leave *thread empty (the manager then has no thread
  // to join); it returns non-zero to report that no worker was started.
  std::function<std::uint32_t(std::function<void()> body, std::thread* thread)> startThread =
      &SystemStartThread;
};

// One entry of the manager's set: the tasks of one priority in the order they were filed.
struct TaskElement {
  std::int32_t iPriority = 0;
  std::list<std::unique_ptr<CTask>> taskList;  // owns the tasks
};

// Files tasks by priority, merges duplicates (same priority and type id) and runs the filed
// tasks one at a time on its worker thread: lowest priority value first, first come first
// within a priority. A task that asks for a retry runs again after 5 seconds while it has runs
// left; a task picked with none left is given up by the action that the hooks' give-up
// policy chooses for its name (GiveUpAction).
//
// Locking: csTask guards taskSet, every taskList and the iRetryTimes of every filed task; the
// worker lowers iRetryTimes under it too, so a merge that raises the count and a run that
// lowers it never lose each other's change. Log lines are written while csTask is held (the
// logging lock is taken second; logging never calls back here). doJob and the pauses run
// without it. Only the worker removes or destroys filed tasks, so the pointer getTask returns
// stays valid on the worker after the lock is left.
//
// Operations write an entry trace line under their tag; an early return writes no exit line,
// only the paths that reach an operation's last step do.
class CTaskManager {
 public:
  static constexpr std::uint32_t kRetryPauseMs = 5000;
  static constexpr std::uint32_t kFinishedPauseMs = 500;

  // The process-wide manager, made on the first call and never destroyed. Every thread gets
  // the same, fully constructed manager, also a thread that calls while the first call is
  // still under way (see task_manager.cc for why this cannot deadlock).
  static CTaskManager* getInstance();

  // Sets the hooks the process-wide manager is made with. Call before the first getInstance;
  // returns false, changing nothing, once the manager exists.
  static bool installProcessHooks(TaskManagerHooks process_hooks);

  // A manager with its own hooks. It starts no account watcher; getInstance does that for the
  // process-wide one.
  explicit CTaskManager(TaskManagerHooks injected);
  CTaskManager(const CTaskManager&) = delete;
  CTaskManager& operator=(const CTaskManager&) = delete;
  // Ends the worker loop at its next pass and waits for it. The process-wide manager is never
  // destroyed.
  ~CTaskManager();

  // Starts the worker (once per manager; later calls do nothing). When no thread can be
  // started, logs "Create task deal thread failed, errcode(0x%x).\r\n"; no task will run.
  void init();

  // Takes ownership of `task` in every case: files it last in its priority's list, or, when a
  // task of the same priority and type id is filed, destroys it (raising the filed task's
  // iRetryTimes from 0 to 1). Wakes the worker. False only for a null task.
  bool addTask(std::unique_ptr<CTask> task);

  // The first task of the first non-empty entry, left filed; null when none.
  CTask* getTask();

  // Removes and destroys that very filed task. True when done or `task` is null; false when it
  // is not filed (nothing is touched then).
  bool popTask(CTask* task);

  // Sets iRetryTimes of every task filed at `priority` to 0. Always true.
  bool clearSameProrityTask(std::int32_t priority);

  // Logs every filed task with a running number.
  void printTaskList();

  // The worker loop. Returns 0 when a stop-work task ended it, 1 without a manager or after
  // restarting the service.
  static unsigned dealTaskThread(CTaskManager* manager);

  // Makes the worker loop end before its next pass (the stop-work job).
  void clearRunFlag();

  // The job of this manager's authorisation tasks (TaskManagerHooks::authModuleJob).
  const AuthModuleJob& authModuleJob() const { return hooks.authModuleJob; }

 private:
  unsigned runWorkerLoop();
  std::int32_t retryTimesOf(CTask* task);
  // Applies the give-up policy to `task`; true when the worker must end.
  bool giveUp(CTask* task, std::int32_t retry_times);
  // Removes and destroys a filed task without logging.
  void removeTask(CTask* task);
  void startModemWatcher();

  const TaskManagerHooks hooks;
  std::mutex csTask;
  std::map<std::int32_t, TaskElement> taskSet;  // ascending by priority, entries never erased
  std::atomic<bool> bRun{false};
  std::atomic<bool> bWorkerStarted{false};
  AutoResetEvent hTaskEvent;
  std::thread hDealThread;
};

}  // namespace halvorn

#endif  // HALVORN_TASKS_TASK_MANAGER_H_
