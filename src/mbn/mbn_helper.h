// The service's connection to the mobile-broadband runtime: the modem presence test, reading
// and setting the radio function level (CFUN) through the vendor's MBIM device service, and
// the account watcher that reports every modem that comes up (the service queues an
// authorisation task for it).

#ifndef HALVORN_MBN_MBN_HELPER_H_
#define HALVORN_MBN_MBN_HELPER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "mbn/mbn_platform.h"

namespace halvorn {

class CMbnWinRtHelper {
 public:
  // The vendor device service {11223344-5566-7788-99AA-BBCCDDEEFF11} in GUID memory layout.
  static constexpr mbn_platform::ServiceId qbi_uuid = {0x44, 0x33, 0x22, 0x11, 0x66, 0x55,
                                                       0x88, 0x77, 0x99, 0xAA, 0xBB, 0xCC,
                                                       0xDD, 0xEE, 0xFF, 0x11};
  // Command id of the radio function level, for the query and the set.
  static constexpr std::uint32_t CFUN_COMMAND_ID = 1;
  // How long a command is waited for.
  static constexpr std::uint32_t kCommandWaitMs = 2000;
  static constexpr std::chrono::milliseconds kCommandWait{kCommandWaitMs};

  // A helper over `runtime` whose account-added handler calls `account_added` (the process's
  // helper, built by the service, queues an authorisation task there; empty: the handler only
  // traces). Creates a first watcher, which is never started. `command_wait` bounds the wait
  // for each command's completion; production keeps kCommandWait, tests pass a short bound.
  CMbnWinRtHelper(mbn_platform::Runtime& runtime,
                  std::function<void()> account_added,
                  std::chrono::milliseconds command_wait = kCommandWait);
  CMbnWinRtHelper(const CMbnWinRtHelper&) = delete;
  CMbnWinRtHelper& operator=(const CMbnWinRtHelper&) = delete;

  // True when the runtime has a default modem. Writes nothing; a runtime failure during the
  // lookup answers false (as no modem: the caller retries later).
  bool IsMbimModemExist();

  // Reads the level. True with *level set when the modem answered status 0 with at least
  // four bytes; *level keeps its value otherwise.
  bool GetMbimCfun(std::int32_t* level);

  // Sets the level to 1. True when the modem answered status 0.
  bool SetMbimCfun();

  // Prepares the account watcher once per helper; then StartMobileBroadbandAccountWatcher
  // starts it. Both run on the thread that builds the task manager.
  void Init();
  void InitMobileBroadbandAccountWatcher();
  void StartMobileBroadbandAccountWatcher();

  // Watcher events; they run on runtime threads and touch no member but the fixed callback.
  void AccountAddedHandler();
  static void AccountRemovedHandler();
  static void AccountEnumHandler();

 private:
  bool RunCommand(bool query, std::int32_t* level);

  mbn_platform::Runtime& runtime_;
  const std::function<void()> account_added_;
  const std::chrono::milliseconds command_wait_;
  bool bInitialized = false;
  std::unique_ptr<mbn_platform::AccountWatcher> watcher_;
};

}  // namespace halvorn

#endif  // HALVORN_MBN_MBN_HELPER_H_
