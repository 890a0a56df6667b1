// Finding and watching MBIM control ports through udev, on umockdev test beds. The program runs
// under umockdev-wrapper (libumockdev-preload), which redirects sysfs, /dev and the uevent
// socket to the test bed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mbn/linux/glib_thread.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/udev_account_watcher.h"
#include "mbn/mbn_helper.h"
#include "service/task_wiring.h"
#include "support/log_capture.h"
#include "tasks/task.h"
#include "tasks/task_manager.h"

#if defined(__SANITIZE_ADDRESS__)
// The test bed's preload library comes before the sanitizer runtime in the library list.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}
#endif

namespace halvorn {
namespace {

using mbn_platform::WatcherStatus;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::LogCapture;

// Device records in umockdev's format: a USB interface with its driver, and its cdc-wdm port.
std::string UsbPort(const std::string& usb, const std::string& port, const std::string& driver) {
  const std::string interface = "/devices/pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0";
  return "P: /devices/pci0000:00/0000:00:14.0/usb1/" + usb +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\n"
         "P: " +
         interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + driver +
         "\nL: driver=../../../../../../bus/usb/drivers/" + driver + "\n\n" + "P: " + interface +
         "/usbmisc/" + port + "\nN: " + port + "\nE: SUBSYSTEM=usbmisc\nE: DEVNAME=/dev/" + port +
         "\n";
}

std::string UsbPortPath(const std::string& usb, const std::string& port) {
  return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0/usbmisc/" + port;
}

// A WWAN port of the given type under a PCI modem.
std::string WwanPort(const std::string& port, const std::string& type) {
  return "P: /devices/pci0000:00/0000:00:1c.0/0000:01:00.0/wwan/wwan0/" + port + "\nN: " + port +
         "\nE: SUBSYSTEM=wwan\nE: DEVTYPE=wwan_port\nE: DEVNAME=/dev/" + port +
         "\nA: type=" + type + "\n";
}

// A test bed for one test; the udev view of this process while it lives.
class Testbed {
 public:
  Testbed() : testbed_(umockdev_testbed_new()) {}
  ~Testbed() { g_object_unref(testbed_); }
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  void Add(const std::string& records) {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, records.c_str(), &error))
        << (error ? error->message : "");
  }
  // Adds the records and announces the last device as plugged in.
  void Plug(const std::string& records, const std::string& syspath) {
    Add(records);
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "add");
  }
  void Unplug(const std::string& syspath) {
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, syspath.c_str());
  }

 private:
  UMockdevTestbed* testbed_;
};

// The events a watcher raised, in order.
class Events {
 public:
  std::function<void()> Recorder(const char* name) {
    return [this, name] {
      std::lock_guard<std::mutex> hold(lock_);
      seen_.push_back(name);
      changed_.notify_all();
    };
  }
  // The events once there are `count` of them (or what came within a generous bound).
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::seconds(20), [&] { return seen_.size() >= count; });
    return seen_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> seen_;
};

// A manager without a worker: filed tasks stay where the test can see them.
TaskManagerHooks NoWorkerHooks() {
  TaskManagerHooks hooks;
  hooks.startThread = [](std::function<void()>, std::thread*) -> std::uint32_t { return 0; };
  return hooks;
}

class UdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    ASSERT_TRUE(preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr)
        << "run under umockdev-wrapper";
    testing::UnsetEnv(mbn_linux::kPortVariable);
  }
};

struct DiscoveryCase {
  const char* name;
  std::vector<std::string> records;
  std::vector<std::string> ports;
};

TEST_F(UdevTest, FindsOnlyMbimControlPorts) {
  const DiscoveryCase cases[] = {
      {"none", {}, {}},
      {"cdc_mbim", {UsbPort("1-1", "cdc-wdm0", "cdc_mbim")}, {"/dev/cdc-wdm0"}},
      {"qmi only", {UsbPort("1-2", "cdc-wdm1", "qmi_wwan")}, {}},
      {"wwan", {WwanPort("wwan0at0", "AT"), WwanPort("wwan0mbim0", "MBIM")}, {"/dev/wwan0mbim0"}},
      {"mixed",
       {UsbPort("1-2", "cdc-wdm1", "qmi_wwan"), UsbPort("1-3", "cdc-wdm2", "cdc_mbim"),
        WwanPort("wwan0mbim0", "MBIM")},
       {"/dev/cdc-wdm2", "/dev/wwan0mbim0"}},
  };
  CMbnWinRtHelper helper(mbn_platform::DefaultRuntime(), nullptr);
  for (const DiscoveryCase& c : cases) {
    SCOPED_TRACE(c.name);
    Testbed bed;
    for (const std::string& r : c.records) {
      bed.Add(r);
    }
    EXPECT_THAT(mbn_linux::ListMbimControlPorts(), ElementsAreArray(c.ports));
    EXPECT_EQ(mbn_linux::FindDefaultMbimPort(), c.ports.empty() ? "" : c.ports.front());
    EXPECT_EQ(helper.IsMbimModemExist(), !c.ports.empty());
  }
}

