#include "tasks/task_kinds.h"

#include "tasks/task_manager.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

// Keeps bRunning true for one run, cleared on every way out.
class RunningScope {
 public:
  explicit RunningScope(CTask* task) : task_(task) { task_->bRunning = true; }
  ~RunningScope() { task_->bRunning = false; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  CTask* task_;
};

}  // namespace

bool CTaskAuthModule::doJob(bool* retry) {
  RunningScope running(this);
  // The owner's hooks are fixed for its life, so the job may be run from them directly.
  if (pOwner == nullptr || !pOwner->authModuleJob() || retry == nullptr) {
    return false;  // not wired: could not begin, no retry
  }
  return pOwner->authModuleJob()(retry);
}

const char* CTaskAuthModule::getName() const {
  return "CTaskAuthModule";
}

std::int32_t CTaskAuthModule::getTypeId() const {
  return TASK_TYPE_ID_AUTH_MODULE;
}

bool CTaskStopWork::doJob(bool* retry) {
  static constexpr const char* kTag = "CTaskStopWork::doJob";
  LogHelper::TraceEnter(kTag);
  bRunning = true;
  if (pOwner != nullptr) {
    pOwner->clearRunFlag();
  }
  if (retry != nullptr) {
    *retry = false;
  }
  LogHelper::TraceLeave(kTag);
  bRunning = false;
  return true;
}

const char* CTaskStopWork::getName() const {
  return "CTaskStopWork";
}

std::int32_t CTaskStopWork::getTypeId() const {
  return TASK_TYPE_ID_AUTH_MODULE;
}

}  // namespace halvorn
