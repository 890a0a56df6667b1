#include "tasks/task_manager.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "util/log_helper.h"
#include "util/printf_format.h"

namespace halvorn {
namespace {

constexpr const char* kTagConstructor = "CTaskManager::CTaskManager";
constexpr const char* kTagInit = "CTaskManager::init";
constexpr const char* kTagAddTask = "CTaskManager::addTask";
constexpr const char* kTagGetTask = "CTaskManager::getTask";
constexpr const char* kTagPopTask = "CTaskManager::popTask";
constexpr const char* kTagClear = "CTaskManager::clearSameProrityTask";
constexpr const char* kTagPrint = "CTaskManager::printTaskList";
constexpr const char* kTagDeal = "CTaskManager::dealTaskThread";
constexpr const char* kTagRetry = "CTaskManager::retry";

constexpr std::size_t kInitMessageSize = 256;

std::int32_t SizeOf(const std::list<std::unique_ptr<CTask>>& list) {
  return static_cast<std::int32_t>(list.size());
}

// The process-wide manager.
//
// Why getInstance cannot deadlock: the manager is published (g_instance) as soon as its
// constructor has returned, and only then, outside g_instance_lock, does getInstance prepare
// and start the account watcher. The watcher's handler therefore runs only after publication,
// and its getInstance takes the lock-free path and returns the finished manager at once: it
// never waits for anything, so no wait cycle can form, whether the handler runs on another
// thread while startAccountWatcher is still running, on the calling thread inside it, or
// while startAccountWatcher waits for the handler. A function-local static would instead make
// such a handler wait for the whole first call (deadlocking if the start waited for it, and
// re-entering the initialisation if the handler ran on the same thread). The constructor
// itself calls nothing that can reach getInstance, so a thread waiting on g_instance_lock (a
// second concurrent first caller) waits only for the constructor and then gets the same
// manager. The release store and acquire load make the constructed manager visible in full.
std::mutex g_instance_lock;
std::atomic<CTaskManager*> g_instance{nullptr};

// Guarded by g_instance_lock.
TaskManagerHooks& ProcessHooks() {
  static TaskManagerHooks hooks;
  return hooks;
}

}  // namespace

std::uint64_t TaskManagerHooks::SystemTickCountMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

void TaskManagerHooks::SystemSleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t TaskManagerHooks::SystemStartThread(std::function<void()> body, std::thread* thread) {
  // std::thread reports a failed start only by throwing; it is turned into a result here.
  try {
    *thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    return static_cast<std::uint32_t>(error.code().value());
  }
  return 0;
}

CTaskManager* CTaskManager::getInstance() {
  if (CTaskManager* manager = g_instance.load(std::memory_order_acquire)) {
    return manager;
  }
  CTaskManager* created = nullptr;
  {
    std::lock_guard lock(g_instance_lock);
    if (CTaskManager* manager = g_instance.load(std::memory_order_acquire)) {
      return manager;
    }
    created = new CTaskManager(ProcessHooks());  // never destroyed
    g_instance.store(created, std::memory_order_release);
  }
  created->startModemWatcher();
  return created;
}

bool CTaskManager::installProcessHooks(TaskManagerHooks process_hooks) {
  std::lock_guard lock(g_instance_lock);
  if (g_instance.load(std::memory_order_acquire) != nullptr) {
    return false;
  }
  ProcessHooks() = std::move(process_hooks);
  return true;
}

CTaskManager::CTaskManager(TaskManagerHooks injected) : hooks(std::move(injected)) {
  LogHelper::TraceEnter(kTagConstructor);  // the constructor writes no exit line
}

CTaskManager::~CTaskManager() {
  bRun = false;
  hTaskEvent.Set();
  if (hDealThread.joinable()) {
    hDealThread.join();
  }
}

void CTaskManager::startModemWatcher() {
  if (hooks.initModemHelper) {
    hooks.initModemHelper();
  }
  if (hooks.startAccountWatcher) {
    hooks.startAccountWatcher();
  }
}

void CTaskManager::init() {
  LogHelper::TraceEnter(kTagInit);
  // A second worker would run tasks concurrently and destroy a task under the other's feet.
  if (bWorkerStarted.exchange(true)) {
    LogHelper::TraceLeave(kTagInit);
    return;
  }
  bRun = true;
  const std::uint32_t error = hooks.startThread([this] { dealTaskThread(this); }, &hDealThread);
  if (error != 0) {
    // bRun stays true; no task will run.
    char text[kInitMessageSize];
    const PrintfArg args[] = {PrintfArg(error)};
    FormatPrintf(text, sizeof text, "Create task deal thread failed, errcode(0x%x).\r\n", args);
    LogHelper::Print(LogInfo, kTagInit, "%s", text);
  }
  LogHelper::TraceLeave(kTagInit);
}

void CTaskManager::clearRunFlag() {
  bRun = false;
}

bool CTaskManager::addTask(std::unique_ptr<CTask> task) {
  LogHelper::TraceEnter(kTagAddTask);
  if (!task) {
    return false;
  }
  std::lock_guard lock(csTask);
  for (auto& [priority, element] : taskSet) {
    LogHelper::Print(LogInfo, kTagAddTask,
                     "taskElement.iPriority = %d(0 TASK_PRIORITY_HIGH ; 1 TASK_PRIORITY_MEDIUM ; 2 "
                     "TASK_PRIORITY_LOW);  list size = %d",
                     priority, SizeOf(element.taskList));
    if (priority != task->iPriority) {
      continue;
    }
    LogHelper::Print(LogInfo, kTagAddTask,
                     "find equel priority task Element iPriority = %d; list old size = %d",
                     priority, SizeOf(element.taskList));
    const std::int32_t type_id = task->getTypeId();
    auto same =
        std::find_if(element.taskList.begin(), element.taskList.end(),
                     [type_id](const auto& filed) { return filed->getTypeId() == type_id; });
    if (same != element.taskList.end()) {
      CTask* filed = same->get();
      if (filed->iRetryTimes != 0) {
        LogHelper::Print(LogInfo, kTagAddTask,
                         "find the same task ID, and the retry times(%d) != 0 ,so do not add the "
                         "new task(%d)",
                         filed->iRetryTimes, type_id);
      } else {
        LogHelper::Print(LogInfo, kTagAddTask,
                         "find the same task ID, and the retry times(%d) == 0 ,so do not add the "
                         "new task(%d),but add 1 ",
                         filed->iRetryTimes, type_id);
        filed->iRetryTimes += 1;
      }
      task.reset();
    } else {
      LogHelper::Print(LogInfo, kTagAddTask,
                       "the same task type id(%d < 100 TASK_TYPE_ID_CHANGE_USB_MODE ; 200 "
                       "TASK_TYPE_ID_CHECK_STATUS ; 300 TASK_TYPE_ID_QUICK_BOOT ; 400 "
                       "TASK_TYPE_ID_UNZIP_FIRMWARE ; 500 TASK_TYPE_ID_UPGRADE ; 600 "
                       "TASK_TYPE_ID_UPGRADE_FROM_EDL ; 700 TASK_TYPE_ID_UPGRADE_FROM_NORMAL>) is "
                       "not exist , add the task ",
                       type_id);
      const char* name = task->getName();
      element.taskList.push_back(std::move(task));
      LogHelper::Print(LogInfo, kTagAddTask,
                       "find equel priority task Element iPriority = %d; push back new task :%s "
                       ",after that list size = %d",
                       priority, name, SizeOf(element.taskList));
    }
    hTaskEvent.Set();
    return true;
  }
  LogHelper::Print(
      LogInfo, kTagAddTask,
      "there are not exist iPriority = %d task : %s ,add new TaskElement to set, task "
      "type id = %d(100 TASK_TYPE_ID_CHANGE_USB_MODE ; 200 TASK_TYPE_ID_CHECK_STATUS ; "
      "300 TASK_TYPE_ID_QUICK_BOOT ; 400 TASK_TYPE_ID_UNZIP_FIRMWARE ; 500 "
      "TASK_TYPE_ID_UPGRADE ; 600 TASK_TYPE_ID_UPGRADE_FROM_EDL ; 700 "
      "TASK_TYPE_ID_UPGRADE_FROM_NORMAL)",
      task->iPriority, task->getName(), task->getTypeId());
  TaskElement& element = taskSet[task->iPriority];
  element.iPriority = task->iPriority;
  element.taskList.push_back(std::move(task));
  hTaskEvent.Set();
  LogHelper::TraceLeave(kTagAddTask);
  return true;
}

CTask* CTaskManager::getTask() {
  LogHelper::TraceEnter(kTagGetTask);
  std::lock_guard lock(csTask);
  for (auto& [priority, element] : taskSet) {
    LogHelper::Print(LogInfo, kTagGetTask, "find taskElement.iPriority = %d; list size = %d ",
                     priority, SizeOf(element.taskList));
    if (element.taskList.empty()) {
      continue;
    }
    CTask* task = element.taskList.front().get();
    LogHelper::Print(LogInfo, kTagGetTask, "find taskElement.type = %s; ", task->getName());
    LogHelper::Print(LogInfo, kTagGetTask, "after  front list size = %d; ",
                     SizeOf(element.taskList));
    return task;
  }
  LogHelper::TraceLeave(kTagGetTask);
  return nullptr;
}

bool CTaskManager::popTask(CTask* task) {
  LogHelper::TraceEnter(kTagPopTask);
  if (task == nullptr) {
    return true;
  }
  {
    std::lock_guard lock(csTask);
    for (auto& [priority, element] : taskSet) {
      LogHelper::Print(LogInfo, kTagPopTask, "find taskElement.iPriority = %d; list size = %d ",
                       priority, SizeOf(element.taskList));
      auto it = std::find_if(element.taskList.begin(), element.taskList.end(),
                             [task](const auto& filed) { return filed.get() == task; });
      if (it == element.taskList.end()) {
        continue;
      }
      // The argument is dereferenced only now that it is known to be filed.
      LogHelper::Print(LogInfo, kTagPopTask,
                       "find the same task,will delete the task %s(%s in list)", task->getName(),
                       (*it)->getName());
      it->reset();
      element.taskList.erase(it);
      LogHelper::Print(LogInfo, kTagPopTask, "after  delete task list size = %d",
                       SizeOf(element.taskList));
      return true;
    }
  }
  LogHelper::TraceLeave(kTagPopTask);
  return false;
}

bool CTaskManager::clearSameProrityTask(std::int32_t priority) {
  LogHelper::TraceEnter(kTagClear);
  {
    std::lock_guard lock(csTask);
    for (auto& [entry_priority, element] : taskSet) {
      LogHelper::Print(LogInfo, kTagClear,
                       "taskElement.iPriority = %d(0 TASK_PRIORITY_HIGH ; 1 TASK_PRIORITY_MEDIUM ; "
                       "2 TASK_PRIORITY_LOW);  list size = %d",
                       entry_priority, SizeOf(element.taskList));
      if (entry_priority != priority) {
        continue;
      }
      LogHelper::Print(LogInfo, kTagClear,
                       "find equel priority task Element iPriority = %d; list old size = %d",
                       entry_priority, SizeOf(element.taskList));
      std::int32_t number = 1;
      for (auto& task : element.taskList) {
        LogHelper::Print(LogInfo, kTagClear, "will clean retry times task[%d] : %s", number++,
                         task->getName());
        task->iRetryTimes = 0;
      }
      break;
    }
  }
  LogHelper::TraceLeave(kTagClear);
  return true;
}

void CTaskManager::printTaskList() {
  LogHelper::TraceEnter(kTagPrint);
  {
    std::lock_guard lock(csTask);
    LogHelper::Print(LogInfo, kTagPrint,
                     "\r\n================= print task list begin ========================\r\n");
    std::int32_t number = 1;
    for (auto& [priority, element] : taskSet) {
      for (auto& task : element.taskList) {
        LogHelper::Print(LogInfo, kTagPrint,
                         "[%d]:iPriority %d(0 TASK_PRIORITY_HIGH ; 1 TASK_PRIORITY_MEDIUM ; 2 "
                         "TASK_PRIORITY_LOW) %s , retry time = %d",
                         number++, priority, task->getName(), task->iRetryTimes);
      }
    }
    LogHelper::Print(LogInfo, kTagPrint,
                     "\r\n================= print task list end ========================\r\n");
  }
  LogHelper::TraceLeave(kTagPrint);
}

unsigned CTaskManager::dealTaskThread(CTaskManager* manager) {
  LogHelper::TraceEnter(kTagDeal);
  if (manager == nullptr) {
    return 1;
  }
  return manager->runWorkerLoop();
}

std::int32_t CTaskManager::retryTimesOf(CTask* task) {
  std::lock_guard lock(csTask);
  return task->iRetryTimes;
}

unsigned CTaskManager::runWorkerLoop() {
  while (bRun) {
    CTask* task = getTask();
    if (task == nullptr) {
      hTaskEvent.Wait();  // resets the event
      continue;
    }
    printTaskList();
    const std::int32_t retry_times = retryTimesOf(task);
    if (retry_times <= 0) {
      if (giveUp(task, retry_times)) {
        return 1;
      }
      continue;
    }
    bool retry = false;
    const std::uint64_t start = hooks.tickCountMs();
    task->doJob(&retry);
    const std::uint64_t end = hooks.tickCountMs();
    LogHelper::Print(LogInfo, kTagDeal, "\r\n\r\n Deal Task %s Cast Time %.4fs\r\n",
                     task->getName(), static_cast<double>(end - start) / 1000.0);
    if (retry) {
      LogHelper::TraceEnter(kTagRetry);
      {
        std::lock_guard lock(csTask);
        LogHelper::Print(LogInfo, kTagDeal, "\r\n\r\n retry deal task : %s ,retry times(%d) \r\n",
                         task->getName(), task->iRetryTimes);
        task->iRetryTimes -= 1;
      }
      hooks.sleepMs(kRetryPauseMs);
      LogHelper::TraceLeave(kTagRetry);
      continue;
    }
    hooks.sleepMs(kFinishedPauseMs);
    popTask(task);
  }
  LogHelper::TraceLeave(kTagDeal);
  return 0;
}

bool CTaskManager::giveUp(CTask* task, std::int32_t retry_times) {
  const char* name = task->getName();
  const GiveUpAction action = hooks.giveUpPolicy ? hooks.giveUpPolicy(name) : GiveUpAction::kGiveUp;
  switch (action) {
    case GiveUpAction::kRestartService:
      // The task stays filed and bRun stays true; no worker runs any more in this process.
      LogHelper::Print(LogInfo, kTagDeal, "CommonUtil::RestartService();");
      if (hooks.restartService) {
        hooks.restartService();
      } else {
        LogHelper::Print(LogError, kTagDeal, "RestartService is not bound; no restart.");
      }
      return true;
    case GiveUpAction::kClearSamePriority:
      LogHelper::Print(LogInfo, kTagDeal,
                       "\r\n\r\n deal task : %s ,retry times(%d) <=0 ,will clear same Priority "
                       "Task \r\n",
                       name, retry_times);
      clearSameProrityTask(task->iPriority);
      removeTask(task);
      return false;
    case GiveUpAction::kGiveUp:
      break;
  }
  LogHelper::Print(LogInfo, kTagDeal,
                   "\r\n\r\n deal task : %s ,retry times(%d) <=0 ,give up the Task \r\n", name,
                   retry_times);
  popTask(task);
  return false;
}

void CTaskManager::removeTask(CTask* task) {
  std::lock_guard lock(csTask);
  for (auto& [priority, element] : taskSet) {
    auto it = std::find_if(element.taskList.begin(), element.taskList.end(),
                           [task](const auto& filed) { return filed.get() == task; });
    if (it != element.taskList.end()) {
      element.taskList.erase(it);
      return;
    }
  }
}

}  // namespace halvorn