TEST_F(UdevTest, WatcherReportsPresentPortsThenEnumerationThenPlugAndUnplug) {
  Testbed bed;
  bed.Add(UsbPort("1-1", "cdc-wdm0", "cdc_mbim"));
  bed.Add(UsbPort("1-2", "cdc-wdm1", "qmi_wwan"));
  mbn_linux::GlibThread glib;
  std::unique_ptr<mbn_platform::AccountWatcher> watcher;
  ASSERT_TRUE(mbn_linux::UdevAccountWatcher::Create(glib, &watcher).ok());
  Events events;
  std::int64_t tokens[3] = {};
  ASSERT_TRUE(watcher->AddAccountAdded(events.Recorder("added"), &tokens[0]).ok());
  ASSERT_TRUE(watcher->AddAccountRemoved(events.Recorder("removed"), &tokens[1]).ok());
  ASSERT_TRUE(watcher->AddEnumerationCompleted(events.Recorder("enumerated"), &tokens[2]).ok());
  EXPECT_NE(tokens[0], tokens[1]);
  EXPECT_NE(tokens[1], tokens[2]);
  WatcherStatus status = WatcherStatus::kStarted;
  ASSERT_TRUE(watcher->GetStatus(&status).ok());
  EXPECT_EQ(status, WatcherStatus::kCreated);

  ASSERT_TRUE(watcher->Start().ok());
  // The port present at start, once; the foreign port not at all.
  EXPECT_THAT(events.WaitFor(2), ElementsAre("added", "enumerated"));
  ASSERT_TRUE(watcher->GetStatus(&status).ok());
  EXPECT_EQ(status, WatcherStatus::kEnumerationCompleted);
  ASSERT_TRUE(watcher->Start().ok());  // running: nothing is enumerated again

  bed.Plug(WwanPort("wwan0mbim0", "MBIM"),
           "/sys/devices/pci0000:00/0000:00:1c.0/0000:01:00.0/wwan/wwan0/wwan0mbim0");
  EXPECT_THAT(events.WaitFor(3), ElementsAre("added", "enumerated", "added"));
  // A foreign port comes and goes unreported; events arrive in order, so by the time the
  // removal of the MBIM port is seen, the foreign port's have been handled.
  bed.Plug(UsbPort("1-4", "cdc-wdm3", "qmi_wwan"), UsbPortPath("1-4", "cdc-wdm3"));
  bed.Unplug(UsbPortPath("1-4", "cdc-wdm3"));
  bed.Unplug(UsbPortPath("1-1", "cdc-wdm0"));
  EXPECT_THAT(events.WaitFor(4), ElementsAre("added", "enumerated", "added", "removed"));
}

