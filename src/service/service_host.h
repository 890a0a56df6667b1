// The service's life under a service manager: the status it reports, the controls it takes,
// the main routine from start to stop and the service object (KService). Portable: the
// service manager, the stop event and the apartment are reached through ServicePlatform; the
// Windows backend (win/) binds them to the Service Control Manager.

#ifndef HALVORN_SERVICE_SERVICE_HOST_H_
#define HALVORN_SERVICE_SERVICE_HOST_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace halvorn {

class CTaskManager;

namespace service {

class PowerEvents;

// Service states as the service manager numbers them.
enum class ServiceState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
  kContinuePending = 5,
  kPausePending = 6,
};

// Control codes the handler is given.
inline constexpr std::uint32_t kControlStop = 0x1;
inline constexpr std::uint32_t kControlPause = 0x2;
inline constexpr std::uint32_t kControlContinue = 0x3;
inline constexpr std::uint32_t kControlInterrogate = 0x4;
inline constexpr std::uint32_t kControlShutdown = 0x5;
inline constexpr std::uint32_t kControlSessionChange = 0xE;

// Controls the service announces once it has started: stop and session change.
inline constexpr std::uint32_t kAcceptStop = 0x1;
inline constexpr std::uint32_t kAcceptSessionChange = 0x80;

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kStartPendingWaitHintMs = 1000;

// The fields of the platform's service status record, in its order.
struct ServiceStatus {
  std::uint32_t dwServiceType = 0;
  std::uint32_t dwCurrentState = 0;
  std::uint32_t dwControlsAccepted = 0;
  std::uint32_t dwWin32ExitCode = 0;
  std::uint32_t dwServiceSpecificExitCode = 0;
  std::uint32_t dwCheckPoint = 0;
  std::uint32_t dwWaitHint = 0;

  bool operator==(const ServiceStatus&) const = default;
};

// The status arithmetic of one report: sets state, wait hint, exit code and accepted
// controls in *status and takes the check point from *next_check_point (raising it) for a
// pending state. Pure; ServiceHost calls it under its status lock.
void FillServiceStatus(ServiceState state,
                       std::uint32_t wait_hint,
                       ServiceStatus* status,
                       std::uint32_t* next_check_point);

// A manual-reset event, not signalled when made.
class StopEvent {
 public:
  virtual ~StopEvent() = default;
  virtual void Set() = 0;
  // Blocks without a time limit until the event is set.
  virtual void Wait() = 0;
};

// What the service needs of the operating system. One production object per build.
class ServicePlatform {
 public:
  virtual ~ServicePlatform() = default;
  // Registers the control handler under the service name; false when refused.
  virtual bool RegisterControlHandler() = 0;
  // Hands a status to the service manager (after a successful registration only). Its
  // result is not looked at.
  virtual void SetServiceStatus(const ServiceStatus& status) = 0;
  // A new stop event, or null when none can be made.
  virtual std::unique_ptr<StopEvent> CreateStopEvent() = 0;
  // Joins and leaves the multithreaded apartment (speed over memory) on the calling thread;
  // results are not looked at.
  virtual void JoinApartment() = 0;
  virtual void LeaveApartment() = 0;
};

// How the host reaches the task engine.
struct TaskEngineAccess {
  // The process-wide manager (CTaskManager::getInstance).
  std::function<CTaskManager*()> manager;
  // Waits until the manager's worker thread has ended, at most `bound_ms`; true when it has
  // (or never ran).
  std::function<bool(std::uint32_t bound_ms)> waitForWorkerEnd;
};

class ServiceHost;

// The service object: its stop event and the run step of the service main routine.
class KService {
 public:
  KService(ServiceHost& host, StopEvent& stop_event) : host_(host), hStopEvent(stop_event) {}
  KService(const KService&) = delete;
  KService& operator=(const KService&) = delete;

  // Queues an authorisation task and waits for the stop event; then stops.
  void Run();
  // Ends the task worker after its current job and queues a stop-work task (which also wakes
  // an idle worker). Safe on any thread, any number of times.
  void stop();

 private:
  ServiceHost& host_;
  StopEvent& hStopEvent;
};

// The service from the service manager's point of view. One per process in production;
// tests make their own with fakes.
class ServiceHost {
 public:
  // How long the stop waits for a busy task worker to finish its current job (a job's
  // commands, bounded by their own waits, and one retry pause fit well within it).
  static constexpr std::uint32_t kWorkerEndBoundMs = 15000;

  ServiceHost(ServicePlatform& platform, PowerEvents& power, TaskEngineAccess tasks);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // The whole life of the service, on the thread the service manager starts for it.
  void ServiceMain();
  // A control request, on the dispatcher's thread. Always 0 (NO_ERROR).
  std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t event_type);
  // Fills the status and hands it to the service manager. Serialised: the two threads that
  // report never interleave within one report, and reports reach the manager in the order
  // of their check points.
  void ReportServiceStatus(ServiceState state, std::uint32_t wait_hint);

  // Blocks until ServiceMain has returned when it has been entered; returns at once when it
  // never was. The service manager's dispatcher returns as soon as the stopped report is
  // made, while ServiceMain still has its last lines to write.
  void WaitForServiceMainReturn();

  // The last status handed over (for tests and diagnosis).
  ServiceStatus LastStatus();

 private:
  friend class KService;
  CTaskManager* TaskManager() const { return tasks_.manager ? tasks_.manager() : nullptr; }
  void RunServiceMain();
  enum class MainState { kNotEntered, kRunning, kReturned };

  ServicePlatform& platform_;
  PowerEvents& power_;
  const TaskEngineAccess tasks_;

  std::mutex status_lock_;  // guards g_ServiceStatus and g_dwCheckPoint
  ServiceStatus g_ServiceStatus;
  std::uint32_t g_dwCheckPoint = 1;
  bool g_hStatusHandle = false;  // the handler is registered (written before any control)

  // Set before the running report and cleared after the stopped one, on the service main
  // thread; the handler uses them only between those reports (it is called only after the
  // running report has announced the stop control).
  std::mutex objects_lock_;
  std::unique_ptr<StopEvent> g_hStopEvent;
  std::unique_ptr<KService> g_pKService;

  std::mutex main_lock_;
  std::condition_variable main_returned_;
  MainState main_state_ = MainState::kNotEntered;
};

}  // namespace service
}  // namespace halvorn

#endif  // HALVORN_SERVICE_SERVICE_HOST_H_
