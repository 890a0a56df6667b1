#include "service/service_host.h"

#include <utility>

#include "service/power_events.h"
#include "tasks/task_factory.h"
#include "tasks/task_manager.h"
#include "util/log_helper.h"

namespace halvorn::service {

namespace {

constexpr const char* kTagServiceMain = "ServiceMain";
constexpr const char* kTagCtrlHandler = "ServiceCtrlHandler";
constexpr const char* kTagReport = "ReportServiceStatus";
constexpr const char* kTagRun = "KService::Run";
constexpr const char* kTagStop = "KService::stop";

bool IsPending(ServiceState state) {
  return state != ServiceState::kRunning && state != ServiceState::kStopped;
}

// Makes a task of kind `code` for `manager` and files it.
void QueueTask(CTaskManager* manager, std::int32_t code) {
  if (manager == nullptr) {
    return;
  }
  if (std::unique_ptr<CTask> task = CTaskFactory::createTask(manager, code)) {
    manager->addTask(std::move(task));
  }
}

}  // namespace

void FillServiceStatus(ServiceState state,
                       std::uint32_t wait_hint,
                       ServiceStatus* status,
                       std::uint32_t* next_check_point) {
  status->dwCurrentState = static_cast<std::uint32_t>(state);
  status->dwWin32ExitCode = 0;  // NO_ERROR
  status->dwWaitHint = wait_hint;
  status->dwControlsAccepted =
      state == ServiceState::kStartPending ? 0 : (kAcceptStop | kAcceptSessionChange);
  status->dwCheckPoint = IsPending(state) ? (*next_check_point)++ : 0;
}

void KService::Run() {
  LogHelper::Print(LogInfo, kTagRun, "KService::Run entry");
  LogHelper::Print(LogInfo, kTagRun, "KService mbn new success!");
  host_.platform_.JoinApartment();
  QueueTask(host_.TaskManager(), TASK_TYPE_AUTH_MODULE);
  hStopEvent.Wait();
  stop();
  LogHelper::Print(LogInfo, kTagRun, "\nKService::Run leave\n");
  host_.platform_.LeaveApartment();
}

void KService::stop() {
  LogHelper::TraceEnter(kTagStop);
  if (CTaskManager* manager = host_.TaskManager()) {
    // The stop-work task alone would be absorbed by a filed authorisation task (both report
    // the same type id) and the worker would go on retrying while the process ends. The run
    // flag makes the worker end after its current job whatever is filed; the task wakes it
    // when it is idle.
    manager->clearRunFlag();
    QueueTask(manager, TASK_TYPE_STOP_WORK);
  }
  LogHelper::TraceLeave(kTagStop);
}

ServiceHost::ServiceHost(ServicePlatform& platform, PowerEvents& power, TaskEngineAccess tasks)
    : platform_(platform), power_(power), tasks_(std::move(tasks)) {}

void ServiceHost::ReportServiceStatus(ServiceState state, std::uint32_t wait_hint) {
  LogHelper::TraceEnter(kTagReport);
  {
    std::lock_guard lock(status_lock_);
    FillServiceStatus(state, wait_hint, &g_ServiceStatus, &g_dwCheckPoint);
    LogHelper::Print(LogInfo, kTagReport, "dwControlsAccepted = 0x%x",
                     g_ServiceStatus.dwControlsAccepted);
    platform_.SetServiceStatus(g_ServiceStatus);
  }
  LogHelper::TraceLeave(kTagReport);
}

ServiceStatus ServiceHost::LastStatus() {
  std::lock_guard lock(status_lock_);
  return g_ServiceStatus;
}

void ServiceHost::ServiceMain() {
  {
    std::lock_guard lock(main_lock_);
    main_state_ = MainState::kRunning;
  }
  RunServiceMain();
  {
    std::lock_guard lock(main_lock_);
    main_state_ = MainState::kReturned;
  }
  main_returned_.notify_all();
}

void ServiceHost::WaitForServiceMainReturn() {
  std::unique_lock lock(main_lock_);
  main_returned_.wait(lock, [this] { return main_state_ != MainState::kRunning; });
}

void ServiceHost::RunServiceMain() {
  LogHelper::TraceEnter(kTagServiceMain);
  LogHelper::Print(LogInfo, kTagServiceMain,
                   "\r\n==================================   Halvorn start "
                   "==============================================\r\n");
  CTaskManager* manager = TaskManager();
  if (manager != nullptr) {
    manager->init();
  }

  g_hStatusHandle = platform_.RegisterControlHandler();
  if (!g_hStatusHandle) {
    LogHelper::Print(LogError, kTagServiceMain, "RegisterServiceCtrlHandler returned error");
    LogHelper::TraceLeave(kTagServiceMain);
    return;
  }
  if (!power_.RegisterAtStart()) {
    LogHelper::Print(LogError, kTagServiceMain, "RegisterSuspendResumeNotification returned error");
  }
  {
    std::lock_guard lock(status_lock_);
    g_ServiceStatus.dwServiceType = kServiceWin32OwnProcess;
    g_ServiceStatus.dwServiceSpecificExitCode = 0;
  }
  ReportServiceStatus(ServiceState::kStartPending, kStartPendingWaitHintMs);

  std::unique_ptr<StopEvent> stop_event = platform_.CreateStopEvent();
  if (!stop_event) {
    LogHelper::Print(LogError, kTagServiceMain, "CreateEvent returned error");
  } else {
    KService* service = nullptr;
    {
      std::lock_guard lock(objects_lock_);
      g_hStopEvent = std::move(stop_event);
      g_pKService = std::make_unique<KService>(*this, *g_hStopEvent);
      service = g_pKService.get();
    }
    ReportServiceStatus(ServiceState::kRunning, 0);
    service->Run();

    // Nothing of the process is torn down under a job: the stop has ended the worker's loop,
    // and the worker is given a bound to finish the job it is running.
    if (tasks_.waitForWorkerEnd && !tasks_.waitForWorkerEnd(kWorkerEndBoundMs)) {
      LogHelper::Print(LogError, kTagServiceMain,
                       "task worker still busy after %u ms; stopping without it",
                       kWorkerEndBoundMs);
    }
    std::unique_ptr<KService> finished_service;
    std::unique_ptr<StopEvent> finished_event;
    {
      std::lock_guard lock(objects_lock_);
      finished_service = std::move(g_pKService);
      finished_event = std::move(g_hStopEvent);
    }
    finished_service.reset();
    LogHelper::Print(LogInfo, kTagServiceMain,
                     "\r\n==================================   Halvorn stop "
                     "==============================================\r\n");
    finished_event.reset();
  }
  ReportServiceStatus(ServiceState::kStopped, 0);
  LogHelper::TraceLeave(kTagServiceMain);
}

std::uint32_t ServiceHost::ServiceCtrlHandler(std::uint32_t control, std::uint32_t event_type) {
  LogHelper::TraceEnter(kTagCtrlHandler);
  LogHelper::Print(LogInfo, kTagCtrlHandler, "CtrlCode = 0x%x ; dwEventType = %d", control,
                   event_type);
  switch (control) {
    case kControlStop:
    case kControlShutdown: {
      ReportServiceStatus(ServiceState::kStopPending, 0);
      LogHelper::Print(LogInfo, kTagCtrlHandler, "SERVICE_CONTROL_STOP");
      {
        // The objects live from before the running report to after the stop; a stop that
        // comes earlier or later finds none and only reports.
        std::lock_guard lock(objects_lock_);
        if (g_hStopEvent) {
          g_hStopEvent->Set();
        }
        if (g_pKService) {
          g_pKService->stop();
        }
      }
      LogHelper::Print(LogInfo, kTagCtrlHandler, "SERVICE_CONTROL_STOP g_pKService->stop(); exit");
      break;
    }
    case kControlPause:
      LogHelper::Print(LogInfo, kTagCtrlHandler, "SERVICE_CONTROL_PAUSE");
      ReportServiceStatus(ServiceState::kPausePending, 0);
      break;
    case kControlContinue:
      LogHelper::Print(LogInfo, kTagCtrlHandler, "SERVICE_CONTROL_CONTINUE");
      ReportServiceStatus(ServiceState::kContinuePending, 0);
      break;
    default:
      break;
  }
  LogHelper::TraceLeave(kTagCtrlHandler);
  return 0;
}

}  // namespace halvorn::service