TEST_F(UdevTest, HelperQueuesOneAuthorisationTaskPerPortAndStartsOnce) {
  Testbed bed;
  bed.Add(UsbPort("1-1", "cdc-wdm0", "cdc_mbim"));
  CTaskManager manager(NoWorkerHooks());
  std::mutex lock;
  std::condition_variable called_cv;
  int added_calls = 0;
  auto helper = std::make_unique<CMbnWinRtHelper>(mbn_platform::DefaultRuntime(),
                                                  QueueAuthModuleTaskOn([&]() -> CTaskManager* {
                                                    std::lock_guard<std::mutex> hold(lock);
                                                    ++added_calls;
                                                    called_cv.notify_all();
                                                    return &manager;
                                                  }));
  LogCapture capture;
  helper->Init();
  helper->StartMobileBroadbandAccountWatcher();
  helper->Init();  // no second watcher, no second registration
  helper->StartMobileBroadbandAccountWatcher();
  {
    std::unique_lock<std::mutex> hold(lock);
    called_cv.wait_for(hold, std::chrono::seconds(20), [&] { return added_calls >= 1; });
  }
  // The port present at start gave one authorisation task.
  CTask* task = nullptr;
  for (int i = 0; i < 2000 && task == nullptr; ++i) {
    task = manager.getTask();
    if (task == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->getName(), "CTaskAuthModule");
  // A port plugged in later: another account, merged into the filed task of the same kind.
  bed.Plug(WwanPort("wwan0mbim0", "MBIM"),
           "/sys/devices/pci0000:00/0000:00:1c.0/0000:01:00.0/wwan/wwan0/wwan0mbim0");
  {
    std::unique_lock<std::mutex> hold(lock);
    called_cv.wait_for(hold, std::chrono::seconds(20), [&] { return added_calls >= 2; });
    EXPECT_EQ(added_calls, 2);
  }
  EXPECT_TRUE(manager.popTask(task));
  helper.reset();  // its watcher stops: no handler still writes when the log stops

  // The lines of this thread; the handlers' and the manager's (on the watcher's delivery
  // thread) may come between them.
  std::vector<std::string> lines;
  for (const std::string& line : capture.Lines()) {
    if (line.find("CMbnWinRtHelper::Init") != std::string::npos ||
        line.find("CMbnWinRtHelper::Start") != std::string::npos ||
        line.find("token = ") != std::string::npos ||
        line.find("Watcher is") != std::string::npos) {
      lines.push_back(line);
    }
  }
  EXPECT_THAT(lines,
              ElementsAre("T h : + CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T i :   event add token = 1\n",                                //
                          "T i :   event remove token = 2\n",                             //
                          "T i :   event enum token = 3\n",                               //
                          "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is started successfully.",                     //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T h : + CMbnWinRtHelper::Init",                                //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is already started.",                          //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"));
}

TEST_F(UdevTest, HandlersRunOffTheGlibThreadAndMayWaitForIt) {
  Testbed bed;
  bed.Add(UsbPort("1-1", "cdc-wdm0", "cdc_mbim"));
  mbn_linux::GlibThread glib;
  std::unique_ptr<mbn_platform::AccountWatcher> watcher;
  ASSERT_TRUE(mbn_linux::UdevAccountWatcher::Create(glib, &watcher).ok());
  Events events;
  std::atomic<bool> on_glib{false};
  // As a handler that asks the runtime does: the answer comes from the GLib thread.
  std::function<void()> added = events.Recorder("added");
  std::int64_t token = 0;
  ASSERT_TRUE(watcher
                  ->AddAccountAdded(
                      [&] {
                        on_glib = on_glib || glib.IsCurrent();
                        if (glib.Await<bool>([](std::function<void(bool)> done) { done(true); })) {
                          added();
                        }
                      },
                      &token)
                  .ok());
  ASSERT_TRUE(watcher->AddEnumerationCompleted(events.Recorder("enumerated"), &token).ok());
  ASSERT_TRUE(watcher->Start().ok());
  EXPECT_THAT(events.WaitFor(2), ElementsAre("added", "enumerated"));
  bed.Plug(WwanPort("wwan0mbim0", "MBIM"),
           "/sys/devices/pci0000:00/0000:00:1c.0/0000:01:00.0/wwan/wwan0/wwan0mbim0");
  EXPECT_THAT(events.WaitFor(3), ElementsAre("added", "enumerated", "added"));
  EXPECT_FALSE(on_glib);
}

TEST_F(UdevTest, NoHandlerRunsOnceTheWatcherIsGone) {
  Testbed bed;
  bed.Add(UsbPort("1-1", "cdc-wdm0", "cdc_mbim"));
  mbn_linux::GlibThread glib;
  std::unique_ptr<mbn_platform::AccountWatcher> watcher;
  ASSERT_TRUE(mbn_linux::UdevAccountWatcher::Create(glib, &watcher).ok());

  std::mutex lock;
  std::condition_variable changed_cv;
  bool entered = false;   // the first handler runs
  bool released = false;  // the first handler may return
  std::atomic<int> running{0};
  std::atomic<bool> gone{false};
  std::atomic<int> late{0};  // handlers that began after the watcher was gone
  auto handler = [&] {
    ++running;
    late += gone ? 1 : 0;
    std::unique_lock<std::mutex> hold(lock);
    if (!entered) {
      entered = true;
      changed_cv.notify_all();
      changed_cv.wait(hold, [&] { return released; });
    }
    --running;
  };
  std::int64_t token = 0;
  ASSERT_TRUE(watcher->AddAccountAdded(handler, &token).ok());
  ASSERT_TRUE(watcher->AddAccountRemoved(handler, &token).ok());
  ASSERT_TRUE(watcher->AddEnumerationCompleted(handler, &token).ok());
  ASSERT_TRUE(watcher->Start().ok());
  {
    std::unique_lock<std::mutex> hold(lock);
    ASSERT_TRUE(changed_cv.wait_for(hold, std::chrono::seconds(20), [&] { return entered; }));
  }
  // More events behind the handler that holds the delivery: the enumeration's end and these.
  bed.Plug(WwanPort("wwan0mbim0", "MBIM"),
           "/sys/devices/pci0000:00/0000:00:1c.0/0000:01:00.0/wwan/wwan0/wwan0mbim0");
  bed.Unplug(UsbPortPath("1-1", "cdc-wdm0"));

  std::atomic<int> running_when_gone{-1};
  std::thread destroyer([&] {
    watcher.reset();
    running_when_gone = running.load();
    gone = true;
  });
  {
    std::lock_guard<std::mutex> hold(lock);
    released = true;
    changed_cv.notify_all();
  }
  destroyer.join();
  EXPECT_EQ(running_when_gone.load(), 0);  // the handler that ran was finished first

  // The monitor is no longer read: a port plugged in now reaches no handler, and the GLib
  // thread, having gone through all it was given, calls nothing of the gone watcher.
  bed.Plug(UsbPort("1-5", "cdc-wdm5", "cdc_mbim"), UsbPortPath("1-5", "cdc-wdm5"));
  glib.Await<bool>([](std::function<void(bool)> done) { done(true); });
  EXPECT_EQ(late.load(), 0);
  EXPECT_EQ(running.load(), 0);
}

}  // namespace
}  // namespace halvorn
